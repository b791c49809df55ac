// The page's own script: runs the moltravytext module once for each line
// written, in a worker (web/worker.js), and shows what it printed and the
// picture it stored. web/buildpage.mjs puts in front of this what the
// program says of itself, from its source: glyphnames (the 29 glyph files
// it reads, in its order), glyphlimit (the largest it reads; a larger one it
// refuses by its size alone) and promptline (its prompt's last line); then
// workersource, the worker's whole text (the two modules and the WASI layer
// in it), defaultglyphs (file name to base64) and site (true for the page of
// the site, which a service worker keeps for use offline: web/sw.js).
//
// The page never waits on a run: lines typed while one runs wait their
// turn, in order, and the page answers meanwhile. A picture too large for
// the browser to show whole, or to show in a moment, is shown as a preview
// the worker draws from the BMP's own pixels; the save links always give
// the whole picture.

// The largest picture a browser is asked to show whole: a side and pixels.
const wholeside = 32767;
const wholepixels = 1 << 28;

const frombase64 = (text) => Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
const $ = (id) => document.getElementById(id);
const say = (text) => { $('status').textContent = text; };
const defaults = new Map(glyphnames.map((n) => {
  const bytes = frombase64(defaultglyphs[n]);
  return [n, { bytes, size: bytes.length }];
}));
let glyphs = defaults;

const workerurl = URL.createObjectURL(new Blob([workersource], { type: 'text/javascript' }));
let runner = null;
let encoder = null;
let sharing = false;

// The lines waiting, the one running, and the picture shown: { id, line,
// picture, url, width, height, scale, png, pngurl, whole }.
const waiting = [];
let running = null;
let shown = null;
let nextid = 1;

// startworker: a new worker, its messages to take, and what to do if it
// stops with an error (given why).
function startworker(take, stopped) {
  const worker = new Worker(workerurl);
  worker.onmessage = (event) => take(event.data);
  worker.onerror = (event) => {
    event.preventDefault();
    stopped(event.message || 'the worker stopped');
  };
  return worker;
}

function startrunner() {
  runner = startworker(fromrunner, (why) => {
    runner.terminate();
    startrunner();
    if (running) finish(running, 1, `The run failed: ${why}.`);
  });
}

function startencoder() {
  if (encoder) encoder.terminate();
  encoder = startworker(fromencoder, (why) => fromencoder({ kind: 'failed', why }));
}

// write: a line to run, after those waiting.
function write(line) {
  waiting.push({ id: nextid++, line, start: performance.now() });
  next();
}

function next() {
  if (running || waiting.length === 0) return;
  running = waiting.shift();
  running.slow = setTimeout(() => say('Writing the picture…'), 300);
  runner.postMessage({ kind: 'run', id: running.id, line: running.line,
    glyphs: [...glyphs].map(([n, f]) => [n, f.bytes, f.size]) });
}

// finish: the end of a run, its picture shown or not; the next line runs.
function finish(run, status, failure) {
  clearTimeout(run.slow);
  if (failure) say(failure);
  const printed = $('console');
  printed.dataset.status = status;
  printed.dataset.ms = (performance.now() - run.start).toFixed(1);
  running = null;
  // A picture kept while this ran still gets its PNG, once nothing waits.
  if (shown && shown.picture && !shown.pngasked) schedulepng(shown);
  next();
}

async function fromrunner(message) {
  if (message.kind === 'prepared') {
    document.documentElement.dataset.ready = '1';
    return;
  }
  // After a preview, the picture for the save link; and, when asked, its
  // grey pixels for the PNG.
  if (message.kind === 'picture') {
    if (shown && message.id === shown.id) keep(message.picture);
    return;
  }
  if (message.kind === 'grey') {
    if (shown && message.id === shown.id) {
      startencoder();
      encoder.postMessage({ kind: 'png', id: message.id, grey: message.grey,
        width: message.width, height: message.height }, [message.grey.buffer]);
    }
    return;
  }
  const run = running;
  if (!run || message.id !== run.id) return;
  if (message.kind === 'failed') {
    finish(run, 1, `The run failed: ${message.why}.`);
    return;
  }
  if (message.kind !== 'ran') return;
  // As a console shows it: the line typed after the prompt.
  const output = message.output;
  const typed = output.indexOf(promptline) + promptline.length;
  $('console').textContent = typed < promptline.length ? output
    : output.slice(0, typed) + run.line + '\n' + output.slice(typed);
  if (message.status !== 0 || !message.width) {
    say('');
    finish(run, message.status);
    return;
  }
  const printed = $('console');
  printed.dataset.module = message.ms.module.toFixed(1);
  printed.dataset.preview = message.ms.preview.toFixed(1);
  let failure = null;
  try {
    await show(run, message);
  } catch (error) {
    failure = `The picture could not be shown here (${error.message || error}); ` +
      'the saved file is whole.';
  }
  finish(run, message.status, failure);
}

