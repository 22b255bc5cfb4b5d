// The form: its fields, each checked by velmora-curve's own code with the
// command's message shown beside a bad one; the lists of layers, slabs and
// absorbers; the choices between two ways of giving one thing, and the
// fields of one sky alone.
import {check} from './simulation.js';

export const $ = (id) => document.getElementById(id);

// velmora-curve's options in the order its command line is written (that
// of its help); each is a field of the same id and a key of the page's
// address. A list's option (lists, below) is a list of fields, one a value:
// layer-2, layer-3, …
export const curveOptions = ['law', 'muons', 'flux', 'intensity', 'paddles', 'top', 'bottom',
  'offset', 'layer', 'absorber', 'min-path', 'require', 'detection', 'noise', 'window',
  'precision', 'exponent', 'sky', 'altitude', 'overburden', 'tilt', 'tilt-azimuth', 'seed',
  'method'];
// velmora-fit's, in its order, each with its field: the telescope's and
// the sky's are the curve's own, the fit's own are fit-….
export const fitOptions = [['paddles', 'paddles'], ['top', 'top'], ['bottom', 'bottom'],
  ['offset', 'offset'], ['layer', 'layer'], ['absorber', 'absorber'], ['min-path', 'min-path'],
  ['require', 'fit-require'], ['detection', 'detection'], ['noise', 'noise'],
  ['window', 'window'], ['exponent', 'fit-exponent'], ['sky', 'sky'], ['altitude', 'altitude'],
  ['overburden', 'overburden'], ['tilt-azimuth', 'fit-tilt-azimuth'], ['seed', 'fit-seed'],
  ['method', 'fit-method'], ['background', 'fit-background']];
// Two ways of giving the same thing, one of which the page hides.
export const alternatives = [['paddle-sizes', {same: ['paddles'], apart: ['top', 'bottom']}],
  ['sky-given', {flux: ['flux'], intensity: ['intensity']}]];
// The options given once a value, each a list of rows that may be added
// and removed, as many as the command takes: its rows (OPTION-rows), its
// button (add-OPTION), its help and problem (OPTIONs-help, OPTIONs-problem);
// a row's field is the option and its number, as the command numbers them
// in its messages (the layers from 2: the upper paddle is layer 1).
export const lists = {
  layer: {max: 6, first: 2, name: 'Layer', placeholder: '10x31x1@5'},
  overburden: {max: 4, first: 1, name: 'Slab', placeholder: 'concrete:30'},
  absorber: {max: 6, first: 1, name: 'Absorber', placeholder: 'lead:5@3'},
};
// What hides fields: the alternative left unchosen, and the fields of the
// other sky (data-sky="cos" or "spectrum"). A hidden field gives no option.
const gates = '.alternative, [data-sky]';

// A field's text, or "" when it holds nothing but blanks.
export function valueOf(id) {
  const value = $(id).value;
  return value.trim() === '' ? '' : value;
}

export function distanceWords() {
  return valueOf('distances').split(/\s+/).filter((w) => w !== '');
}

// The fields of a list's rows, from the top.
export function listIds(option) {
  return [...$(`${option}-rows`).querySelectorAll('input')].map((input) => input.id);
}

// Whether an element is shown: not in an alternative left unchosen nor
// among the other sky's fields.
export function shown(id) {
  for (let node = $(id).closest(gates); node; node = node.parentElement.closest(gates)) {
    if (node.hidden) {
      return false;
    }
  }
  return true;
}

export const spectrumSky = () => $('sky').value === 'spectrum';

// Shows the fields of the sky chosen and hides the other's. With the
// spectrum the exponent is its index: the default shown is that sky's, and
// a fixed exponent left at the other sky's default, which this sky may
// refuse, becomes this one's.
export function showSky() {
  const [sky, other] = spectrumSky() ? ['spectrum', 'cos'] : ['cos', 'spectrum'];
  for (const node of document.querySelectorAll('[data-sky]')) {
    node.hidden = node.dataset.sky !== sky;
  }
  $('exponent').placeholder = $('exponent').dataset[sky];
  const fixed = $('fit-exponent');
  if (fixed.value.trim() === fixed.dataset[other]) {
    fixed.value = fixed.dataset[sky];
  }
}

// The fields of a panel that give options, as {id, option}, in the order
// of the command line.
function fieldsOf(pairs) {
  const fields = [];
  for (const [option, id] of pairs) {
    if (lists[option]) {
      if (shown(`${option}-rows`)) {
        fields.push(...listIds(option).map((row) => ({id: row, option})));
      }
    } else if (shown(id)) {
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
// focus on the panel's button; a list's at the row it names ("layer 3 …",
// "absorber 1 …"), else at the list, the focus on that row or the first.
export function placeProblem(option, problem, fields, general) {
  if (lists[option]) {
    const named = new RegExp(`^${option} (\\d+) `).exec(problem);
    const ids = listIds(option);
    const id = named && ids.includes(`${option}-${named[1]}`) ? `${option}-${named[1]}` : null;
    showProblem(id || `${option}s`, problem);
    if (id || ids[0]) {
      reveal(id || ids[0]);
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

// A row of a list, its field one value of the option. The list hears a
// "change" for a row removed as for a value edited.
export function addRow(option, value) {
  const row = document.createElement('li');
  const label = document.createElement('label');
  const line = document.createElement('div');
  line.className = 'row-line';
  const input = document.createElement('input');
  Object.assign(input, {autocomplete: 'off', spellcheck: false,
    placeholder: lists[option].placeholder, value});
  const remove = document.createElement('button');
  Object.assign(remove, {type: 'button', className: 'secondary', textContent: 'Remove'});
  const problem = document.createElement('p');
  problem.className = 'problem';
  line.append(input, remove);
  row.append(label, line, problem);
  $(`${option}-rows`).append(row);
  input.addEventListener('input', () => showProblem(input.id, ''));
  input.addEventListener('change', () => checkField({id: input.id, option}));
  remove.addEventListener('click', () => {
    const next = row.nextElementSibling;
    row.remove();
    numberRows(option);
    (next ? next.querySelector('input') : $(`add-${option}`)).focus();
    $(`${option}-rows`).dispatchEvent(new Event('change'));
  });
  numberRows(option);
  return input;
}

// Numbers a list's rows as the command does.
function numberRows(option) {
  const {max, first, name} = lists[option];
  const rows = $(`${option}-rows`);
  [...rows.children].forEach((row, k) => {
    const id = `${option}-${k + first}`;
    const [label, input, remove, problem] = ['label', 'input', 'button', '.problem']
      .map((s) => row.querySelector(s));
    input.id = id;
    problem.id = `${id}-problem`;
    label.htmlFor = id;
    label.textContent = `${name} ${k + first}`;
    input.setAttribute('aria-describedby', `${option}s-help ${id}-problem`);
    remove.setAttribute('aria-label', `Remove ${name.toLowerCase()} ${k + first}`);
  });
  $(`add-${option}`).disabled = rows.children.length >= max;
}
