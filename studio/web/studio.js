// The studio's page: an editor of the project's files, the machine's picture and the views
// that follow every stop, on top of studio_core (core.js, in tavrin-studio.js). This module
// makes the one object that holds the page's state and hands it to the others:
//
//     studio_editor.js     the editor (CodeMirror, studio_codemirror.js), its tabs and marks
//     studio_files.js      the files, breakpoints and watches, kept in IndexedDB
//     studio_project.js    new, rename, delete, the main file, examples, the other tabs
//     studio_check.js      assembling the project, and diagnostics as the author types
//     studio_machine.js    assembling, powering on, stepping and running
//     studio_breaks.js     breakpoints (by file and line, label or address) and watches
//     studio_share.js      the project in a link
//     studio_views.js      the picture, the status, registers, disassembly, stack and memory
//     studio_panels.js     the call stack, watch expressions, the disassembly's and memory's clicks
//     studio_controls.js   keys, buttons and forms
//     studio_interface.js  tavrin_studio, the interface for automated checks
//
// The WebAssembly module's script is loaded once the files are read; a failure inside the
// module is said, and a fresh instance takes its place.

import { apply_breaks, keep_breaks, toggle_line } from "./studio_breaks.js";
import { check_soon } from "./studio_check.js";
import { install_controls } from "./studio_controls.js";
import { create_editor, draw_gutter, first_program, show_messages } from "./studio_editor.js";
import { load_files, settings } from "./studio_files.js";
import { follow_other_tabs } from "./studio_project.js";
import { open_shared } from "./studio_share.js";
import { checks_interface } from "./studio_interface.js";
import { element } from "./studio_text.js";
import { canvas, show_status } from "./studio_views.js";

const studio = {
  ready: false,
  name: "main.asm",      // the file in front (settings.main is the one assembled)
  examples: new Map(),   // name -> text of the project's programs and the files they include
  keys: [],              // the machine's keys, [{key, label}]
  flags: [],             // the processor's flags in its flags byte, [{mask, short, name}]
  layout: null,          // the sizes and the memory map, studio_core.layout()
  program: null,         // the last assembly that worked: {rom, listing, symbol_file, ...}
  line_of: new Map(),    // address -> {file, line}, from the line map
  address_of: new Map(), // "file:line" -> [addresses], from the line map
  symbols: new Map(),    // upper-case name -> value
  names: new Map(),      // value -> the name shown for it
  break_labels: new Set(),    // breakpoints by label, as written
  break_addresses: new Set(), // and by address
  watches: [],           // {first, length}
  diagnostics: [],       // [{file, line, message, severity}] of the last check or assembly
  current_place: null,   // {file, line} where the machine stands, or null
  current_line: 0,       // of the editor's file, where the machine stands
  running: false,
  run: null,             // the run under way, real-time or fast (studio_machine.js)
  previous: null,        // registers and RAM at the last stop, to mark what changed
  message: "",           // the status line's word on the last stop
  failure: null,         // an instruction that failed: {pc, text}, shown among the faults
  // What the modules call back.
  toggle_line: (studio, line) => toggle_line(studio, line),
  text_changed: (studio) => check_soon(studio),
  breaks_moved: (studio) => {
    clearTimeout(studio.breaks_timer);
    studio.breaks_timer = setTimeout(() => { apply_breaks(studio); keep_breaks(studio); }, 100);
  },
  checked: () => {},
  say: (text) => show_messages(studio, [{ text }]),
};

// After main: the examples are in the project folder.
const started = () => {
  const select = element("example");
  for (const example of studio_core.examples()) {
    studio.examples.set(example.name, example.text);
    if (!example.name.endsWith(".asm")) {
      continue; // a file that the programs include
    }
    const option = document.createElement("option");
    option.value = option.textContent = example.name;
    select.appendChild(option);
  }
  studio.keys = studio_core.keys();
  studio.flags = studio_core.flags();
  studio.layout = studio_core.layout();
  canvas.setAttribute("aria-label", "The machine's screen: click it, then its keys are " +
                      studio.keys.map((key) => `${key.key} (${key.label})`).join(", "));
  studio.ready = true;
  apply_breaks(studio);
  check_soon(studio);
  document.body.dataset.state = "ready";
  show_status(studio);
  // Only now, when every call works: a script that waits for the object needs nothing else.
  globalThis.tavrin_studio = checks_interface(studio);
};

// A failure inside the module: said, and a fresh instance (the program must be assembled again).
const start_module = () => {
  const instance = tavrin_studio_module();
  studio_core.on_failure = (error) => {
    studio.program = null;
    studio.running = false;
    document.body.dataset.running = "no";
    studio.ready = false;
    show_messages(studio, [{ text: `${error.message}. The studio started its WebAssembly afresh: ` +
                                   "your files are kept; assemble again to go on." }]);
    start_module().then(() => { studio.ready = true; });
  };
  return instance;
};

// Offline: the play page's service worker keeps the studio's files too, once asked by a studio.
if ("serviceWorker" in navigator) {
  navigator.serviceWorker.register("service_worker.js").then(() => navigator.serviceWorker.ready)
    .then((registration) => registration.active.postMessage("keep the studio"))
    .catch(() => {}); // served without a worker (file://, a plain host): online only
}

const start = async () => {
  await load_files(first_program);
  studio.name = settings.open;
  studio.break_labels = new Set(settings.labels || []);
  studio.break_addresses = new Set(settings.addresses || []);
  studio.watches = settings.watches || [];
  create_editor(studio);
  follow_other_tabs(studio);
  install_controls(studio);
  draw_gutter(studio);
  await open_shared(studio);
  const module_script = document.createElement("script");
  module_script.src = "tavrin-studio.js";
  module_script.onload = () => start_module().then(started);
  document.body.appendChild(module_script);
};
start();
