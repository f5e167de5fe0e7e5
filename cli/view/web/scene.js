// The scene: the mesh shown the way the preview picture draws it (faces flat
// shaded by a light from the viewer's upper left, faces cut back in a light
// tint, strips, patches and caps orange, back faces magenta), its edges, the
// selection, and the camera the user orbits. Drawn on demand, not in a loop.
import * as THREE from 'three';
import { OrbitControls } from 'three/addons/controls/OrbitControls.js';

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

// The corners (numbers from 0 within the polygon) of its triangles, wound as
// the polygon is. A triangle is itself; a convex polygon is a fan from its
// first corner; any other is cut by ear clipping in its own plane, so that
// a concave polygon covers only its own area. `out` receives the triples.
function polygonTriangles(positions, indices, s, n, out) {
  if (n === 3) {
    out.push(0, 1, 2);
    return;
  }
  const at = (k) => indices[s + (k % n)] * 3;
  // The plane's normal (Newell's: the polygon winds counter-clockwise
  // around it), in plain numbers: most polygons are convex quads, and this
  // runs for every polygon of every result.
  let nx = 0, ny = 0, nz = 0;
  for (let k = 0; k < n; k++) {
    const a = at(k), b = at(k + 1);
    nx += (positions[a + 1] - positions[b + 1]) * (positions[a + 2] + positions[b + 2]);
    ny += (positions[a + 2] - positions[b + 2]) * (positions[a] + positions[b]);
    nz += (positions[a] - positions[b]) * (positions[a + 1] + positions[b + 1]);
  }
  // Convex when no corner turns against the normal: a fan is then right.
  let convex = true;
  for (let k = 0; k < n && convex; k++) {
    const a = at(k), b = at(k + 1), c = at(k + 2);
    const ux = positions[b] - positions[a], uy = positions[b + 1] - positions[a + 1], uz = positions[b + 2] - positions[a + 2];
    const vx = positions[c] - positions[b], vy = positions[c + 1] - positions[b + 1], vz = positions[c + 2] - positions[b + 2];
    convex = (uy * vz - uz * vy) * nx + (uz * vx - ux * vz) * ny + (ux * vy - uy * vx) * nz >= 0;
  }
  if (convex || nx * nx + ny * ny + nz * nz === 0) {
    // (No plane, zero area: nothing to draw right.)
    for (let k = 1; k + 1 < n; k++) out.push(0, k, k + 1);
    return;
  }
  const normal = new THREE.Vector3(nx, ny, nz).normalize();
  const u = new THREE.Vector3(Math.abs(normal.x) < 0.9 ? 1 : 0, Math.abs(normal.x) < 0.9 ? 0 : 1, 0)
    .cross(normal).normalize();
  const v = new THREE.Vector3().crossVectors(normal, u);
  const flat = [];
  const p = new THREE.Vector3();
  for (let k = 0; k < n; k++) {
    const a = at(k);
    p.set(positions[a], positions[a + 1], positions[a + 2]);
    flat.push(new THREE.Vector2(p.dot(u), p.dot(v)));
  }
  for (const [a, b, c] of THREE.ShapeUtils.triangulateShape(flat, [])) {
    const turn = (flat[b].x - flat[a].x) * (flat[c].y - flat[a].y) - (flat[b].y - flat[a].y) * (flat[c].x - flat[a].x);
    if (turn >= 0) out.push(a, b, c);
    else out.push(a, c, b);
  }
}

