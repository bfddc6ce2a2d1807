// Breakpoints and watches. A breakpoint belongs to a file and a line (a dot in the editor's
// gutter, which moves with the text), to a label (looked up again at every assembly) or to an
// address. The last assembly's line map turns a line into its addresses: a line of a macro's or
// a repetition's body has one for each expansion. The machine gets them all again whenever they
// change; they and the watches are kept with the files (studio_files.js).

import { assembled_line_of, break_lines, set_break_line, set_break_lines, state_of } from "./studio_editor.js";
import { files, save_settings, settings } from "./studio_files.js";
import { element, hex } from "./studio_text.js";
import { symbol_at } from "./studio_views.js";

export const machine_on = () => studio_core.state() !== null;

// The line maps of an assembly that worked: address -> {file, line}, and "file:line" ->
// [addresses], the body lines of macros and repetitions among them.
export const take_line_map = (studio, result) => {
  studio.line_of.clear();
  studio.address_of.clear();
  const add = (entry) => {
    const key = `${entry.file}:${entry.line}`;
    if (!studio.address_of.has(key)) {
      studio.address_of.set(key, []);
    }
    studio.address_of.get(key).push(entry.address);
  };
  for (const entry of result.lines) {
    studio.line_of.set(entry.address, { file: entry.file, line: entry.line });
    add(entry);
  }
  (result.body_lines || []).forEach(add);
};

// The addresses of a line of a file as the text stands now: none when it holds no code, or
// was typed after the last assembly.
export const addresses_of = (studio, file, line) => {
  const then = assembled_line_of(studio, file, line);
  return (then && studio.address_of.get(`${file}:${then}`)) || [];
};

// The breakpoints: [{file, line, address}] of the dots (address null when the line has no code
// in the last assembly), then [{label, address}] and [{address}].
export const all_breaks = (studio) => {
  const breaks = [];
  for (const file of [...files.keys()].sort()) {
    for (const line of break_lines(studio, file).sort((a, b) => a - b)) {
      const addresses = addresses_of(studio, file, line);
      breaks.push({ file, line, address: addresses.length ? addresses[0] : null });
    }
  }
  for (const label of studio.break_labels) {
    breaks.push({ label, address: studio.symbols.get(label.toUpperCase()) ?? null });
  }
  for (const address of studio.break_addresses) {
    breaks.push({ address });
  }
  return breaks;
};

export const apply_breaks = (studio) => {
  if (studio.ready && machine_on()) {
    studio_core.clear_breaks();
    for (const file of files.keys()) {
      for (const line of break_lines(studio, file)) {
        addresses_of(studio, file, line).forEach((address) => studio_core.set_break(address, true));
      }
    }
    for (const item of all_breaks(studio).filter((b) => !b.file && b.address !== null)) {
      studio_core.set_break(item.address, true);
    }
    studio_core.clear_watches();
    for (const watch of studio.watches) {
      studio_core.watch(watch.first, watch.length);
    }
  }
  show_breaks(studio);
};

// The breakpoints and watches as they stand are kept, a moment after their last change.
let keep_timer = 0;
export const keep_breaks_now = (studio) => {
  clearTimeout(keep_timer);
  settings.breaks = all_breaks(studio).filter((b) => b.file).map((b) => ({ file: b.file, line: b.line }));
  settings.labels = [...studio.break_labels];
  settings.addresses = [...studio.break_addresses];
  settings.watches = studio.watches;
  return save_settings();
};
export const keep_breaks = (studio) => {
  clearTimeout(keep_timer);
  keep_timer = setTimeout(() => keep_breaks_now(studio), 200);
};

const show_breaks = (studio) => {
  const items = all_breaks(studio).map((b) => {
    // (Before the first assembly no line has an address yet.)
    const at = b.address !== null ? ` (${hex(b.address, 4)})` : studio.program ? " (no code)" : "";
    if (b.file) {
      return [`${b.file}:${b.line}${at}`, () => toggle_line(studio, b.line, b.file)];
    }
    if (b.label) {
      return [`${b.label}${at}`, () => { studio.break_labels.delete(b.label); changed(studio); }];
    }
    const name = symbol_at(studio, b.address);
    return [`${hex(b.address, 4)}${name ? " " + name : ""}`,
            () => { studio.break_addresses.delete(b.address); changed(studio); }];
  });
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
    () => { studio.watches.splice(index, 1); changed(studio); }]));
};

