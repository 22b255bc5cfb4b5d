// The page: velmora-curve and velmora-fit, their own code compiled to
// WebAssembly, behind a form. This starts it: the simulation loaded, the
// fields and buttons wired, and a link's run run. The form and its checks
// are in form.js, links in links.js, runs and their workers in runs.js,
// the curve's results in results.js, the fit in fit_panel.js.
import {$, addRow, alternatives, checkField, choose, curveOptions, fitOptions, lists, showProblem,
  showSky, valueOf} from './form.js';
import {dataEdited, readDataFile, redrawFitPlot, runFit} from './fit_panel.js';
import {restoreFromAddress, saveAddress} from './links.js';
import {markScrolling, redrawCurvePlot, redrawTable} from './results.js';
import {curve, endRun, fit, part, runCurve, status} from './runs.js';
import {call, useModule} from './simulation.js';

// The tabs: one panel shown at a time, the arrow keys move between them.
function showTab(tab) {
  for (const other of document.querySelectorAll('[role="tab"]')) {
    const selected = other === tab;
    other.setAttribute('aria-selected', selected);
    other.tabIndex = selected ? 0 : -1;
    $(other.getAttribute('aria-controls')).hidden = !selected;
  }
  // A plot drawn while hidden had no width to fit.
  if (tab.id === 'curve-tab') {
    redrawCurvePlot();
    markScrolling();
  } else {
    redrawFitPlot();
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

function start(loaded) {
  useModule(loaded);
  $('version').textContent = call('velmora_version', 'string', [])();
  const addressed = ['distances', ...curveOptions.filter((o) => !lists[o])];
  const fitOwn = fitOptions.map(([, field]) => field).filter((f) => f.startsWith('fit-'));
  // The sky's fields shown before the address is written from them.
  $('sky').addEventListener('change', showSky);
  for (const id of [...addressed, ...fitOwn]) {
    const option = id.replace(/^fit-/, '');
    $(id).addEventListener('input', () => showProblem(id, ''));
    $(id).addEventListener('change', () => {
      checkField({id, option});
      if (addressed.includes(id)) {
        saveAddress();
      }
    });
  }
  // A row of a list edited or removed.
  for (const option of Object.keys(lists)) {
    $(`${option}-rows`).addEventListener('change', saveAddress);
    $(`add-${option}`).addEventListener('click', () => addRow(option, '').focus());
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
  for (const shared of ['telescope', 'sky-site']) {
    $(shared).addEventListener('keydown', (event) => {
      if (event.target.matches('input:not([type="radio"])')) {
        enterRuns(event);
      }
    });
  }
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
  $('fit-data').addEventListener('input', dataEdited);
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
    radio.addEventListener('change', redrawCurvePlot);
  }
  $('all-columns').addEventListener('change', redrawTable);
  document.querySelector('.table-scroll').addEventListener('scroll', markScrolling);
  let resizing = 0;
  window.addEventListener('resize', () => {
    clearTimeout(resizing);
    resizing = setTimeout(() => {
      if (!$('curve-panel').hidden) {
        redrawCurvePlot();
        markScrolling();
      } else {
        redrawFitPlot();
      }
    }, 200);
  });
  $('run').disabled = false;
  $('fit-run').disabled = false;
  status(curve, 'Ready.');
  status(fit, 'Ready.');
  const link = restoreFromAddress();
  if (link.refused) {
    status(curve, 'Nothing was run: the link has a problem, shown in red.');
  } else if (link.run) {
    runCurve();
  }
}

$('run').disabled = true;
$('fit-run').disabled = true;
// createVelmoraModule is the module's own script, loaded before this one.
createVelmoraModule().then(start, (error) => {
  const text = location.protocol === 'file:'
    ? 'Browsers do not run this page from a file: open velmora.html, the page as one file, or serve this folder, as the README shows.'
    : `The simulation could not be loaded: ${error}`;
  status(curve, text);
  status(fit, text);
});
