// The page: its fields, checked by velmora-curve's own code compiled to
// WebAssembly; the run, in a worker; the results as a table, a plot, a CSV
// and the command line that gives the same.
'use strict';

// The command's options in the order the command line is written; each is a
// field of the same id and a key of the page's address.
const options = ['law', 'muons', 'flux', 'top', 'bottom', 'offset', 'exponent',
  'tilt', 'tilt-azimuth', 'seed'];
const fields = ['distances', ...options];
// The columns a student reads first, in this order; the others on asking,
// and all of them in the download.
const keyColumns = ['law', 'distance_cm', 'tilt_deg', 'rate_per_minute', 'efficiency',
  'std_error'];
// Rows beyond these are in the download only: laying out a table of a
// hundred thousand rows would hold the page for seconds.
const tableRowsMax = 1000;
// A tilt scan of more distances draws this many of them, evenly spread.
const curvesMax = 12;

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
  return words.concat('--', distanceWords());
}

// A word as a POSIX shell reads it back unchanged.
function shellWord(word) {
  return /^[A-Za-z0-9_.,:+=/^-]+$/.test(word) ? word : `'${word.replace(/'/g, "'\\''")}'`;
}

// The command line in pieces that a line break must not split: the
// command's name, each option with its value, each distance.
function commandPieces(words) {
  const cut = words.indexOf('--');
  const pieces = ['velmora-curve'];
  for (let i = 0; i < cut; i += 2) {
    pieces.push(`${shellWord(words[i])} ${shellWord(words[i + 1])}`);
  }
  // "--" is needed only before a distance that starts with a minus sign.
  const distances = words.slice(cut + 1);
  if (distances.some((d) => d.startsWith('-'))) {
    pieces.push('--');
  }
  return pieces.concat(distances.map(shellWord));
}

function showCommand(words) {
  const code = $('command');
  code.replaceChildren();
  commandPieces(words).forEach((piece, i) => {
    const span = document.createElement('span');
    span.className = 'piece';
    span.textContent = piece;
    code.append(i ? ' ' : '', span);
  });
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

// Ends the run, however it ended: the worker is stopped and Run is back.
function endRun(text) {
  if (worker) {
    worker.terminate();
    worker = null;
  }
  setRunning(false);
  status(text);
}

// Results shown while the fields may no longer give them: from the moment
// Run is pressed until new results replace them.
function markStale(stale) {
  $('results').classList.toggle('stale', stale);
  $('stale-note').hidden = !stale;
}

function run() {
  $('link-problem').textContent = '';
  if (!$('results').hidden) {
    markStale(true);
  }
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
    } else if (message.type === 'done') {
      const seconds = (performance.now() - started) / 1000;
      endRun('');
      document.body.dataset.lastRunSeconds = seconds.toFixed(3);
      try {
        showResults(message.csv, words);
        status(`Done in ${seconds.toFixed(2)} s.`);
      } catch (error) {
        $('results').hidden = true;
        status(`The run failed: its results could not be shown (${error.message}).`);
      }
    } else {
      endRun(`The run failed: ${message.problem}. Nothing was computed.`);
    }
  };
  // The worker posts its own failures; this is for those it cannot catch,
  // such as its script failing to load.
  worker.onerror = (event) => {
    event.preventDefault();
    endRun(`The run failed: ${event.message || 'the worker could not start'}.`);
  };
  started = performance.now();
  setRunning(true);
  status('Running…');
  worker.postMessage({words});
}

function cancel() {
  endRun('Cancelled: nothing was computed.');
  $('run').focus();
}

// The rows of a CSV without quoted fields, as velmora-curve writes it.
function parseCsv(text) {
  const lines = text.split('\n').filter((line) => line !== '');
  const header = lines[0].split(',');
  return {header, rows: lines.slice(1).map((line) => line.split(','))};
}

// The key columns that the CSV has, the tilt only when there is one; or
// every column, when asked.
function shownColumns(table) {
  if ($('all-columns').checked) {
    return table.header.map((name, i) => i);
  }
  const tilt = table.header.indexOf('tilt_deg');
  const tilted = table.rows.some((r) => Number(r[tilt]) !== 0);
  return keyColumns.map((name) => table.header.indexOf(name))
    .filter((i) => i >= 0 && (i !== tilt || tilted));
}

