// What the person does: the machine's keys on the focused picture (or its touch keys), the
// debugger's keys as IDEs have them, the buttons (the files' among them), the forms and the file
// pickers.

import { add_watch, break_at, machine_on, toggle_line } from "./studio_breaks.js";
import { cursor_line, set_source, show_messages } from "./studio_editor.js";
import { file_buttons, open_example } from "./studio_project.js";
import { assemble, next_frame, pause, power_on, replay, reverse_continue, run, run_to, seek_frame,
         seek_instruction, step, step_back, step_back_over, step_out, step_over, who_wrote }
  from "./studio_machine.js";
import { install_panels } from "./studio_panels.js";
import { download, element } from "./studio_text.js";
import { canvas, memory_address_at, show_writer } from "./studio_views.js";

// The machine's key for a key of the keyboard (event.code "KeyC" for C), or null.
const machine_key = (studio, code) => {
  const key = studio.keys.find((k) => code === `Key${k.key}`);
  return key ? key.key : null;
};

const machine_keys = (studio) => {
  canvas.addEventListener("keydown", (event) => {
    const key = machine_key(studio, event.code);
    if (key && !event.repeat && !event.ctrlKey && !event.altKey && !event.metaKey) {
      studio_core.key(key, true);
      event.preventDefault();
    }
  });
  canvas.addEventListener("keyup", (event) => {
    const key = machine_key(studio, event.code);
    if (key) {
      studio_core.key(key, false);
      event.preventDefault();
    }
  });
  // A key held while the picture loses the focus would stay held: release them all.
  canvas.addEventListener("blur", () => {
    if (machine_on()) {
      studio.keys.forEach((key) => studio_core.key(key.key, false));
    }
  });
  canvas.addEventListener("mousedown", () => canvas.focus());
  // The screen says where the keys go: to the machine only while the picture has the focus.
  const say_focus = (machine) => {
    document.body.dataset.keys = machine ? "machine" : "page";
    element("keys-focus").textContent = machine ? "The machine has the keys." :
      "Click the picture to give it the keys.";
  };
  canvas.addEventListener("focus", () => say_focus(true));
  canvas.addEventListener("blur", () => say_focus(false));
  // Touch keys: held while a finger is on them.
  for (const button of document.querySelectorAll("#touch-keys button")) {
    const hold = (down) => (event) => {
      event.preventDefault();
      if (machine_on()) {
        studio_core.key(button.dataset.key, down);
      }
      button.classList.toggle("held", down);
    };
    button.addEventListener("pointerdown", hold(true));
    for (const end of ["pointerup", "pointercancel", "pointerleave"]) {
      button.addEventListener(end, hold(false));
    }
  }
};

// Who wrote this: a pixel of the paused picture or a byte of the memory view, and the way back
// to the writer's moment.
const who_wrote_this = (studio) => {
  let writer = null;
  const ask = (address, what) => {
    writer = who_wrote(studio, address);
    show_writer(studio, address, writer, what);
  };
  canvas.addEventListener("click", (event) => {
    if (studio.running || !machine_on()) {
      return; // running, a click only gives the picture the keys
    }
    const box = canvas.getBoundingClientRect();
    const x = Math.floor((event.clientX - box.left) * canvas.width / box.width);
    const y = Math.floor((event.clientY - box.top) * canvas.height / box.height);
    if (x >= 0 && x < canvas.width && y >= 0 && y < canvas.height) {
      ask(studio_core.picture_address(x, y), `pixel ${x},${y}`);
    }
  });
  element("memory").addEventListener("click", (event) => {
    const address = memory_address_at(event.target);
    if (address !== null && machine_on()) {
      ask(address, "");
    }
  });
  element("who-wrote").addEventListener("click", (event) => {
    if (event.target.id === "go-to-writer" && writer) {
      seek_instruction(studio, writer.instruction);
    }
  });
};

