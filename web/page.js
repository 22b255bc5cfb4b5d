// The page: its fields, checked by velmora-curve's own code compiled to
// WebAssembly; the curve, thrown by a worker per core; the fit, in a worker
// of its own; the results as tables, plots, CSV and the command lines that
// give the same.
'use strict';

// velmora-curve's options in the order its command line is written (that
// of its help); each is a field of the same id and a key of the page's
// address. 'layer' is a list of fields, one per layer: layer-2, layer-3, …
const curveOptions = ['law', 'muons', 'flux', 'intensity', 'paddles', 'top', 'bottom', 'offset',
  'layer', 'min-path', 'require', 'detection', 'noise', 'window', 'precision', 'exponent', 'tilt',
  'tilt-azimuth', 'seed', 'method'];
// velmora-fit's, in its order, each with its field: the telescope's are
// the curve's own, the fit's own are fit-….
const fitOptions = [['paddles', 'paddles'], ['top', 'top'], ['bottom', 'bottom'],
  ['offset', 'offset'], ['layer', 'layer'], ['min-path', 'min-path'], ['require', 'fit-require'],
  ['detection', 'detection'], ['noise', 'noise'], ['window', 'window'],
  ['exponent', 'fit-exponent'], ['tilt-azimuth', 'fit-tilt-azimuth'], ['seed', 'fit-seed'],
  ['method', 'fit-method']];
// The keys of a link: the curve's fields, whether to run, and, unlisted,
// how many workers to run on (for tests and benchmarks).
const addressKeys = ['distances', ...curveOptions];
// Links that give two ways of the same thing, one of which the page hides.
const alternatives = [['paddle-sizes', {same: ['paddles'], apart: ['top', 'bottom']}],
  ['sky-given', {flux: ['flux'], intensity: ['intensity']}]];
// As many as the command takes between the paddles.
const layersMax = 6;
// A link may ask for this many workers at most; one per core is the
// default, up to 16: more would hold more memory than they save time.
const workersMax = 64;
const workersByDefault = 16;
// The measurements reach the module on its stack, four bytes a character:
// a text much longer would overflow it.
const dataMax = 1000000;
// The columns a student reads first, in this order; the others on asking,
// and all of them in the download.
const keyColumns = ['law', 'distance_cm', 'tilt_deg', 'require', 'rate_per_minute',
  'rate_detected_per_minute', 'efficiency', 'std_error'];
// Rows beyond these are in the download only: laying out a table of a
// hundred thousand rows would hold the page for seconds.
const tableRowsMax = 1000;
// A tilt scan of more distances draws this many of them, evenly spread.
const curvesMax = 12;

const $ = (id) => document.getElementById(id);
let module = null;
let check = null;
let call = null;
let forcedWorkers = 0;
let dataName = null; // the file the measurements were read from

// Each panel's run: its workers, while it runs, and its elements, named
// with its prefix.
const curve = {prefix: '', workers: [], started: 0, failed: 'The run failed', stopped: 'nothing was computed'};
const fit = {prefix: 'fit-', workers: [], started: 0, failed: 'The fit failed', stopped: 'nothing was fitted'};
const part = (panel, name) => $(`${panel.prefix}${name}`);

function valueOf(id) {
  const value = $(id).value;
  return value.trim() === '' ? '' : value;
}

function distanceWords() {
  return valueOf('distances').split(/\s+/).filter((w) => w !== '');
}

function layerIds() {
  return [...$('layer-rows').querySelectorAll('input')].map((input) => input.id);
}

// Whether a field is not one of the alternatives left unchosen.
function chosen(id) {
  const alternative = $(id).closest('.alternative');
  return !alternative || !alternative.hidden;
}

// The fields of a panel that give options, as {id, option}, in the order
// of the command line.
function fieldsOf(pairs) {
  const fields = [];
  for (const [option, id] of pairs) {
    if (option === 'layer') {
      fields.push(...layerIds().map((layer) => ({id: layer, option})));
    } else if (chosen(id)) {
      fields.push({id, option});
    }
  }
  return fields;
}

const curveFields = () => fieldsOf([['distances', 'distances'], ...curveOptions.map((o) => [o, o])]);
const fitFields = () => fieldsOf(fitOptions);

// Opens what hides a field and gives it the focus.
function reveal(id) {
  const details = $(id).closest('details');
  if (details) {
    details.open = true;
  }
  $(id).focus();
}

function showProblem(id, problem) {
  $(`${id}-problem`).textContent = problem;
  const field = $(id);
  if (field && field.matches('input, select, textarea')) {
    field.setAttribute('aria-invalid', problem ? 'true' : 'false');
    const details = field.closest('details');
    if (problem && details) {
      details.open = true;
    }
  }
}

// Checks one field as the command would; an empty field is the default,
// except the distances, which the command cannot do without, and a fixed
// exponent, which needs its number.
function checkField(field) {
  const value = valueOf(field.id);
  let problem = '';
  if (value !== '' || field.id === 'distances' || field.id === 'fit-exponent') {
    problem = check(field.option, value);
  }
  showProblem(field.id, problem);
  return problem === '';
}

