// The page: its fields, checked by velmora-curve's own code compiled to
// WebAssembly; the run, in a worker; the results as a table, a plot, a CSV
// and the command line that gives the same.
'use strict';

// The command's options in the order the command line is written; each is a
// field of the same id and a key of the page's address.
const options = ['law', 'muons', 'flux', 'top', 'bottom', 'offset', 'exponent',
  'tilt', 'tilt-azimuth', 'seed'];
const fields = ['distances', ...options];

const $ = (id) => document.getElementById(id);
let check = null;
let readWords = null;
let worker = null;
let started = 0;

function valueOf(name) {
  const value = $(name).value;
  return value.trim() === '' ? '' : value;
}

function distanceWords() {
  return valueOf('distances').split(/\s+/).filter((w) => w !== '');
}

function showProblem(name, problem) {
  const target = fields.includes(name) ? name : 'general';
  $(`${target}-problem`).textContent = problem;
  if (target !== 'general') {
    $(target).setAttribute('aria-invalid', problem ? 'true' : 'false');
  }
}

// Checks one field as the command would; an empty field is the default,
// except the distances, which the command cannot do without.
function checkField(name) {
  const value = valueOf(name);
  let problem = '';
  if (value !== '' || name === 'distances') {
    problem = check(name, value);
  }
  showProblem(name, problem);
  return problem === '';
}

// The command line as words, after the command's name.
function commandWords() {
  const words = [];
  for (const name of options) {
    const value = valueOf(name);
    if (value !== '') {
      words.push(`--${name}`, value);
    }
  }
  words.push('--', ...distanceWords());
  return words;
}

// A word as a POSIX shell reads it back unchanged.
function shellWord(word) {
  return /^[A-Za-z0-9_.,:+=/^-]+$/.test(word) ? word : `'${word.replace(/'/g, "'\\''")}'`;
}

function commandLine(words) {
  // "--" is needed only before a distance that starts with a minus sign.
  const cut = words.indexOf('--');
  const distances = words.slice(cut + 1);
  const shown = distances.some((d) => d.startsWith('-')) ? words : [
    ...words.slice(0, cut), ...distances];
  return ['velmora-curve', ...shown].map(shellWord).join(' ');
}

// The inputs in the page's address, so that a link gives the same run.
function addressOf(run) {
  const query = new URLSearchParams();
  for (const name of fields) {
    if (valueOf(name) !== '') {
      query.set(name, valueOf(name));
    }
  }
  if (run) {
    query.set('run', '1');
  }
  return `${location.pathname}?${query}`;
}

function status(text) {
  $('status').textContent = text;
}

function setRunning(running) {
  $('run').disabled = running;
  $('cancel').disabled = !running;
  if (!running) {
    $('progress').value = 0;
  }
}

function run() {
  const good = fields.map(checkField);
  const first = fields[good.indexOf(false)];
  showProblem('general', '');
  if (first) {
    $(first).focus();
    status('Nothing was run: a field needs mending.');
    return;
  }
  const words = commandWords();
  const problem = readWords(words);
  if (problem) {
    const [option, text] = problem.split('\t');
    showProblem(option || 'general', text);
    (fields.includes(option) ? $(option) : $('run')).focus();
    status('Nothing was run: the fields do not go together.');
    return;
  }
  history.replaceState(null, '', addressOf(false));
  worker = new Worker('worker.js');
  worker.onmessage = (event) => {
    const message = event.data;
    if (message.type === 'progress') {
      $('progress').value = message.share;
    } else if (message.type === 'refused') {
      cancel();
      showProblem('general', message.problem);
    } else if (message.type === 'done') {
      const seconds = (performance.now() - started) / 1000;
      worker.terminate();
      worker = null;
      setRunning(false);
      document.body.dataset.lastRunSeconds = seconds.toFixed(3);
      showResults(message.csv, words);
      status(`Done in ${seconds.toFixed(2)} s.`);
    }
  };
  worker.onerror = (event) => {
    worker = null;
    setRunning(false);
    status(`The run failed: ${event.message}`);
  };
  started = performance.now();
  setRunning(true);
  status('Running…');
  worker.postMessage({words});
}

function cancel() {
  if (worker) {
    worker.terminate();
    worker = null;
  }
  setRunning(false);
  status('Cancelled: nothing was computed.');
  $('run').focus();
}

// The rows of a CSV without quoted fields, as velmora-curve writes it.
function parseCsv(text) {
  const lines = text.split('\n').filter((line) => line !== '');
  const header = lines[0].split(',');
  return {header, rows: lines.slice(1).map((line) => line.split(','))};
}

function showTable(table) {
  const head = document.createElement('tr');
  for (const name of table.header) {
    const th = document.createElement('th');
    th.scope = 'col';
    th.textContent = name;
    head.append(th);
  }
  $('table').tHead.replaceChildren(head);
  const body = table.rows.map((cells) => {
    const tr = document.createElement('tr');
    for (const cell of cells) {
      const td = document.createElement('td');
      td.textContent = cell;
      tr.append(td);
    }
    return tr;
  });
  $('table').tBodies[0].replaceChildren(...body);
}