function showTable(table) {
  const columns = shownColumns(table);
  const head = document.createElement('tr');
  for (const i of columns) {
    // A long name may break after its underscores, to keep a narrow
    // screen's columns narrow.
    const th = document.createElement('th');
    th.scope = 'col';
    table.header[i].split('_').forEach((part, k) => {
      if (k > 0) {
        th.append('_', document.createElement('wbr'));
      }
      th.append(part);
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
  $('table-caption').textContent = $('all-columns').checked ? 'Every column of the CSV'
    : 'The key columns of the CSV';
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

function showPlot(table) {
  const column = (name) => table.header.indexOf(name);
  const [law, distance, efficiency, error, rate, tilt] = ['law', 'distance_cm',
    'efficiency', 'std_error', 'rate_per_minute', 'tilt_deg'].map(column);
  const rows = table.rows;
  const tilts = new Set(rows.map((r) => r[tilt]));
  const rateError = (r) => (Number(r[efficiency]) > 0 ? r[rate] * r[error] / r[efficiency] : 0);
  const notes = [];
  let figure;
  if (tilts.size > 1) {
    // The tilt scan runs the flux law alone, with one exponent.
    const n = exponentOf(rows[0][law]);
    let series = curves(rows, (r) => `${r[distance]} cm`,
      (r) => ({x: Number(r[tilt]), y: Number(r[rate]), error: rateError(r)}));
    if (series.length > curvesMax) {
      notes.push(`${curvesMax} of the ${series.length} distances are drawn, evenly spread.`);
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
    // A single tilt other than 0 is named: the curve is not the upright
    // telescope's.
    const tiltShown = tilts.values().next().value;
    const tilted = Number(tiltShown) !== 0 ? `, the axis tilted ${tiltShown}°` : '';
    figure = {title: `${byRate ? 'Coincidence rate' : 'Geometric efficiency'} against distance${tilted}`,
      description: `The ${byRate ? 'coincidence rate per minute' : 'geometric efficiency'} against the distance between the paddles${tilted}, one curve per law, with binomial error bars.`,
      xLabel: 'distance between the paddles (cm)',
      yLabel: byRate ? 'coincidences per minute' : 'efficiency', series};
    $('plot-choice').hidden = !rows.some((r) => r[rate] !== '');
  }
  const finite = figure.series.every((s) => s.points.every((p) => Number.isFinite(p.x) && Number.isFinite(p.y)));
  if (figure.series.length === 0 || !finite) {
    $('plot').textContent = 'Nothing to plot: the rows hold no finite values to draw.';
    $('plot-note').textContent = '';
    return;
  }
  if (drawPlot($('plot'), figure).dense) {
    notes.push('The points are too close together for markers and error bars: each curve is a line through all of them.');
  }
  $('plot-note').textContent = notes.join(' ');
}

let lastTable = null;
let lastDownload = null;

function showResults(csv, words) {
  lastTable = parseCsv(csv);
  showCommand(words);
  if (lastDownload) {
    URL.revokeObjectURL(lastDownload);
  }
  lastDownload = URL.createObjectURL(new Blob([csv], {type: 'text/csv'}));
  $('download').href = lastDownload;
  $('results').hidden = false;
  markStale(false);
  showTable(lastTable);
  showPlot(lastTable);
  // For a screen reader, which then reads on from the heading; the box
  // that marks the focus is left off it (style.css).
  $('results-heading').focus();
}

// A value from the address as a message shows it: quoted, and cut short.
function quoted(text) {
  return `“${text.length > 40 ? `${text.slice(0, 40)}…` : text}”`;
}

// Puts a link's inputs in their fields; true when the link asks to run and
// may. A link the page would not have written (a key it does not know or
// gives twice, a value its field cannot hold, a run other than 1) is shown
// as a problem and runs nothing, rather than run something else than it
// says.
function restoreFromAddress() {
  const query = new URLSearchParams(location.search);
  const problems = [];
  const seen = new Set();
  let fits = true;
  for (const [key, value] of query) {
    if (seen.has(key)) {
      problems.push(`${quoted(key)} is given twice`);
    } else if (key === 'run') {
      if (value !== '1') {
        problems.push(`run=${quoted(value)}: only run=1 runs as the page opens`);
      }
    } else if (fields.includes(key)) {
      $(key).value = value;
      if ($(key).value !== value) {
        // Left at the default, which Run would use, with the problem.
        $(key).value = '';
        showProblem(key, check(key, value) || `This field cannot hold the link's ${quoted(value)}.`);
        fits = false;
      } else if (value.trim() !== '') {
        checkField(key);
      }
    } else {
      problems.push(`${quoted(key)} is not one of its keys (${fields.join(', ')}, run)`);
    }
    seen.add(key);
  }
  if (problems.length > 0) {
    $('link-problem').textContent = `A problem with this link: ${problems.join('; ')}.`;
  }
  const good = fits && problems.length === 0;
  if (!good && query.has('run')) {
    status('Nothing was run: the link has a problem, shown in red.');
  }
  return good && query.has('run');
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
    radio.addEventListener('change', () => showPlot(lastTable));
  }
  $('all-columns').addEventListener('change', () => showTable(lastTable));
  let resizing = 0;
  window.addEventListener('resize', () => {
    clearTimeout(resizing);
    resizing = setTimeout(() => lastTable && showPlot(lastTable), 200);
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
