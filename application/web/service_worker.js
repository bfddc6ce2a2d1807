// Keeps the page's files in the browser so that the page starts without a network once visited,
// and brings a new build to the player on the next load. Each load of the page asks the server
// for all of its files at once, past the browser's HTTP cache; when all have come within
// `patience` they are kept and answer that page, and otherwise the kept copy answers it, so
// that a page never runs the scripts of one build with the WebAssembly of another. A set that
// comes late is still kept, for the next load. Other requests are left to the browser. A page
// added beside index.html adds its files to a set of its own, as the studio has: its files are
// kept once a studio page asks (a player of the game never fetches them).
"use strict";
const cache_name = "tavrin-mirellon";
const files = ["./", "index.html", "page.js", "picture_2d.js", "tavrin-mirellon.js",
               "tavrin-mirellon.wasm", "manifest.webmanifest", "icon-192.png", "icon-512.png"];
const studio_files = ["studio.html", "studio.js", "studio_text.js", "studio_editor.js",
                      "studio_views.js", "studio_panels.js", "studio_breaks.js", "studio_machine.js",
                      "studio_controls.js", "studio_interface.js", "studio_files.js",
                      "studio_marks.js", "studio_asm_mode.js", "studio_check.js", "studio_worker.js",
                      "studio_share.js", "studio_project.js", "studio_codemirror.js", "tavrin-studio.js",
                      "tavrin-studio.wasm"];
const address = (file) => new URL(file, self.registration.scope).href;
const kept = new Set([...files, ...studio_files].map(address));
// The set of the page at `url`.
const set_of = (url) => (url.endsWith("/studio.html") ? studio_files : files);
const patience = 3000; // ms

// Each page's files, by the page's client id, until it has asked for them.
const answers = new Map();

// `response` marked to be asked for again each time: the browser would otherwise keep a file
// that it takes for fresh in its memory and give it to the next load without asking.
const answer = (response) => {
    const headers = new Headers(response.headers);
    headers.set("Cache-Control", "no-cache");
    return new Response(response.body, { status: response.status,
                                         statusText: response.statusText, headers });
};

const from_network = (url) => fetch(url, { cache: "no-cache" }).then((response) => {
    if (!response.ok) {
        throw new Error(`${url}: ${response.status}`);
    }
    return response;
});

// `response` read to its end: its copies are then read each on its own, where the copies of a
// body still streaming would wait for one another.
const whole = (response) => response.blob().then((body) => new Response(body, {
    status: response.status, statusText: response.statusText, headers: response.headers }));

// The whole set from the network, kept once all of it has come: [url, response] pairs.
const fetch_set = (set_files = files) => Promise.all(set_files.map(address).map((url) =>
    from_network(url).then(whole).then((response) => [url, response])))
    .then(async (set) => {
        const cache = await caches.open(cache_name);
        await Promise.all(set.map(([url, response]) => cache.put(url, response.clone())));
        return set;
    });

const kept_set = async (set_files) => {
    const cache = await caches.open(cache_name);
    const set = await Promise.all(set_files.map(address).map(async (url) =>
        [url, await cache.match(url)]));
    return set.every(([, response]) => response) ? set : null;
};

// The set that answers a page being loaded: the network's if it comes in time, else the copy.
const choose_set = (set_files, fresh) => kept_set(set_files).then((copy) => {
    if (!copy) {
        return fresh;
    }
    const late = new Promise((resolve) => setTimeout(resolve, patience, copy));
    return Promise.race([fresh.catch(() => copy), late]);
});

self.addEventListener("install", (event) => {
    event.waitUntil(fetch_set().then(() => self.skipWaiting()));
});

self.addEventListener("activate", (event) => event.waitUntil(self.clients.claim()));

self.addEventListener("message", (event) => {
    if (event.data === "keep the studio") {
        event.waitUntil(fetch_set(studio_files).catch(() => {}));
    }
});

self.addEventListener("fetch", (event) => {
    const url = new URL(event.request.url);
    url.search = "";
    if (event.request.method !== "GET" || !kept.has(url.href)) {
        return;
    }
    if (event.request.mode === "navigate") {
        const set_files = set_of(url.href);
        const fresh = fetch_set(set_files);
        event.waitUntil(fresh.catch(() => {}));
        const set = choose_set(set_files, fresh).then((chosen) => {
            const page = new Map(chosen.map(([file, response]) => [file, response.clone()]));
            answers.set(event.resultingClientId, page);
            setTimeout(() => answers.delete(event.resultingClientId), 60000);
            return answer(page.get(url.href).clone());
        }).catch(() => fetch(event.request));
        event.respondWith(set);
        return;
    }
    const page = answers.get(event.clientId);
    const chosen = page && page.get(url.href);
    if (chosen) {
        page.delete(url.href);
        event.respondWith(answer(chosen));
        return;
    }
    // A file outside a load that this worker saw (the worker was started again meanwhile).
    event.respondWith(from_network(url.href).catch(() => caches.match(url.href))
        .then((response) => (response ? answer(response) : Response.error())));
});