// Checks every field of a panel; false, with the focus on the first bad
// one, when any is.
function checkFields(fields) {
  const good = fields.map(checkField);
  const first = fields[good.indexOf(false)];
  if (first) {
    reveal(first.id);
  }
  return !first;
}

// The options the fields give, as [--name, value] pairs.
function optionPairs(fields) {
  return fields.filter((f) => f.option !== 'distances' && valueOf(f.id) !== '')
    .map((f) => [`--${f.option}`, valueOf(f.id)]);
}

const flat = (pairs) => pairs.flatMap(([option, value]) => (value === null ? [option] : [option, value]));

// Gives the module a command line, a word at a time, and reads it with
// `read` (velmora_read or velmora_fit_read): "" or "option\tproblem".
function readWords(read, words) {
  call('velmora_clear_words', null, [])();
  const addWord = call('velmora_add_word', null, ['string']);
  words.forEach((word) => addWord(word));
  return call(read, 'string', [])();
}

// Shows a problem of the command line as a whole at the field of the
// option it concerns; the layers' at the list of them, the focus on the
// layer it names.
function placeProblem(option, problem, fields, general) {
  if (option === 'layer') {
    showProblem('layers', problem);
    const named = /^layer (\d+) /.exec(problem);
    const ids = layerIds();
    const id = named && ids.includes(`layer-${named[1]}`) ? `layer-${named[1]}` : ids[0];
    if (id) {
      reveal(id);
    }
    return;
  }
  const field = fields.find((f) => f.option === option);
  showProblem(field ? field.id : general, problem);
  (field ? $(field.id) : part(general === 'general' ? curve : fit, 'run')).focus();
}

// A word as a POSIX shell reads it back unchanged.
function shellWord(word) {
  return /^[A-Za-z0-9_.,:+=/^@-]+$/.test(word) ? word : `'${word.replace(/'/g, "'\\''")}'`;
}

// The command line in pieces that a line break must not split: the
// command's name, each option with its value, each operand.
function showCommand(code, program, pairs, operands) {
  const pieces = [program, ...pairs.map(([option, value]) => (value === null ? option
    : `${option} ${shellWord(value)}`))];
  // "--" is needed only before an operand that starts with a minus sign.
  if (operands.some((d) => d.startsWith('-'))) {
    pieces.push('--');
  }
  code.replaceChildren();
  pieces.concat(operands.map(shellWord)).forEach((piece, i) => {
    const span = document.createElement('span');
    span.className = 'piece';
    span.textContent = piece;
    code.append(i ? ' ' : '', span);
  });
}

// The curve's inputs in the page's address, so that a link gives the same
// run.
function addressOf(run) {
  const query = new URLSearchParams();
  for (const field of curveFields()) {
    if (valueOf(field.id) !== '') {
      query.append(field.option, valueOf(field.id));
    }
  }
  if (forcedWorkers) {
    query.set('workers', forcedWorkers);
  }
  if (run) {
    query.set('run', '1');
  }
  return `${location.pathname}?${query}`;
}

function saveAddress() {
  history.replaceState(null, '', addressOf(false));
}

function status(panel, text) {
  part(panel, 'status').textContent = text;
}

function setRunning(panel, running) {
  part(panel, 'run').disabled = running;
  part(panel, 'cancel').disabled = !running;
  if (!running) {
    part(panel, 'progress').value = 0;
  }
}

// Ends a panel's run, however it ended: its workers are stopped and its
// button is back.
function endRun(panel, text) {
  panel.workers.forEach((worker) => worker.terminate());
  panel.workers = [];
  setRunning(panel, false);
  status(panel, text);
}

// Results shown while the fields may no longer give them: from the moment
// Run is pressed until new results replace them.
function markStale(panel, stale) {
  part(panel, 'results').classList.toggle('stale', stale);
  part(panel, 'stale-note').hidden = !stale;
}

// A worker of a panel's run, with `handle` for its messages; any worker's
// failure fails the run.
function startWorker(panel, handle) {
  const worker = new Worker('worker.js');
  worker.onmessage = (event) => {
    // A message posted before the run ended, by Cancel or another worker's
    // failure, belongs to no run.
    if (!panel.workers.includes(worker)) {
      return;
    }
    if (event.data.type === 'failed') {
      endRun(panel, `${panel.failed}: ${event.data.problem}. ${panel.stopped[0].toUpperCase()}${panel.stopped.slice(1)}.`);
    } else {
      handle(event.data);
    }
  };
  // The worker posts its own failures; this is for those it cannot catch,
  // such as its script failing to load.
  worker.onerror = (event) => {
    event.preventDefault();
    if (panel.workers.includes(worker)) {
      endRun(panel, `${panel.failed}: ${event.message || 'the worker could not start'}.`);
    }
  };
  panel.workers.push(worker);
  return worker;
}

