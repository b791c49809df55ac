// A plain static web server for the site, as a host serves a project site:
// the folder's files under /moltravytext/ on 127.0.0.1, index.html for the
// folder itself, /moltravytext redirected there, each file with its type
// and nothing else (no header of ours). Used by tests/pagecheck.mjs and
// bench/pagetimes.mjs.
//
//   const site = await servesite(folder);
//   site.url          // http://127.0.0.1:PORT/moltravytext/
//   site.served       // every path asked for, in order
//   await site.stop();   // the host gone
import { existsSync, readFileSync, statSync } from 'node:fs';
import http from 'node:http';
import { extname, join } from 'node:path';

const place = '/moltravytext/';
const types = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript',
  '.png': 'image/png', '.webmanifest': 'application/manifest+json' };

export async function servesite(folder) {
  const served = [];
  const server = http.createServer((request, response) => {
    const path = decodeURIComponent(new URL(request.url, 'http://host').pathname);
    served.push(path);
    if (path === place.slice(0, -1)) {
      response.writeHead(301, { location: place });
      response.end();
      return;
    }
    const name = path.startsWith(place) ? path.slice(place.length) || 'index.html' : '';
    const file = join(folder, name);
    if (!name || name.includes('..') || !existsSync(file) || !statSync(file).isFile()) {
      response.writeHead(404);
      response.end();
      return;
    }
    response.writeHead(200, { 'content-type': types[extname(file)] || 'application/octet-stream' });
    response.end(readFileSync(file));
  });
  await new Promise((done) => server.listen(0, '127.0.0.1', done));
  return {
    url: `http://127.0.0.1:${server.address().port}${place}`,
    served,
    stop: () => new Promise((done) => {
      server.close(done);
      server.closeAllConnections();
    }),
  };
}
