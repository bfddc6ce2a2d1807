// The editor: the source in a text area with a line-number gutter that shows breakpoints, error
// lines and the line about to run; the author's files kept in localStorage; the messages list.

import { element } from "./studio_text.js";

const files_key = "tavrin-studio.files"; // {name: text} of the author's files
const name_key = "tavrin-studio.name";   // the one in the editor

export const first_program = `; A first program: a bar across the screen. Assemble, then Run (F5).
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

export const source = element("source");
const gutter = element("gutter");
const line_height = 18;

const line_count = () => source.value.split("\n").length;

// The gutter keeps a number per line; only the lines whose marks change are touched, so that a
// step in a long program stays quick.
const gutter_lines = [];
let gutter_marks = new Map(); // line -> its classes

export const draw_gutter = (studio) => {
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

export const cursor_line = () => source.value.slice(0, source.selectionStart).split("\n").length;

export const go_to_line = (studio, n, focus) => {
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
  draw_gutter(studio);
};

// The author's files, kept in the browser: the editor's and those opened before it, which
// INCLUDE finds beside it.
export const stored_files = () => {
  try {
    return JSON.parse(localStorage.getItem(files_key)) || {};
  } catch {
    return {};
  }
};

// The name of the file that was in the editor when the page was last left.
export const stored_name = () => localStorage.getItem(name_key) || "main.asm";

export const save_source = (studio) => {
  const files = stored_files();
  files[studio.name] = source.value;
  localStorage.setItem(files_key, JSON.stringify(files));
  localStorage.setItem(name_key, studio.name);
};

export const list_files = (studio) => {
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
export const set_source = (studio, text, name) => {
  if (name && name !== studio.name) {
    save_source(studio);
    studio.name = name;
  }
  source.value = text;
  studio.break_lines.clear();
  studio.error_lines.clear();
  studio.current_line = 0;
  save_source(studio);
  list_files(studio);
  draw_gutter(studio);
};

// Items {text, line (a click goes to it), ok}.
export const show_messages = (studio, items) => {
  const list = element("messages");
  list.innerHTML = "";
  for (const item of items) {
    const entry = document.createElement("li");
    entry.textContent = item.text;
    if (item.line) {
      entry.addEventListener("click", () => go_to_line(studio, item.line, true));
    } else if (item.ok) {
      entry.className = "ok";
    }
    list.appendChild(entry);
  }
};
