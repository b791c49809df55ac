// The page's own script: runs the moltravytext module once for each line
// written, in a folder held in memory that holds the glyph set and the last
// picture, and shows what it printed and the picture it stored.
// web/buildpage.mjs puts the module and the default glyph set in front of
// this, as modulebase64 and defaultglyphs (file name to base64), and
// web/wasi.js's makewasi beside it.

// The 29 glyph files the program reads, in its order.
const glyphnames = [...'abcdefghijklmnopqrstuvwxyz'].map((c) => c + '.bmp')
  .concat(['_.bmp', '_period.bmp', '_question.bmp']);

const frombase64 = (text) => Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
const asfile = (data) => ({ data, size: data.length });
const $ = (id) => document.getElementById(id);

const compiled = WebAssembly.compile(frombase64(modulebase64));
// Ready for a line once the module is compiled; the tests and the
// benchmark wait for this.
compiled.then(() => { document.documentElement.dataset.ready = '1'; });
const defaults = new Map(glyphnames.map((n) => [n, frombase64(defaultglyphs[n])]));
let glyphs = defaults;
let picture = null; // the last picture stored, as bytes
let pictureurl = null;

// write: one run of the program on line; shows its output, and the picture
// when it stored one. A failed run leaves the earlier picture as it was.
async function write(line) {
  const start = performance.now();
  const folder = new Map([...glyphs].map(([n, data]) => [n, asfile(data)]));
  if (picture) folder.set('moltravytext.bmp', asfile(picture));
  const wasi = makewasi(folder, new TextEncoder().encode(line + '\n'));
  const instance = await WebAssembly.instantiate(await compiled,
    { wasi_snapshot_preview1: wasi.imports });
  const status = wasi.start(instance);
  // As a console shows it: the line typed after the prompt.
  const output = wasi.output();
  const prompt = output.indexOf('Enter message: ');
  $('console').textContent = prompt < 0 ? output
    : output.slice(0, prompt + 15) + line + '\n' + output.slice(prompt + 15);
  const stored = folder.get('moltravytext.bmp');
  if (status === 0 && stored) {
    picture = stored.data.slice(0, stored.size);
    if (pictureurl) URL.revokeObjectURL(pictureurl);
    pictureurl = URL.createObjectURL(new Blob([picture], { type: 'image/bmp' }));
    $('image').src = pictureurl;
    $('image').alt = line;
    $('save').href = pictureurl;
    await $('image').decode();
    $('picture').classList.remove('hidden');
    $('save').classList.remove('hidden');
  }
  $('console').dataset.status = status;
  $('console').dataset.ms = (performance.now() - start).toFixed(1);
}

// choose: a glyph set from the files a person chose or dropped.
async function choose(files) {
  const chosen = new Map();
  const unused = [];
  for (const file of files) {
    if (glyphnames.includes(file.name))
      chosen.set(file.name, new Uint8Array(await file.arrayBuffer()));
    else
      unused.push(file.name);
  }
  const missing = glyphnames.filter((n) => !chosen.has(n));
  glyphs = chosen;
  let said = `In use: your files, ${chosen.size} of the 29.`;
  if (missing.length) said += ` Missing: ${missing.join(', ')}.`;
  if (unused.length) said += ` Not used: ${unused.join(', ')}.`;
  $('glyphset').textContent = said;
  $('default').classList.remove('hidden');
}

// Runs follow one another: each starts from the picture the last one left.
let running = Promise.resolve();
$('write').addEventListener('submit', (event) => {
  event.preventDefault();
  const line = $('message').value;
  running = running.then(() => write(line));
});
$('glyphs').addEventListener('change', () => choose($('glyphs').files));
$('default').addEventListener('click', () => {
  glyphs = defaults;
  $('glyphset').textContent = 'In use: the default set.';
  $('default').classList.add('hidden');
  $('glyphs').value = '';
});
const drop = $('drop');
document.addEventListener('dragover', (event) => {
  event.preventDefault();
  drop.classList.add('over');
});
document.addEventListener('dragleave', () => drop.classList.remove('over'));
document.addEventListener('drop', (event) => {
  event.preventDefault();
  drop.classList.remove('over');
  choose(event.dataTransfer.files);
});
$('message').focus();