// keep: the whole picture, for the save link and the size button; its PNG
// is made a moment later, unless another line comes first.
function keep(picture) {
  shown.picture = picture;
  shown.url = URL.createObjectURL(picture);
  $('save').href = shown.url;
  $('save').textContent = 'Save the picture (BMP)';
  schedulepng(shown);
}

// schedulepng: the picture's PNG, a moment after nothing runs or waits.
function schedulepng(picture) {
  setTimeout(() => {
    if (shown === picture && !picture.pngasked && !running && waiting.length === 0)
      makepng(picture);
  }, 200);
}

// show: the picture a run stored, whole or as its preview, and its links;
// after a preview, the picture itself comes a moment later (keep).
async function show(run, message) {
  if (shown) {
    if (shown.url) URL.revokeObjectURL(shown.url);
    if (shown.pngurl) URL.revokeObjectURL(shown.pngurl);
  }
  const { width, height, scale } = message;
  shown = { id: run.id, line: run.line, picture: null, url: null, width, height,
    scale, png: null, pngurl: null, whole: !message.preview };
  const name = run.line.trim() === '' ? 'An empty line' : run.line;
  $('save').removeAttribute('href');
  $('save').textContent = 'Preparing the BMP…';
  if (message.picture) keep(message.picture);
  $('savepng').classList.add('hidden');
  $('savepng').removeAttribute('href');
  $('copy').classList.add('hidden');
  $('share').classList.add('hidden');
  $('actions').classList.remove('hidden');
  const image = $('image');
  const canvas = $('preview');
  image.alt = name;
  canvas.setAttribute('aria-label', name);
  const box = $('picture');
  box.classList.add('fit');
  if (message.preview) {
    const { pixels, width: w, height: h } = message.preview;
    const bitmap = message.preview.bitmap ||
      await createImageBitmap(new ImageData(pixels, w, h));
    canvas.width = w;
    canvas.height = h;
    canvas.getContext('bitmaprenderer').transferFromImageBitmap(bitmap);
    canvas.classList.remove('hidden');
    image.classList.add('hidden');
    image.removeAttribute('src');
    const canwhole = width <= wholeside && height <= wholeside && width * height <= wholepixels;
    say(`${canwhole ? '' : 'Too large for a browser to show whole: '}shown at 1/${scale} size; ` +
      'the saved file is whole.');
    $('size').classList.toggle('hidden', !canwhole);
    box.dataset.shown = 'preview';
  } else {
    image.src = shown.url;
    await image.decode();
    image.classList.remove('hidden');
    canvas.classList.add('hidden');
    $('size').classList.remove('hidden');
    say('');
    box.dataset.shown = 'whole';
  }
  $('size').textContent = 'See it at its own size';
  box.classList.remove('hidden');
}

// The size button: a preview gives way to the whole picture, decoded only
// now; a whole picture fits the window, or not.
$('size').addEventListener('click', async () => {
  const box = $('picture');
  if (!shown || !shown.url) return;
  if (shown.whole) {
    const fit = box.classList.toggle('fit');
    $('size').textContent = fit ? 'See it at its own size' : 'Fit it to the window';
    return;
  }
  const picture = shown;
  say('Showing the whole picture…');
  try {
    $('image').src = picture.url;
    await $('image').decode();
    if (shown !== picture) return;
    picture.whole = true;
    box.classList.remove('fit');
    $('image').classList.remove('hidden');
    $('preview').classList.add('hidden');
    $('size').textContent = 'Fit it to the window';
    box.dataset.shown = 'whole';
    say('');
  } catch (error) {
    if (shown !== picture) return;
    $('image').removeAttribute('src');
    $('size').classList.add('hidden');
    say(`This browser cannot show the picture whole: shown at 1/${picture.scale} size; ` +
      'the saved file is whole.');
  }
});

