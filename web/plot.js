// Draws curves with error bars as an SVG, with axes, a grid and a legend.
// Every text is measured as the browser draws it and laid out around the
// frame, never over it, so that the plot reads as well on a phone as on a
// desk; a curve of more points than the frame has room for is drawn as a
// line, without markers or error bars.

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

function plotElement(name, attributes, text) {
  const node = document.createElementNS('http://www.w3.org/2000/svg', name);
  for (const [key, value] of Object.entries(attributes)) {
    node.setAttribute(key, value);
  }
  if (text !== undefined) {
    node.textContent = text;
  }
  return node;
}

// The width of `text` at `size` px as drawn in `svg`; where nothing is laid
// out (a hidden section) about 0.6 em a character.
function plotTextWidth(svg, text, size) {
  const node = plotElement('text', {'font-size': size}, text);
  svg.append(node);
  const width = node.getComputedTextLength();
  node.remove();
  return width || 0.6 * size * text.length;
}

// `text` broken at its spaces into lines no wider than `width`.
function plotWrap(svg, text, size, width) {
  const lines = [];
  for (const word of text.split(' ')) {
    const last = lines.length - 1;
    if (last >= 0 && plotTextWidth(svg, `${lines[last]} ${word}`, size) <= width) {
      lines[last] += ` ${word}`;
    } else {
      lines.push(word);
    }
  }
  return lines;
}

// Lines of text, the first with its baseline at y, the others `gap` below.
function plotLines(lines, x, y, gap, attributes) {
  const node = plotElement('text', {x, y, ...attributes});
  lines.forEach((line, i) => node.append(plotElement('tspan', {x, dy: i ? gap : 0}, line)));
  return node;
}

// The lowest and highest of f over every point, by a loop: a spread of a
// hundred thousand arguments would overflow the call stack.
function plotRange(series, f) {
  let low = Infinity;
  let high = -Infinity;
  for (const s of series) {
    for (const p of s.points) {
      const [a, b] = f(p);
      low = Math.min(low, a);
      high = Math.max(high, b);
    }
  }
  return [low, high];
}

// A dense curve as a path through the lowest and highest point of each
// pixel column: the same ink as every point, at a few hundred vertices.
function plotDensePath(points, sx, sy) {
  const path = [];
  let column = NaN;
  let low = 0;
  let high = 0;
  const flush = () => {
    if (!Number.isNaN(column)) {
      path.push(`${path.length ? 'L' : 'M'}${column},${sy(low).toFixed(1)}L${column},${sy(high).toFixed(1)}`);
    }
  };
  for (const p of points) {
    const x = Math.round(sx(p.x));
    if (x !== column) {
      flush();
      column = x;
      low = p.y;
      high = p.y;
    }
    low = Math.min(low, p.y);
    high = Math.max(high, p.y);
  }
  flush();
  return path.join('');
}

// Round ticks over [low, high] and their labels: as many as `length` px
// holds with 12 px between labels as wide as `widest` measures them.
function plotAxisTicks(svg, low, high, length, widest) {
  for (let count = 8; ; --count) {
    const ticks = plotTicks(low, high, count);
    const labels = ticks.map((t) => String(+t.toPrecision(6)));
    const step = ticks.length > 1 ? (ticks[1] - ticks[0]) / (high - low) * length : length;
    if (count <= 2 || step >= widest(labels) + 12) {
      return {ticks, labels};
    }
  }
}

