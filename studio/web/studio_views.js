// The views that follow every stop: the machine's picture, the status line and the timeline, the
// registers and flags, the disassembly around PC, the stack, memory from any address with its
// names, the lines of an included file, and the panels (studio_panels.js). What changed since
// the last stop is marked. Who wrote a byte is said beside the picture.

import { show_place } from "./studio_editor.js";
import { show_panels } from "./studio_panels.js";
import { element, escape_html, hex } from "./studio_text.js";

// Where the program is at `address`: "demo.asm:45" or "".
export const place_of = (studio, address) => {
  const place = studio.line_of.get(address);
  return place ? `${place.file}:${place.line}` : "";
};

// The label of an address in the program or the name of one in RAM.
export const symbol_at = (studio, address) => studio.names.get(address) || "";

// The canvas holds the picture's own pixels (224 x 256); CSS shows it at a whole scale with
// "pixelated" scaling, which repeats pixels and blends none, and it is moved by less than a pixel
// onto whole device pixels wherever the layout puts it, so that each machine pixel is the same
// square.
export const canvas = element("canvas");
const snap_canvas = () => {
  canvas.style.translate = "";
  const box = canvas.getBoundingClientRect();
  const ratio = devicePixelRatio;
  canvas.style.translate = `${Math.round(box.x * ratio) / ratio - box.x}px ` +
                           `${Math.round(box.y * ratio) / ratio - box.y}px`;
};
new ResizeObserver(snap_canvas).observe(document.body);
addEventListener("resize", snap_canvas);
const screen = canvas.getContext("2d", { alpha: false });
const picture_image = screen.createImageData(canvas.width, canvas.height);

// Black until a program runs; drawing it now also sets the canvas up while the module loads.
for (let i = 3; i < picture_image.data.length; i += 4) {
  picture_image.data[i] = 255;
}
screen.putImageData(picture_image, 0, 0);

export const draw_picture = () => {
  const picture = studio_core.picture();
  const pixels = picture_image.data;
  for (let i = 0; i < picture.length; ++i) {
    const value = picture[i];
    pixels[4 * i] = pixels[4 * i + 1] = pixels[4 * i + 2] = value;
    pixels[4 * i + 3] = 255;
  }
  screen.putImageData(picture_image, 0, 0);
};

// The timeline: the frames that the history holds, the machine's among them.
const show_timeline = (state) => {
  const timeline = element("timeline");
  const history = studio_core.history();
  timeline.disabled = !history;
  if (history) {
    timeline.min = history.earliest_frame;
    timeline.max = history.latest_frame;
    timeline.value = state.frames;
    element("timeline-frames").textContent = `frames ${history.earliest_frame}–${history.latest_frame}`;
  }
};

export const show_status = (studio) => {
  const state = studio_core.state();
  show_timeline(state || { frames: 0 });
  if (!state) {
    element("status").textContent = (studio.program ? "Powered off." : "Assemble a program to run it.") +
      (studio.message ? ` — ${studio.message}` : "");
    return;
  }
  const place = place_of(studio, state.pc);
  element("status").textContent =
    `frame ${state.frames}, instruction ${state.instructions.toLocaleString("en")}; ` +
    `PC ${hex(state.pc, 4)}${place ? " " + place : ""}` +
    (studio.message ? ` — ${studio.message}` : "");
};

const register_names = [["pc", "PC", 4], ["a", "A", 2], ["bc", "BC", 4], ["de", "DE", 4],
                        ["hl", "HL", 4], ["sp", "SP", 4]];

const show_registers = (studio, state, before) => {
  const changed = (name) => before && before[name] !== state[name] ? "changed" : "";
  element("registers").innerHTML = register_names.map(([name, label, digits]) =>
    `<tr><th>${label}</th><td class="${changed(name)}">${hex(state[name], digits)}</td>` +
    `<td class="label">${name !== "a" ? symbol_at(studio, state[name]) : ""}</td></tr>`).join("") +
    `<tr><th>INTE</th><td class="${changed("interrupts_enabled")}">` +
    `${state.interrupts_enabled ? "enabled" : "disabled"}</td><td></td></tr>`;
  element("flags").innerHTML = studio.flags.map((flag) => {
    const on = (state.flags & flag.mask) !== 0;
    const moved = before && ((before.flags ^ state.flags) & flag.mask) ? " changed" : "";
    return `<span class="${on ? "on" : "off"}${moved}" title="${flag.short}">${flag.name} ${on ? 1 : 0}</span>`;
  }).join("") + ` <span title="flags byte">F=${hex(state.flags, 2)}</span>`;
};