// makepng: the shown picture's PNG, made by the other worker from the grey
// pixels the runner keeps (one for an earlier picture is dropped
// unfinished).
function makepng(picture) {
  picture.pngasked = true;
  $('savepng').textContent = 'Making the PNG…';
  $('savepng').removeAttribute('href');
  $('savepng').classList.remove('hidden');
  runner.postMessage({ kind: 'grey', id: picture.id });
}

function fromencoder(message) {
  if (!shown || (message.id !== undefined && message.id !== shown.id)) return;
  if (message.kind === 'failed') {
    $('savepng').classList.add('hidden');
    say(`No PNG of this picture: ${message.why}. The BMP is whole.`);
    return;
  }
  shown.png = message.png;
  shown.pngurl = URL.createObjectURL(message.png);
  $('savepng').href = shown.pngurl;
  $('savepng').textContent = 'Save it as PNG, to share';
  // Where the browser lets a page put a picture on the clipboard, or hand
  // it to the system's share sheet (phones, Safari, Chrome on Windows).
  const copies = typeof ClipboardItem !== 'undefined' && navigator.clipboard &&
    navigator.clipboard.write;
  $('copy').classList.toggle('hidden', !copies);
  $('share').classList.toggle('hidden', !(navigator.canShare &&
    navigator.canShare({ files: [pngfile(shown.png)] })));
}

// pngfile: the PNG as the file a share sheet is given.
const pngfile = (png) => new File([png], 'moltravytext.png', { type: 'image/png' });

$('copy').addEventListener('click', async () => {
  if (!shown || !shown.png) return;
  try {
    await navigator.clipboard.write([new ClipboardItem({ 'image/png': shown.png })]);
    say('The picture is on the clipboard, as PNG.');
  } catch (error) {
    say(`The picture could not be copied: ${error.message || error}.`);
  }
});

// The share sheet: closing it is no failure, and one share at a time.
$('share').addEventListener('click', async () => {
  if (!shown || !shown.png || sharing) return;
  sharing = true;
  try {
    await navigator.share({ files: [pngfile(shown.png)] });
    say('The picture was shared, as PNG.');
  } catch (error) {
    if (error.name !== 'AbortError')
      say(`The picture could not be shared: ${error.message || error}.`);
  }
  sharing = false;
});

// names: at most three names of a list, and how many more.
const names = (list, count) => list.join(', ') +
  (count > list.length ? ` and ${count - list.length} more` : '');

// choose: a glyph set from the files a person chose or dropped. A file
// the program would refuse by its size is not read whole: the program is
// given its size and first bytes. Files it would not use are counted.
async function choose(files) {
  const chosen = new Map();
  const unused = [];
  let unusedcount = 0;
  for (const file of files) {
    if (!glyphnames.includes(file.name)) {
      if (unused.length < 3) unused.push(file.name);
      unusedcount++;
      continue;
    }
    let bytes = new Uint8Array(0);
    try {
      const part = file.size > glyphlimit ? file.slice(0, 16) : file;
      bytes = new Uint8Array(await part.arrayBuffer());
    } catch {
      // Unreadable: the program finds it short, and refuses it.
    }
    chosen.set(file.name, { bytes, size: file.size });
  }
  const missing = glyphnames.filter((n) => !chosen.has(n));
  glyphs = chosen;
  let said = `In use: your files, ${chosen.size} of the 29.`;
  if (missing.length) said += ` Missing: ${names(missing.slice(0, 3), missing.length)}.`;
  if (unusedcount === 1) said += ` Not used: ${unused[0]}.`;
  if (unusedcount > 1) said += ` Not used: ${unusedcount} files (${names(unused, unusedcount)}).`;
  $('glyphset').textContent = said;
  $('default').classList.remove('hidden');
}

$('write').addEventListener('submit', (event) => {
  event.preventDefault();
  write($('message').value);
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

// The site's service worker keeps it for use offline; it checks for a new
// version of the site at each visit (web/sw.js).
if (site && 'serviceWorker' in navigator)
  navigator.serviceWorker.register('sw.js', { updateViaCache: 'none' })
    .catch(() => {}); // not kept offline, but as good as ever online

startrunner();
startencoder();
// Ready for a line once the worker has compiled the module; the tests and
// the benchmark wait for this.
runner.postMessage({ kind: 'prepare',
  glyphs: [...defaults].map(([n, f]) => [n, f.bytes, f.size]) });
$('message').focus();
