// The page: reads the input once, then re-runs the module on the server at
// every change of the options or the selection and shows what it gives.
//
// Runs never pile up: one is in flight at a time, and changes made meanwhile
// wait in a single slot that the newest change overwrites, so a dragged
// slider queues at most one run behind the one in flight. #status reads
// "ready" only when the drawn result belongs to the controls as they are,
// and "failed" when the run for them failed: the picture is an older one.
import { fetchInput, fetchProgress, runModule, save, takeToken } from './api.js';
import { Controls, defaultSize } from './controls.js';
import { Picker } from './picking.js';
import { Viewport } from './scene.js';

const $ = (id) => document.getElementById(id);
const number = (n) => n.toLocaleString('en-US');

const state = {
  input: null,
  selection: [],      // input polygons, numbers from 0
  pending: null,      // the options of the run waiting for the one in flight
  inFlight: false,
  shownKey: null,     // the options the drawn result belongs to
  failedKey: null,    // the options whose run failed
};

let viewport, controls, picker;

function currentOptions() {
  const v = controls.value();
  return { ...v, select: state.selection.length === 2 ? state.selection.map((p) => p + 1) : null };
}

const keyOf = (o) => JSON.stringify(o);

// The server names the run's mode in the README's words.
const MODE_NAMES = { object: 'Object', 'two-polygon': 'Two-polygon' };

function setStatus(text) {
  $('status').textContent = text;
}

// How far the work behind #status has come, under it: what the server says
// of the request it is on (its phase, the phase's count or the step, the
// time so far), asked a few times a second while a request is out, and then
// what the page itself does with the answer.
const PROGRESS_MS = 250;
const TASKS = { load: 'Reading the input', run: 'Running the module', save: 'Saving' };
const progress = { watching: 0, local: null };
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function showProgress(text, fraction) {
  $('progress').hidden = false;
  $('progress-text').textContent = text;
  // No fraction: the bar only says that work goes on.
  if (fraction === null) $('progress-bar').removeAttribute('value');
  else $('progress-bar').value = Math.max(0, Math.min(1, fraction));
}

function showServerProgress(p) {
  if (!TASKS[p.task]) {
    showProgress('Waiting for the server\'s answer', null);
    return;
  }
  let how = '', fraction = null;
  if (p.total) {
    how = `, ${number(p.done)} of ${number(p.total)} (${Math.floor((p.done * 100) / p.total)}%)`;
    fraction = p.done / p.total;
  } else if (p.steps) {
    how = ` (step ${p.step} of ${p.steps})`;
    fraction = (p.step - 1) / p.steps;
  }
  showProgress(`${TASKS[p.task]}: ${p.phase || 'starting'}${how}, ${(p.elapsedMs / 1000).toFixed(1)} s`, fraction);
}

// The page's own step after an answer came: the server has nothing more to say.
function localProgress(text) {
  progress.local = text;
  showProgress(text, null);
}

// Resolves as `work` does, showing the progress meanwhile.
async function watchProgress(work) {
  progress.watching++;
  let done = false;
  (async () => {
    while (!done) {
      await sleep(PROGRESS_MS);
      if (done) break;
      try {
        const p = await fetchProgress();
        if (!done && !progress.local) showServerProgress(p);
      } catch (e) {
        // The request itself says what went wrong.
      }
    }
  })();
  try {
    return await work;
  } finally {
    done = true;
    if (--progress.watching === 0) {
      progress.local = null;
      $('progress').hidden = true;
    }
  }
}

function refreshStatus() {
  const options = currentOptions();
  if (options.size === null || options.limitDeg === null) setStatus('invalid options');
  else if (state.inFlight || state.pending) setStatus('running');
  else if (state.shownKey === keyOf(options)) setStatus('ready');
  else if (state.failedKey === keyOf(options)) setStatus('failed');
  else setStatus('running');
}

function schedule() {
  const options = currentOptions();
  updateWarnings();
  if (options.size === null || options.limitDeg === null) {
    refreshStatus();
    return;
  }
  // A change that leaves the run as it was (the first of two clicks picks
  // one polygon, which is still the object mode) redraws only the
  // selection: the result shown is already this run's.
  if (!state.inFlight && state.shownKey === keyOf(options)) {
    state.pending = null;
    refreshStatus();
    return;
  }
  state.pending = options;
  refreshStatus();
  if (!state.inFlight) pump();
}

async function pump() {
  while (state.pending) {
    const options = state.pending;
    state.pending = null;
    state.inFlight = true;
    try {
      const result = await watchProgress(
        runModule(options, () => localProgress('Drawing the result: building its triangles and edges')));
      showResult(result);
      state.shownKey = keyOf(options);
      state.failedKey = null;
    } catch (e) {
      $('messages').textContent = `The run failed: ${e.message}. The picture shows an earlier result.`;
      $('result-warnings').textContent = '';
      state.shownKey = null;
      state.failedKey = keyOf(options);
    }
    state.inFlight = false;
  }
  refreshStatus();
}

function edgeCounts(info) {
  return `${number(info.borderEdges)} border, ${number(info.crowdedEdges)} non-manifold edges, ` +
    `${number(info.repeatedPointPolys)} polygons with a repeated point, ${number(info.zeroAreaPolys)} of zero area`;
}