function workerCount() {
  return forcedWorkers || Math.min(workersByDefault, Math.max(1, navigator.hardwareConcurrency || 1));
}

// The CSV of the whole run from every worker's tallies, added into those of
// the page's own module.
function curveCsv(words, tallies) {
  const problem = readWords('velmora_read', words);
  if (problem) {
    throw new Error(problem.split('\t')[1]);
  }
  call('velmora_start', null, ['number', 'number'])(0, 0);
  const at = call('velmora_tallies', 'number', [])() >>> 2;
  const length = call('velmora_tally_length', 'number', [])();
  const sums = module.HEAP32.subarray(at, at + length);
  for (const share of tallies) {
    if (share.length !== length) {
      throw new Error('a worker counted a run of another size');
    }
    for (let k = 0; k < length; ++k) {
      sums[k] += share[k];
    }
  }
  return call('velmora_csv', 'string', [])();
}

function runCurve() {
  $('link-problem').textContent = '';
  if (!$('results').hidden) {
    markStale(curve, true);
  }
  const fields = curveFields();
  showProblem('general', '');
  showProblem('layers', '');
  if (!checkFields(fields)) {
    status(curve, 'Nothing was run: a field needs mending.');
    return;
  }
  const pairs = optionPairs(fields);
  const distances = distanceWords();
  const words = [...flat(pairs), '--', ...distances];
  const problem = readWords('velmora_read', words);
  if (problem) {
    const [option, text] = problem.split('\t');
    placeProblem(option, text, fields, 'general');
    status(curve, 'Nothing was run: the fields do not go together.');
    return;
  }
  saveAddress();
  const count = workerCount();
  const done = new Array(count).fill(0);
  const tallies = [];
  curve.started = performance.now();
  setRunning(curve, true);
  status(curve, 'Running…');
  for (let i = 0; i < count; ++i) {
    const worker = startWorker(curve, (message) => {
      done[i] = message.done;
      // The integral throws no muons.
      $('progress').value = message.total > 0 ? done.reduce((a, b) => a + b, 0) / message.total : 0;
      if (message.type === 'tallies') {
        tallies.push(message.tallies);
        if (tallies.length === count) {
          finishCurve(words, pairs, distances, tallies, count);
        }
      }
    });
    worker.postMessage({type: 'curve', words, worker: i, workers: count});
  }
}

function finishCurve(words, pairs, distances, tallies, count) {
  const seconds = (performance.now() - curve.started) / 1000;
  endRun(curve, '');
  try {
    const csv = curveCsv(words, tallies);
    document.body.dataset.lastRunSeconds = seconds.toFixed(3);
    document.body.dataset.lastRunWorkers = count;
    showResults(csv, pairs, distances);
    status(curve, `Done in ${seconds.toFixed(2)} s.`);
  } catch (error) {
    $('results').hidden = true;
    status(curve, `The run failed: its results could not be shown (${error.message}).`);
  }
}

// The rows of a CSV without quoted fields, as velmora-curve and
// velmora-fit write it.
function parseCsv(text) {
  const lines = text.split('\n').filter((line) => line !== '');
  const header = lines[0].split(',');
  return {header, rows: lines.slice(1).map((line) => line.split(','))};
}

// The key columns that say something: the law when there are several (the
// caption names a single one), the tilt when there is one, the requirement
// when it is not every layer, the detected rate when it is not the rate; or
// every column, when asked.
function shownColumns(table) {
  if ($('all-columns').checked) {
    return table.header.map((name, i) => i);
  }
  const [law, tilt, require, rate, detected] = ['law', 'tilt_deg', 'require', 'rate_per_minute',
    'rate_detected_per_minute'].map((name) => table.header.indexOf(name));
  const telling = {
    [law]: new Set(table.rows.map((r) => r[law])).size > 1,
    [tilt]: table.rows.some((r) => Number(r[tilt]) !== 0),
    [require]: table.rows.some((r) => r[require] !== 'all'),
    [detected]: table.rows.some((r) => r[detected] !== r[rate]),
  };
  return keyColumns.map((name) => table.header.indexOf(name))
    .filter((i) => i >= 0 && telling[i] !== false);
}

