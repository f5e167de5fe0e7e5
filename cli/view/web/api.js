// Server calls. Meshes arrive as one binary buffer: a JSON header, then the
// positions, the corner counts, the point indices and a tint per polygon as
// typed arrays over the same bytes (see ViewEncodeMesh), which the page's
// worker makes ready to draw.
//
// Every call carries the token in a header of its own, the only place the
// server takes it from: a page of another origin cannot send that header
// without asking first, and the server refuses the asking.

import { decodeMesh } from './mesh.js';
import { buildMesh } from './meshwork.js';

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

// The mesh in an answer (see mesh.js), for callers that want it as it came.
export { decodeMesh };

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// What the server is busy with: { ready, task: 'load', 'run', 'save' or ''
// (idle), phase, elapsedMs, and step and steps, or done and total, where it
// knows them }.
export async function fetchProgress() {
  const response = await call('/api/progress', 'GET');
  if (!response.ok) throw await failure(response);
  return response.json();
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

// The input, once the server has read it (it serves the page meanwhile and
// answers that it is still reading); `onArrived` is called when the mesh
// has come and is being made ready to draw.
export async function fetchInput(onArrived = () => {}) {
  for (;;) {
    const response = await call('/api/input', 'GET');
    if (response.status === 503) {
      const answer = await response.clone().json().catch(() => ({}));
      if (answer.loading) {
        await sleep(250);
        continue;
      }
    }
    if (!response.ok) throw await failure(response);
    const buffer = await response.arrayBuffer();
    onArrived();
    return buildMesh(buffer, true);
  }
}

export async function runModule(options, onArrived = () => {}) {
  const response = await call(`/api/run?${query(options)}`, 'POST');
  if (!response.ok) throw await failure(response);
  const buffer = await response.arrayBuffer();
  onArrived();
  return buildMesh(buffer);
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