function lawTitle(law) {
  return {cos_squared: 'cos²θ law', isotropic: 'isotropic law'}[law] || `${law} law`;
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

function showPlot(table) {
  const column = (name) => table.header.indexOf(name);
  const [law, distance, efficiency, error, rate, tilt] = ['law', 'distance_cm',
    'efficiency', 'std_error', 'rate_per_minute', 'tilt_deg'].map(column);
  const rows = table.rows;
  const tilts = new Set(rows.map((r) => r[tilt]));
  const rateError = (r) => (Number(r[efficiency]) > 0 ? r[rate] * r[error] / r[efficiency] : 0);
  let figure;
  if (tilts.size > 1) {
    // The tilt scan runs the flux law alone, with one exponent.
    const n = exponentOf(rows[0][law]);
    const series = curves(rows, (r) => `${r[distance]} cm`,
      (r) => ({x: Number(r[tilt]), y: Number(r[rate]), error: rateError(r)}));
    const lines = series.map((s, i) => {
      const first = s.points[0];
      const base = Math.cos(first.x * Math.PI / 180);
      return {label: i === 0 ? `cos^${n} α: an infinitely narrow telescope` : '', colour: i,
        at: (x) => first.y * Math.pow(Math.max(0, Math.cos(x * Math.PI / 180)) / base, n)};
    });
    figure = {title: 'Coincidence rate against the tilt',
      description: 'The coincidence rate per minute against the tilt of the telescope axis, one curve per distance, beside the cos^N law of an infinitely narrow telescope.',
      xLabel: 'tilt of the telescope axis from the vertical (°)',
      yLabel: 'coincidences per minute', series, lines};
    $('plot-choice').hidden = true;
  } else {
    const byRate = document.querySelector('input[name="quantity"]:checked').value === 'rate';
    const shown = byRate ? rows.filter((r) => r[rate] !== '') : rows;
    const series = curves(shown, (r) => lawTitle(r[law]), (r) => ({x: Number(r[distance]),
      y: Number(byRate ? r[rate] : r[efficiency]), error: byRate ? rateError(r) : Number(r[error])}));
    figure = {title: byRate ? 'Coincidence rate against distance' : 'Geometric efficiency against distance',
      description: `The ${byRate ? 'coincidence rate per minute' : 'geometric efficiency'} against the distance between the paddles, one curve per law, with binomial error bars.`,
      xLabel: 'distance between the paddles (cm)',
      yLabel: byRate ? 'coincidences per minute' : 'efficiency', series};
    $('plot-choice').hidden = !rows.some((r) => r[rate] !== '');
  }
  const finite = figure.series.every((s) => s.points.every((p) => Number.isFinite(p.x) && Number.isFinite(p.y)));
  if (figure.series.length === 0 || !finite) {
    $('plot').textContent = 'Nothing to plot: the rows hold no finite values to draw.';
    return;
  }
  drawPlot($('plot'), figure);
}

let lastCsv = '';
let lastDownload = null;

function showResults(csv, words) {
  lastCsv = csv;
  const table = parseCsv(csv);
  $('command').textContent = commandLine(words);
  if (lastDownload) {
    URL.revokeObjectURL(lastDownload);
  }
  lastDownload = URL.createObjectURL(new Blob([csv], {type: 'text/csv'}));
  $('download').href = lastDownload;
  showTable(table);
  $('results').hidden = false;
  showPlot(table);
  $('results-heading').focus();
}

function restoreFromAddress() {
  const query = new URLSearchParams(location.search);
  for (const name of fields) {
    if (query.has(name)) {
      $(name).value = query.get(name);
    }
  }
  return query.get('run') === '1';
}

function start(module) {
  check = module.cwrap('velmora_check', 'string', ['string', 'string']);
  const clearWords = module.cwrap('velmora_clear_words', null, []);
  const addWord = module.cwrap('velmora_add_word', null, ['string']);
  const read = module.cwrap('velmora_read', 'string', []);
  readWords = (words) => {
    clearWords();
    words.forEach((word) => addWord(word));
    return read();
  };
  $('version').textContent = module.cwrap('velmora_version', 'string', [])();
  for (const name of fields) {
    $(name).addEventListener('input', () => showProblem(name, ''));
    $(name).addEventListener('change', () => {
      checkField(name);
      history.replaceState(null, '', addressOf(false));
    });
  }
  $('form').addEventListener('submit', (event) => {
    event.preventDefault();
    run();
  });
  // Leaving a field shows its problem, which moves the button down: if the
  // button took the focus on mouse-down, the click would land beside it.
  $('run').addEventListener('mousedown', (event) => event.preventDefault());
  $('cancel').addEventListener('click', cancel);
  for (const radio of document.querySelectorAll('input[name="quantity"]')) {
    radio.addEventListener('change', () => showPlot(parseCsv(lastCsv)));
  }
  let resizing = 0;
  window.addEventListener('resize', () => {
    clearTimeout(resizing);
    resizing = setTimeout(() => lastCsv && showPlot(parseCsv(lastCsv)), 200);
  });
  $('run').disabled = false;
  status('Ready.');
  if (restoreFromAddress()) {
    run();
  }
}

$('run').disabled = true;
createVelmoraModule().then(start, (error) => status(location.protocol === 'file:'
  ? 'Browsers do not run this page from a file: open it through a web server, as its README shows.'
  : `The simulation could not be loaded: ${error}`));
