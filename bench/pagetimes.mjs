// The browser page's times, for bench/bench.py, in Debian's Chromium
// (headless, driven by playwright-core): REPS times, in a new profile each
// time, the page, moltravytext.html, opened from disk, then the site served
// under /moltravytext/ by a plain static server (tests/siteserver.mjs) on
// its first visit, then the site opened again offline, from its service
// worker, each until the page is ready for a line; then each message
// written REPS times with the default glyph set, from Enter to the picture
// (or its preview) shown, as the page itself measures it, and the longest
// the page went without answering meanwhile (the longest gap between the
// beats of a 10 ms timer). Prints one line of JSON: the median times to
// open the page, visit the site and open it offline, and for each message
// its median time, its longest gap, and the medians of the worker's own two
// phases (the program's run, and the preview drawn, when there is one), in
// milliseconds.
//
// Usage: node bench/pagetimes.mjs PAGE SITEFOLDER REPS MESSAGEFILE...
// (run from a folder whose node_modules holds playwright-core, such as
// build-pagecheck/); each message file holds one message, its last newline
// not part of it.
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { join, resolve } from 'node:path';
import process from 'node:process';
import { servesite } from '../tests/siteserver.mjs';

const require = createRequire(join(process.cwd(), 'node_modules'));
const { chromium } = require('playwright-core');
const [page, sitefolder, reps, ...messages] = process.argv.slice(2);
const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--no-first-run'],
});
const median = (list) => list.sort((a, b) => a - b)[Math.floor(list.length / 2)];
const site = await servesite(resolve(sitefolder));

// opened: the time from asking for url to the page ready for a line.
async function opened(tab, url) {
  const start = performance.now();
  await tab.goto(url, { waitUntil: 'load' });
  await tab.waitForFunction(() => document.documentElement.dataset.ready);
  return performance.now() - start;
}

const starts = { open: [], site: [], offline: [] };
for (let i = 0; i < Number(reps); i++) {
  const context = await browser.newContext({ viewport: { width: 1000, height: 800 } });
  const tab = await context.newPage();
  tab.setDefaultTimeout(120000);
  starts.open.push(await opened(tab, 'file://' + resolve(page)));
  starts.site.push(await opened(tab, site.url));
  await tab.evaluate(() => navigator.serviceWorker.ready);
  await context.setOffline(true);
  starts.offline.push(await opened(tab, site.url));
  await context.close();
}
await site.stop();
const times = { open: median(starts.open), site: median(starts.site),
  offline: median(starts.offline) };
const tab = await browser.newPage({ viewport: { width: 1000, height: 800 } });
tab.setDefaultTimeout(120000);
await opened(tab, 'file://' + resolve(page));

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

for (const file of messages) {
  const line = readFileSync(file, 'utf8').replace(/\n$/, '');
  const runs = [];
  for (let i = 0; i < Number(reps); i++) runs.push(await write(line));
  times[file] = { ms: median(runs.map((r) => r[0])), gap: Math.max(...runs.map((r) => r[1])),
    module: median(runs.map((r) => r[2])), preview: median(runs.map((r) => r[3])) };
}
await browser.close();
console.log(JSON.stringify(times));
