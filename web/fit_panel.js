// The fit panel: the measurements, pasted or read from a file in this
// browser, checked here with every field so that a problem runs nothing;
// then fitted in a worker, a setting's model at a time; the report, its
// CSV and a plot of the rates with the fit.
import {showCommand} from './command_line.js';
import {$, checkFields, fitFields, flat, optionPairs, placeProblem, showProblem,
  shown} from './form.js';
import {quoted} from './links.js';
import {curves, drawFigure, offer, parseCsv} from './results.js';
import {endRun, fit, markStale, setRunning, startWorker, status} from './runs.js';
import {call, readWords} from './simulation.js';

// The measurements reach the module on its stack, four bytes a character:
// a text much longer would overflow it.
const dataMax = 1000000;

let dataName = null; // the file the measurements were read from
let lastFit = null;

export function runFit() {
  if (!$('fit-results').hidden) {
    markStale(fit, true);
  }
  const fields = fitFields();
  for (const id of ['fit-general', 'fit-data', 'layers', 'overburdens', 'absorbers']) {
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
  if ($('fit-intensity').checked && shown('fit-intensity')) {
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

// The measured rates with their errors against the tilt α, or against the
// distance when every tilt is the same; the fit's model at each setting,
// joined; and the naive R₀ cosᴺα fit.
function showFitPlot(table) {
  const column = (name) => table.header.indexOf(name);
  const [tilt, azimuth, distance, require, rate, error, model, r0, n] = ['tilt_deg',
    'tilt_azimuth_deg', 'distance_cm', 'require', 'rate_per_minute', 'rate_error_per_minute',
    'model_per_minute', 'naive_rate_per_minute', 'naive_exponent'].map(column);
  const rows = table.rows;
  const varies = (c) => new Set(rows.map((r) => r[c])).size > 1;
  const byTilt = varies(tilt);
  const x = byTilt ? tilt : distance;
  const names = {[tilt]: (v) => `α = ${v}°`, [distance]: (v) => `${v} cm`,
    [azimuth]: (v) => `azimuth ${v}°`, [require]: (v) => `require ${v}`};
  const apart = [byTilt ? distance : tilt, azimuth, require].filter(varies);
  const label = (r) => apart.map((c) => names[c](r[c])).join(', ');
  const measured = curves(rows, label, (r) => ({x: Number(r[x]), y: Number(r[rate]),
    error: Number(r[error])}));
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
    lines.push({label: `R₀ cosᴺα, N = ${nValue.toPrecision(3)}: the naive fit`, colour: measured.length,
      at: (t) => r0Value * Math.pow(Math.max(0, Math.cos(t * Math.PI / 180)), nValue)});
    notes.push('Dashed: the naive fit of R₀ cosᴺα, as if the telescope were infinitely narrow.');
  }
  const against = byTilt ? 'the tilt' : 'distance';
  drawFigure($('fit-plot'), $('fit-plot-note'), {
    title: `Your coincidence rates and the fit against ${against}`,
    description: `The coincidence rates counted per minute, with their Poisson errors, against ${against}, with the fitted model${lines.length ? ' and the naive R₀ cosᴺα fit' : ''}.`,
    xLabel: byTilt ? 'tilt α of the telescope axis from the vertical (°)' : 'distance between the paddles (cm)',
    yLabel: 'coincidences per minute', series, lines}, notes);
}

// Draws the fit's plot again, at the size it is now shown.
export function redrawFitPlot() {
  if (lastFit) {
    showFitPlot(lastFit);
  }
}

// Reads a chosen file into the measurements' field; the fit names it in
// its messages and report.
export async function readDataFile() {
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

// Measurements typed or pasted are no file's.
export function dataEdited() {
  dataName = null;
  $('fit-file-note').textContent = '';
  showProblem('fit-data', '');
}
