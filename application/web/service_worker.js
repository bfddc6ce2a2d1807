// Keeps the page's files in the browser so that the page starts without a network once visited.
// Each request for one of them goes to the network first, which keeps the copy fresh, and is
// answered from the copy when the network fails. Other requests are left to the browser. A page
// added beside index.html adds its files to `files`.
"use strict";
const cache_name = "tavrin-mirellon";
const files = ["./", "index.html", "page.js", "tavrin-mirellon.js", "tavrin-mirellon.wasm",
               "manifest.webmanifest", "icon-192.png", "icon-512.png"];
const kept = new Set(files.map((file) => new URL(file, self.registration.scope).href));

self.addEventListener("install", (event) => {
    event.waitUntil(caches.open(cache_name).then((cache) => cache.addAll(files))
        .then(() => self.skipWaiting()));
});

self.addEventListener("activate", (event) => event.waitUntil(self.clients.claim()));

self.addEventListener("fetch", (event) => {
    const url = new URL(event.request.url);
    url.search = "";
    if (event.request.method !== "GET" || !kept.has(url.href)) {
        return;
    }
    event.respondWith(caches.open(cache_name).then((cache) =>
        fetch(event.request).then((response) => {
            if (response.ok) {
                cache.put(url.href, response.clone());
            }
            return response;
        }, () => cache.match(url.href).then((copy) => copy || Response.error()))));
});
