// The editor: CodeMirror with the 8080 mode, one state per file of the project (each keeps its
// own undo history and dots), the files' tabs, the marks of the machine's line and of errors,
// diagnostics as the author types (studio_check.js), and the messages list. The files are kept
// by studio_files.js; a file's text is saved a moment after each change.

import { assembly_8080, assembly_colours } from "./studio_asm_mode.js";
import { EditorSelection, EditorState, EditorView, defaultKeymap, drawSelection, highlightActiveLine,
         highlightSelectionMatches, highlightSpecialChars, history, historyKeymap, indentWithTab,
         keymap, searchKeymap, setDiagnostics } from "./studio_codemirror.js";
import { files, free_name, keep_unsaved, save_file, save_settings, settings } from "./studio_files.js";
import { assembled_line, dot_lines, line_gutters, line_now, note_changes, set_dot,
         set_dots, set_marks } from "./studio_marks.js";
import { element } from "./studio_text.js";

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

export const states = new Map(); // file name -> EditorState
export let view = null;
const save_delay = 300; // ms after the last change
const pending = new Map(); // file name -> its save's timer

const extensions = (studio) => [
  line_gutters((target, line) => studio.toggle_line(studio, line)),
  history(), drawSelection(), highlightSpecialChars(), highlightActiveLine(),
  highlightSelectionMatches(), assembly_8080, assembly_colours, EditorState.tabSize.of(8),
  keymap.of([indentWithTab, ...defaultKeymap, ...historyKeymap, ...searchKeymap]),
  EditorView.updateListener.of((update) => {
    if (update.docChanged) {
      changed(studio, studio.name, update.changes);
    }
    if (update.docChanged || update.transactions.some((t) => t.effects.some((e) => e.is(set_dot)))) {
      studio.breaks_moved(studio);
    }
  }),
];

export const state_of = (studio, name) => {
  if (name === studio.name && view) {
    return view.state;
  }
  if (!states.has(name)) {
    const lines = settings.breaks.filter((b) => b.file === name).map((b) => b.line);
    const state = EditorState.create({ doc: files.get(name)?.text ?? "", extensions: extensions(studio) });
    states.set(name, state.update({ effects: set_dots.of({ lines }) }).state);
  }
  return states.get(name);
};

// A change of a file's state that is not in the editor (another tab's save, the checks).
const update_state = (studio, name, spec) => {
  if (name === studio.name) {
    view.dispatch(spec);
    return;
  }
  const transaction = state_of(studio, name).update(spec);
  states.set(name, transaction.state);
  if (transaction.docChanged) {
    changed(studio, name, transaction.changes);
  }
};

const changed = (studio, name, changes) => {
  note_changes(name, changes);
  clearTimeout(pending.get(name));
  pending.set(name, setTimeout(() => save_now(studio, name), save_delay));
  studio.text_changed(studio);
};

// Saves a file at once. When another tab saved a newer version meanwhile, this tab's text is
// kept as a new file and the newer one comes into the editor: nothing is written over.
export const save_now = async (studio, name) => {
  clearTimeout(pending.get(name));
  pending.delete(name);
  if (!states.has(name) && name !== studio.name) {
    return;
  }
  const text = state_of(studio, name).doc.toString();
  if (files.has(name) && files.get(name).text === text) {
    return;
  }
  if (!(await save_file(name, text))) {
    await keep_as_copy(studio, name, text);
  }
};

// This tab's text of a file that another tab saved a newer version of: kept as a new file,
// said, and the newer text comes into the editor.
const keep_as_copy = async (studio, name, text) => {
  const copy = free_name(name.replace(/(\.[^.]*)?$/, " (this tab)$1"));
  await save_file(copy, text);
  show_messages(studio, [{ text: `${name} was changed in another tab meanwhile: that text is in ` +
                                 `${name}, yours in ${copy}.` }]);
  take_text(studio, name);
  list_files(studio);
};

// Another tab saved `name`: its text comes in, unless this tab has changes of its own not yet
// saved, which are then kept as a copy.
export const take_other_tab = (studio, name) => {
  if (pending.has(name)) {
    clearTimeout(pending.get(name));
    pending.delete(name);
    keep_as_copy(studio, name, state_of(studio, name).doc.toString());
  } else {
    take_text(studio, name);
  }
};

export const save_source = (studio) => Promise.all([...pending.keys()].map((name) => save_now(studio, name)));

// `text` comes into a file's state as the change between them, so that the dots and the undo
// history stay with the lines that did not change.
const replace_text = (studio, name, text) => {
  const state = state_of(studio, name);
  const old_text = state.doc.toString();
  if (old_text === text) {
    return;
  }
  let start = 0;
  const shorter = Math.min(old_text.length, text.length);
  while (start < shorter && old_text[start] === text[start]) {
    ++start;
  }
  let end = 0;
  while (end < shorter - start && old_text[old_text.length - 1 - end] === text[text.length - 1 - end]) {
    ++end;
  }
  update_state(studio, name, { changes: { from: start, to: old_text.length - end,
                                          insert: text.slice(start, text.length - end) } });
};

// The file's stored text, which needs no saving.
export const take_text = (studio, name) => {
  replace_text(studio, name, files.get(name)?.text ?? "");
  clearTimeout(pending.get(name));
  pending.delete(name);
};

