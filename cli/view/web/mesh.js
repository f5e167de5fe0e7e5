// The mesh as the server sends it, and the arrays the scene draws it with,
// in plain typed arrays and without the DOM: the page's worker runs this on
// results of millions of polygons, away from the page's own thread, and the
// page runs it on the few polygons of a selection.
import { ShapeUtils, Vector2, Vector3 } from './three.module.js';

// One binary buffer: a JSON header, then the positions, the corner counts,
// the point indices and a tint per polygon as typed arrays over the same
// bytes (see ViewEncodeMesh). `starts`, where each polygon's corners start
// in `indices`, is worked out unless given.
export function decodeMesh(buffer, starts = null) {
  const view = new DataView(buffer);
  const magic = String.fromCharCode(...new Uint8Array(buffer, 0, 4));
  if (magic !== 'CVM1') throw new Error('unexpected answer from the server');
  const jsonLength = view.getUint32(4, true);
  const info = JSON.parse(new TextDecoder().decode(new Uint8Array(buffer, 8, jsonLength)));
  let at = 8 + jsonLength;
  const points = view.getUint32(at, true);
  const polygons = view.getUint32(at + 4, true);
  const corners = view.getUint32(at + 8, true);
  at += 12;
  const positions = new Float32Array(buffer, at, points * 3);
  at += points * 12;
  const counts = new Uint32Array(buffer, at, polygons);
  at += polygons * 4;
  const indices = new Uint32Array(buffer, at, corners);
  at += corners * 4;
  const tint = new Uint8Array(buffer, at, polygons);
  if (!starts) {
    starts = new Uint32Array(polygons + 1);
    for (let i = 0; i < polygons; i++) starts[i + 1] = starts[i] + counts[i];
  }
  return { info, positions, counts, indices, starts, tint };
}

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
  const normal = new Vector3(nx, ny, nz).normalize();
  const u = new Vector3(Math.abs(normal.x) < 0.9 ? 1 : 0, Math.abs(normal.x) < 0.9 ? 0 : 1, 0)
    .cross(normal).normalize();
  const v = new Vector3().crossVectors(normal, u);
  const flat = [];
  const p = new Vector3();
  for (let k = 0; k < n; k++) {
    const a = at(k);
    p.set(positions[a], positions[a + 1], positions[a + 2]);
    flat.push(new Vector2(p.dot(u), p.dot(v)));
  }
  for (const [a, b, c] of ShapeUtils.triangulateShape(flat, [])) {
    const turn = (flat[b].x - flat[a].x) * (flat[c].y - flat[a].y) - (flat[b].y - flat[a].y) * (flat[c].x - flat[a].x);
    if (turn >= 0) out.push(a, b, c);
    else out.push(a, c, b);
  }
}

export const TINT_COUNT = 3;   // untouched, an input face cut back, made by the run

// The triangles of every polygon over the mesh's own points, grouped by the
// polygon's tint so that each group takes its colour from a material of its
// own: no copy of the points per corner, which on a result of 13 million
// corners took 300 MB of the tab and as much again in the renderer.
// Returns `index` (three point numbers a triangle), `tri2poly` (the polygon
// of each triangle) and `groups` ({ start, count } in index entries, one
// per tint).
export function faceTriangles(mesh) {
  const { positions, counts, indices, starts } = mesh;
  const tint = mesh.tint || null;
  const tintOf = (p) => (tint && tint[p] < TINT_COUNT ? tint[p] : 0);
  const room = new Array(TINT_COUNT).fill(0);
  for (let p = 0; p < counts.length; p++) if (counts[p] >= 3) room[tintOf(p)] += counts[p] - 2;
  const first = [0];
  for (let g = 1; g < TINT_COUNT; g++) first.push(first[g - 1] + room[g - 1]);
  const most = first[TINT_COUNT - 1] + room[TINT_COUNT - 1];
  const index = new Uint32Array(most * 3);
  const tri2poly = new Uint32Array(most);
  const next = first.slice();
  const corner = [];
  for (let p = 0; p < counts.length; p++) {
    const s = starts[p], n = counts[p];
    if (n < 3) continue;
    corner.length = 0;
    polygonTriangles(positions, indices, s, n, corner);
    const g = tintOf(p);
    const end = first[g] + room[g];
    for (let k = 0; k + 2 < corner.length && next[g] < end; k += 3) {
      const t = next[g]++;
      index[t * 3] = indices[s + corner[k]];
      index[t * 3 + 1] = indices[s + corner[k + 1]];
      index[t * 3 + 2] = indices[s + corner[k + 2]];
      tri2poly[t] = p;
    }
  }
  // Ear clipping may give a polygon fewer triangles than it has room for:
  // close the gaps so that the groups lie end to end.
  const groups = [];
  let at = 0;
  for (let g = 0; g < TINT_COUNT; g++) {
    const count = next[g] - first[g];
    if (at !== first[g]) {
      index.copyWithin(at * 3, first[g] * 3, next[g] * 3);
      tri2poly.copyWithin(at, first[g], next[g]);
    }
    groups.push({ start: at * 3, count: count * 3 });
    at += count;
  }
  return { index: index.subarray(0, at * 3), tri2poly: tri2poly.subarray(0, at), groups };
}

// Each edge once, however many polygons hold it, as a pair of point numbers
// over the mesh's own positions: half the segments of drawing every
// polygon's outline. Edges are filed under their lower point, whose few
// edges are compared with each other: linear, with no map or sort. With
// `owners`, also the edges as picking looks them up: `first[a]` to
// `first[a + 1]` in `higher` and `owner` are the edges filed under point a,
// each with its higher point and its polygon, in polygon order.
export function edgeTable(mesh, owners = false) {
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
  const owner = owners ? new Uint32Array(first[points]) : null;
  for (let p = 0; p < counts.length; p++) {
    if (counts[p] < 2) continue;
    for (let k = 0; k < counts[p]; k++) {
      const a = indices[starts[p] + k], b = other(p, k);
      const at = next[Math.min(a, b)]++;
      higher[at] = Math.max(a, b);
      if (owner) owner[at] = p;
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
  return { pairs: pairs.subarray(0, m), picking: owners ? { first, higher, owner } : null };
}

// The polygons that hold the edge a-b, each once, in polygon order, from
// edgeTable's `picking`.
export function edgeOwners(picking, a, b) {
  const { first, higher, owner } = picking;
  const low = Math.min(a, b), high = Math.max(a, b), polys = [];
  for (let k = first[low]; k < first[low + 1]; k++)
    if (higher[k] === high && polys[polys.length - 1] !== owner[k]) polys.push(owner[k]);
  return polys;
}
