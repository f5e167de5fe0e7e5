// The scene: the mesh shown the way the preview picture draws it (faces flat
// shaded by a light from the viewer's upper left, faces cut back in a light
// tint, strips, patches and caps orange, back faces magenta), its edges, the
// selection, and the camera the user orbits. Drawn on demand, not in a loop.
import * as THREE from 'three';
import { OrbitControls } from 'three/addons/controls/OrbitControls.js';
import { edgeTable, faceTriangles } from './mesh.js';

const FRONT = new THREE.Color(205 / 255, 210 / 255, 220 / 255);
const RESHAPED = new THREE.Color(240 / 255, 215 / 255, 170 / 255);
const CREATED = new THREE.Color(245 / 255, 150 / 255, 40 / 255);
const BACK = new THREE.Color(200 / 255, 40 / 255, 170 / 255);
const SELECTED = new THREE.Color(40 / 255, 120 / 255, 230 / 255);
const EDGE = new THREE.Color(60 / 255, 62 / 255, 70 / 255);
const TINTS = [FRONT, RESHAPED, CREATED];
// Past this many input corners the edges are smoothed no more: a software
// renderer spends about half its time on the smoothing of a 16,000-quad
// sphere, whose polygons are a few pixels wide anyway.
const SMOOTH_CORNERS = 20000;

// The triangles of every polygon over the mesh's own points; `tri2poly[t]`
// is the polygon of triangle t, and the geometry has a group per tint (see
// faceTriangles; `mesh.faces` when the worker built them already).
export function triangulate(mesh) {
  const positions = mesh.positions instanceof Float32Array ? mesh.positions : new Float32Array(mesh.positions);
  const faces = mesh.faces || faceTriangles({ ...mesh, positions });
  const geometry = new THREE.BufferGeometry();
  geometry.setAttribute('position', new THREE.BufferAttribute(positions, 3));
  geometry.setIndex(new THREE.BufferAttribute(faces.index, 1));
  faces.groups.forEach((g, tint) => geometry.addGroup(g.start, g.count, tint));
  geometry.computeBoundingSphere();
  geometry.computeBoundingBox();
  return { geometry, tri2poly: faces.tri2poly };
}

// Each edge once, as a pair of point numbers over the mesh's own positions
// (see edgeTable; `mesh.pairs` when the worker found them already).
// `previous` (the `edges` of an earlier result) is taken as it is when its
// polygons are this mesh's, as after most size changes; `position`, the
// faces' attribute of the same points, is shared so that the renderer holds
// one copy of them. Returns the geometry and `edges`, for the next.
export function edgeGeometry(mesh, previous = null, position = null) {
  const { positions, counts, indices } = mesh;
  const points = positions.length / 3;
  const pairs = mesh.pairs || (previous && samePolygons(previous, mesh) ? previous.pairs : edgeTable(mesh).pairs);
  const geometry = new THREE.BufferGeometry();
  geometry.setAttribute('position', position || new THREE.BufferAttribute(positions, 3));
  geometry.setIndex(new THREE.BufferAttribute(pairs, 1));
  return { geometry, edges: { points, counts, indices, pairs } };
}

function samePolygons(a, b) {
  if (a.points !== b.positions.length / 3 || a.counts.length !== b.counts.length ||
      a.indices.length !== b.indices.length) return false;
  for (let i = 0; i < a.counts.length; i++) if (a.counts[i] !== b.counts[i]) return false;
  for (let i = 0; i < a.indices.length; i++) if (a.indices[i] !== b.indices[i]) return false;
  return true;
}

// Front and back faces in passes of their own, the front first: its depth
// hides most back faces from the second pass before they are shaded, where
// one pass of both sides would shade the hidden ones too.
function faceMaterial(side, options) {
  return new THREE.MeshLambertMaterial({
    side,
    flatShading: true,
    // Faces sit a little behind the edges and the selection drawn on them.
    polygonOffset: true,
    polygonOffsetFactor: 1,
    polygonOffsetUnits: 1,
    ...options,
  });
}