// The debugger's keys, wherever the focus is.
const debugger_keys = (studio) => {
  document.addEventListener("keydown", (event) => {
    if (!studio.ready) {
      return;
    }
    // Alt goes backwards; Shift+F5 stays pause, as in debuggers.
    const action = event.altKey ? {
      F5: () => reverse_continue(studio),
      F10: () => step_back_over(studio),
      F11: () => step_back(studio),
    }[event.key] : {
      F5: () => (event.shiftKey ? pause(studio) : run(studio)),
      F9: () => toggle_line(studio, cursor_line()),
      F10: () => (event.ctrlKey ? run_to(studio, studio.name, cursor_line()) : step_over(studio)),
      F11: () => (event.shiftKey ? step_out(studio) : step(studio)),
    }[event.key];
    if (action) {
      event.preventDefault();
      action();
    } else if (event.key === "b" && (event.ctrlKey || event.metaKey)) {
      event.preventDefault();
      assemble(studio);
    }
  });
};

const open_text_file = (input, use) => {
  input.addEventListener("change", () => {
    const file = input.files[0];
    if (file) {
      file.text().then((text) => use(text, file.name));
    }
    input.value = "";
  });
};

const on_click = (id, action) => element(id).addEventListener("click", action);

const buttons = (studio) => {
  const base_name = () => studio.name.replace(/\.[^.]*$/, "");
  on_click("assemble", () => assemble(studio));
  on_click("run", () => run(studio));
  on_click("run-fast", () => run(studio, true));
  on_click("step-out", () => step_out(studio));
  on_click("run-to", () => run_to(studio, studio.name, cursor_line()));
  on_click("pause", () => pause(studio));
  on_click("reset", () => studio.program && power_on(studio));
  on_click("step", () => step(studio));
  on_click("step-over", () => step_over(studio));
  on_click("reverse", () => reverse_continue(studio));
  on_click("step-back", () => step_back(studio));
  on_click("step-back-over", () => step_back_over(studio));
  element("timeline").addEventListener("input", (event) => seek_frame(studio, Number(event.target.value)));
  on_click("frame", () => next_frame(studio));
  on_click("open", () => element("open-file").click());
  open_text_file(element("open-file"), (text, name) => set_source(studio, text, name.replace(/[\/\\]/g, "_")));
  on_click("replay", () => element("replay-file").click());
  open_text_file(element("replay-file"), (text) => {
    if (!replay(studio, text)) {
      run(studio);
    }
  });
  element("example").addEventListener("change", (event) => {
    const name = event.target.value;
    if (name) {
      open_example(studio, name);
      event.target.value = "";
    }
  });
  const program_file = (extension, data, type) => () =>
    studio.program && download(`${base_name()}.${extension}`, data(studio.program), type);
  on_click("download-rom", program_file("bin", (program) => program.rom, "application/octet-stream"));
  on_click("download-listing", program_file("lst", (program) => program.listing, "text/plain"));
  on_click("download-symbols", program_file("sym", (program) => program.symbol_file, "text/plain"));
  on_click("download-keys", () =>
    machine_on() && download(`${base_name()}.keys`, studio_core.recording(), "text/plain"));
};

const forms = (studio) => {
  element("break-form").addEventListener("submit", (event) => {
    event.preventDefault();
    try {
      break_at(studio, element("break-at").value);
      element("break-at").value = "";
    } catch (error) {
      show_messages(studio, [{ text: error.message }]);
    }
  });
  element("watch-form").addEventListener("submit", (event) => {
    event.preventDefault();
    if (add_watch(studio, element("watch-at").value)) {
      element("watch-at").value = "";
    } else {
      show_messages(studio, [{ text: "A watch is an address or a label, then :LENGTH if more than one byte." }]);
    }
  });
};

export const install_controls = (studio) => {
  machine_keys(studio);
  who_wrote_this(studio);
  debugger_keys(studio);
  file_buttons(studio);
  buttons(studio);
  forms(studio);
  install_panels(studio);
};
