// The curve's results: the CSV's table, its plot, its download and the
// command line that gives the same.
import {showCommand} from './command_line.js';
import {$} from './form.js';
import {drawPlot} from './plot.js';

// The columns a student reads first, in this order, where they say
// something; the others on asking, and all of them in the download. A
// name ending in _ stands for every column it starts (one per counter).
const keyColumns = ['law', 'distance_cm', 'tilt_deg', 'tilt_azimuth_deg', 'require',
  'rate_per_minute', 'rate_detected_per_minute', 'soft_per_minute', 'accidentals_per_minute',
  'counting_time_s', 'singles_per_minute_', 'flux_per_cm2_min', 'threshold_gev', 'efficiency',
  'std_error'];
// The columns of the quantities an option asks for: shown whenever it is
// given, whatever their values.
const askedColumns = {'--window': ['accidentals_per_minute'], '--precision': ['counting_time_s'],
  '--detection': ['rate_detected_per_minute'], '--noise': ['singles_per_minute_'],
  '--require': ['require'], '--tilt': ['tilt_deg'], '--tilt-azimuth': ['tilt_azimuth_deg'],
  '--intensity': ['flux_per_cm2_min']};
// Rows beyond these are in the download only: laying out a table of a
// hundred thousand rows would hold the page for seconds.
const tableRowsMax = 1000;
// A tilt scan of more distances draws this many of them, evenly spread.
const curvesMax = 12;
// velmora's and velmorauni's own telescope, as the CSV's telescope column
// writes it: two thin 10 × 31 cm paddles, one straight above the other.
const programsTelescope = '10x31|10x31@d:0:0';

let lastTable = null;
let lastAsked = [];
const downloads = {};

// The rows of a CSV without quoted fields, as velmora-curve and
// velmora-fit write it; its columns are those its header names.
export function parseCsv(text) {
  const lines = text.split('\n').filter((line) => line !== '');
  const header = lines[0].split(',');
  return {header, rows: lines.slice(1).map((line) => line.split(','))};
}

// The indexes of the columns `name` stands for.
function columnsOf(header, name) {
  return header.flatMap((column, i) => (column === name ||
    (name.endsWith('_') && column.startsWith(name)) ? [i] : []));
}

// Whether the rows are of the muon spectrum's sky, as the CSV's sky column
// names it (spectrum, maybe with its altitude and the matter above).
function ofSpectrum(table) {
  const sky = table.header.indexOf('sky');
  return sky >= 0 && table.rows.some((r) => r[sky].startsWith('spectrum'));
}

// Every column, when asked; else the key columns that say something: those
// of a quantity the options asked for; the law when there are several (the
// caption names a single one), the tilt when there is one, the requirement
// when it is not every layer, the detected rate when it is not the rate,
// and the rates, accidentals and counting times where there are any; with
// the spectrum, which the sky field asks for, the flux it gives, the energy
// a muon needs and the soft component beside the muons, which the matter
// the fields describe sets; never a column that is empty in every row.
function shownColumns(table, asked) {
  if ($('all-columns').checked) {
    return table.header.map((name, i) => i);
  }
  const rows = table.rows;
  const rate = table.header.indexOf('rate_per_minute');
  const wanted = new Set(asked.flatMap((option) => askedColumns[option] || []));
  const spectrum = ofSpectrum(table);
  // Whether a key column that no option asked for says something; those
  // not named here always do.
  const telling = {
    law: (i) => new Set(rows.map((r) => r[i])).size > 1,
    tilt_deg: (i) => rows.some((r) => Number(r[i]) !== 0),
    tilt_azimuth_deg: () => false,
    require: (i) => rows.some((r) => r[i] !== 'all'),
    rate_detected_per_minute: (i) => rows.some((r) => r[i] !== r[rate]),
    singles_per_minute_: () => false,
    flux_per_cm2_min: () => spectrum,
    threshold_gev: () => spectrum,
    soft_per_minute: () => spectrum,
  };
  const says = (name, i) => wanted.has(name) || !telling[name] || telling[name](i);
  return keyColumns.flatMap((name) => columnsOf(table.header, name)
    .filter((i) => rows.some((r) => r[i] !== '') && says(name, i)));
}

