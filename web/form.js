// The form: its fields, each checked by velmora-curve's own code with the
// command's message shown beside a bad one; the list of layers; the choices
// between two ways of giving one thing.
import {check} from './simulation.js';

export const $ = (id) => document.getElementById(id);

// velmora-curve's options in the order its command line is written (that
// of its help); each is a field of the same id and a key of the page's
// address. 'layer' is a list of fields, one per layer: layer-2, layer-3, …
export const curveOptions = ['law', 'muons', 'flux', 'intensity', 'paddles', 'top', 'bottom',
  'offset', 'layer', 'min-path', 'require', 'detection', 'noise', 'window', 'precision', 'exponent',
  'tilt', 'tilt-azimuth', 'seed', 'method'];
// velmora-fit's, in its order, each with its field: the telescope's are
// the curve's own, the fit's own are fit-….
export const fitOptions = [['paddles', 'paddles'], ['top', 'top'], ['bottom', 'bottom'],
  ['offset', 'offset'], ['layer', 'layer'], ['min-path', 'min-path'], ['require', 'fit-require'],
  ['detection', 'detection'], ['noise', 'noise'], ['window', 'window'],
  ['exponent', 'fit-exponent'], ['tilt-azimuth', 'fit-tilt-azimuth'], ['seed', 'fit-seed'],
  ['method', 'fit-method'], ['background', 'fit-background']];
// Two ways of giving the same thing, one of which the page hides.
export const alternatives = [['paddle-sizes', {same: ['paddles'], apart: ['top', 'bottom']}],
  ['sky-given', {flux: ['flux'], intensity: ['intensity']}]];
// As many as the command takes between the paddles.
export const layersMax = 6;

// A field's text, or "" when it holds nothing but blanks.
export function valueOf(id) {
  const value = $(id).value;
  return value.trim() === '' ? '' : value;
}

export function distanceWords() {
  return valueOf('distances').split(/\s+/).filter((w) => w !== '');
}

export function layerIds() {
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

export const curveFields = () => fieldsOf([['distances', 'distances'],
  ...curveOptions.map((o) => [o, o])]);
export const fitFields = () => fieldsOf(fitOptions);

// Opens what hides a field and gives it the focus.
export function reveal(id) {
  const details = $(id).closest('details');
  if (details) {
    details.open = true;
  }
  $(id).focus();
}

export function showProblem(id, problem) {
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
export function checkField(field) {
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
export function checkFields(fields) {
  const good = fields.map(checkField);
  const first = fields[good.indexOf(false)];
  if (first) {
    reveal(first.id);
  }
  return !first;
}

// The options the fields give, as [--name, value] pairs.
export function optionPairs(fields) {
  return fields.filter((f) => f.option !== 'distances' && valueOf(f.id) !== '')
    .map((f) => [`--${f.option}`, valueOf(f.id)]);
}

// The words of a command line: each option, then its value if it has one.
export const flat = (pairs) => pairs.flatMap(([option, value]) => (value === null ? [option]
  : [option, value]));

// Shows a problem of the command line as a whole at the field of the
// option it concerns, or at `general` (general or fit-general) with the
// focus on the panel's button; the layers' at the list of them, the focus
// on the layer it names.
export function placeProblem(option, problem, fields, general) {
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
  $(field ? field.id : {general: 'run', 'fit-general': 'fit-run'}[general]).focus();
}

// Shows the alternative `value` of the choice `name`.
export function choose(name, value) {
  document.querySelector(`input[name="${name}"][value="${value}"]`).checked = true;
  for (const node of document.querySelectorAll(`.alternative[data-choice="${name}"]`)) {
    node.hidden = node.dataset.when !== value;
  }
}

// A row of the list of layers, its field the size and place of one. The
// list hears a "change" for a row removed as for a layer edited.
export function addLayer(value) {
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
  input.addEventListener('change', () => checkField({id: input.id, option: 'layer'}));
  remove.addEventListener('click', () => {
    const next = row.nextElementSibling;
    row.remove();
    numberLayers();
    (next ? next.querySelector('input') : $('add-layer')).focus();
    $('layer-rows').dispatchEvent(new Event('change'));
  });
  numberLayers();
  return input;
}

// Numbers the layers as the command does, the upper paddle 1.
function numberLayers() {
  [...$('layer-rows').children].forEach((row, k) => {
    const id = `layer-${k + 2}`;
    const [label, input, remove, problem] = ['label', 'input', 'button', '.problem']
      .map((s) => row.querySelector(s));
    input.id = id;
    problem.id = `${id}-problem`;
    label.htmlFor = id;
    label.textContent = `Layer ${k + 2}`;
    input.setAttribute('aria-describedby', `layers-help ${id}-problem`);
    remove.setAttribute('aria-label', `Remove layer ${k + 2}`);
  });
  $('add-layer').disabled = $('layer-rows').children.length >= layersMax;
}