function showTable(table) {
  const columns = shownColumns(table);
  const head = document.createElement('tr');
  for (const i of columns) {
    // A long name may break after its underscores, to keep a narrow
    // screen's columns narrow.
    const th = document.createElement('th');
    th.scope = 'col';
    table.header[i].split('_').forEach((piece, k) => {
      if (k > 0) {
        th.append('_', document.createElement('wbr'));
      }
      th.append(piece);
    });
    head.append(th);
  }
  $('table').tHead.replaceChildren(head);
  // Row by row into a fragment: spreading a hundred thousand rows into one
  // call would overflow the call stack.
  const body = document.createDocumentFragment();
  for (const cells of table.rows.slice(0, tableRowsMax)) {
    const tr = document.createElement('tr');
    for (const i of columns) {
      const td = document.createElement('td');
      td.textContent = cells[i];
      tr.append(td);
    }
    body.append(tr);
  }
  $('table').tBodies[0].replaceChildren(body);
  const law = table.header.indexOf('law');
  const laws = new Set(table.rows.map((r) => r[law]));
  $('table-caption').textContent = $('all-columns').checked ? 'Every column of the CSV'
    : `The key columns of the CSV${laws.size === 1 && !columns.includes(law)
      ? `, every row of the ${laws.values().next().value} law` : ''}`;
  $('column-count').textContent = table.header.length;
  $('table-note').textContent = table.rows.length > tableRowsMax
    ? `The table shows the first ${tableRowsMax} of the ${table.rows.length} rows; the download holds them all.`
    : '';
}

function lawTitle(law) {
  return {cos_squared: 'cos²θ law (as velmora)',
    isotropic: 'directions uniform per crossing track (as velmorauni)'}[law] || `${law} law`;
}

function exponentOf(law) {
  return law === 'cos_squared' ? 2 : Number(law.slice(4));
}

// Groups rows by `key`, each group a curve of points sorted along x.
function curves(rows, key, point) {
  const groups = new Map();
  for (const row of rows) {
    const k = key(row);
    if (!groups.has(k)) {
      groups.set(k, []);
    }
    groups.get(k).push(point(row));
  }
  return [...groups].map(([label, points]) => ({label, points: points.sort((a, b) => a.x - b.x)}));
}

// What the plot can show of these rows, the first by default: the
// efficiency against distance, the rate, and the detected rate where the
// counters lose some.
function quantities(table, byTilt) {
  const [rate, detected] = ['rate_per_minute', 'rate_detected_per_minute'].map((n) => table.header.indexOf(n));
  return [!byTilt && 'efficiency', table.rows.some((r) => r[rate] !== '') && 'rate',
    table.rows.some((r) => r[detected] !== r[rate]) && 'detected'].filter(Boolean);
}

function showPlot(table) {
  const column = (name) => table.header.indexOf(name);
  const [law, distance, efficiency, error, tilt, require] = ['law', 'distance_cm', 'efficiency',
    'std_error', 'tilt_deg', 'require'].map(column);
  const rows = table.rows;
  const tilts = new Set(rows.map((r) => r[tilt]));
  const byTilt = tilts.size > 1;
  const shown = quantities(table, byTilt);
  const asked = document.querySelector('input[name="quantity"]:checked').value;
  const quantity = shown.includes(asked) ? asked : shown[0];
  for (const radio of document.querySelectorAll('input[name="quantity"]')) {
    radio.parentElement.hidden = !shown.includes(radio.value);
    radio.checked = radio.value === quantity;
  }
  $('plot-choice').hidden = shown.length < 2;
  const value = column({efficiency: 'efficiency', rate: 'rate_per_minute',
    detected: 'rate_detected_per_minute'}[quantity]);
  const errorOf = (r) => (quantity === 'efficiency' ? Number(r[error])
    : Number(r[efficiency]) > 0 ? r[value] * r[error] / r[efficiency] : 0);
  // One curve per requirement, where there are several.
  const requirements = new Set(rows.map((r) => r[require])).size > 1;
  const needs = (r) => (requirements ? `, require ${r[require]}` : '');
  const what = {efficiency: 'geometric efficiency', rate: 'coincidence rate per minute',
    detected: 'detected coincidence rate per minute'}[quantity];
  const notes = [];
  let figure;
  if (byTilt) {
    // The tilt scan runs the flux law alone, with one exponent.
    const n = exponentOf(rows[0][law]);
    let series = curves(rows, (r) => `${r[distance]} cm${needs(r)}`,
      (r) => ({x: Number(r[tilt]), y: Number(r[value]), error: errorOf(r)}));
    if (series.length > curvesMax) {
      notes.push(`${curvesMax} of the ${series.length} curves are drawn, evenly spread.`);
      const all = series;
      series = Array.from({length: curvesMax},
        (_, i) => all[Math.round(i * (all.length - 1) / (curvesMax - 1))]);
    }
    const lines = series.map((s, i) => {
      const first = s.points[0];
      const base = Math.cos(first.x * Math.PI / 180);
      return {label: i === 0 ? `cos^${n} α: an infinitely narrow telescope` : '', colour: i,
        at: (x) => first.y * Math.pow(Math.max(0, Math.cos(x * Math.PI / 180)) / base, n)};
    });
    figure = {title: `${quantity === 'detected' ? 'Detected coincidence' : 'Coincidence'} rate against the tilt`,
      description: `The ${what} against the tilt of the telescope axis, one curve per distance${requirements ? ' and requirement' : ''}, beside the cos^N law of an infinitely narrow telescope.`,
      xLabel: 'tilt of the telescope axis from the vertical (°)',
      yLabel: quantity === 'detected' ? 'coincidences detected per minute' : 'coincidences per minute',
      series, lines};
  } else {
    const drawn = quantity === 'efficiency' ? rows : rows.filter((r) => r[value] !== '');
    // A curve per law and requirement, named by what tells them apart.
    const laws = new Set(drawn.map((r) => r[law])).size > 1;
    const series = curves(drawn, (r) => (laws || !requirements ? `${lawTitle(r[law])}${needs(r)}`
      : `require ${r[require]}`), (r) => ({x: Number(r[distance]), y: Number(r[value]), error: errorOf(r)}));
    // A single tilt other than 0 is named: the curve is not the upright
    // telescope's.
    const tiltShown = tilts.values().next().value;
    const tilted = Number(tiltShown) !== 0 ? `, the axis tilted ${tiltShown}°` : '';
    const title = {efficiency: 'Geometric efficiency', rate: 'Coincidence rate',
      detected: 'Detected coincidence rate'}[quantity];
    figure = {title: `${title} against distance${tilted}`,
      description: `The ${what} against the distance between the paddles${tilted}, one curve per law${requirements ? ' and requirement' : ''}, with binomial error bars.`,
      xLabel: 'distance between the paddles (cm)',
      yLabel: {efficiency: 'efficiency', rate: 'coincidences per minute',
        detected: 'coincidences detected per minute'}[quantity], series};
  }
  drawFigure($('plot'), $('plot-note'), figure, notes);
}