function showTable(table, asked) {
  const columns = shownColumns(table, asked);
  const head = document.createElement('tr');
  for (const i of columns) {
    // A long name breaks only after its underscores, never inside a word.
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
      ? `, every row of the ${lawCaption(laws.values().next().value)}` : ''}`;
  $('column-count').textContent = table.header.length;
  $('table-note').textContent = table.rows.length > tableRowsMax
    ? `The table shows the first ${tableRowsMax} of the ${table.rows.length} rows; the download holds them all.`
    : '';
  markScrolling();
}

// Says so when the table is wider than its box, and where it may scroll
// to: a shadow at each edge that hides columns.
export function markScrolling() {
  const box = document.querySelector('.table-scroll');
  const hidden = box.scrollWidth - box.clientWidth;
  box.classList.toggle('more-left', hidden > 0 && box.scrollLeft > 1);
  box.classList.toggle('more-right', hidden > 0 && box.scrollLeft < hidden - 1);
  $('scroll-note').hidden = hidden <= 0;
}

// The sky's law as the page writes it everywhere: cos²θ, cosᴺθ with its N,
// and which of velmora and velmorauni it is, where the telescope is
// theirs.
function lawTitle(law, programs) {
  if (law === 'spectrum') {
    return 'muon spectrum';
  }
  const as = programs ? {cos_squared: ' (as velmora)', isotropic: ' (as velmorauni)'}[law] : '';
  const title = {cos_squared: 'cos²θ law', isotropic: 'directions uniform per crossing track'}[law] ||
    `cosᴺθ law, N = ${law.slice(4)}`;
  return title + (as || '');
}

// The law of every row, as the table's caption names it.
function lawCaption(law) {
  return {isotropic: 'isotropic law (directions uniform per crossing track)',
    spectrum: 'muon spectrum in energy and zenith angle'}[law] || lawTitle(law, false);
}

// The law of an infinitely narrow telescope against the tilt α.
function narrowLaw(n) {
  return n === 2 ? 'cos²α' : `cosᴺα, N = ${n}`;
}

function exponentOf(law) {
  return law === 'cos_squared' ? 2 : Number(law.slice(4));
}

// Groups rows by `key`, each group a curve of points sorted along x.
export function curves(rows, key, point) {
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
  const [rate, detected] = ['rate_per_minute', 'rate_detected_per_minute']
    .map((n) => table.header.indexOf(n));
  return [!byTilt && 'efficiency', table.rows.some((r) => r[rate] !== '') && 'rate',
    table.rows.some((r) => r[detected] !== r[rate]) && 'detected'].filter(Boolean);
}

// The error of a row's plotted value: the efficiency's standard error; the
// rate's from the CSV's rate_error_per_minute where it has one, else, as
// for the detected rate, the efficiency's relative error.
function errors(table, quantity, value) {
  const [efficiency, error, rateError] = ['efficiency', 'std_error', 'rate_error_per_minute']
    .map((name) => table.header.indexOf(name));
  const relative = (r) => (Number(r[efficiency]) > 0 ? r[value] * r[error] / r[efficiency] : 0);
  if (quantity === 'efficiency') {
    return (r) => Number(r[error]);
  }
  if (quantity === 'rate' && rateError >= 0) {
    return (r) => (r[rateError] !== '' ? Number(r[rateError]) : relative(r));
  }
  return relative;
}

// With the spectrum's rate, the soft component beside each curve of it,
// dashed in its colour: the electrons, positrons and photons the counters
// see beside the muons, which the CSV estimates at sea level (and leaves
// empty elsewhere). The curves drawn are `series`, grouped by `key` along
// `x`.
function softBeside(table, quantity, series, key, x, notes) {
  const soft = table.header.indexOf('soft_per_minute');
  if (quantity !== 'rate' || soft < 0 || !ofSpectrum(table)) {
    return [];
  }
  const colours = new Map(series.map((s, i) => [s.label, s.colour ?? i]));
  const beside = curves(table.rows.filter((r) => r[soft] !== ''), key,
    (r) => ({x: x(r), y: Number(r[soft]), error: 0})).filter((s) => colours.has(s.label));
  if (beside.length > 0) {
    notes.push('Dashed: the soft component, electrons, positrons and photons, that the counters see beside the muons; not in the rate.');
  }
  return beside.map((s, i) => ({label: i === 0 ? 'soft component (electrons, photons)' : '',
    points: s.points, colour: colours.get(s.label), markers: false, dashed: true}));
}

function showPlot(table) {
  const column = (name) => table.header.indexOf(name);
  const [law, distance, tilt, require, telescope] = ['law', 'distance_cm', 'tilt_deg', 'require',
    'telescope'].map(column);
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
  const errorOf = errors(table, quantity, value);
  // One curve per requirement, where there are several.
  const requirements = new Set(rows.map((r) => r[require])).size > 1;
  const needs = (r) => (requirements ? `, require ${r[require]}` : '');
  const what = {efficiency: 'geometric efficiency', rate: 'coincidence rate per minute',
    detected: 'detected coincidence rate per minute'}[quantity];
  const notes = [];
  let figure;
  const spectrum = ofSpectrum(table);
  if (byTilt) {
    // The tilt scan runs the flux law alone, with one exponent.
    const key = (r) => `${r[distance]} cm${needs(r)}`;
    const x = (r) => Number(r[tilt]);
    let series = curves(rows, key, (r) => ({x: x(r), y: Number(r[value]), error: errorOf(r)}));
    if (series.length > curvesMax) {
      notes.push(`${curvesMax} of the ${series.length} curves are drawn, evenly spread.`);
      const all = series;
      series = Array.from({length: curvesMax},
        (_, i) => all[Math.round(i * (all.length - 1) / (curvesMax - 1))]);
    }
    // The spectrum's zenith law is no cosᴺθ, nor an infinitely narrow
    // telescope's curve a cosᴺα.
    const n = spectrum ? NaN : exponentOf(rows[0][law]);
    const lines = spectrum ? [] : series.map((s, i) => {
      const first = s.points[0];
      const base = Math.cos(first.x * Math.PI / 180);
      return {label: i === 0 ? `${narrowLaw(n)}: an infinitely narrow telescope` : '', colour: i,
        at: (x) => first.y * Math.pow(Math.max(0, Math.cos(x * Math.PI / 180)) / base, n)};
    });
    const soft = softBeside(table, quantity, series, key, x, notes);
    figure = {title: `${quantity === 'detected' ? 'Detected coincidence' : 'Coincidence'} rate against the tilt`,
      description: `The ${what} against the tilt α of the telescope axis, one curve per distance${requirements ? ' and requirement' : ''}${spectrum ? ', under the muon spectrum' : `, beside the ${narrowLaw(n)} of an infinitely narrow telescope`}${soft.length ? ', with the soft component' : ''}.`,
      xLabel: 'tilt α of the telescope axis from the vertical (°)',
      yLabel: quantity === 'detected' ? 'coincidences detected per minute' : 'coincidences per minute',
      series: [...series, ...soft], lines};
  } else {
    const drawn = quantity === 'efficiency' ? rows : rows.filter((r) => r[value] !== '');
    // Only velmora's own telescope, upright, is the one velmora counts.
    const programs = drawn.every((r) => r[telescope] === programsTelescope && Number(r[tilt]) === 0);
    // A curve per law and requirement, named by what tells them apart.
    const laws = new Set(drawn.map((r) => r[law])).size > 1;
    const key = (r) => (laws || !requirements ? `${lawTitle(r[law], programs)}${needs(r)}`
      : `require ${r[require]}`);
    const x = (r) => Number(r[distance]);
    const series = curves(drawn, key, (r) => ({x: x(r), y: Number(r[value]), error: errorOf(r)}));
    const soft = softBeside(table, quantity, series, key, x, notes);
    // A single tilt other than 0 is named: the curve is not the upright
    // telescope's.
    const tiltShown = tilts.values().next().value;
    const tilted = Number(tiltShown) !== 0 ? `, the axis tilted ${tiltShown}°` : '';
    const title = {efficiency: 'Geometric efficiency', rate: 'Coincidence rate',
      detected: 'Detected coincidence rate'}[quantity];
    figure = {title: `${title} against distance${tilted}`,
      description: `The ${what} against the distance between the paddles${tilted}, one curve per law${requirements ? ' and requirement' : ''}, with binomial error bars${soft.length ? ', and the soft component' : ''}.`,
      xLabel: 'distance between the paddles (cm)',
      yLabel: {efficiency: 'efficiency', rate: 'coincidences per minute',
        detected: 'coincidences detected per minute'}[quantity], series: [...series, ...soft]};
  }
  drawFigure($('plot'), $('plot-note'), figure, notes);
}

// Draws the curve's plot again, at the size it is now shown.
export function redrawCurvePlot() {
  if (lastTable) {
    showPlot(lastTable);
  }
}

// Lays out the table again, with every column or the key ones.
export function redrawTable() {
  if (lastTable) {
    showTable(lastTable, lastAsked);
  }
}

// Draws a figure, or says why there is nothing to draw.
export function drawFigure(container, note, figure, notes) {
  const finite = figure.series.every((s) => s.points.every((p) => Number.isFinite(p.x) &&
    Number.isFinite(p.y)));
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

// Points a download link at new text, letting go of the old.
export function offer(link, text) {
  if (downloads[link.id]) {
    URL.revokeObjectURL(downloads[link.id]);
  }
  downloads[link.id] = URL.createObjectURL(new Blob([text], {type: 'text/csv'}));
  link.href = downloads[link.id];
}

// The curve's CSV shown for the options `pairs` and the `distances`.
export function showResults(csv, pairs, distances) {
  lastTable = parseCsv(csv);
  lastAsked = pairs.map(([option]) => option);
  showCommand($('command'), 'velmora-curve', pairs, distances);
  offer($('download'), csv);
  $('results').hidden = false;
  showTable(lastTable, lastAsked);
  showPlot(lastTable);
  // For a screen reader, which then reads on from the heading; the box
  // that marks the focus is left off it (style.css).
  $('results-heading').focus();
}
