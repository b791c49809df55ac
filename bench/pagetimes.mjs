// The browser page's times, for bench/bench.py: the page, moltravytext.html,
// opened from disk in Debian's Chromium (headless, driven by
// playwright-core), then each message written REPS times with the default
// glyph set, from Enter to the picture (or its preview) shown, as the page
// itself measures it, and the longest the page went without answering
// meanwhile (the longest gap between the beats of a 10 ms timer). Prints one
// line of JSON: the time to open the page, and for each message its median
// time, its longest gap, and the medians of the worker's own two phases (the
// program's run, and the preview drawn, when there is one), in milliseconds.
//
// Usage: node bench/pagetimes.mjs PAGE REPS MESSAGEFILE...
// (run from a folder whose node_modules holds playwright-core, such as
// build-pagecheck/); each message file holds one message, its last newline
// not part of it.
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { join, resolve } from 'node:path';
import process from 'node:process';

const require = createRequire(join(process.cwd(), 'node_modules'));
const { chromium } = require('playwright-core');
const [page, reps, ...messages] = process.argv.slice(2);
const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--no-first-run'],
});
const tab = await browser.newPage({ viewport: { width: 1000, height: 800 } });
tab.setDefaultTimeout(120000);
const opened = performance.now();
await tab.goto('file://' + resolve(page), { waitUntil: 'load' });
await tab.waitForFunction(() => document.documentElement.dataset.ready);
const times = { open: performance.now() - opened };

// write: the page's own time for one line, from Enter to the picture
// shown, and the longest gap between the beats of a timer meanwhile.
async function write(line) {
  await tab.evaluate(() => {
    delete document.getElementById('console').dataset.ms;
    window.longest = 0;
    let last = performance.now();
    clearInterval(window.beat);
    window.beat = setInterval(() => {
      const now = performance.now();
      window.longest = Math.max(window.longest, now - last);
      last = now;
    }, 10);
  });
  await tab.fill('#message', line);
  await tab.press('#message', 'Enter');
  await tab.waitForFunction(() => document.getElementById('console').dataset.ms);
  return tab.evaluate(() => {
    const { ms, module, preview } = document.getElementById('console').dataset;
    return [Number(ms), window.longest, Number(module), Number(preview)];
  });
}

const median = (list) => list.sort((a, b) => a - b)[Math.floor(list.length / 2)];
for (const file of messages) {
  const line = readFileSync(file, 'utf8').replace(/\n$/, '');
  const runs = [];
  for (let i = 0; i < Number(reps); i++) runs.push(await write(line));
  times[file] = { ms: median(runs.map((r) => r[0])), gap: Math.max(...runs.map((r) => r[1])),
    module: median(runs.map((r) => r[2])), preview: median(runs.map((r) => r[3])) };
}
await browser.close();
console.log(JSON.stringify(times));
