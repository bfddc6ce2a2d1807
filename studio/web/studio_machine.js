// Assembling and running: the editor's text assembled in the WebAssembly, the machine powered on
// with it, stepped (in, over, out, to a line), run in real time at 60 frames a second or fast (as
// many frames as an animation frame's time holds), and stopped at breakpoints; and going back in
// its history: steps back, reverse continue, the timeline and who wrote a byte. While it runs,
// the views follow a few times a second.

import { apply_breaks, machine_on, settle_breaks, take_line_map } from "./studio_breaks.js";
import { assemble_project, message_items } from "./studio_check.js";
import { draw_gutter, go_to_line, show_messages } from "./studio_editor.js";
import { settings } from "./studio_files.js";
import { hex } from "./studio_text.js";
import { draw_picture, place_of, show_status, show_stop } from "./studio_views.js";

const frame_seconds = 1 / 60;
export const max_search_frames = 60 * 60; // how far step over and continue look: a minute of frames

// The maps of an assembly that worked: the line map both ways, every name for break_at, and
// the labels (and RAM's EQU names) that name addresses in the views.
const take_program = (studio, result) => {
  studio.program = result;
  take_line_map(studio, result);
  studio.symbols.clear();
  studio.names.clear();
  for (const symbol of result.symbols) {
    studio.symbols.set(symbol.name.toUpperCase(), symbol.value);
    if (symbol.label && !studio.names.has(symbol.value)) {
      studio.names.set(symbol.value, symbol.name);
    }
  }
  for (const [name, value] of studio.symbols) {
    if (value >= studio.layout.ram_start && !studio.names.has(value)) {
      studio.names.set(value, name);
    }
  }
};

// Assembles the project from its main file; when it assembles, powers the machine on with it.
export const assemble = (studio) => {
  const result = assemble_project(studio);
  if (result.ok) {
    take_program(studio, result);
    const moved = settle_breaks(studio);
    show_messages(studio, [{ ok: true, text: `${settings.main}: assembled, ${result.lines.length} ` +
                                            "addresses of code and data; the machine is powered on." },
                           ...moved.map((place) => ({ text: `The breakpoint on ${place} is gone: no code from there on.` })),
                           ...message_items(studio.diagnostics)]);
    power_on(studio);
  } else {
    // The machine does not go on with the program before: it stops, and Run waits for one
    // that assembles.
    pause(studio);
    studio_core.power_off();
    studio.program = null;
    studio.message = "stopped: the assembly failed";
    show_stop(studio);
    show_messages(studio, message_items(studio.diagnostics));
    const first = result.errors.find((error) => error.line);
    if (first) {
      go_to_line(studio, first.line, false, first.file);
    }
  }
  draw_gutter(studio);
  return result;
};

export const power_on = (studio) => {
  pause(studio);
  if (!studio_core.reset()) {
    return false;
  }
  apply_breaks(studio);
  studio.previous = null;
  studio.message = "powered on";
  show_stop(studio);
  return true;
};

const stop_text = (studio, stop, limit) => {
  if (stop.error) {
    return `stopped: ${stop.error}`;
  }
  const at = (address) => {
    const place = place_of(studio, address);
    return `${hex(address, 4)}${place ? " (" + place + ")" : ""}`;
  };
  return { breakpoint: `breakpoint at ${at(stop.address)}`,
           watch: `a store into ${hex(stop.address, 4)}`,
           limit: limit || `no stop within ${max_search_frames} frames`, done: "" }[stop.reason];
};

// A stop that the machine made (a breakpoint, a watch, a fault) is said in the status, and
// ends a run; the caller shows the views once, so that what changed stays marked.
const after_stop = (studio, stop, limit) => {
  if (stop.error || stop.reason !== "done") {
    studio.message = stop_text(studio, stop, limit);
    end_run(studio);
  }
  return stop;
};

// A move made while paused (`go` asks the machine for it), then every view; null when the
// machine is off.
export const paused_move = (studio, go, limit) => {
  pause(studio);
  if (!machine_on()) {
    return null;
  }
  studio.message = "";
  const stop = after_stop(studio, go(), limit);
  show_stop(studio);
  return stop;
};
export const step = (studio) => paused_move(studio, () => studio_core.step());
export const step_over = (studio) => paused_move(studio, () => studio_core.step_over(max_search_frames));
export const next_frame = (studio) => paused_move(studio, () => studio_core.run_frames(1));
export const step_out = (studio) => paused_move(studio, () => studio_core.step_out(max_search_frames));

// The first address of a line of a file, from the last assembly's line map, or undefined.
export const address_of_line = (studio, file, line) => {
  let found;
  for (const [address, place] of studio.line_of) {
    if (place.file === file && place.line === line && (found === undefined || address < found)) {
      found = address;
    }
  }
  return found;
};

// Runs until the machine reaches the line (or a breakpoint, or a watch); null when the line
// holds no code.
export const run_to = (studio, file, line) => {
  const address = address_of_line(studio, file, line);
  if (address === undefined) {
    show_messages(studio, [{ text: `${file}:${line} holds no code: no instruction to run to.` }]);
    return null;
  }
  return paused_move(studio, () => studio_core.run_to(address, max_search_frames),
                     `${file}:${line} not reached within ${max_search_frames} frames`);
};

