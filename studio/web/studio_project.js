// The project's files as the author handles them: new, rename, delete, the main file that
// Assemble and Run build, an example opened with the files it includes, a link to share; and
// what another tab of the studio saved.

import { break_lines, list_files, open_file, save_now, set_break_lines, set_source, state_of, states,
         take_other_tab, write_text } from "./studio_editor.js";
import { files, free_name, on_other_tab, remove_file, save_settings, settings } from "./studio_files.js";
import { share_link } from "./studio_share.js";
import { element } from "./studio_text.js";

const valid_name = (name) => /^[^/\\:*?"<>|]+$/.test(name) && name.trim() === name && name.length <= 100;

const check_name = (name, what) => {
  if (!valid_name(name)) {
    throw new RangeError(`${what}: "${name}" is not a file name (no folders, no /\\:*?"<>|)`);
  }
};

export const new_file = (studio, name, text = "") => {
  check_name(name, "new file");
  if (files.has(name)) {
    throw new RangeError(`new file: ${name} exists already`);
  }
  set_source(studio, text, name);
};

// Writes a file (made when missing) without bringing it to the front.
export const write_file = async (studio, name, text) => {
  check_name(name, "write_file");
  write_text(studio, name, text);
  list_files(studio);
  await save_now(studio, name);
};

export const set_main = (studio, name) => {
  if (!files.has(name)) {
    throw new RangeError(`set_main: there is no file ${name}`);
  }
  settings.main = name;
  save_settings();
  list_files(studio);
  studio.text_changed(studio);
};

export const delete_file = async (studio, name) => {
  if (!files.has(name)) {
    throw new RangeError(`remove_file: there is no file ${name}`);
  }
  if (files.size === 1) {
    throw new RangeError("remove_file: a project keeps one file at least");
  }
  set_break_lines(studio, name, []);
  if (name === studio.name) {
    open_file(studio, name === settings.main ? [...files.keys()].find((n) => n !== name) : settings.main);
  }
  states.delete(name);
  await remove_file(name);
  if (settings.main === name) {
    set_main(studio, studio.name);
  }
  list_files(studio);
  studio.breaks_moved(studio);
};

export const rename_file = async (studio, name, new_name) => {
  check_name(new_name, "rename");
  if (files.has(new_name)) {
    throw new RangeError(`rename: ${new_name} exists already`);
  }
  const lines = break_lines(studio, name);
  const was_main = settings.main === name;
  write_text(studio, new_name, state_of(studio, name).doc.toString());
  set_break_lines(studio, new_name, lines);
  await save_now(studio, new_name);
  if (name === studio.name) {
    open_file(studio, new_name);
  }
  await delete_file(studio, name);
  if (was_main) {
    set_main(studio, new_name);
  }
};

// An example becomes the main file, with the files it includes that the project lacks.
export const open_example = (studio, name) => {
  const text = studio.examples.get(name);
  for (const [, included] of text.matchAll(/^\s*INCLUDE\s+"([^"]+)"/gim)) {
    if (!files.has(included) && studio.examples.has(included)) {
      write_text(studio, included, studio.examples.get(included));
    }
  }
  set_source(studio, text, name);
  set_main(studio, name);
};

// Another tab's save: its text comes into this tab's editor.
export const follow_other_tabs = (studio) => on_other_tab((message) => {
  if (message.kind === "file") {
    take_other_tab(studio, message.name);
  } else if (message.kind === "remove" && message.name === studio.name) {
    open_file(studio, files.has(settings.main) ? settings.main : [...files.keys()][0]);
  }
  list_files(studio);
});

const attempt = (studio, action) => async () => {
  try {
    await action();
  } catch (error) {
    studio.say(error.message);
  }
};

// A file's name, asked for in the file bar (not in a dialog, which a browser may refuse to
// show): the typed name when OK or Enter takes it, null when Cancel or Escape drops it. The name
// before its extension comes selected, ready to be typed over.
const ask_name = (question, initial) => new Promise((answer) => {
  const form = element("name-form");
  const input = element("name-input");
  const done = (name) => {
    form.hidden = true;
    form.onsubmit = input.onkeydown = element("name-cancel").onclick = null;
    answer(name);
    document.querySelector("#editor .cm-content")?.focus();
  };
  element("name-question").textContent = question;
  input.value = initial;
  form.hidden = false;
  input.focus();
  input.setSelectionRange(0, initial.lastIndexOf(".") > 0 ? initial.lastIndexOf(".") : initial.length);
  form.onsubmit = (event) => {
    event.preventDefault();
    done(input.value.trim() || null);
  };
  input.onkeydown = (event) => {
    if (event.key === "Escape") {
      event.preventDefault();
      done(null);
    }
  };
  element("name-cancel").onclick = () => done(null);
});

export const file_buttons = (studio) => {
  const on = (id, action) => element(id).addEventListener("click", attempt(studio, action));
  on("new-file", async () => {
    const name = await ask_name("New file:", free_name("new.asm"));
    return name && new_file(studio, name);
  });
  on("rename-file", async () => {
    const name = await ask_name(`Rename ${studio.name} to:`, studio.name);
    return name && name !== studio.name && rename_file(studio, studio.name, name);
  });
  on("delete-file", () => confirm(`Delete ${studio.name}?`) && delete_file(studio, studio.name));
  on("set-main", () => set_main(studio, studio.name));
  on("share", async () => {
    const link = await share_link(studio);
    await navigator.clipboard?.writeText(link).catch(() => {});
    studio.say(`The link to this project is copied (${Math.ceil(link.length / 1024)} KB): ${link.slice(0, 60)}…`);
  });
};
