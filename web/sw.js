// The site's service worker: keeps the site's few files (the page, which
// holds the program, its modules and the default glyph set, the manifest
// and the icons) for use offline, and answers the site's requests from
// them. web/buildpage.mjs puts in front of this the version (the program's,
// and a digest of the files, so that any change to the site is a new one)
// and the files' names, relative to this file.
//
// At each visit the browser fetches this file again (the page registers it
// with updateViaCache 'none'); when it differs, the new version is
// installed beside the old one: all its files fetched into a cache of its
// own, named by the version and the site's place, or nothing at all. It then
// takes over at once, and the old version's cache is deleted whole, so the
// next visit opens the new site, never a mix of the two. Caches of other
// sites on the same host, and of this site at another place, are left
// alone. Nothing is ever asked of another origin.

const place = self.registration.scope;
const cachename = `moltravytext ${version} ${place}`;
const ours = (name) => name.startsWith('moltravytext ') && name.endsWith(` ${place}`);

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(cachename)
    .then((cache) => cache.addAll(files.map((name) => new Request(name, { cache: 'reload' }))))
    .then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(caches.keys()
    .then((names) => Promise.all(names.filter((n) => ours(n) && n !== cachename)
      .map((n) => caches.delete(n))))
    .then(() => self.clients.claim()));
});

// The site's own files from the cache; anything else of the site's from the
// host, as it would be without this worker.
self.addEventListener('fetch', (event) => {
  const request = event.request;
  if (request.method !== 'GET' || !request.url.startsWith(place)) return;
  event.respondWith(caches.open(cachename)
    .then((cache) => cache.match(request, { ignoreSearch: true }))
    .then((kept) => kept || fetch(request)));
});
