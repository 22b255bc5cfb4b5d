// Draws curves with error bars as an SVG, with axes, a grid and a legend.
'use strict';

// Colours told apart with every common colour-vision deficiency.
const plotColours = ['#0072b2', '#d55e00', '#009e73', '#cc79a7', '#e69f00',
  '#56b4e9', '#000000', '#8c564b'];

// About `count` round steps (1, 2 or 5 times a power of ten) over [low, high].
function plotTicks(low, high, count) {
  const raw = (high - low) / count;
  const power = Math.pow(10, Math.floor(Math.log10(raw)));
  const step = [1, 2, 5, 10].map((m) => m * power).find((s) => s >= raw);
  const ticks = [];
  for (let t = Math.ceil(low / step) * step; t <= high + step * 1e-9; t += step) {
    ticks.push(Math.abs(t) < step * 1e-9 ? 0 : t);
  }
  return ticks;
}

function plotText(x, y, text, attributes) {
  const node = document.createElementNS('http://www.w3.org/2000/svg', 'text');
  node.setAttribute('x', x);
  node.setAttribute('y', y);
  for (const [name, value] of Object.entries(attributes || {})) {
    node.setAttribute(name, value);
  }
  node.textContent = text;
  return node;
}

function plotElement(name, attributes) {
  const node = document.createElementNS('http://www.w3.org/2000/svg', name);
  for (const [key, value] of Object.entries(attributes)) {
    node.setAttribute(key, value);
  }
  return node;
}

// figure: {title, description, xLabel, yLabel, series: [{label, points:
// [{x, y, error}]}], lines: [{label, colour (index), at: x => y}]}.
function drawPlot(container, figure) {
  // Drawn at the size it is shown, so that its text stays readable on a
  // phone.
  const width = Math.max(320, Math.min(800, container.clientWidth || 800));
  const height = Math.round(Math.max(300, width * 0.6));
  const left = 70, right = 20, top = 40, bottom = 60;
  const all = figure.series.flatMap((s) => s.points);
  let xLow = Math.min(...all.map((p) => p.x));
  let xHigh = Math.max(...all.map((p) => p.x));
  if (xLow === xHigh) {
    xLow -= 1;
    xHigh += 1;
  }
  const yHigh = Math.max(...all.map((p) => p.y + p.error)) * 1.05 || 1;
  const yLow = Math.min(0, ...all.map((p) => p.y - p.error));
  const sx = (x) => left + (x - xLow) / (xHigh - xLow) * (width - left - right);
  const sy = (y) => height - bottom - (y - yLow) / (yHigh - yLow) * (height - top - bottom);

  const svg = plotElement('svg', {
    viewBox: `0 0 ${width} ${height}`, role: 'img',
    'aria-labelledby': 'plot-title plot-description',
    'font-family': 'system-ui, sans-serif', 'font-size': '14',
  });
  const title = plotElement('title', {id: 'plot-title'});
  title.textContent = figure.title;
  const description = plotElement('desc', {id: 'plot-description'});
  description.textContent = figure.description;
  svg.append(title, description);
  svg.append(plotText(width / 2, 24, figure.title,
    {'text-anchor': 'middle', 'font-size': '16'}));

  for (const t of plotTicks(xLow, xHigh, 8)) {
    svg.append(plotElement('line', {x1: sx(t), x2: sx(t), y1: top,
      y2: height - bottom, stroke: '#e3e3e3'}));
    svg.append(plotText(sx(t), height - bottom + 20, String(+t.toPrecision(6)),
      {'text-anchor': 'middle'}));
  }
  for (const t of plotTicks(yLow, yHigh, 6)) {
    svg.append(plotElement('line', {x1: left, x2: width - right, y1: sy(t),
      y2: sy(t), stroke: '#e3e3e3'}));
    svg.append(plotText(left - 8, sy(t) + 5, String(+t.toPrecision(6)),
      {'text-anchor': 'end'}));
  }
  svg.append(plotElement('rect', {x: left, y: top, width: width - left - right,
    height: height - top - bottom, fill: 'none', stroke: '#555'}));
  svg.append(plotText((left + width - right) / 2, height - 16, figure.xLabel,
    {'text-anchor': 'middle'}));
  svg.append(plotText(18, (top + height - bottom) / 2, figure.yLabel,
    {'text-anchor': 'middle', transform: `rotate(-90 18 ${(top + height - bottom) / 2})`}));

  const legend = [];
  figure.series.forEach((s, i) => {
    const colour = plotColours[i % plotColours.length];
    const path = s.points.map((p, k) => `${k ? 'L' : 'M'}${sx(p.x).toFixed(1)},${sy(p.y).toFixed(1)}`);
    svg.append(plotElement('path', {d: path.join(''), fill: 'none', stroke: colour, 'stroke-width': 2}));
    for (const p of s.points) {
      if (p.error > 0) {
        svg.append(plotElement('line', {x1: sx(p.x), x2: sx(p.x), y1: sy(p.y - p.error),
          y2: sy(p.y + p.error), stroke: colour}));
      }
      svg.append(plotElement('circle', {cx: sx(p.x), cy: sy(p.y), r: 3, fill: colour}));
    }
    legend.push({label: s.label, colour, dashed: false});
  });
  for (const line of figure.lines || []) {
    const colour = plotColours[line.colour % plotColours.length];
    const path = [];
    for (let k = 0; k <= 200; ++k) {
      const x = xLow + (xHigh - xLow) * k / 200;
      path.push(`${k ? 'L' : 'M'}${sx(x).toFixed(1)},${sy(line.at(x)).toFixed(1)}`);
    }
    svg.append(plotElement('path', {d: path.join(''), fill: 'none', stroke: colour,
      'stroke-width': 1.5, 'stroke-dasharray': '6 4'}));
    if (line.label) {
      legend.push({label: line.label, colour, dashed: true});
    }
  }
  // Inside the frame's top right corner, as wide as its longest entry (at
  // about 7.5 px a character).
  const legendX = width - right - 50 - 7.5 * Math.max(...legend.map((e) => e.label.length));
  legend.forEach((entry, i) => {
    const y = top + 18 + 20 * i;
    svg.append(plotElement('line', {x1: legendX, x2: legendX + 30,
      y1: y - 5, y2: y - 5, stroke: entry.colour, 'stroke-width': 2,
      'stroke-dasharray': entry.dashed ? '6 4' : 'none'}));
    svg.append(plotText(legendX + 38, y, entry.label));
  });
  container.replaceChildren(svg);
}
