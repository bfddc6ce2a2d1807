// The author's files, kept in IndexedDB, with the project's settings (the main file, the file in
// front, breakpoints and watches). Each file has a version that every save raises; the tabs of
// the studio open at once tell each other of every save over a BroadcastChannel, and a save
// made on top of an older version than the stored one is refused rather than written over it.

const database_name = "tavrin-studio";
const channel = typeof BroadcastChannel === "function" ? new BroadcastChannel("tavrin-studio") : null;
const tab = Math.random().toString(36).slice(2); // this tab, to know its own messages

export const files = new Map(); // name -> {text, version}
export const settings = { main: "main.asm", open: "main.asm", breaks: [], labels: [], watches: [] };

let database = null;

const request = (r) => new Promise((resolve, reject) => {
  r.onsuccess = () => resolve(r.result);
  r.onerror = () => reject(r.error);
});

const open_database = () => {
  const opening = indexedDB.open(database_name, 1);
  opening.onupgradeneeded = () => {
    opening.result.createObjectStore("files", { keyPath: "name" });
    opening.result.createObjectStore("settings");
  };
  return request(opening);
};

// The files as the last version of the studio kept them, in localStorage.
const older_files = () => {
  try {
    return JSON.parse(localStorage.getItem("tavrin-studio.files")) || {};
  } catch {
    return {};
  }
};

// Reads the project; a browser without IndexedDB (or one that refuses it) keeps it in memory.
export const load_files = async (first_text) => {
  try {
    database = await open_database();
    const store = database.transaction(["files", "settings"]).objectStore("files");
    for (const file of await request(store.getAll())) {
      files.set(file.name, { text: file.text, version: file.version });
    }
    const kept = await request(database.transaction("settings").objectStore("settings").get("project"));
    Object.assign(settings, kept || {});
  } catch (error) {
    database = null;
    console.warn(`The studio keeps its files in memory only: ${error.message}`);
  }
  if (files.size === 0) {
    for (const [name, text] of Object.entries(older_files())) {
      files.set(name, { text, version: 1 });
    }
    settings.open = settings.main = localStorage.getItem("tavrin-studio.name") || settings.main;
  }
  if (!files.has(settings.main)) {
    files.set(settings.main, { text: first_text, version: 1 });
  }
  await take_unsaved();
  if (!files.has(settings.open)) {
    settings.open = settings.main;
  }
  for (const [name, file] of files) {
    if (file.version === 1 && database) {
      await write(name, file.text, 0); // the first time: stored from now on
    }
  }
};

// The texts not yet saved when the page is left go to localStorage at once (IndexedDB may not
// finish in time), and into the files when the page comes back, if no other tab saved since.
const unsaved_key = "tavrin-studio.unsaved";
export const keep_unsaved = (texts) => {
  const unsaved = {};
  for (const [name, text] of Object.entries(texts)) {
    unsaved[name] = { text, base: files.has(name) ? files.get(name).version : 0 };
  }
  try {
    localStorage.setItem(unsaved_key, JSON.stringify(unsaved));
  } catch {
    // too large for localStorage: what IndexedDB holds stays
  }
};

const take_unsaved = async () => {
  let unsaved = {};
  try {
    unsaved = JSON.parse(localStorage.getItem(unsaved_key)) || {};
  } catch {
    // nothing readable
  }
  for (const [name, { text, base }] of Object.entries(unsaved)) {
    if ((files.get(name)?.version ?? 0) === base) {
      await save_file(name, text);
    }
  }
  localStorage.removeItem(unsaved_key);
};

const tell = (message) => channel && channel.postMessage(Object.assign({ tab }, message));

// Writes `text` as the version after `base`; resolves to the stored file, or to null when the
// stored version is newer than `base` (another tab saved in between: nothing is written).
const write = (name, text, base) => new Promise((resolve, reject) => {
  if (!database) {
    resolve({ text, version: base + 1 });
    return;
  }
  const transaction = database.transaction("files", "readwrite");
  const store = transaction.objectStore("files");
  let saved = null;
  store.get(name).onsuccess = (event) => {
    const stored = event.target.result;
    if (stored && stored.version > base) {
      files.set(name, { text: stored.text, version: stored.version }); // the newer one stays
      return;
    }
    saved = { text, version: base + 1 };
    store.put({ name, text, version: saved.version });
  };
  transaction.oncomplete = () => resolve(saved);
  transaction.onerror = () => reject(transaction.error);
});

// Saves a file's new text; resolves to true, or to false when another tab's newer version is
// stored (the caller keeps the author's text elsewhere and says so).
// A file's saves go one after the other, each on top of the version the one before stored.
const saving = new Map(); // name -> the last save's promise
export const save_file = (name, text) => {
  const save = (saving.get(name) || Promise.resolve()).then(async () => {
    const base = files.has(name) ? files.get(name).version : 0;
    const saved = await write(name, text, base);
    if (!saved) {
      return false;
    }
    files.set(name, saved);
    tell({ kind: "file", name, text, version: saved.version });
    return true;
  });
  saving.set(name, save.catch(() => false));
  return save;
};

export const remove_file = (name) => {
  files.delete(name);
  tell({ kind: "remove", name });
  return database && request(database.transaction("files", "readwrite").objectStore("files").delete(name));
};

export const save_settings = () => {
  tell({ kind: "settings", settings });
  return database && request(database.transaction("settings", "readwrite").objectStore("settings")
    .put(JSON.parse(JSON.stringify(settings)), "project"));
};

// A name that no file has yet, from `wanted` ("main.asm" -> "main 2.asm").
export const free_name = (wanted) => {
  const [, base, extension] = /^(.*?)(\.[^.]*)?$/.exec(wanted);
  let name = wanted;
  for (let n = 2; files.has(name); ++n) {
    name = `${base} ${n}${extension || ""}`;
  }
  return name;
};

// `handle({kind: "file", name, text, version} | {kind: "remove", name} | {kind: "settings"})`
// for what another tab saved; a file's newer version is in `files` when it is called.
export const on_other_tab = (handle) => {
  if (!channel) {
    return;
  }
  channel.addEventListener("message", (event) => {
    const message = event.data;
    if (message.tab === tab) {
      return;
    }
    if (message.kind === "file") {
      const known = files.get(message.name);
      if (known && known.version >= message.version) {
        return;
      }
      files.set(message.name, { text: message.text, version: message.version });
    } else if (message.kind === "remove") {
      files.delete(message.name);
    }
    handle(message);
  });
};
