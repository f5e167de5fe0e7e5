// Pointing at the input: a click finds the input polygon under the pointer
// by casting a ray through the input's triangles (drawn or not: selections
// always name input polygons), and when the pointer is within a few pixels
// of one of that polygon's edges on the screen, the two polygons that share
// the edge instead.
import * as THREE from 'three';
import { edgeOwners, edgeTable } from './mesh.js';

const EDGE_PIXELS = 6;     // how near an edge a click must be to take it
const CLICK_PIXELS = 4;    // a press that moves further is an orbit, not a click

// Distance in pixels from point p to the segment a-b (all 2-D).
function segmentDistance(p, a, b) {
  const dx = b.x - a.x, dy = b.y - a.y;
  const length2 = dx * dx + dy * dy;
  let t = length2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / length2 : 0;
  t = Math.max(0, Math.min(1, t));
  return Math.hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
}

export class Picker {
  // `onPick(polys, additive)` gets one polygon, or the two of an edge.
  constructor(viewport, onPick) {
    this.viewport = viewport;
    this.onPick = onPick;
    this.raycaster = new THREE.Raycaster();
    this.mesh = null;
    this.target = null;
    this.tri2poly = null;
    this.edges = null;        // the input's edges with their polygons (edgeTable's `picking`)
    const canvas = viewport.canvas;
    let down = null;
    canvas.addEventListener('pointerdown', (e) => { down = { x: e.clientX, y: e.clientY }; });
    canvas.addEventListener('pointerup', (e) => {
      if (!down || e.button !== 0) return;
      const moved = Math.hypot(e.clientX - down.x, e.clientY - down.y);
      down = null;
      if (moved > CLICK_PIXELS) return;
      const polys = this.pick(e.clientX, e.clientY);
      if (polys) this.onPick(polys, e.shiftKey);
    });
  }

  setInput(mesh, geometry, tri2poly) {
    this.mesh = mesh;
    this.tri2poly = tri2poly;
    // Hit from either side: a face seen from behind is still the user's target.
    this.target = new THREE.Mesh(geometry, new THREE.MeshBasicMaterial({ side: THREE.DoubleSide }));
    // Filed by point in typed arrays: a map of the edges of a million
    // triangles took the page's thread for seconds and much of its memory.
    this.edges = mesh.picking || edgeTable(mesh, true).picking;
  }

  // Screen position (pixels in the canvas) of input point i.
  project(i, rect) {
    const pos = this.mesh.positions;
    const v = new THREE.Vector3(pos[i * 3], pos[i * 3 + 1], pos[i * 3 + 2]).project(this.viewport.camera);
    return { x: (v.x + 1) / 2 * rect.width, y: (1 - v.y) / 2 * rect.height };
  }

  // The polygons (numbers from 0) a click at client (x, y) selects, or null.
  pick(clientX, clientY) {
    if (!this.target) return null;
    const rect = this.viewport.canvas.getBoundingClientRect();
    const at = { x: clientX - rect.left, y: clientY - rect.top };
    const ndc = new THREE.Vector2(at.x / rect.width * 2 - 1, -(at.y / rect.height) * 2 + 1);
    this.raycaster.setFromCamera(ndc, this.viewport.camera);
    const hits = this.raycaster.intersectObject(this.target, false);
    if (hits.length === 0) return null;
    const poly = this.tri2poly[hits[0].faceIndex];
    const { counts, indices, starts } = this.mesh;
    let best = null, bestDistance = EDGE_PIXELS;
    for (let k = 0; k < counts[poly]; k++) {
      const a = indices[starts[poly] + k], b = indices[starts[poly] + (k + 1) % counts[poly]];
      const d = segmentDistance(at, this.project(a, rect), this.project(b, rect));
      if (d <= bestDistance) { bestDistance = d; best = [a, b]; }
    }
    const sharing = best === null ? null : edgeOwners(this.edges, best[0], best[1]);
    if (sharing && sharing.length === 2) return sharing;
    return [poly];
  }
}