export class Viewport {
  // `corners`: the input's polygon corners, which decide the smoothing.
  constructor(canvas, corners) {
    this.canvas = canvas;
    this.renderer = new THREE.WebGLRenderer({
      canvas, antialias: corners <= SMOOTH_CORNERS, preserveDrawingBuffer: true,
    });
    this.renderer.setPixelRatio(window.devicePixelRatio || 1);
    this.renderer.setClearColor(new THREE.Color(244 / 255, 245 / 255, 247 / 255));
    this.scene = new THREE.Scene();
    this.camera = new THREE.PerspectiveCamera(35, 1, 0.01, 1000);
    this.scene.add(this.camera);
    this.scene.add(new THREE.AmbientLight(0xffffff, 0.9));
    // The light rides with the camera: from the viewer's upper left.
    const light = new THREE.DirectionalLight(0xffffff, 2.0);
    light.position.set(-1, 1, 1.5);
    this.camera.add(light);
    this.controls = new OrbitControls(this.camera, canvas);
    this.controls.addEventListener('change', () => this.render());
    this.frame = 0;
    this.groups = { input: new THREE.Group(), result: new THREE.Group() };
    this.scene.add(this.groups.input, this.groups.result);
    this.showing = 'result';
    this.lastEdges = { input: null, result: null };  // the polygons and edges each last showed
    this.edges = true;
    this.materials = {
      // One per tint, in the order of the geometry's groups.
      front: TINTS.map((color) => faceMaterial(THREE.FrontSide, { color })),
      back: faceMaterial(THREE.BackSide, { color: BACK }),
      edges: new THREE.LineBasicMaterial({ color: EDGE }),
      selection: new THREE.MeshBasicMaterial({
        color: SELECTED, transparent: true, opacity: 0.6, side: THREE.DoubleSide,
        polygonOffset: true, polygonOffsetFactor: -2, polygonOffsetUnits: -2, depthWrite: false,
      }),
    };
    // The selection's mesh stays in the scene, empty when nothing is
    // selected, so that its shader is built with the first picture rather
    // than at the first click.
    this.selection = new THREE.Mesh(triangulate({ positions: [], counts: [], indices: [], starts: [0] })
      .geometry, this.materials.selection);
    this.selection.frustumCulled = false;
    this.scene.add(this.selection);
    this.bounds = null;
    new ResizeObserver(() => this.resize()).observe(canvas);
    this.resize();
  }

  resize() {
    const w = this.canvas.clientWidth || 1, h = this.canvas.clientHeight || 1;
    this.renderer.setSize(w, h, false);
    this.camera.aspect = w / h;
    this.camera.updateProjectionMatrix();
    this.render();
  }

  // Draws at the next frame, once however many changes ask for it before:
  // a new result, its selection and the status line cost one drawing.
  render() {
    if (this.frame) return;
    this.frame = requestAnimationFrame(() => {
      this.frame = 0;
      this.renderer.render(this.scene, this.camera);
    });
  }

  // Replaces what `which` ('input' or 'result') shows; `tint` colours the
  // result's polygons. Returns the triangles' polygons, for picking.
  setMesh(which, mesh) {
    const group = this.groups[which];
    for (const child of [...group.children]) {
      child.geometry.dispose();
      group.remove(child);
    }
    const { geometry, tri2poly } = triangulate(mesh);
    const front = new THREE.Mesh(geometry, this.materials.front);
    const back = new THREE.Mesh(geometry, this.materials.back);
    // The edges share the faces' points: one copy for the renderer too.
    const { geometry: edgeLines, edges } =
      edgeGeometry(mesh, this.lastEdges[which], geometry.getAttribute('position'));
    this.lastEdges[which] = edges;
    const lines = new THREE.LineSegments(edgeLines, this.materials.edges);
    lines.name = 'edges';
    group.add(front, back, lines);
    if (which === 'input' && !this.bounds) {
      this.bounds = geometry.boundingBox.clone();
      this.fit();
    }
    this.update();
    return { front, tri2poly };
  }

  // Draws the selected polygons of `mesh` (numbers from 0) over it, with
  // their own few points rather than all of the mesh's.
  setSelection(mesh, polys) {
    const { counts, indices, starts, positions } = mesh;
    const one = { positions: [], counts: [], indices: [], starts: [0] };
    for (const p of polys) {
      for (let k = 0; k < counts[p]; k++) {
        const v = indices[starts[p] + k] * 3;
        one.indices.push(one.positions.length / 3);
        one.positions.push(positions[v], positions[v + 1], positions[v + 2]);
      }
      one.counts.push(counts[p]);
      one.starts.push(one.indices.length);
    }
    this.selection.geometry.dispose();
    this.selection.geometry = triangulate(one).geometry;
    this.render();
  }

  show(which) {
    this.showing = which;
    this.update();
  }

  showEdges(on) {
    this.edges = on;
    this.update();
  }

  update() {
    for (const which of ['input', 'result']) {
      const group = this.groups[which];
      group.visible = this.showing === which;
      for (const child of group.children) if (child.name === 'edges') child.visible = this.edges;
    }
    this.render();
  }

  // Frames the input from the current direction.
  fit() {
    if (!this.bounds) return;
    const centre = this.bounds.getCenter(new THREE.Vector3());
    const radius = Math.max(this.bounds.getSize(new THREE.Vector3()).length() / 2, 1e-9);
    const distance = radius / Math.sin((this.camera.fov * Math.PI) / 360);
    let direction = this.camera.position.clone().sub(this.controls.target);
    if (direction.lengthSq() === 0) direction.set(0.57, 0.42, 0.82);  // the preview's 35 and 25 degrees
    direction.normalize();
    this.controls.target.copy(centre);
    this.camera.position.copy(centre).addScaledVector(direction, distance * 1.15);
    this.camera.near = distance / 100;
    this.camera.far = distance * 100;
    this.camera.updateProjectionMatrix();
    this.controls.update();
    this.render();
  }
}
