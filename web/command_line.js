// The command line that gives the same as the page, as the results show it.

// A word as a POSIX shell reads it back unchanged.
function shellWord(word) {
  return /^[A-Za-z0-9_.,:+=/^@-]+$/.test(word) ? word : `'${word.replace(/'/g, "'\\''")}'`;
}

function span(className, text) {
  const node = document.createElement('span');
  node.className = className;
  node.textContent = text;
  return node;
}

// Writes `program`, its options `pairs` ([--name, value or null]) and its
// `operands` into `code`, a line break allowed only between options and
// operands: an option's name never breaks ("--" and "layer" on two lines
// read as two words), nor does it leave its value, unless the two are wider
// than the whole line; then the value starts the next line, and breaks
// anywhere only if it is wider than a line by itself.
export function showCommand(code, program, pairs, operands) {
  const pieces = [[span('word', program)]];
  for (const [option, value] of pairs) {
    pieces.push(value === null ? [span('word', option)]
      : [span('word', option), ' ', span('word value', shellWord(value))]);
  }
  // "--" is needed only before an operand that starts with a minus sign.
  if (operands.some((d) => d.startsWith('-'))) {
    pieces.push([span('word', '--')]);
  }
  for (const operand of operands) {
    pieces.push([span('word value', shellWord(operand))]);
  }
  code.replaceChildren();
  pieces.forEach((nodes, i) => {
    const piece = document.createElement('span');
    piece.className = 'piece';
    piece.append(...nodes);
    code.append(i ? ' ' : '', piece);
  });
}
