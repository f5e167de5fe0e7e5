// Server calls. Meshes arrive as one binary buffer: a JSON header, then the
// positions, the corner counts, the point indices and a tint per polygon as
// typed arrays over the same bytes (see ViewEncodeMesh).
//
// Every call carries the token in a header of its own, the only place the
// server takes it from: a page of another origin cannot send that header
// without asking first, and the server refuses the asking.

let token = '';

// Takes the token from the address corvane view printed and drops it from the
// address bar (and so from the history). The tab keeps it for a reload in
// its session storage, which no page of another origin can read.
export function takeToken() {
  const params = new URLSearchParams(window.location.search);
  if (params.has('token')) {
    token = params.get('token');
    sessionStorage.setItem('corvane-token', token);
    window.history.replaceState(null, '', window.location.pathname);
  } else {
    token = sessionStorage.getItem('corvane-token') || '';
  }
}

function call(path, method) {
  return fetch(path, { method, headers: { 'X-Corvane-Token': token } });
}

export function decodeMesh(buffer) {
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
  // Where each polygon's corners start in `indices`.
  const starts = new Uint32Array(polygons + 1);
  for (let i = 0; i < polygons; i++) starts[i + 1] = starts[i] + counts[i];
  return { info, positions, counts, indices, starts, tint };
}

function query(options) {
  const q = new URLSearchParams({
    size: String(options.size),
    mode: options.angleMode,
    limit: String(options.limitDeg),
    clamp: options.clamp ? '1' : '0',
  });
  if (options.select) q.set('select', `${options.select[0]},${options.select[1]}`);
  return q.toString();
}

async function failure(response) {
  let text = `${response.status} ${response.statusText}`;
  try {
    text = (await response.json()).error || text;
  } catch (e) {
    // not JSON: keep the status line
  }
  return new Error(text);
}

export async function fetchInput() {
  const response = await call('/api/input', 'GET');
  if (!response.ok) throw await failure(response);
  return decodeMesh(await response.arrayBuffer());
}

export async function runModule(options) {
  const response = await call(`/api/run?${query(options)}`, 'POST');
  if (!response.ok) throw await failure(response);
  return decodeMesh(await response.arrayBuffer());
}

// Writes OUTPUT and resolves to its name, or, when the program was started
// without one, hands the file to the browser as a download.
export async function save(options, downloadName) {
  const response = await call(`/api/save?${query(options)}`, 'POST');
  if (!response.ok) throw await failure(response);
  if ((response.headers.get('Content-Type') || '').startsWith('application/json')) {
    const answer = await response.json();
    return `written to ${answer.written}` + (answer.note ? `; ${answer.note}` : '');
  }
  const url = URL.createObjectURL(await response.blob());
  const link = document.createElement('a');
  link.href = url;
  link.download = downloadName;
  document.body.appendChild(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 10000);
  return `downloaded as ${downloadName}`;
}
