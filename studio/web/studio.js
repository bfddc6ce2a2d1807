// The studio's page: an editor with a line-number gutter, the machine's picture and the views
// that follow every stop, on top of studio_core (core.js, in tavrin-studio.js).
//
// The source is kept in localStorage and comes back on a reload. Breakpoints belong to lines
// (a dot in the gutter) or to addresses; after each assembly the line map turns lines into
// addresses. The global object tavrin_studio is the interface for automated checks:
//
//     tavrin_studio.set_source(text);
//     tavrin_studio.assemble();                // {ok, errors: [{line, message}], rom (base64)}
//     tavrin_studio.break_at("draw");          // a line number, a symbol or "1A2BH"
//     tavrin_studio.continue_to_break(600);    // {stopped, pc, line}
//     tavrin_studio.registers();               // {pc, a, bc, de, hl, sp, flags}
// Everything but Module and tavrin_studio stays inside this function: the WebAssembly module's
// script shares the page's global names.
(() => {
"use strict";

const element = (id) => document.getElementById(id);
const files_key = "tavrin-studio.files"; // {name: text} of the author's files
const name_key = "tavrin-studio.name";   // the one in the editor
const machine_keys = "CQEADS";
const frame_seconds = 1 / 60;
const max_search_frames = 60 * 60; // how far step over and continue look: a minute of frames

const first_program = `; A first program: a bar across the screen. Assemble, then Run (F5).
        ORG 0
        LXI SP,2400H        ; the stack ends where video memory starts
        LXI H,2400H + 16    ; byte 16 of video line 0: the middle of the picture
        LXI D,32            ; the length of a line
        MVI B,224           ; the number of lines
draw:   MVI M,0FFH          ; eight lit pixels
        DAD D
        DCR B
        JNZ draw
done:   JMP done
`;

const studio = {
  ready: false,
  name: localStorage.getItem(name_key) || "main.asm", // the editor's file in the project folder
  program: null,         // the last assembly that worked: {rom, listing, symbols, lines}
  line_of: new Map(),    // address -> {file, line}, from the line map
  address_of: new Map(), // line of the editor's file -> first address
  symbols: new Map(),    // upper-case name -> value
  names: new Map(),      // value -> the name shown for it
  break_lines: new Set(),
  break_addresses: new Set(),
  watches: [],           // {first, length}
  error_lines: new Set(),
  running: false,
  last_time: 0,
  owed: 0,               // frames due in real time, not yet run
  previous: null,        // registers and RAM at the last stop, to mark what changed
  message: "",
};

// ---- Text helpers

const hex = (value, digits) => value.toString(16).toUpperCase().padStart(digits, "0");

const base64 = (bytes) => {
  let text = "";
  for (let i = 0; i < bytes.length; i += 8192) {
    text += String.fromCharCode.apply(null, bytes.subarray(i, i + 8192));
  }
  return btoa(text);
};

const download = (name, data, type) => {
  const link = document.createElement("a");
  link.href = URL.createObjectURL(new Blob([data], { type: type }));
  link.download = name;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
};

const base_name = () => studio.name.replace(/\.[^.]*$/, "");

// ---- The editor

const source = element("source");
const gutter = element("gutter");
const line_height = 18;

const line_count = () => source.value.split("\n").length;

// The gutter keeps a number per line; only the lines whose marks change are touched, so that a
// step in a long program stays quick.
const gutter_lines = [];
let gutter_marks = new Map(); // line -> its classes

const draw_gutter = () => {
  const count = line_count();
  while (gutter_lines.length < count) {
    const number = document.createElement("div");
    number.dataset.line = number.textContent = gutter_lines.length + 1;
    gutter.appendChild(number);
    gutter_lines.push(number);
  }
  while (gutter_lines.length > count) {
    gutter_lines.pop().remove();
  }
  const marks = new Map();
  const mark = (line, name) => {
    if (line >= 1 && line <= count) {
      marks.set(line, ((marks.get(line) || "") + " " + name).trim());
    }
  };
  studio.break_lines.forEach((line) => mark(line, "break"));
  for (const address of studio.break_addresses) {
    const place = studio.line_of.get(address);
    if (place && place.file === studio.name && !studio.break_lines.has(place.line)) {
      mark(place.line, "break");
    }
  }
  studio.error_lines.forEach((line) => mark(line, "error"));
  mark(studio.current_line, "current");
  for (const line of new Set([...gutter_marks.keys(), ...marks.keys()])) {
    if (line <= count) {
      gutter_lines[line - 1].className = marks.get(line) || "";
    }
  }
  gutter_marks = marks;
  gutter.scrollTop = source.scrollTop;
  const errors = element("error-lines");
  errors.innerHTML = "";
  for (const n of studio.error_lines) {
    const bar = document.createElement("div");
    bar.className = "error-line";
    bar.style.top = `${(n - 1) * line_height - source.scrollTop}px`;
    errors.appendChild(bar);
  }
  const current = element("current-line");
  current.hidden = !studio.current_line;
  current.style.top = `${((studio.current_line || 1) - 1) * line_height - source.scrollTop}px`;
};

const cursor_line = () => source.value.slice(0, source.selectionStart).split("\n").length;

const go_to_line = (n, focus) => {
  const lines = source.value.split("\n");
  const start = lines.slice(0, n - 1).reduce((sum, line) => sum + line.length + 1, 0);
  const top = (n - 1) * line_height;
  if (top < source.scrollTop || top > source.scrollTop + source.clientHeight - 2 * line_height) {
    source.scrollTop = Math.max(0, top - source.clientHeight / 3);
  }
  if (focus) {
    source.focus();
    source.setSelectionRange(start, start);
  }
  draw_gutter();
};

// The author's files, kept in the browser: the editor's and those opened before it, which
// INCLUDE finds beside it.
const stored_files = () => {
  try {
    return JSON.parse(localStorage.getItem(files_key)) || {};
  } catch {
    return {};
  }
};

const save_source = () => {
  const files = stored_files();
  files[studio.name] = source.value;
  localStorage.setItem(files_key, JSON.stringify(files));
  localStorage.setItem(name_key, studio.name);
};

const list_files = () => {
  const select = element("file");
  select.innerHTML = "";
  for (const name of [...new Set([...Object.keys(stored_files()), studio.name])].sort()) {
    const option = document.createElement("option");
    option.value = option.textContent = name;
    option.selected = name === studio.name;
    select.appendChild(option);
  }
};

// The editor takes `text` as the file `name` (the same file when none is given); the file it
// held stays among the author's files.
const set_source = (text, name) => {
  if (name && name !== studio.name) {
    save_source();
    studio.name = name;
  }
  source.value = text;
  studio.break_lines.clear();
  studio.error_lines.clear();
  studio.current_line = 0;
  save_source();
  list_files();
  draw_gutter();
};

// ---- Assembling

const parse_line_map = (text) => {
  studio.line_of.clear();
  studio.address_of.clear();
  for (const entry of text.split("\n")) {
    const match = /^([0-9A-F]{4}) (.*):(\d+)$/.exec(entry);
    if (!match) {
      continue;
    }
    const address = parseInt(match[1], 16);
    const file = match[2].replace(/^.*\//, "");
    const line = Number(match[3]);
    studio.line_of.set(address, { file: file, line: line });
    if (file === studio.name && !studio.address_of.has(line)) {
      studio.address_of.set(line, address);
    }
  }
};

// Every name for break_at; the labels (and RAM's EQU names) to name addresses in the views.
const parse_symbols = (text) => {
  studio.symbols.clear();
  studio.names.clear();
  for (const entry of text.split("\n")) {
    const match = /^([0-9A-F]{4}) (\S+)( EQU)?$/.exec(entry);
    if (match) {
      const value = parseInt(match[1], 16);
      studio.symbols.set(match[2].toUpperCase(), value);
      if (!match[3] && !studio.names.has(value)) {
        studio.names.set(value, match[2]);
      }
    }
  }
  for (const [name, value] of studio.symbols) {
    if (value >= 0x2000 && !studio.names.has(value)) {
      studio.names.set(value, name);
    }
  }
};

const show_messages = (items) => {
  const list = element("messages");
  list.innerHTML = "";
  for (const item of items) {
    const entry = document.createElement("li");
    entry.textContent = item.text;
    if (item.line) {
      entry.addEventListener("click", () => go_to_line(item.line, true));
    } else if (item.ok) {
      entry.className = "ok";
    }
    list.appendChild(entry);
  }
};

// Assembles the editor's text; when it assembles, powers the machine on with it.
const assemble = () => {
  save_source();
  for (const [name, text] of Object.entries(stored_files())) {
    studio_core.put_file(name, text);
  }
  const result = studio_core.assemble(studio.name);
  studio.error_lines.clear();
  for (const error of result.errors) {
    if (error.file === studio.name) {
      studio.error_lines.add(error.line);
    }
  }
  if (result.ok) {
    studio.program = result;
    parse_line_map(result.lines);
    parse_symbols(result.symbols);
    show_messages([{ ok: true, text: `${studio.name}: assembled, ${result.lines.split("\n").length - 1} ` +
                                    "addresses of code and data; the machine is powered on." }]);
    power_on();
  } else {
    show_messages(result.errors.map((error) => ({
      line: error.file === studio.name ? error.line : 0,
      text: error.line ? `${error.file}:${error.line}: ${error.message}` : error.message,
    })));
    if (studio.error_lines.size) {
      go_to_line(Math.min(...studio.error_lines), false);
    }
  }
  draw_gutter();
  return result;
};

// ---- The machine

const apply_breaks = () => {
  studio_core.clear_breaks();
  for (const line of studio.break_lines) {
    const address = studio.address_of.get(line);
    if (address !== undefined) {
      studio_core.set_break(address, true);
    }
  }
  for (const address of studio.break_addresses) {
    studio_core.set_break(address, true);
  }
  studio_core.clear_watches();
  for (const watch of studio.watches) {
    studio_core.watch(watch.first, watch.length);
  }
  show_breaks();
};

const power_on = () => {
  pause();
  if (!studio_core.reset()) {
    return false;
  }
  apply_breaks();
  studio.previous = null;
  studio.message = "powered on";
  show_stop();
  return true;
};

const machine_on = () => studio_core.state() !== null;

// An address as a person writes it: a label, 1A2BH, 0x1A2B or $1A2B.
const parse_address = (text) => {
  const word = text.trim();
  const hex_form = /^(?:0x|\$)?([0-9a-f]{1,4})h?$/i.exec(word);
  if (/^[0-9][0-9a-f]{0,4}h$/i.test(word) || /^(0x|\$)/i.test(word)) {
    return hex_form ? parseInt(hex_form[1], 16) : undefined;
  }
  return studio.symbols.get(word.toUpperCase());
};

// Where the program is at `address`: "demo.asm:45" or "".
const place_of = (address) => {
  const place = studio.line_of.get(address);
  return place ? `${place.file}:${place.line}` : "";
};

const stop_text = (stop) => {
  if (stop.error) {
    return `stopped: ${stop.error}`;
  }
  const at = (address) => {
    const place = place_of(address);
    return `${hex(address, 4)}${place ? " (" + place + ")" : ""}`;
  };
  return { breakpoint: `breakpoint at ${at(stop.address)}`,
           watch: `a store into ${hex(stop.address, 4)}`,
           limit: `no stop within ${max_search_frames} frames`, done: "" }[stop.reason];
};

// A stop that the machine made (a breakpoint, a watch, a fault) is said in the status, and
// ends a run; the caller shows the views once, so that what changed stays marked.
const after_stop = (stop) => {
  if (stop.error || stop.reason !== "done") {
    studio.message = stop_text(stop);
    end_run();
  }
  return stop;
};

// A move made while paused (`go` asks the machine for it), then every view.
const paused_move = (go) => {
  pause();
  if (!machine_on()) {
    return null;
  }
  studio.message = "";
  const stop = after_stop(go());
  show_stop();
  return stop;
};
const step = () => paused_move(() => studio_core.step());
const step_over = () => paused_move(() => studio_core.step_over(max_search_frames));
const next_frame = () => paused_move(() => studio_core.run_frames(1));

// Real time: each animation frame runs the frames that are due, stopping at breakpoints.
const run = () => {
  if (!machine_on() && !(studio.program && power_on())) {
    return;
  }
  studio.running = true;
  studio.message = "running";
  studio.last_time = performance.now();
  studio.owed = 0;
  document.body.dataset.running = "yes";
  requestAnimationFrame(animation_frame);
  show_status();
};

const end_run = () => {
  studio.running = false;
  document.body.dataset.running = "no";
};

const pause = () => {
  if (studio.running) {
    end_run();
    studio.message = "paused";
    show_stop();
  }
};

const animation_frame = (now) => {
  if (!studio.running) {
    return;
  }
  studio.owed = Math.min(studio.owed + (now - studio.last_time) / 1000 / frame_seconds, 15);
  studio.last_time = now;
  const frames = Math.floor(studio.owed);
  studio.owed -= frames;
  if (frames > 0) {
    const stop = studio_core.run_frames(frames);
    if (stop.error || stop.reason !== "done") {
      after_stop(stop);
      show_stop();
      return;
    }
  }
  draw_picture();
  show_status();
  requestAnimationFrame(animation_frame);
};

// ---- The views

// The canvas holds the picture's own 224 x 256 pixels; CSS shows it at twice that size with
// "pixelated" scaling, which repeats pixels and blends none.
const canvas = element("canvas");
const screen = canvas.getContext("2d", { alpha: false });
const picture_image = screen.createImageData(224, 256);

// Black until a program runs; drawing it now also sets the canvas up while the module loads.
for (let i = 3; i < picture_image.data.length; i += 4) {
  picture_image.data[i] = 255;
}
screen.putImageData(picture_image, 0, 0);

const draw_picture = () => {
  const picture = studio_core.picture();
  const pixels = picture_image.data;
  for (let i = 0; i < picture.length; ++i) {
    const value = picture[i];
    pixels[4 * i] = pixels[4 * i + 1] = pixels[4 * i + 2] = value;
    pixels[4 * i + 3] = 255;
  }
  screen.putImageData(picture_image, 0, 0);
};

const show_status = () => {
  const state = studio_core.state();
  if (!state) {
    element("status").textContent = studio.program ? "Powered off." : "Assemble a program to run it.";
    return;
  }
  const place = place_of(state.pc);
  element("status").textContent =
    `frame ${state.frames}, instruction ${state.instructions.toLocaleString("en")}; ` +
    `PC ${hex(state.pc, 4)}${place ? " " + place : ""}` +
    (studio.message ? ` — ${studio.message}` : "");
};

const register_names = [["pc", "PC", 4], ["a", "A", 2], ["bc", "BC", 4], ["de", "DE", 4],
                        ["hl", "HL", 4], ["sp", "SP", 4]];
const flag_names = [[0x01, "S", "sign"], [0x02, "Z", "zero"], [0x08, "AC", "aux carry"],
                    [0x20, "P", "parity"], [0x80, "CY", "carry"]];

const show_registers = (state, before) => {
  const changed = (name) => before && before[name] !== state[name] ? "changed" : "";
  element("registers").innerHTML = register_names.map(([name, label, digits]) =>
    `<tr><th>${label}</th><td class="${changed(name)}">${hex(state[name], digits)}</td>` +
    `<td class="label">${name !== "a" ? (symbol_at(state[name]) || "") : ""}</td></tr>`).join("") +
    `<tr><th>INTE</th><td class="${changed("interrupts_enabled")}">` +
    `${state.interrupts_enabled ? "enabled" : "disabled"}</td><td></td></tr>`;
  element("flags").innerHTML = flag_names.map(([mask, short, long]) => {
    const on = (state.flags & mask) !== 0;
    const moved = before && ((before.flags ^ state.flags) & mask) ? " changed" : "";
    return `<span class="${on ? "on" : "off"}${moved}" title="${short}">${long} ${on ? 1 : 0}</span>`;
  }).join("") + ` <span title="flags byte">F=${hex(state.flags, 2)}</span>`;
};

// The label of an address in the program or the name of one in RAM.
const symbol_at = (address) => studio.names.get(address) || "";


const show_disassembly = (state) => {
  // A few instructions before PC where the line map knows where they start.
  const starts = [...studio.line_of.keys()].filter((a) => a < state.pc && a > state.pc - 16);
  const from = starts.length ? starts[Math.max(0, starts.length - 4)] : state.pc;
  const lines = [];
  for (const instruction of studio_core.disassemble(from, 14)) {
    const name = studio.names.get(instruction.address);
    if (name) {
      lines.push(`<span class="label">${name}:</span>`);
    }
    const text = `${instruction.address === state.pc ? "▶" : " "} ${hex(instruction.address, 4)}  ` +
                 `${instruction.bytes.padEnd(9)} ${instruction.text.padEnd(18)} ` +
                 place_of(instruction.address);
    lines.push(instruction.address === state.pc ? `<span class="here">${escape_html(text)}</span>`
                                                : escape_html(text));
  }
  element("disassembly").innerHTML = lines.join("\n");
};

const escape_html = (text) => text.replace(/[&<>]/g, (c) => ({ "&": "&amp;", "<": "&lt;", ">": "&gt;" })[c]);

// Eight words from SP, or fewer where a stack in working RAM meets video memory.
const show_stack = (state, memory) => {
  const lines = [];
  for (let i = 0; i < 8; ++i) {
    const address = (state.sp + 2 * i) & 0xffff;
    if (state.sp <= 0x2400 && address >= 0x2400) {
      break;
    }
    const word = memory[address] | memory[(address + 1) & 0xffff] << 8;
    const name = symbol_at(word);
    const place = place_of(word);
    lines.push(`${hex(address, 4)}: ${hex(word, 4)}${name ? " " + name : ""}${place ? "  " + place : ""}`);
  }
  element("stack").textContent = lines.join("\n");
};

// RAM, a row of 16 bytes a line; a row is written again only when its text changes.
const memory_rows = [];
const memory_html = [];
const show_memory = (memory, before) => {
  const view = element("memory");
  for (let row = 0x2000, index = 0; row < 0x4000; row += 16, ++index) {
    let bytes = "";
    let text = "";
    for (let i = 0; i < 16; ++i) {
      const value = memory[row + i];
      const cell = hex(value, 2);
      bytes += (before && before[row - 0x2000 + i] !== value) ? `<span class="changed">${cell}</span> `
                                                               : `${cell} `;
      text += value >= 0x20 && value < 0x7f ? escape_html(String.fromCharCode(value)) : ".";
    }
    const address = row >= 0x2400 ? `<span class="video">${hex(row, 4)}</span>` : hex(row, 4);
    const html = `${address}: ${bytes} ${text}`;
    if (!memory_rows[index]) {
      memory_rows[index] = document.createElement("div");
      view.appendChild(memory_rows[index]);
    }
    if (memory_html[index] !== html) {
      memory_html[index] = html;
      memory_rows[index].innerHTML = html;
    }
  }
};

// The lines around PC when they are in a file that the editor's file includes.
const show_included = (place) => {
  const view = element("included");
  const text = place && place.file !== studio.name ? studio.examples.get(place.file) : undefined;
  view.hidden = text === undefined;
  if (view.hidden) {
    return;
  }
  const lines = text.split("\n");
  const first = Math.max(1, place.line - 3);
  const shown = [`${place.file}:`];
  for (let n = first; n <= Math.min(lines.length, place.line + 3); ++n) {
    const line = escape_html(`${String(n).padStart(5)}  ${lines[n - 1]}`);
    shown.push(n === place.line ? `<span class="here">${line}</span>` : line);
  }
  view.innerHTML = shown.join("\n");
};

// Every view, after a stop: what changed since the last stop is marked.
const show_stop = () => {
  const state = studio_core.state();
  show_status();
  if (!state) {
    return;
  }
  const memory = studio_core.memory();
  const before = studio.previous;
  draw_picture();
  show_registers(state, before && before.state);
  show_disassembly(state);
  show_stack(state, memory);
  show_memory(memory, before && before.ram);
  const place = studio.line_of.get(state.pc);
  studio.current_line = place && place.file === studio.name ? place.line : 0;
  show_included(place);
  if (studio.current_line && !studio.running) {
    go_to_line(studio.current_line, false);
  }
  draw_gutter();
  studio.previous = { state: state, ram: memory.slice(0x2000, 0x4000) };
};

const show_breaks = () => {
  const items = [...studio.break_lines].sort((a, b) => a - b).map((line) =>
    [`line ${line}` + (studio.address_of.has(line) ? ` (${hex(studio.address_of.get(line), 4)})`
                                                   : " (no code)"), () => toggle_line(line)]);
  for (const address of studio.break_addresses) {
    items.push([`${hex(address, 4)}${symbol_at(address) ? " " + symbol_at(address) : ""}`,
                () => { studio.break_addresses.delete(address); apply_breaks(); }]);
  }
  const fill = (list, entries) => {
    list.innerHTML = "";
    for (const [text, remove] of entries) {
      const item = document.createElement("li");
      const button = document.createElement("button");
      button.type = "button";
      button.textContent = "×";
      button.title = "Remove";
      button.addEventListener("click", remove);
      item.append(`${text} `, button);
      list.appendChild(item);
    }
  };
  fill(element("breaks"), items);
  fill(element("watches"), studio.watches.map((watch, index) => [
    `${hex(watch.first, 4)}` + (watch.length > 1 ? `-${hex((watch.first + watch.length - 1) & 0xffff, 4)}` : ""),
    () => { studio.watches.splice(index, 1); apply_breaks(); }]));
};

// A click on a line number: the line's breakpoints go, or it gets one.
const toggle_line = (line) => {
  const on_line = [...studio.break_addresses].filter((address) => {
    const place = studio.line_of.get(address);
    return place && place.file === studio.name && place.line === line;
  });
  if (studio.break_lines.has(line) || on_line.length) {
    studio.break_lines.delete(line);
    on_line.forEach((address) => studio.break_addresses.delete(address));
  } else {
    studio.break_lines.add(line);
  }
  if (machine_on()) {
    apply_breaks();
  } else {
    show_breaks();
  }
  draw_gutter();
};

// A breakpoint: a line number of the editor's file, a symbol or an address; returns its address.
const break_at = (where) => {
  if (typeof where === "number" || /^\d+$/.test(String(where).trim())) {
    const line = Number(where);
    if (!studio.address_of.has(line)) {
      throw new RangeError(`break_at: line ${line} of ${studio.name} holds no code`);
    }
    studio.break_lines.add(line);
    apply_breaks();
    draw_gutter();
    return studio.address_of.get(line);
  }
  const address = parse_address(String(where));
  if (address === undefined) {
    throw new RangeError(`break_at: "${where}" is neither a line, a symbol nor an address such as 1A2BH`);
  }
  studio.break_addresses.add(address);
  apply_breaks();
  return address;
};

// ---- Keys and controls

const key_of_code = (code) => /^Key[CQEADS]$/.test(code) ? code[3] : null;

canvas.addEventListener("keydown", (event) => {
  const key = key_of_code(event.code);
  if (key && !event.repeat && !event.ctrlKey && !event.altKey && !event.metaKey) {
    studio_core.key(key, true);
    event.preventDefault();
  }
});
canvas.addEventListener("keyup", (event) => {
  const key = key_of_code(event.code);
  if (key) {
    studio_core.key(key, false);
    event.preventDefault();
  }
});
// A key held while the picture loses the focus would stay held: release them all.
canvas.addEventListener("blur", () => {
  if (machine_on()) {
    for (const key of machine_keys) {
      studio_core.key(key, false);
    }
  }
});
canvas.addEventListener("mousedown", () => canvas.focus());

// The debugger's keys, as IDEs have them, wherever the focus is.
document.addEventListener("keydown", (event) => {
  if (!studio.ready) {
    return;
  }
  const action = {
    F5: () => (event.shiftKey ? pause() : run()),
    F9: () => toggle_line(cursor_line()),
    F10: step_over,
    F11: step,
  }[event.key];
  if (action) {
    event.preventDefault();
    action();
  } else if (event.key === "b" && (event.ctrlKey || event.metaKey)) {
    event.preventDefault();
    assemble();
  }
});

source.addEventListener("input", () => {
  save_source();
  draw_gutter();
});
source.addEventListener("scroll", draw_gutter);
source.addEventListener("keydown", (event) => {
  if (event.key === "Tab" && !event.ctrlKey && !event.altKey) {
    event.preventDefault();
    source.setRangeText("\t", source.selectionStart, source.selectionEnd, "end");
    save_source();
  }
});
gutter.addEventListener("click", (event) => {
  const line = Number(event.target.dataset.line);
  if (line) {
    toggle_line(line);
  }
});

const open_text_file = (input, use) => {
  input.addEventListener("change", () => {
    const file = input.files[0];
    if (file) {
      file.text().then((text) => use(text, file.name));
    }
    input.value = "";
  });
};

const replay = (script) => {
  if (!(studio.program && power_on())) {
    return "Assemble a program first: there is no ROM yet.";
  }
  const problem = studio_core.replay(script);
  if (problem) {
    show_messages([{ text: problem }]);
  }
  return problem;
};

element("assemble").addEventListener("click", assemble);
element("run").addEventListener("click", run);
element("pause").addEventListener("click", pause);
element("reset").addEventListener("click", () => studio.program && power_on());
element("step").addEventListener("click", step);
element("step-over").addEventListener("click", step_over);
element("frame").addEventListener("click", next_frame);
element("open").addEventListener("click", () => element("open-file").click());
open_text_file(element("open-file"), (text, name) => set_source(text, name.replace(/[\/\\]/g, "_")));
element("replay").addEventListener("click", () => element("replay-file").click());
open_text_file(element("replay-file"), (text) => {
  if (!replay(text)) {
    run();
  }
});
element("file").addEventListener("change", (event) => {
  set_source(stored_files()[event.target.value] ?? "", event.target.value);
});
element("example").addEventListener("change", (event) => {
  const name = event.target.value;
  if (name) {
    set_source(studio.examples.get(name), name);
    event.target.value = "";
  }
});
element("download-rom").addEventListener("click", () =>
  studio.program && download(`${base_name()}.bin`, studio.program.rom, "application/octet-stream"));
element("download-listing").addEventListener("click", () =>
  studio.program && download(`${base_name()}.lst`, studio.program.listing, "text/plain"));
element("download-symbols").addEventListener("click", () =>
  studio.program && download(`${base_name()}.sym`, studio.program.symbols, "text/plain"));
element("download-keys").addEventListener("click", () =>
  machine_on() && download(`${base_name()}.keys`, studio_core.recording(), "text/plain"));
element("break-form").addEventListener("submit", (event) => {
  event.preventDefault();
  try {
    break_at(element("break-at").value);
    element("break-at").value = "";
  } catch (error) {
    show_messages([{ text: error.message }]);
  }
});
element("watch-form").addEventListener("submit", (event) => {
  event.preventDefault();
  const [where, length] = element("watch-at").value.split(":");
  const first = parse_address(where || "");
  const count = length === undefined ? 1 : Number(length);
  if (first === undefined || !(count >= 1 && count <= 65536)) {
    show_messages([{ text: "A watch is an address or a label, then :LENGTH if more than one byte." }]);
    return;
  }
  studio.watches.push({ first: first, length: count });
  element("watch-at").value = "";
  apply_breaks();
});

// ---- The interface for automated checks

globalThis.tavrin_studio = {
  set_source: (text) => set_source(String(text)),
  assemble: () => {
    const result = assemble();
    return { ok: result.ok, errors: result.errors.map((e) => ({ line: e.line, message: e.message })),
             rom: result.ok ? base64(result.rom) : null };
  },
  reset: () => { if (!power_on()) throw new Error("reset: assemble a program first"); },
  run_frames: (n) => {
    if (!Number.isInteger(n) || n < 0) {
      throw new RangeError("run_frames: n must be a whole number of frames, 0 or more");
    }
    const stop = paused_move(() => studio_core.run_frames(n));
    return stop !== null && !stop.error;
  },
  step: () => { step(); },
  step_over: () => { step_over(); },
  registers: () => {
    const state = studio_core.state();
    return state && { pc: state.pc, a: state.a, bc: state.bc, de: state.de, hl: state.hl,
                      sp: state.sp, flags: state.flags };
  },
  break_at: break_at,
  clear_breaks: () => {
    studio.break_lines.clear();
    studio.break_addresses.clear();
    apply_breaks();
    draw_gutter();
  },
  continue_to_break: (max_frames) => {
    const stop = paused_move(() => studio_core.run_frames(max_frames));
    if (stop === null) {
      throw new Error("continue_to_break: assemble a program first");
    }
    const state = studio_core.state();
    const place = studio.line_of.get(state.pc);
    return { stopped: stop.reason === "breakpoint" || stop.reason === "watch", pc: state.pc,
             line: place && place.file === studio.name ? place.line : null };
  },
  key: (name, down) => {
    if (typeof name !== "string" || name.length !== 1 || machine_keys.indexOf(name) < 0) {
      throw new RangeError("key: name must be one of C, Q, E, A, D, S");
    }
    studio_core.key(name, down);
  },
  picture: () => base64(studio_core.picture()),
  // Beyond the contract, for the checks of sessions.
  recording: () => studio_core.recording(),
  replay: replay,
};

// ---- Start

globalThis.Module = {
  // After main: the examples are in the project folder.
  postRun: [() => {
    studio.examples = new Map();
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
    studio.ready = true;
    document.body.dataset.state = "ready";
    show_status();
  }],
};

source.value = stored_files()[studio.name] ?? first_program;
list_files();
draw_gutter();
})();