const history_end = "the history reaches no further back";
export const step_back = (studio) => paused_move(studio, () => studio_core.step_back(), history_end);
export const step_back_over = (studio) =>
  paused_move(studio, () => studio_core.step_back_over(), history_end);
export const reverse_continue = (studio) =>
  paused_move(studio, () => studio_core.reverse_continue(max_search_frames),
              `no stop within ${max_search_frames} frames back, or the history's start`);

// To the start of a frame of the history, or to the point after a count of instructions (a
// writer's moment); false outside the history.
export const seek_frame = (studio, frame) => {
  let moved = false;
  paused_move(studio, () => {
    moved = studio_core.seek(frame);
    return { reason: "done" };
  });
  return moved;
};
export const seek_instruction = (studio, count) => {
  let moved = false;
  paused_move(studio, () => {
    moved = studio_core.seek_instruction(count);
    return { reason: "done" };
  });
  return moved;
};

// The last writer of the byte at `address`, with its source line: {address, frame,
// instruction, pc, interrupt, file, line}, or null.
export const who_wrote = (studio, address) => {
  if (!machine_on()) {
    return null;
  }
  pause(studio);
  const writer = studio_core.who_wrote(address);
  if (!writer) {
    return null;
  }
  const place = studio.line_of.get(writer.pc);
  return Object.assign(writer, { address, file: place ? place.file : null, line: place ? place.line : null });
};

// Real time: each animation frame runs the frames that are due, stopping at breakpoints. Fast:
// slices of as many frames as about 12 ms hold, one after another as tasks of their own, so the
// page stays alive between them (its clicks and keys are handled; Pause stops it).
export const run = (studio, fast = false) => {
  if (!machine_on() && !(studio.program && power_on(studio))) {
    return;
  }
  studio.running = true;
  studio.fast = fast;
  studio.fast_slice = 8;
  studio.fast_frames = 0;
  studio.fast_start = performance.now();
  studio.views_time = 0;
  studio.drawn_time = 0;
  studio.message = fast ? "running fast" : "running";
  studio.last_time = performance.now();
  studio.owed = 0;
  document.body.dataset.running = "yes";
  next_slice(studio);
  show_status(studio);
};

const end_run = (studio) => {
  studio.running = false;
  if (studio.fast) {
    const seconds = (performance.now() - studio.fast_start) / 1000;
    studio.fast_rate = seconds > 0 ? Math.round(studio.fast_frames / seconds) : 0;
  }
  document.body.dataset.running = "no";
};

export const pause = (studio) => {
  if (studio.running) {
    end_run(studio);
    studio.message = "paused";
    show_stop(studio);
  }
};

// The frames that this animation frame runs: those due in real time, or fast, a slice sized
// by the last one's time.
const frames_now = (studio, now) => {
  if (!studio.fast) {
    studio.owed = Math.min(studio.owed + (now - studio.last_time) / 1000 / frame_seconds, 15);
    studio.last_time = now;
    const frames = Math.floor(studio.owed);
    studio.owed -= frames;
    return frames;
  }
  return studio.fast_slice;
};

const slice_ms = 12;

const animation_frame = (studio, now) => {
  if (!studio.running) {
    return;
  }
  const frames = frames_now(studio, now);
  if (frames > 0) {
    const start = performance.now();
    const before = studio_core.state().frames;
    const stop = studio_core.run_frames(frames);
    if (studio.fast) {
      const took = Math.max(performance.now() - start, 0.1);
      studio.fast_frames += studio_core.state().frames - before;
      studio.fast_slice = Math.max(1, Math.min(4 * frames, Math.round(frames * slice_ms / took)));
    }
    if (stop.error || stop.reason !== "done") {
      after_stop(studio, stop);
      show_stop(studio);
      return;
    }
  }
  if (studio.fast) {
    const seconds = (performance.now() - studio.fast_start) / 1000;
    studio.fast_rate = seconds > 0 ? Math.round(studio.fast_frames / seconds) : 0;
    studio.message = `running fast: ${studio.fast_rate.toLocaleString("en")} frames a second`;
  }
  // Fast, the picture ten times a second: each drawing costs the page a frame's composition.
  if (studio.fast && now - studio.drawn_time < 100) {
    next_slice(studio);
    return;
  }
  studio.drawn_time = now;
  draw_picture();
  show_status(studio);
  if (now - studio.views_time > 250) { // the views, a few times a second
    studio.views_time = now;
    show_stop(studio);
  }
  next_slice(studio);
};

// A message to itself runs the next fast slice as soon as the page is free; real time waits
// for the next animation frame.
const slices = new MessageChannel();
const next_slice = (studio) => {
  if (studio.fast) {
    slices.port1.onmessage = () => animation_frame(studio, performance.now());
    slices.port2.postMessage(null);
  } else {
    requestAnimationFrame((next) => animation_frame(studio, next));
  }
};

// Powers on and replays a key script; returns what is wrong with it, or null.
export const replay = (studio, script) => {
  if (!(studio.program && power_on(studio))) {
    return "Assemble a program first: there is no ROM yet.";
  }
  const problem = studio_core.replay(script);
  if (problem) {
    show_messages(studio, [{ text: problem }]);
  }
  return problem;
};