// Draws a figure, or says why there is nothing to draw.
function drawFigure(container, note, figure, notes) {
  const finite = figure.series.every((s) => s.points.every((p) => Number.isFinite(p.x) && Number.isFinite(p.y)));
  if (figure.series.length === 0 || !finite) {
    container.textContent = 'Nothing to plot: the rows hold no finite values to draw.';
    note.textContent = '';
    return;
  }
  if (drawPlot(container, figure).dense) {
    notes.push('The points are too close together for markers and error bars: each curve is a line through all of them.');
  }
  note.textContent = notes.join(' ');
}

let lastTable = null;
const downloads = {};

// Points a download link at new text, letting go of the old.
function offer(link, text) {
  if (downloads[link.id]) {
    URL.revokeObjectURL(downloads[link.id]);
  }
  downloads[link.id] = URL.createObjectURL(new Blob([text], {type: 'text/csv'}));
  link.href = downloads[link.id];
}

function showResults(csv, pairs, distances) {
  lastTable = parseCsv(csv);
  showCommand($('command'), 'velmora-curve', pairs, distances);
  offer($('download'), csv);
  $('results').hidden = false;
  markStale(curve, false);
  showTable(lastTable);
  showPlot(lastTable);
  // For a screen reader, which then reads on from the heading; the box
  // that marks the focus is left off it (style.css).
  $('results-heading').focus();
}

// The fit: checked here, every field and the measurements, so that a
// problem runs nothing; then worked out in a worker, model by model.
function runFit() {
  if (!$('fit-results').hidden) {
    markStale(fit, true);
  }
  const fields = fitFields();
  for (const id of ['fit-general', 'fit-data', 'layers']) {
    showProblem(id, '');
  }
  if (!checkFields(fields)) {
    status(fit, 'Nothing was fitted: a field needs mending.');
    return;
  }
  const text = $('fit-data').value;
  const refuse = (problem) => {
    showProblem('fit-data', problem);
    $('fit-data').focus();
    status(fit, 'Nothing was fitted: the measurements need mending.');
  };
  if (text.trim() === '') {
    refuse('Paste your measurements here, or open a file of them.');
    return;
  }
  if (text.length > dataMax) {
    refuse(`The measurements are ${text.length} characters long: more than the ${dataMax} this page reads.`);
    return;
  }
  const pairs = optionPairs(fields);
  if ($('fit-intensity').checked) {
    pairs.push(['--intensity', null]);
  }
  const words = flat(pairs);
  let problem = readWords('velmora_fit_read', words);
  if (problem) {
    const [option, message] = problem.split('\t');
    placeProblem(option, message, fields, 'fit-general');
    status(fit, 'Nothing was fitted: the fields do not go together.');
    return;
  }
  const name = dataName || 'measurements.csv';
  problem = call('velmora_fit_start', 'string', ['string', 'string'])(text, name);
  if (problem) {
    // A problem with an option names it first; any other is the file's.
    const option = /^--([a-z-]+) /.exec(problem);
    const field = option && fields.find((f) => f.option === option[1]);
    if (field) {
      placeProblem(field.option, problem, fields, 'fit-general');
      status(fit, 'Nothing was fitted: the fields do not go together.');
    } else {
      refuse(problem);
    }
    return;
  }
  fit.started = performance.now();
  setRunning(fit, true);
  status(fit, 'Fitting…');
  const worker = startWorker(fit, (message) => {
    if (message.type === 'progress') {
      $('fit-progress').value = message.share;
      if (message.round > 0) {
        status(fit, `Fitting: the Monte Carlo drawn again nearer the fitted exponent (${message.round} of at most 3)…`);
      }
    } else {
      const seconds = (performance.now() - fit.started) / 1000;
      endRun(fit, '');
      try {
        showFitResults(message.report, message.csv, pairs, name);
        status(fit, `Done in ${seconds.toFixed(2)} s.`);
      } catch (error) {
        $('fit-results').hidden = true;
        status(fit, `The fit failed: its results could not be shown (${error.message}).`);
      }
    }
  });
  worker.postMessage({type: 'fit', words, text, name});
}