// figure: {title, description, xLabel, yLabel, series: [{label, points:
// [{x, y, error}], colour (index; the series' own by default), markers
// (false: a line alone), joined (false: markers and error bars alone),
// swatch ('both': a marker on a line in the legend), dashed (true: its
// line dashed)}], lines: [{label, colour (index), at: x => y}]}. A series
// or line without a label has no entry in the legend. Returns {dense}:
// whether some curve was drawn without its markers.
export function drawPlot(container, figure) {
  // Drawn at the size it is shown, so that its text stays readable on a
  // phone.
  const width = Math.max(320, Math.min(800, container.clientWidth || 800));
  const id = container.id;
  const svg = plotElement('svg', {
    role: 'img', 'aria-labelledby': `${id}-title ${id}-description`,
    'font-family': 'system-ui, sans-serif', 'font-size': '14',
  });
  container.replaceChildren(svg);
  const measure = (text, size = 14) => plotTextWidth(svg, text, size);
  const widest = (labels) => labels.reduce((w, l) => Math.max(w, measure(l)), 0);

  let [xLow, xHigh] = plotRange(figure.series, (p) => [p.x, p.x]);
  if (xLow === xHigh) {
    xLow -= 1;
    xHigh += 1;
  }
  // A little room at each end, so that the first and last error bars are
  // not drawn on the frame.
  const xRoom = (xHigh - xLow) * 0.02;
  xLow -= xRoom;
  xHigh += xRoom;
  const [yMin, yMax] = plotRange(figure.series, (p) => [p.y - p.error, p.y + p.error]);
  const yHigh = yMax * 1.05 || 1;
  const yLow = Math.min(0, yMin);

  // Heights first, for the y ticks; then widths, which the y labels set.
  const titleLines = plotWrap(svg, figure.title, 16, width - 16);
  const top = 22 + 20 * (titleLines.length - 1) + 18;
  const frameHeight = Math.round(Math.max(300, width * 0.6)) - 100;
  const bottom = top + frameHeight;
  const yAxis = plotAxisTicks(svg, yLow, yHigh, frameHeight, () => 16);
  const left = 42 + widest(yAxis.labels);
  let right = width - 20;
  let xAxis = plotAxisTicks(svg, xLow, xHigh, right - left, widest);
  right = width - Math.max(20, measure(xAxis.labels[xAxis.labels.length - 1] || '') / 2 + 4);
  xAxis = plotAxisTicks(svg, xLow, xHigh, right - left, widest);
  const sx = (x) => left + (x - xLow) / (xHigh - xLow) * (right - left);
  const sy = (y) => bottom - (y - yLow) / (yHigh - yLow) * frameHeight;

  const title = plotElement('title', {id: `${id}-title`}, figure.title);
  const description = plotElement('desc', {id: `${id}-description`}, figure.description);
  svg.append(title, description);
  svg.append(plotLines(titleLines, width / 2, 22, 20, {'text-anchor': 'middle', 'font-size': '16'}));

  xAxis.ticks.forEach((t, i) => {
    svg.append(plotElement('line', {class: 'grid-x', x1: sx(t), x2: sx(t), y1: top, y2: bottom,
      stroke: '#e3e3e3'}));
    svg.append(plotElement('text', {class: 'tick-x', x: sx(t), y: bottom + 20,
      'text-anchor': 'middle'}, xAxis.labels[i]));
  });
  yAxis.ticks.forEach((t, i) => {
    svg.append(plotElement('line', {class: 'grid-y', x1: left, x2: right, y1: sy(t), y2: sy(t),
      stroke: '#e3e3e3'}));
    svg.append(plotElement('text', {class: 'tick-y', x: left - 8, y: sy(t) + 5,
      'text-anchor': 'end'}, yAxis.labels[i]));
  });
  svg.append(plotElement('rect', {class: 'frame', x: left, y: top, width: right - left,
    height: frameHeight, fill: 'none', stroke: '#555'}));

  // The x label under its axis, moved in from an edge it would cross.
  const xLines = plotWrap(svg, figure.xLabel, 14, width - 16);
  const xHalf = widest(xLines) / 2;
  const xMiddle = Math.min(width - 8 - xHalf, Math.max(8 + xHalf, (left + right) / 2));
  svg.append(plotLines(xLines, xMiddle, bottom + 42, 18, {'text-anchor': 'middle'}));
  const yMiddle = (top + bottom) / 2;
  svg.append(plotElement('text', {x: 20, y: yMiddle, 'text-anchor': 'middle',
    transform: `rotate(-90 20 ${yMiddle})`}, figure.yLabel));

  const legend = [];
  let dense = false;
  figure.series.forEach((s, i) => {
    const colour = plotColours[(s.colour ?? i) % plotColours.length];
    const joined = s.joined !== false;
    if (s.label) {
      legend.push({label: s.label, colour, dashed: s.dashed === true, line: joined || s.swatch === 'both',
        marker: !joined || s.swatch === 'both'});
    }
    const dashes = s.dashed ? '6 4' : 'none';
    if (s.points.length > (right - left) / 3) {
      dense = s.markers !== false || dense;
      svg.append(plotElement('path', {d: plotDensePath(s.points, sx, sy), fill: 'none',
        stroke: colour, 'stroke-width': 1.5, 'stroke-dasharray': dashes}));
      return;
    }
    if (joined) {
      const path = s.points.map((p, k) => `${k ? 'L' : 'M'}${sx(p.x).toFixed(1)},${sy(p.y).toFixed(1)}`);
      svg.append(plotElement('path', {d: path.join(''), fill: 'none', stroke: colour, 'stroke-width': 2,
        'stroke-dasharray': dashes}));
    }
    if (s.markers === false) {
      return;
    }
    for (const p of s.points) {
      if (p.error > 0) {
        svg.append(plotElement('line', {class: 'error-bar', x1: sx(p.x), x2: sx(p.x),
          y1: sy(p.y - p.error), y2: sy(p.y + p.error), stroke: colour}));
      }
      svg.append(plotElement('circle', {cx: sx(p.x), cy: sy(p.y), r: 3, fill: colour}));
    }
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
      legend.push({label: line.label, colour, dashed: true, line: true});
    }
  }

  // The legend under the x label, entries side by side while they fit,
  // each a swatch of its curve's colour and dashes, then its label.
  const group = plotElement('g', {class: 'legend'});
  const textRoom = right - left - 38;
  let x = left;
  let y = bottom + 42 + 18 * (xLines.length - 1) + 30;
  let rowLines = 1;
  for (const entry of legend) {
    const lines = plotWrap(svg, entry.label, 14, textRoom);
    const entryWidth = 38 + widest(lines);
    if (x > left && x + entryWidth > right) {
      x = left;
      y += 20 * rowLines;
      rowLines = 1;
    }
    const item = plotElement('g', {class: 'entry'});
    if (entry.line) {
      item.append(plotElement('line', {x1: x, x2: x + 30, y1: y - 5, y2: y - 5,
        stroke: entry.colour, 'stroke-width': 2, 'stroke-dasharray': entry.dashed ? '6 4' : 'none'}));
    }
    if (entry.marker) {
      item.append(plotElement('line', {x1: x + 15, x2: x + 15, y1: y - 12, y2: y + 2, stroke: entry.colour}));
      item.append(plotElement('circle', {cx: x + 15, cy: y - 5, r: 3, fill: entry.colour}));
    }
    item.append(plotLines(lines, x + 38, y, 20, {}));
    group.append(item);
    x += entryWidth + 24;
    rowLines = Math.max(rowLines, lines.length);
  }
  svg.append(group);
  const height = Math.round(y + 20 * (rowLines - 1) + 12);
  svg.setAttribute('viewBox', `0 0 ${width} ${height}`);
  return {dense};
}
