// Meshes from the server made ready to draw by the page's worker (see
// meshworker.js), so that the page answers while a large result is built.
import { decodeMesh } from './mesh.js';

let worker = null;
let last = 0;
const waiting = new Map();   // request id -> { resolve, reject }

function start() {
  worker = new Worker('/app/meshworker.js', { type: 'module' });
  worker.onmessage = ({ data }) => {
    const request = waiting.get(data.id);
    waiting.delete(data.id);
    if (data.error) return request.reject(new Error(data.error));
    const mesh = decodeMesh(data.buffer, data.starts);
    mesh.faces = data.faces;
    mesh.pairs = data.edges.pairs;
    mesh.picking = data.edges.picking;
    request.resolve(mesh);
  };
  worker.onerror = (e) => {
    // A worker that cannot start fails every request it holds.
    for (const request of waiting.values()) request.reject(new Error(e.message || 'the page\'s worker failed'));
    waiting.clear();
    e.preventDefault();
  };
}

// Resolves to the mesh in `buffer` (as decodeMesh gives it) with its
// triangles (`faces`), its edges (`pairs`) and, with `picking`, the edge
// table picking looks polygons up in. `buffer` is handed to the worker and
// no longer usable here.
export function buildMesh(buffer, picking = false) {
  if (!worker) start();
  const id = ++last;
  return new Promise((resolve, reject) => {
    waiting.set(id, { resolve, reject });
    worker.postMessage({ id, buffer, picking }, [buffer]);
  });
}