function showFitResults(report, csv, pairs, name) {
  showCommand($('fit-command'), 'velmora-fit', pairs, [name === '-' ? './-' : name]);
  // The prose wraps; the table of settings scrolls, to keep its columns.
  const rows = report.lastIndexOf('\n\n') + 2;
  const [prose, table] = $('fit-report').children;
  prose.textContent = report.slice(0, rows);
  table.textContent = report.slice(rows);
  offer($('fit-download'), csv);
  $('fit-results').hidden = false;
  markStale(fit, false);
  lastFit = parseCsv(csv);
  showFitPlot(lastFit);
  $('fit-results-heading').focus();
}

let lastFit = null;

// The measured rates with their errors against the tilt, or against the
// distance when every tilt is the same; the fit's model at each setting,
// joined; and the naive R0 cos^N fit.
function showFitPlot(table) {
  const column = (name) => table.header.indexOf(name);
  const [tilt, azimuth, distance, require, rate, error, model, r0, n] = ['tilt_deg',
    'tilt_azimuth_deg', 'distance_cm', 'require', 'rate_per_minute', 'rate_error_per_minute',
    'model_per_minute', 'naive_rate_per_minute', 'naive_exponent'].map(column);
  const rows = table.rows;
  const varies = (c) => new Set(rows.map((r) => r[c])).size > 1;
  const byTilt = varies(tilt);
  const x = byTilt ? tilt : distance;
  const names = {[tilt]: (v) => `tilt ${v}°`, [distance]: (v) => `${v} cm`,
    [azimuth]: (v) => `azimuth ${v}°`, [require]: (v) => `require ${v}`};
  const apart = [byTilt ? distance : tilt, azimuth, require].filter(varies);
  const label = (r) => apart.map((c) => names[c](r[c])).join(', ');
  const measured = curves(rows, label, (r) => ({x: Number(r[x]), y: Number(r[rate]), error: Number(r[error])}));
  const models = curves(rows, label, (r) => ({x: Number(r[x]), y: Number(r[model]), error: 0}));
  const series = [];
  measured.forEach((s, i) => {
    series.push({label: s.label || 'your rates and the fit’s model', points: s.points, colour: i,
      joined: false, swatch: 'both'});
    series.push({label: '', points: models[i].points, colour: i, markers: false});
  });
  const lines = [];
  const notes = ['Points with error bars: the rates you counted; solid lines: the fit’s model at each setting, joined.'];
  if (byTilt && rows[0][r0] !== '') {
    const [r0Value, nValue] = [Number(rows[0][r0]), Number(rows[0][n])];
    lines.push({label: `R0 cos^N(tilt), N = ${nValue.toPrecision(3)}: the naive fit`, colour: measured.length,
      at: (t) => r0Value * Math.pow(Math.max(0, Math.cos(t * Math.PI / 180)), nValue)});
    notes.push('Dashed: the naive fit of R0 cos^N(tilt), as if the telescope were infinitely narrow.');
  }
  const against = byTilt ? 'the tilt' : 'distance';
  drawFigure($('fit-plot'), $('fit-plot-note'), {
    title: `Your coincidence rates and the fit against ${against}`,
    description: `The coincidence rates counted per minute, with their Poisson errors, against ${against}, with the fitted model${lines.length ? ' and the naive cos^N fit' : ''}.`,
    xLabel: byTilt ? 'tilt of the telescope axis from the vertical (°)' : 'distance between the paddles (cm)',
    yLabel: 'coincidences per minute', series, lines}, notes);
}

// A value from the address as a message shows it: quoted, and cut short.
function quoted(text) {
  return `“${text.length > 40 ? `${text.slice(0, 40)}…` : text}”`;
}

// Shows the alternative `value` of the choice `name`.
function choose(name, value) {
  document.querySelector(`input[name="${name}"][value="${value}"]`).checked = true;
  for (const node of document.querySelectorAll(`.alternative[data-choice="${name}"]`)) {
    node.hidden = node.dataset.when !== value;
  }
}

