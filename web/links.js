// The page's address: the curve's inputs, so that a link gives the same
// run, and a link's inputs put back in their fields.
import {$, addRow, alternatives, checkField, choose, curveFields, curveOptions, listIds, lists,
  showProblem, showSky, valueOf} from './form.js';
import {check} from './simulation.js';

// The keys of a link: the curve's fields, whether to run, and, unlisted,
// how many workers to run on (for tests and benchmarks).
const addressKeys = ['distances', ...curveOptions];
// A link may ask for this many workers at most.
const workersMax = 64;
let forcedWorkers = 0;

// The workers a link asked for, or 0.
export const linkedWorkers = () => forcedWorkers;

// A value from the address as a message shows it: quoted, and cut short.
export function quoted(text) {
  return `“${text.length > 40 ? `${text.slice(0, 40)}…` : text}”`;
}

function addressOf() {
  const query = new URLSearchParams();
  for (const field of curveFields()) {
    if (valueOf(field.id) !== '') {
      query.append(field.option, valueOf(field.id));
    }
  }
  if (forcedWorkers) {
    query.set('workers', forcedWorkers);
  }
  return `${location.pathname}?${query}`;
}

export function saveAddress() {
  history.replaceState(null, '', addressOf());
}

// Puts a link's inputs in their fields. A link the page would not have
// written (a key it does not know or gives twice, a value its field cannot
// hold, two ways of one thing, a field the sky it gives has not, a run
// other than 1) is shown as a problem and runs nothing, rather than run
// something else than it says. Returns {run, refused}: whether to run now,
// and whether the link asked to run but may not.
export function restoreFromAddress() {
  const query = new URLSearchParams(location.search);
  const problems = [];
  const seen = new Set();
  let fits = true;
  for (const [key, value] of query) {
    if (seen.has(key) && !lists[key]) {
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
    } else if (lists[key]) {
      const {max} = lists[key];
      if (listIds(key).length === max) {
        problems.push(`${quoted(key)} is given more than ${max} times: the command takes ${max} at most`);
      } else {
        const input = addRow(key, value);
        if (value.trim() !== '') {
          checkField({id: input.id, option: key});
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
  // The fields of the sky given; a key of the other sky's would be left
  // out of the run.
  showSky();
  for (const key of seen) {
    const field = lists[key] ? `${key}-rows` : key;
    const gate = addressKeys.includes(key) && $(field).closest('[data-sky]');
    if (gate && gate.hidden) {
      problems.push(gate.dataset.sky === 'spectrum'
        ? `${quoted(key)} needs sky=spectrum: a cosᴺθ sky has no energies for matter or air to take`
        : `${quoted(key)} is not for sky=spectrum, which gives the sky's flux itself`);
    }
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
  return {run: good && query.has('run'), refused: !good && query.has('run')};
}