const show_disassembly = (studio, state) => {
  // A few instructions before PC where the line map knows where they start.
  const starts = [...studio.line_of.keys()].filter((a) => a < state.pc && a > state.pc - 16);
  const from = starts.length ? starts[Math.max(0, starts.length - 4)] : state.pc;
  const lines = [];
  for (const instruction of studio_core.disassemble(from, 14)) {
    const address = instruction.address;
    const name = studio.names.get(address);
    if (name) {
      lines.push(`<span class="label">${name}:</span>`);
    }
    const text = `${address === state.pc ? "▶" : " "} ${hex(address, 4)}  ` +
                 `${instruction.bytes.padEnd(9)} ${instruction.text.padEnd(18)} ` +
                 place_of(studio, address);
    const dot = `<i class="dot${studio.break_addresses.has(address) ? " on" : ""}" ` +
                'title="Breakpoint here">●</i>';
    lines.push(`<span data-address="${address}" class="${address === state.pc ? "here" : ""}" ` +
               `title="Click: its source line">${dot}${escape_html(text)}</span>`);
  }
  element("disassembly").innerHTML = lines.join("\n");
};

// Eight words from SP, or fewer where a stack in working RAM meets video memory.
const show_stack = (studio, state, memory) => {
  const lines = [];
  for (let i = 0; i < 8; ++i) {
    const address = (state.sp + 2 * i) & 0xffff;
    if (state.sp <= studio.layout.video_start && address >= studio.layout.video_start) {
      break;
    }
    const word = memory[address] | memory[(address + 1) & 0xffff] << 8;
    const name = symbol_at(studio, word);
    const place = place_of(studio, word);
    lines.push(`${hex(address, 4)}: ${hex(word, 4)}${name ? " " + name : ""}${place ? "  " + place : ""}`);
  }
  element("stack").textContent = lines.join("\n");
};

// Memory from `studio.memory_start` (RAM's start until the go-to moves it), a row of 16 bytes
// a line with the names of the row's addresses after it; a row is written again only when its
// text changes.
const memory_rows = [];
const memory_html = [];
const memory_row_count = 64;
const show_memory = (studio, memory, before) => {
  const { video_start, ram_start } = studio.layout;
  const start = studio.memory_start ?? ram_start;
  const view = element("memory");
  for (let index = 0; index < memory_row_count; ++index) {
    const row = (start + 16 * index) & 0xffff;
    let bytes = "";
    let text = "";
    const names = [];
    for (let i = 0; i < 16; ++i) {
      const at = (row + i) & 0xffff;
      const value = memory[at];
      const name = studio.names.get(at);
      const kind = [before && before[at] !== value ? "changed" : "", name ? "named" : "",
                    at === studio.memory_mark ? "mark" : ""].filter(Boolean).join(" ");
      bytes += `<i${kind ? ` class="${kind}"` : ""}${name ? ` title="${escape_html(name)}"` : ""}>` +
               `${hex(value, 2)}</i> `;
      text += value >= 0x20 && value < 0x7f ? escape_html(String.fromCharCode(value)) : ".";
      if (name) {
        names.push(`${hex(i, 1)}:${name}`);
      }
    }
    const address = row >= video_start ? `<span class="video">${hex(row, 4)}</span>` : hex(row, 4);
    const html = `${address}: ${bytes} ${text}${names.length ? ` <span class="label">${escape_html(names.join(" "))}</span>` : ""}`;
    if (!memory_rows[index]) {
      memory_rows[index] = document.createElement("div");
      memory_rows[index].dataset.row = row;
      view.appendChild(memory_rows[index]);
    }
    memory_rows[index].dataset.row = row;
    if (memory_html[index] !== html) {
      memory_html[index] = html;
      memory_rows[index].innerHTML = html;
    }
  }
};

// The lines around PC when they are in a file that the editor's file includes.
const show_included = (studio, place) => {
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
export const show_stop = (studio) => {
  const state = studio_core.state();
  show_status(studio);
  if (!state) {
    return;
  }
  const memory = studio_core.memory();
  const before = studio.previous;
  draw_picture();
  show_registers(studio, state, before && before.state);
  show_disassembly(studio, state);
  show_stack(studio, state, memory);
  show_memory(studio, memory, before && before.memory);
  show_panels(studio);
  const place = studio.line_of.get(state.pc);
  show_place(studio, place, !studio.running);
  show_included(studio, place);
  studio.previous = { state: state, memory: memory.slice() };
};

// The byte of the memory view under a click, or null.
export const memory_address_at = (target) => {
  if (target.tagName !== "I" || !target.parentElement.dataset.row) {
    return null;
  }
  const cells = [...target.parentElement.querySelectorAll("i")];
  return Number(target.parentElement.dataset.row) + cells.indexOf(target);
};

// Who wrote a byte: its last writer with a button to go to that moment, or that none did.
export const show_writer = (studio, address, writer, what) => {
  const view = element("who-wrote");
  view.hidden = false;
  const byte = `${hex(address, 4)}${what ? " (" + what + ")" : ""}`;
  if (!writer) {
    view.textContent = `${byte}: no store into it in the history.`;
    return;
  }
  const place = writer.file ? ` ${writer.file}:${writer.line}` : "";
  const name = symbol_at(studio, writer.pc);
  view.innerHTML = escape_html(`${byte}: written by ${writer.interrupt ? "the interrupt at " : ""}` +
    `PC ${hex(writer.pc, 4)}${name ? " " + name : ""}${place} in frame ${writer.frame}, ` +
    `instruction ${writer.instruction.toLocaleString("en")} `) +
    '<button id="go-to-writer" type="button">Go there</button>';
};