// A row of the list of layers, its field the size and place of one.
function addLayer(value) {
  const row = document.createElement('li');
  const label = document.createElement('label');
  const line = document.createElement('div');
  line.className = 'layer-line';
  const input = document.createElement('input');
  Object.assign(input, {autocomplete: 'off', spellcheck: false, placeholder: '10x31x1@5', value});
  const remove = document.createElement('button');
  Object.assign(remove, {type: 'button', className: 'secondary', textContent: 'Remove'});
  const problem = document.createElement('p');
  problem.className = 'problem';
  line.append(input, remove);
  row.append(label, line, problem);
  $('layer-rows').append(row);
  input.addEventListener('input', () => showProblem(input.id, ''));
  input.addEventListener('change', () => {
    checkField({id: input.id, option: 'layer'});
    saveAddress();
  });
  remove.addEventListener('click', () => {
    const next = row.nextElementSibling;
    row.remove();
    numberLayers();
    (next ? next.querySelector('input') : $('add-layer')).focus();
    saveAddress();
  });
  numberLayers();
  return input;
}

// Numbers the layers as the command does, the upper paddle 1.
function numberLayers() {
  [...$('layer-rows').children].forEach((row, k) => {
    const id = `layer-${k + 2}`;
    const [label, input, remove, problem] = ['label', 'input', 'button', '.problem'].map((s) => row.querySelector(s));
    input.id = id;
    problem.id = `${id}-problem`;
    label.htmlFor = id;
    label.textContent = `Layer ${k + 2}`;
    input.setAttribute('aria-describedby', `layers-help ${id}-problem`);
    remove.setAttribute('aria-label', `Remove layer ${k + 2}`);
  });
  $('add-layer').disabled = $('layer-rows').children.length >= layersMax;
}

// Puts a link's inputs in their fields; true when the link asks to run and
// may. A link the page would not have written (a key it does not know or
// gives twice, a value its field cannot hold, two ways of one thing, a run
// other than 1) is shown as a problem and runs nothing, rather than run
// something else than it says.
function restoreFromAddress() {
  const query = new URLSearchParams(location.search);
  const problems = [];
  const seen = new Set();
  let fits = true;
  for (const [key, value] of query) {
    if (seen.has(key) && key !== 'layer') {
      problems.push(`${quoted(key)} is given twice`);
    } else if (key === 'run') {
      if (value !== '1') {
        problems.push(`run=${quoted(value)}: only run=1 runs as the page opens`);
      }
    } else if (key === 'workers') {
      if (/^[1-9][0-9]*$/.test(value) && Number(value) <= workersMax) {
        forcedWorkers = Number(value);
      } else {
        problems.push(`workers=${quoted(value)}: a number of workers from 1 to ${workersMax}`);
      }
    } else if (key === 'layer') {
      if (layerIds().length === layersMax) {
        problems.push(`${quoted(key)} is given more than ${layersMax} times: that many layers at most lie between the paddles`);
      } else {
        const input = addLayer(value);
        if (value.trim() !== '') {
          checkField({id: input.id, option: 'layer'});
        }
      }
    } else if (addressKeys.includes(key)) {
      $(key).value = value;
      if ($(key).value !== value) {
        // Left at the default, which Run would use, with the problem.
        $(key).value = '';
        showProblem(key, check(key, value) || `This field cannot hold the link's ${quoted(value)}.`);
        fits = false;
      } else if (value.trim() !== '') {
        checkField({id: key, option: key});
      }
    } else {
      problems.push(`${quoted(key)} is not one of its keys (${addressKeys.join(', ')}, run)`);
    }
    seen.add(key);
  }
  for (const [name, ways] of alternatives) {
    const given = Object.entries(ways).filter(([, keys]) => keys.some((key) => query.has(key)));
    if (given.length > 1) {
      const [first, second] = given.map(([, keys]) => keys.map(quoted).join(' and '));
      problems.push(`${first} and ${second} are two ways of giving the same: give one`);
    } else if (given.length === 1) {
      choose(name, given[0][0]);
    }
  }
  // Values the link gives are in view.
  $('counters').open = [...$('counters').querySelectorAll('input')].some((input) => input.value !== '');
  if (problems.length > 0) {
    $('link-problem').textContent = `A problem with this link: ${problems.join('; ')}.`;
  }
  const good = fits && problems.length === 0;
  if (!good && query.has('run')) {
    status(curve, 'Nothing was run: the link has a problem, shown in red.');
  }
  return good && query.has('run');
}

// The tabs: one panel shown at a time, the arrow keys move between them.
function showTab(tab) {
  for (const other of document.querySelectorAll('[role="tab"]')) {
    const selected = other === tab;
    other.setAttribute('aria-selected', selected);
    other.tabIndex = selected ? 0 : -1;
    $(other.getAttribute('aria-controls')).hidden = !selected;
  }
  if (tab.id === 'curve-tab' && lastTable) {
    showPlot(lastTable);
  } else if (tab.id === 'fit-tab' && lastFit) {
    showFitPlot(lastFit);
  }
}

