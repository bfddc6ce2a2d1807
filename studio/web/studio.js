// The studio's page: an editor with a line-number gutter, the machine's picture and the views
// that follow every stop, on top of studio_core (core.js, in tavrin-studio.js). This module
// makes the one object that holds the page's state and hands it to the others:
//
//     studio_editor.js     the text, its gutter and the author's files in localStorage
//     studio_machine.js    assembling, powering on, stepping and running
//     studio_breaks.js     breakpoints (by line, label or address) and watches
//     studio_views.js      the picture, the status, registers, disassembly, stack and memory
//     studio_panels.js     the call stack, watch expressions, the disassembly's and memory's clicks
//     studio_controls.js   keys, buttons and forms
//     studio_interface.js  tavrin_studio, the interface for automated checks
//
// The source is kept in localStorage and comes back on a reload. The WebAssembly module's
// script is loaded once Module is set, and shares the page's global names.

import { install_controls } from "./studio_controls.js";
import { draw_gutter, first_program, list_files, source, stored_files, stored_name } from "./studio_editor.js";
import { checks_interface } from "./studio_interface.js";
import { element } from "./studio_text.js";
import { canvas, show_status } from "./studio_views.js";

const studio = {
  ready: false,
  name: stored_name(),   // the editor's file in the project folder
  examples: new Map(),   // name -> text of the project's programs and the files they include
  keys: [],              // the machine's keys, [{key, label}]
  flags: [],             // the processor's flags in its flags byte, [{mask, short, name}]
  layout: null,          // the sizes and the memory map, studio_core.layout()
  program: null,         // the last assembly that worked: {rom, listing, symbol_file, ...}
  line_of: new Map(),    // address -> {file, line}, from the line map
  address_of: new Map(), // line of the editor's file -> first address
  symbols: new Map(),    // upper-case name -> value
  names: new Map(),      // value -> the name shown for it
  break_lines: new Set(),
  break_addresses: new Set(),
  watches: [],           // {first, length}
  error_lines: new Set(),
  current_line: 0,       // of the editor's file, where the machine stands
  running: false,
  run: null,             // the run under way, real-time or fast (studio_machine.js)
  previous: null,        // registers and RAM at the last stop, to mark what changed
  message: "",           // the status line's word on the last stop
  failure: null,         // an instruction that failed: {pc, text}, shown among the faults
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
  document.body.dataset.state = "ready";
  show_status(studio);
  // Only now, when every call works: a script that waits for the object needs nothing else.
  globalThis.tavrin_studio = checks_interface(studio);
};

install_controls(studio);
source.value = stored_files()[studio.name] ?? first_program;
list_files(studio);
draw_gutter(studio);

// Offline: the play page's service worker keeps the studio's files too, once asked by a studio.
if ("serviceWorker" in navigator) {
  navigator.serviceWorker.register("service_worker.js").then(() => navigator.serviceWorker.ready)
    .then((registration) => registration.active.postMessage("keep the studio"))
    .catch(() => {}); // served without a worker (file://, a plain host): online only
}

globalThis.Module = { postRun: [started] };
const module_script = document.createElement("script");
module_script.src = "tavrin-studio.js";
document.body.appendChild(module_script);
