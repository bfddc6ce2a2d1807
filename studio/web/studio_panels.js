// The debugger's panels beside the registers: the call stack (a frame clicked opens its line),
// watch expressions (their values at every stop, kept in this browser), the audit's faults (each
// clicked opens its line; a setting, kept in this browser, stops the machine at them), the
// disassembly's clicks (a line opens its source, its dot sets a breakpoint) and the memory
// view's go-to. The views call show_panels at every stop and a few times a second while running.

import { apply_breaks } from "./studio_breaks.js";
import { go_to_line, project_files, show_messages } from "./studio_editor.js";
import { element, escape_html, hex } from "./studio_text.js";
import { show_stop, symbol_at } from "./studio_views.js";

const watches_key = "tavrin-studio-watch-expressions";
const stop_on_faults_key = "tavrin-studio-stop-on-faults";

export const stop_on_faults = () => localStorage.getItem(stop_on_faults_key) === "yes";

export const watch_expressions = () => {
  try {
    const kept = JSON.parse(localStorage.getItem(watches_key) || "[]");
    return Array.isArray(kept) ? kept.filter((e) => typeof e === "string") : [];
  } catch {
    return [];
  }
};
const keep_watches = (list) => localStorage.setItem(watches_key, JSON.stringify(list));

// A watch expression's value now: "05 (5)", or what is wrong with it.
export const watch_value = (expression) => {
  const value = studio_core.evaluate(expression);
  if (value.error) {
    return { error: value.error };
  }
  return { value: value.value, text: `${hex(value.value, value.digits)} (${value.value})` };
};

// Opens a file of the project at a line; a place in no file of it (an example's file that was
// deleted) is said.
const project_has = (studio, file) => Object.hasOwn(project_files(studio), file);

export const open_place = (studio, file, line) => {
  if (project_has(studio, file)) {
    go_to_line(studio, line, true, file);
  } else {
    show_messages(studio, [{ text: `${file}:${line}` }]);
  }
};

const place_link = (studio, address) => {
  const place = studio.line_of.get(address);
  return place ? `<a href="#" data-file="${escape_html(place.file)}" data-line="${place.line}">` +
                 `${escape_html(place.file)}:${place.line}</a>` : "";
};

const show_call_stack = (studio) => {
  const frames = studio_core.call_stack();
  const state = studio_core.state();
  // Innermost first, as debuggers list them: where PC is, then each caller at its call.
  const rows = [`<div>▶ ${hex(state.pc, 4)} ${escape_html(symbol_at(studio, state.pc))} ` +
                `${place_link(studio, state.pc)}</div>`];
  for (const frame of [...frames].reverse()) {
    const into = symbol_at(studio, frame.target) || hex(frame.target, 4);
    const what = frame.interrupt ? `interrupt → ${into}` : `call ${into}`;
    rows.push(`<div>${hex(frame.call, 4)} ${escape_html(what)} ${place_link(studio, frame.call)}</div>`);
  }
  element("call-stack").innerHTML = rows.join("");
};

const show_watch_expressions = () => {
  element("expressions").innerHTML = watch_expressions().map((expression, index) => {
    const value = watch_value(expression);
    const shown = value.error ? `<span class="problem">${escape_html(value.error)}</span>`
                              : escape_html(value.text);
    return `<li><code>${escape_html(expression)}</code> = ${shown} ` +
           `<button type="button" data-remove="${index}" title="Remove">×</button></li>`;
  }).join("");
};

// What the program did wrong that the screen does not show, each with its source line: the
// audit's faults (stores outside RAM, the stack leaving RAM, ports nothing answers) and an
// instruction that is not implemented, which stops the machine.
const show_faults = (studio) => {
  const audit = studio_core.faults();
  const found = [...(studio.failure ? [studio.failure] : []), ...audit.faults];
  element("faults").innerHTML = found.map((fault) =>
    `<li>${place_link(studio, fault.pc) || hex(fault.pc, 4)} ${escape_html(fault.text)}` +
    `${fault.times > 1 ? ` (${fault.times.toLocaleString("en")} times)` : ""}</li>`).join("");
  element("faults-count").textContent = audit.total ? `(${audit.total.toLocaleString("en")})` : "";
};

export const show_panels = (studio) => {
  if (!studio_core.state()) {
    return;
  }
  show_call_stack(studio);
  show_watch_expressions();
  show_faults(studio);
};

const follow_links = (studio, id) => element(id).addEventListener("click", (event) => {
  const link = event.target.closest("a[data-line]");
  if (link) {
    event.preventDefault();
    open_place(studio, link.dataset.file, Number(link.dataset.line));
  }
});

export const install_panels = (studio) => {
  follow_links(studio, "call-stack");
  follow_links(studio, "faults");
  const stop_box = element("stop-on-faults");
  stop_box.checked = stop_on_faults();
  stop_box.addEventListener("change", () => {
    localStorage.setItem(stop_on_faults_key, stop_box.checked ? "yes" : "no");
    if (studio_core.state()) {
      studio_core.stop_on_faults(stop_box.checked);
    }
  });
  element("expression-form").addEventListener("submit", (event) => {
    event.preventDefault();
    const text = element("expression").value.trim();
    if (text) {
      keep_watches([...watch_expressions(), text]);
      element("expression").value = "";
      show_panels(studio);
    }
  });
  element("expressions").addEventListener("click", (event) => {
    const index = event.target.dataset.remove;
    if (index !== undefined) {
      keep_watches(watch_expressions().filter((_, i) => i !== Number(index)));
      show_panels(studio);
    }
  });
  // The disassembly: a line opens its source; its dot sets or clears a breakpoint there.
  element("disassembly").addEventListener("click", (event) => {
    const line = event.target.closest("[data-address]");
    if (!line) {
      return;
    }
    const address = Number(line.dataset.address);
    if (event.target.classList.contains("dot")) {
      const on = !studio.break_addresses.has(address);
      if (on) {
        studio.break_addresses.add(address);
      } else {
        studio.break_addresses.delete(address);
      }
      apply_breaks(studio);
      line.querySelector(".dot").classList.toggle("on", on);
      return;
    }
    const place = studio.line_of.get(address);
    if (place) {
      open_place(studio, place.file, place.line);
    }
  });
  element("memory-form").addEventListener("submit", (event) => {
    event.preventDefault();
    const text = element("memory-at").value.trim();
    const value = studio_core.state() ? studio_core.evaluate(text) : { error: "power the machine on first" };
    if (value.error) {
      show_messages(studio, [{ text: `Memory: ${value.error}` }]);
      return;
    }
    studio.memory_start = value.value & 0xfff0;
    studio.memory_mark = value.value;
    element("memory").scrollTop = 0;
    show_stop(studio);
  });
};
