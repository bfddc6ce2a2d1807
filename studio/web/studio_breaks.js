// Breakpoints and watches. A breakpoint belongs to a line of the editor's file (a dot in the
// gutter), turned into an address by the last assembly's line map, or to an address (a label or
// a number); the machine gets them all again whenever they change.

import { draw_gutter } from "./studio_editor.js";
import { element, hex } from "./studio_text.js";
import { symbol_at } from "./studio_views.js";

export const machine_on = () => studio_core.state() !== null;

export const apply_breaks = (studio) => {
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
  show_breaks(studio);
};

const show_breaks = (studio) => {
  const items = [...studio.break_lines].sort((a, b) => a - b).map((line) =>
    [`line ${line}` + (studio.address_of.has(line) ? ` (${hex(studio.address_of.get(line), 4)})`
                                                   : " (no code)"), () => toggle_line(studio, line)]);
  for (const address of studio.break_addresses) {
    const name = symbol_at(studio, address);
    items.push([`${hex(address, 4)}${name ? " " + name : ""}`,
                () => { studio.break_addresses.delete(address); apply_breaks(studio); }]);
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
    () => { studio.watches.splice(index, 1); apply_breaks(studio); }]));
};

// A click on a line number: the line's breakpoints go, or it gets one.
export const toggle_line = (studio, line) => {
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
    apply_breaks(studio);
  } else {
    show_breaks(studio);
  }
  draw_gutter(studio);
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

// A breakpoint: a line number of the editor's file, a symbol or an address; returns its address.
export const break_at = (studio, where) => {
  if (typeof where === "number" || /^\d+$/.test(String(where).trim())) {
    const line = Number(where);
    if (!studio.address_of.has(line)) {
      throw new RangeError(`break_at: line ${line} of ${studio.name} holds no code`);
    }
    studio.break_lines.add(line);
    apply_breaks(studio);
    draw_gutter(studio);
    return studio.address_of.get(line);
  }
  const address = parse_address(studio, String(where));
  if (address === undefined) {
    throw new RangeError(`break_at: "${where}" is neither a line, a symbol nor an address such as 1A2BH`);
  }
  studio.break_addresses.add(address);
  apply_breaks(studio);
  return address;
};

export const clear_breaks = (studio) => {
  studio.break_lines.clear();
  studio.break_addresses.clear();
  apply_breaks(studio);
  draw_gutter(studio);
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
  apply_breaks(studio);
  return true;
};