function showResult(result) {
  const input = state.input.info, r = result.info;
  // An edit that ended without change leaves the user's object as it was:
  // show the input (the program writes nothing then).
  viewport.setMesh('result', r.unchanged ? state.input : result);
  const shown = r.unchanged
    ? `Result: unchanged (${number(input.points)} points, ${number(input.polygons)} polygons)`
    : `Result: ${number(r.points)} points, ${number(r.polygons)} polygons; ${edgeCounts(r)}`;
  $('stats').textContent =
    `Input: ${number(input.points)} points, ${number(input.polygons)} polygons; ${edgeCounts(input)}. ` +
    `${shown}. ${MODE_NAMES[r.mode] || 'Run'} mode, activation ${r.activationMs.toFixed(2)} ms` +
    (r.clampNote ? `; ${r.clampNote}.` : '.');
  // The program's warning after a run, in its words.
  const safe = state.input.info.safeSize;
  $('result-warnings').textContent = r.invalid && !r.unchanged
    ? `In the result ${r.invalid}; other tools may refuse it` +
      (safe !== null && !controls.value().clamp && !r.warning
        ? ` (the safe bevel size is ${state.input.info.safeSizeText}; "Clamp to the safe size" keeps to it).`
        : '.')
    : '';
  // The run layer's warning: past the safe size, or nothing chamfered.
  if (r.warning) $('result-warnings').textContent += ($('result-warnings').textContent ? ' ' : '') + r.warning;
  $('messages').textContent = r.messages.map((m) => (m.error ? 'Error: ' : '') + m.text).join('\n');
}

function updateWarnings() {
  const info = state.input.info;
  const lines = [];
  // The program's warning before a run, in its words.
  const plural = (n, one, many) => `${number(n)} ${n === 1 ? one : many}`;
  if (info.oppositeWindingEdges > 0)
    lines.push(`${plural(info.oppositeWindingEdges, 'edge joins', 'edges join')} polygons of opposite winding; ` +
      'the chamfer needs consistently wound polygons (the result will have holes).');
  if (info.crowdedEdges > 0)
    lines.push(`${plural(info.crowdedEdges, 'edge is', 'edges are')} shared by 3 or more polygons; the chamfer ` +
      `leaves ${info.crowdedEdges === 1 ? 'it as it is' : 'them as they are'}, as it leaves an open border.`);
  $('warnings').textContent = lines.join(' ');
}

function setSelection(polys) {
  state.selection = polys;
  viewport.setSelection(state.input, polys);
  $('selection').textContent = polys.length === 0
    ? 'none (object mode)'
    : polys.map((p) => `polygon ${p + 1}`).join(' and ') + (polys.length === 2 ? ' (two-polygon mode)' : '');
  schedule();
}

function onPick(polys, additive) {
  if (polys.length === 2) return setSelection(polys);
  const [p] = polys;
  if (additive && state.selection.length > 0 && state.selection[0] !== p) setSelection([state.selection[0], p]);
  else setSelection([p]);
}

async function onSave() {
  const options = currentOptions();
  if (options.size === null || options.limitDeg === null) return;
  $('save-result').textContent = 'saving…';
  try {
    $('save-result').textContent = await watchProgress(save(options, state.input.info.download));
  } catch (e) {
    $('save-result').textContent = e.message;
  }
}

async function start() {
  takeToken();
  controls = new Controls(schedule);
  try {
    state.input = await watchProgress(
      fetchInput(() => localProgress('Drawing the input: building its triangles and edges')));
  } catch (e) {
    setStatus('error');
    $('messages').textContent = `Cannot read the input: ${e.message}`;
    return;
  }
  try {
    viewport = new Viewport($('view'), state.input.indices.length);
  } catch (e) {
    // Without WebGL nothing can be drawn; say so here rather than only in
    // the browser's console, and what the user can do about it.
    setStatus('cannot draw');
    $('messages').textContent =
      `This browser cannot draw the mesh: WebGL is turned off or not available here (${e.message}). ` +
      'Turn on hardware acceleration or WebGL in the browser\'s settings and reload, or open this address ' +
      'in another browser. Without a browser, corvane INPUT -o OUTPUT --preview picture.png draws the ' +
      'input and the result side by side.';
    return;
  }
  const info = state.input.info;
  $('file-name').textContent = info.name;
  document.title = `${info.name} – corvane view`;
  const { front, tri2poly } = viewport.setMesh('input', state.input);
  picker = new Picker(viewport, onPick);
  picker.setInput(state.input, front.geometry, tri2poly);
  const settings = info.settings;
  controls.init(defaultSize(state.input.positions, info.safeSize),
                settings.angleMode >= 0 ? settings.angleMode : 0,
                settings.limitDeg !== null && settings.limitDeg >= 0 ? Number(settings.limitDeg.toPrecision(6)) : 0,
                info.safeSize);
  $('save').textContent = info.output ? `Save to ${info.output.split('/').pop()}` : 'Save (download)';
  $('save').title = info.output || 'offers the result as a download';
  $('show-result').addEventListener('change', () => viewport.show('result'));
  $('show-input').addEventListener('change', () => viewport.show('input'));
  $('show-edges').addEventListener('change', (e) => viewport.showEdges(e.target.checked));
  $('fit').addEventListener('click', () => viewport.fit());
  $('clear-selection').addEventListener('click', () => setSelection([]));
  $('save').addEventListener('click', onSave);
  // The testing contract: select input polygons i and j (from 1) as two clicks would.
  window.corvaneSelect = (i, j) => {
    onPick([i - 1], false);
    onPick([j - 1], true);
  };
  schedule();
}

start();