export const create_editor = (studio) => {
  view = new EditorView({ state: state_of(studio, studio.name), parent: element("editor") });
  list_files(studio);
  addEventListener("pagehide", () => {
    const texts = {};
    for (const name of pending.keys()) {
      texts[name] = state_of(studio, name).doc.toString();
    }
    keep_unsaved(texts);
  });
};

// The file `name` in front; its state is kept for when it comes back.
export const open_file = (studio, name) => {
  if (!files.has(name)) {
    throw new RangeError(`open_file: there is no file ${name}`);
  }
  if (name !== studio.name) {
    const state = state_of(studio, name);
    states.set(studio.name, view.state);
    studio.name = settings.open = name;
    view.setState(state);
    states.delete(name);
    save_settings();
  }
  draw_gutter(studio);
  list_files(studio);
};

// The project's texts, {name: text}, as the editor holds them now.
export const project_files = (studio) => {
  const texts = {};
  for (const name of files.keys()) {
    texts[name] = name === studio.name || states.has(name) ? state_of(studio, name).doc.toString()
                                                            : files.get(name).text;
  }
  return texts;
};

// The file `name` (the one in front when none is given) holds `text`, and comes to the front.
export const set_source = (studio, text, name = studio.name) => {
  write_text(studio, name, text);
  open_file(studio, name);
  return save_now(studio, name);
};

// The file `name` (made when missing) holds `text` at once; it is saved a moment later.
export const write_text = (studio, name, text) => {
  if (!files.has(name)) {
    files.set(name, { text: "", version: 0 });
  }
  replace_text(studio, name, text);
};

export const editor_text = () => view.state.doc.toString();
export const cursor_line = () => view.state.doc.lineAt(view.state.selection.main.head).number;

// The marks of the file in front: the machine's line, and the lines of errors and diagnostics.
export const draw_gutter = (studio) => {
  const name = studio.name;
  const doc = view.state.doc;
  const place = studio.current_place;
  const current = place && place.file === name ? place.line : 0;
  const errors = studio.diagnostics.filter((d) => d.file === name && d.line >= 1 && d.line <= doc.lines);
  view.dispatch({ effects: set_marks.of({ current, errors: errors.map((d) => d.line) }) });
  view.dispatch(setDiagnostics(view.state, errors.map((d) => {
    const line = doc.line(d.line);
    return { from: line.from, to: line.to, severity: d.severity || "error", message: d.message };
  })));
};

// Where the machine stands ({file, line} of the last assembly, or null), as the text stands now;
// with `follow`, its file comes to the front with the line in view.
export const show_place = (studio, place, follow) => {
  studio.current_place = place && files.has(place.file)
    ? { file: place.file, line: line_now(place.file, state_of(studio, place.file).doc, place.line) } : null;
  const current = studio.current_place;
  if (current && follow) {
    go_to_line(studio, current.line, false, current.file);
  } else {
    draw_gutter(studio);
  }
  studio.current_line = current && current.file === studio.name ? current.line : 0;
};

export const go_to_line = (studio, n, focus, file = studio.name) => {
  if (file !== studio.name && files.has(file)) {
    open_file(studio, file);
  }
  const doc = view.state.doc;
  const line = doc.line(Math.max(1, Math.min(n, doc.lines)));
  view.dispatch({ selection: focus ? EditorSelection.cursor(line.from) : undefined,
                  effects: EditorView.scrollIntoView(line.from, { y: "center" }) });
  if (focus) {
    view.focus();
  }
  draw_gutter(studio);
};

// The lines of a file's dots, and one dot on or off.
export const break_lines = (studio, name) => (files.has(name) ? dot_lines(state_of(studio, name)) : []);
export const set_break_line = (studio, name, line, on) =>
  update_state(studio, name, { effects: set_dot.of({ line, on }) });
export const set_break_lines = (studio, name, lines) =>
  update_state(studio, name, { effects: set_dots.of({ lines }) });
// The line of the last assembly that a line of the file is now (0: typed or changed since).
export const assembled_line_of = (studio, name, line) =>
  assembled_line(name, state_of(studio, name).doc, line);

// The tabs: one button a file, the main file marked.
export const list_files = (studio) => {
  const tabs = element("tabs");
  tabs.innerHTML = "";
  for (const name of [...files.keys()].sort()) {
    const tab = document.createElement("button");
    tab.type = "button";
    tab.role = "tab";
    tab.dataset.file = name;
    tab.textContent = name === settings.main ? `${name} ●` : name;
    tab.title = name === settings.main ? "The main file: Assemble and Run build it" : "Open this file";
    tab.setAttribute("aria-selected", String(name === studio.name));
    tab.addEventListener("click", () => open_file(studio, name));
    tabs.appendChild(tab);
  }
};

// Items {text, file and line (a click opens the file there), ok}.
export const show_messages = (studio, items) => {
  const list = element("messages");
  list.innerHTML = "";
  for (const item of items) {
    const entry = document.createElement("li");
    entry.textContent = item.text;
    if (item.line) {
      entry.addEventListener("click", () => go_to_line(studio, item.line, true, item.file || studio.name));
    } else if (item.ok) {
      entry.className = "ok";
    }
    list.appendChild(entry);
  }
};
