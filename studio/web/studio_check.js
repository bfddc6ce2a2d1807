// Diagnostics as the author types: a moment after the last change, the project is assembled in
// a worker (studio_worker.js) and its errors and warnings are marked in the editor and listed.

import { draw_gutter, project_files, show_messages, state_of } from "./studio_editor.js";
import { files, settings } from "./studio_files.js";
import { remember_assembly } from "./studio_marks.js";

const pause_ms = 400;
let worker = null;
let timer = 0;
let asked = 0;

// [{file, line, message, severity}] of an assembly's errors and notes.
export const diagnostics_of = (result) => [
  ...result.errors.map((e) => Object.assign({ severity: "error" }, e)),
  ...(result.notes || []).map((n) => Object.assign({ severity: "warning" }, n)),
];

// Items for show_messages: each diagnostic, clickable to its file and line.
export const message_items = (diagnostics) => diagnostics.map((d) => ({
  file: d.file, line: d.line,
  text: (d.line ? `${d.file}:${d.line}: ` : "") + (d.severity === "warning" ? "warning: " : "") + d.message,
}));

const show = (studio, answer) => {
  if (answer.id !== asked) {
    return; // the text changed again since
  }
  if (answer.failed) {
    show_messages(studio, [{ text: `Checking the program failed (${answer.failed}); it is tried ` +
                                   "again at the next change." }]);
    return;
  }
  studio.diagnostics = diagnostics_of(answer);
  draw_gutter(studio);
  show_messages(studio, studio.diagnostics.length ? message_items(studio.diagnostics)
                                                  : [{ ok: true, text: `${settings.main}: no errors.` }]);
  studio.checked(studio);
};

export const check_soon = (studio) => {
  if (!worker) {
    worker = new Worker("studio_worker.js");
    worker.onmessage = (event) => show(studio, event.data);
  }
  clearTimeout(timer);
  ++asked;
  timer = setTimeout(() => worker.postMessage({ id: asked, files: project_files(studio),
                                                main: settings.main }), pause_ms);
};

// The project assembled in the page's module, from its main file, as the editor holds the
// files now; the errors and warnings become the editor's diagnostics.
export const assemble_project = (studio) => {
  const texts = project_files(studio);
  studio_core.clear_files();
  for (const [name, text] of Object.entries(texts)) {
    studio_core.put_file(name, text);
  }
  const result = studio_core.assemble(settings.main);
  ++asked; // a check under way is older than this
  studio.diagnostics = diagnostics_of(result);
  if (result.ok) {
    remember_assembly(new Map([...files.keys()].map((name) => [name, state_of(studio, name)])));
  }
  return result;
};