const changed = (studio) => {
  apply_breaks(studio);
  keep_breaks(studio);
};

// The first line from `line` on that has code in the last assembly, or 0 (none, or no
// assembly yet); at most a screenful of lines on.
const code_line_from = (studio, file, line) => {
  const doc = state_of(studio, file).doc;
  for (let n = line; n <= Math.min(doc.lines, line + 200); ++n) {
    if (addresses_of(studio, file, n).length) {
      return n;
    }
  }
  return 0;
};

// A click on a line: its dot goes, or it gets one, on the line or else on the next line with
// code; a line with no code after it is refused. Returns the line of the dot, or 0.
export const toggle_line = (studio, line, file = studio.name) => {
  const dotted = break_lines(studio, file);
  if (dotted.includes(line)) {
    set_break_line(studio, file, line, false);
    changed(studio);
    return 0;
  }
  const target = studio.program ? code_line_from(studio, file, line) : line;
  if (!target) {
    studio.say(`No breakpoint on ${file}:${line}: no code from there on (assemble first if you ` +
               "have just typed it).");
    return 0;
  }
  if (!dotted.includes(target)) {
    set_break_line(studio, file, target, true);
  }
  changed(studio);
  return target;
};

// After an assembly: each dot on a line without code moves to the next line with code, or goes
// with a word; label breakpoints take their labels' new addresses.
export const settle_breaks = (studio) => {
  const gone = [];
  for (const file of files.keys()) {
    const lines = break_lines(studio, file);
    const settled = lines.map((line) => code_line_from(studio, file, line));
    lines.filter((line, i) => !settled[i]).forEach((line) => gone.push(`${file}:${line}`));
    if (settled.some((line, i) => line !== lines[i])) {
      set_break_lines(studio, file, settled.filter((line) => line));
    }
  }
  changed(studio);
  return gone;
};

// An address as a person writes it: a label, 1A2BH, 0x1A2B or $1A2B.
export const parse_address = (studio, text) => {
  const word = text.trim();
  const hex_form = /^(?:0x|\$)?([0-9a-f]{1,4})h?$/i.exec(word);
  if (/^[0-9][0-9a-f]{0,4}h$/i.test(word) || /^(0x|\$)/i.test(word)) {
    return hex_form ? parseInt(hex_form[1], 16) : undefined;
  }
  return studio.symbols.get(word.toUpperCase());
};

// A breakpoint: a line number of a file (the one in front unless given), a label or an
// address; returns its address.
export const break_at = (studio, where, file = studio.name) => {
  if (typeof where === "number" || /^\d+$/.test(String(where).trim())) {
    const line = Number(where);
    const addresses = addresses_of(studio, file, line);
    if (!addresses.length) {
      throw new RangeError(`break_at: line ${line} of ${file} holds no code`);
    }
    set_break_line(studio, file, line, true);
    changed(studio);
    return addresses[0];
  }
  const word = String(where).trim();
  const address = parse_address(studio, word);
  if (address === undefined) {
    throw new RangeError(`break_at: "${where}" is neither a line, a symbol nor an address such as 1A2BH`);
  }
  if (studio.symbols.has(word.toUpperCase())) {
    studio.break_labels.add(word);
  } else {
    studio.break_addresses.add(address);
  }
  changed(studio);
  return address;
};

export const clear_breaks = (studio) => {
  for (const file of files.keys()) {
    set_break_lines(studio, file, []);
  }
  studio.break_labels.clear();
  studio.break_addresses.clear();
  changed(studio);
};

// A watch from the form's text, "2000H" or "2000H:16"; false when the text is not one.
export const add_watch = (studio, text) => {
  const [where, length] = text.split(":");
  const first = parse_address(studio, where || "");
  const count = length === undefined ? 1 : Number(length);
  if (first === undefined || !(count >= 1 && count <= 65536)) {
    return false;
  }
  studio.watches.push({ first: first, length: count });
  changed(studio);
  return true;
};