function tabKeys(event) {
  const tabs = [...document.querySelectorAll('[role="tab"]')];
  const at = tabs.indexOf(event.target);
  const to = {ArrowLeft: at - 1, ArrowRight: at + 1, Home: 0, End: tabs.length - 1}[event.key];
  if (to !== undefined) {
    event.preventDefault();
    const tab = tabs[(to + tabs.length) % tabs.length];
    showTab(tab);
    tab.focus();
  }
}

// Enter in a field of the telescope, which both panels share, runs the
// panel on show, as it would in the panel's own fields.
function enterRuns(event) {
  if (event.key === 'Enter') {
    event.preventDefault();
    ($('fit-panel').hidden ? $('form') : $('fit-form')).requestSubmit();
  }
}

// Reads a chosen file into the measurements' field; the fit names it in
// its messages and report.
async function readDataFile() {
  const file = $('fit-file').files[0];
  showProblem('fit-data', '');
  if (!file) {
    return;
  }
  if (file.size > dataMax) {
    showProblem('fit-data', `“${file.name}” holds ${file.size} bytes: more than the ${dataMax} this page reads.`);
    // The field keeps what it held, and the chooser says so.
    $('fit-file').value = '';
    return;
  }
  const text = await file.text();
  $('fit-data').value = text;
  dataName = file.name;
  $('fit-file-note').textContent = `Read from ${quoted(file.name)}, in this browser; the fit names it so.`;
}

function start(loaded) {
  module = loaded;
  call = (name, returns, takes) => module.cwrap(name, returns, takes);
  check = call('velmora_check', 'string', ['string', 'string']);
  $('version').textContent = call('velmora_version', 'string', [])();
  const addressed = ['distances', ...curveOptions.filter((o) => o !== 'layer')];
  for (const id of [...addressed, ...fitOptions.map(([, field]) => field).filter((f) => f.startsWith('fit-'))]) {
    const option = id.replace(/^fit-/, '');
    $(id).addEventListener('input', () => showProblem(id, ''));
    $(id).addEventListener('change', () => {
      checkField({id, option});
      if (addressed.includes(id)) {
        saveAddress();
      }
    });
  }
  for (const [name] of [...alternatives, ['fit-exponent-given']]) {
    for (const radio of document.querySelectorAll(`input[name="${name}"]`)) {
      radio.addEventListener('change', () => {
        // Both paddles as they were, when they go apart.
        if (radio.value === 'apart' && valueOf('top') === '' && valueOf('bottom') === '') {
          $('top').value = $('bottom').value = $('paddles').value.trim();
        }
        choose(name, radio.value);
        saveAddress();
      });
    }
  }
  $('telescope').addEventListener('keydown', (event) => {
    if (event.target.matches('input:not([type="radio"])')) {
      enterRuns(event);
    }
  });
  $('add-layer').addEventListener('click', () => addLayer('').focus());
  for (const tab of document.querySelectorAll('[role="tab"]')) {
    tab.addEventListener('click', () => showTab(tab));
    tab.addEventListener('keydown', tabKeys);
  }
  $('form').addEventListener('submit', (event) => {
    event.preventDefault();
    runCurve();
  });
  $('fit-form').addEventListener('submit', (event) => {
    event.preventDefault();
    runFit();
  });
  $('fit-data').addEventListener('input', () => {
    dataName = null;
    $('fit-file-note').textContent = '';
    showProblem('fit-data', '');
  });
  $('fit-file').addEventListener('change', () => readDataFile()
    .catch((error) => showProblem('fit-data', `The file could not be read: ${error.message}.`)));
  // Leaving a field shows its problem, which moves the button down: if the
  // button took the focus on mouse-down, the click would land beside it.
  for (const panel of [curve, fit]) {
    part(panel, 'run').addEventListener('mousedown', (event) => event.preventDefault());
    part(panel, 'cancel').addEventListener('click', () => {
      endRun(panel, `Cancelled: ${panel.stopped}.`);
      part(panel, 'run').focus();
    });
  }
  for (const radio of document.querySelectorAll('input[name="quantity"]')) {
    radio.addEventListener('change', () => showPlot(lastTable));
  }
  $('all-columns').addEventListener('change', () => showTable(lastTable));
  let resizing = 0;
  window.addEventListener('resize', () => {
    clearTimeout(resizing);
    resizing = setTimeout(() => {
      if (lastTable && !$('curve-panel').hidden) {
        showPlot(lastTable);
      }
      if (lastFit && !$('fit-panel').hidden) {
        showFitPlot(lastFit);
      }
    }, 200);
  });
  $('run').disabled = false;
  $('fit-run').disabled = false;
  status(curve, 'Ready.');
  status(fit, 'Ready.');
  if (restoreFromAddress()) {
    runCurve();
  }
}

$('run').disabled = true;
$('fit-run').disabled = true;
createVelmoraModule().then(start, (error) => {
  const text = location.protocol === 'file:'
    ? 'Browsers do not run this page from a file: open it through a web server, as its README shows.'
    : `The simulation could not be loaded: ${error}`;
  status(curve, text);
  status(fit, text);
});
