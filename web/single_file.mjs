// Writes the page as one file, velmora.html, that a browser runs opened
// straight from the file system: the served page's index.html with its
// style sheet, the module (its WebAssembly inlined as base64 by emscripten)
// and the bundled scripts written into it, and a Content-Security-Policy
// that lets run these inline scripts and styles alone, by their hashes, and
// workers only from the page's own Blobs. The worker's code is held in an
// element that is not run (text/plain); the page joins it to the module's
// to start its workers.
//   node single_file.mjs INDEX.html STYLE.css MODULE.js PAGE.js WORKER.js OUT.html
import crypto from 'node:crypto';
import fs from 'node:fs';

const [indexFile, styleFile, moduleFile, pageFile, workerFile, out] = process.argv.slice(2);
const read = (file) => fs.readFileSync(file, 'utf8');
let html = read(indexFile);

function fail(problem) {
  console.error(`single_file.mjs: ${problem}`);
  process.exit(1);
}

// An element's text must not end it, nor open a comment that would hide
// its end from the parser.
function inline(text, file, tag) {
  if (new RegExp(`</${tag}|<!--`, 'i').test(text)) {
    fail(`${file} holds "</${tag}" or "<!--", which would end or hide its inline <${tag}>`);
  }
  return text;
}

// Replaces the one occurrence of `from`; a page edited so that it has none,
// or several, must fail the build rather than leave a file half inlined.
function replaceOnce(from, to) {
  const at = html.indexOf(from);
  if (at < 0 || html.indexOf(from, at + 1) >= 0) {
    fail(`${indexFile} must hold ${JSON.stringify(from)} exactly once`);
  }
  html = html.slice(0, at) + to + html.slice(at + from.length);
}

const hash = (text) => `'sha256-${crypto.createHash('sha256').update(text, 'utf8').digest('base64')}'`;
const style = inline(read(styleFile), styleFile, 'style');
const module = inline(read(moduleFile), moduleFile, 'script');
const page = inline(read(pageFile), pageFile, 'script');
const worker = inline(read(workerFile), workerFile, 'script');

// Nothing from elsewhere and nothing from the file system: the scripts
// and styles written here, WebAssembly compiled from the module's bytes,
// workers from the page's Blobs, the icon and the downloads as data: and
// blob: URLs. The module reads its inlined bytes through fetch of a
// data: URL.
const policy = ["default-src 'none'", `script-src ${hash(module)} ${hash(page)} 'wasm-unsafe-eval'`,
  'worker-src blob:', `style-src ${hash(style)}`, 'img-src data: blob:', 'connect-src data:',
  "base-uri 'none'", "form-action 'none'"].join('; ');
replaceOnce(html.match(/<meta http-equiv="Content-Security-Policy" content="[^"]*">/)?.[0] ?? '\0',
  `<meta http-equiv="Content-Security-Policy" content="${policy}">`);
replaceOnce('<link rel="stylesheet" href="style.css">', `<style>${style}</style>`);
replaceOnce('<script src="velmora-curve.js"></script>',
  `<script id="velmora-module">${module}</script>`);
replaceOnce('<script src="page.js"></script>',
  `<script type="text/plain" id="velmora-worker">${worker}</script>\n<script>${page}</script>`);
fs.writeFileSync(out, html);