// Triangles of every polygon, each polygon with corners of its own so that
// it takes one colour. `tri2poly[t]` is the polygon of triangle t.
export function triangulate(mesh, colourOf) {
  const { positions, counts, indices, starts } = mesh;
  const corners = indices.length;
  const xyz = new Float32Array(corners * 3);
  const rgb = colourOf ? new Float32Array(corners * 3) : null;
  let most = 0;
  for (let p = 0; p < counts.length; p++) if (counts[p] >= 3) most += counts[p] - 2;
  const index = new Uint32Array(most * 3);
  const tri2poly = new Uint32Array(most);
  const corner = [];
  let t = 0;
  for (let p = 0; p < counts.length; p++) {
    const s = starts[p], n = counts[p];
    const colour = colourOf ? colourOf(p) : null;
    for (let k = 0; k < n; k++) {
      const v = indices[s + k] * 3, c = (s + k) * 3;
      xyz[c] = positions[v]; xyz[c + 1] = positions[v + 1]; xyz[c + 2] = positions[v + 2];
      if (rgb) { rgb[c] = colour.r; rgb[c + 1] = colour.g; rgb[c + 2] = colour.b; }
    }
    if (n < 3) continue;
    corner.length = 0;
    polygonTriangles(positions, indices, s, n, corner);
    for (let k = 0; k + 2 < corner.length && t < most; k += 3) {
      index[t * 3] = s + corner[k]; index[t * 3 + 1] = s + corner[k + 1]; index[t * 3 + 2] = s + corner[k + 2];
      tri2poly[t++] = p;
    }
  }
  const geometry = new THREE.BufferGeometry();
  geometry.setAttribute('position', new THREE.BufferAttribute(xyz, 3));
  if (rgb) geometry.setAttribute('color', new THREE.BufferAttribute(rgb, 3));
  geometry.setIndex(new THREE.BufferAttribute(index.subarray(0, t * 3), 1));
  geometry.computeBoundingSphere();
  geometry.computeBoundingBox();
  return { geometry, tri2poly: tri2poly.subarray(0, t) };
}

// Each edge once, however many polygons hold it, as a pair of point numbers
// over the mesh's own positions: half the segments of drawing every
// polygon's outline. Edges are filed under their lower point, whose few
// edges are compared with each other: linear, with no map or sort.
// `previous` (the `edges` of an earlier result) is taken as it is when its
// polygons are this mesh's, as after most size changes; returns the
// geometry and `edges`, for the next.
export function edgeGeometry(mesh, previous = null) {
  const { positions, counts, starts, indices } = mesh;
  const points = positions.length / 3;
  const pairs = previous && samePolygons(previous, mesh) ? previous.pairs : edgePairs(mesh);
  const geometry = new THREE.BufferGeometry();
  geometry.setAttribute('position', new THREE.BufferAttribute(positions, 3));
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

function edgePairs(mesh) {
  const { positions, counts, starts, indices } = mesh;
  const points = positions.length / 3;
  const other = (p, k) => indices[starts[p] + (k + 1) % counts[p]];
  const first = new Uint32Array(points + 1);
  for (let p = 0; p < counts.length; p++) {
    if (counts[p] < 2) continue;
    for (let k = 0; k < counts[p]; k++) first[Math.min(indices[starts[p] + k], other(p, k)) + 1]++;
  }
  for (let i = 0; i < points; i++) first[i + 1] += first[i];
  const next = first.slice(0, points);
  const higher = new Uint32Array(first[points]);
  for (let p = 0; p < counts.length; p++) {
    if (counts[p] < 2) continue;
    for (let k = 0; k < counts[p]; k++) {
      const a = indices[starts[p] + k], b = other(p, k);
      higher[next[Math.min(a, b)]++] = Math.max(a, b);
    }
  }
  const pairs = new Uint32Array(higher.length * 2);
  let m = 0;
  for (let a = 0; a < points; a++) {
    for (let k = first[a]; k < first[a + 1]; k++) {
      let seen = false;
      for (let j = first[a]; j < k && !seen; j++) seen = higher[j] === higher[k];
      if (!seen) {
        pairs[m++] = a;
        pairs[m++] = higher[k];
      }
    }
  }
  return pairs.subarray(0, m);
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
      front: faceMaterial(THREE.FrontSide, { vertexColors: true }),
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
    this.selection = new THREE.Mesh(triangulate({ positions: [], counts: [], indices: [], starts: [0] }, null)
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
    const { geometry, tri2poly } = triangulate(mesh, (p) => TINTS[mesh.tint[p]] || FRONT);
    const front = new THREE.Mesh(geometry, this.materials.front);
    const back = new THREE.Mesh(geometry, this.materials.back);
    const { geometry: edgeLines, edges } = edgeGeometry(mesh, this.lastEdges[which]);
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

  // Draws the selected polygons of `mesh` (numbers from 0) over it.
  setSelection(mesh, polys) {
    const { counts, indices, starts, positions } = mesh;
    const one = { positions, counts: [], indices: [], starts: [0] };
    for (const p of polys) {
      for (let k = 0; k < counts[p]; k++) one.indices.push(indices[starts[p] + k]);
      one.counts.push(counts[p]);
      one.starts.push(one.indices.length);
    }
    this.selection.geometry.dispose();
    this.selection.geometry = triangulate(one, null).geometry;
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
