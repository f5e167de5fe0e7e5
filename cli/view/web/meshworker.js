// The page's worker: turns a mesh the server sent into the arrays the scene
// draws, off the page's thread, which a result of millions of polygons
// would otherwise hold for seconds. Gets { id, buffer, picking } and sends
// back the buffer with what it built, every array handed over, not copied.
import { decodeMesh, edgeTable, faceTriangles } from './mesh.js';

self.onmessage = ({ data }) => {
  const { id, buffer, picking } = data;
  try {
    const mesh = decodeMesh(buffer);
    const faces = faceTriangles(mesh);
    const edges = edgeTable(mesh, picking);
    const arrays = [mesh.starts, faces.index, faces.tri2poly, edges.pairs];
    if (edges.picking) arrays.push(edges.picking.first, edges.picking.higher, edges.picking.owner);
    self.postMessage({ id, buffer, starts: mesh.starts, faces, edges }, [buffer, ...arrays.map((a) => a.buffer)]);
  } catch (e) {
    self.postMessage({ id, error: e.message });
  }
};
