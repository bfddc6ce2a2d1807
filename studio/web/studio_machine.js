// Assembling and running: the editor's text assembled in the WebAssembly, the machine powered on
// with it, stepped (in, over, out, to a line), run in real time at 60 frames a second or fast (in
// slices of about 40 ms, as fast as the machine goes), and stopped at breakpoints; and going back in
// its history: steps back, reverse continue, the timeline and who wrote a byte. While it runs,
// the views follow a few times a second.

import { apply_breaks, machine_on, settle_breaks, take_line_map } from "./studio_breaks.js";
import { assemble_project, message_items } from "./studio_check.js";
import { draw_gutter, go_to_line, show_messages } from "./studio_editor.js";
import { settings } from "./studio_files.js";
import { stop_on_faults } from "./studio_panels.js";
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
  studio_core.stop_on_faults(stop_on_faults());
  studio.failure = null;
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
           fault: `fault: ${stop.fault}${place_of(studio, stop.address) ? " (" + place_of(studio, stop.address) + ")" : ""}`,
           limit: limit || `no stop within ${max_search_frames} frames`, done: "" }[stop.reason];
};

// A stop that the machine made (a breakpoint, a watch, a fault, a failure) is said in the status, and
// ends a run; the caller shows the views once, so that what changed stays marked.
const after_stop = (studio, stop, limit) => {
  if (stop.error) {
    studio.failure = { pc: studio_core.state().pc, text: stop.error }; // among the faults
  }
  if (stop.error || stop.reason !== "done") {
    studio.message = stop_text(studio, stop, limit);
    end_run(studio, stop);
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

// Running, until a breakpoint, a watch, Pause or `max_frames` frames. Real time: each animation
// frame runs the frames due at 60 a second and draws the picture. Fast: slices of as many
// frames as about 40 ms hold, each a task of its own (a message to itself, which no timer
// clamps), so that the page handles clicks, keys and Pause between them; the picture and the
// other views are drawn in an animation frame four times a second, so drawing takes little of
// the machine's time. The Run fast button and tavrin_studio.run_fast both come here. Returns a
// promise of {stop, frames} (the frames the run completed) once the run ends, or of null when
// there is no program to run.
const slice_ms = 40;
const views_ms = 250; // the views while running: four times a second

export const run = (studio, fast = false, max_frames = Infinity) => {
  if (!machine_on() && !(studio.program && power_on(studio))) {
    return Promise.resolve(null);
  }
  if (studio.run) {
    end_run(studio, { reason: "done" }); // Run fast while running goes on fast, and the reverse
  }
  const now = performance.now();
  const going = { fast, left: max_frames, frames: 0, start: now, last_time: now, owed: 0,
                  slice: 8, views_time: now, drawing: false };
  const ended = new Promise((resolve) => { going.resolve = resolve; });
  studio.run = going;
  studio.running = true;
  studio.message = fast ? "running fast" : "running";
  document.body.dataset.running = "yes";
  show_status(studio);
  if (fast) {
    next_slice(() => fast_slice(studio, going));
  } else {
    requestAnimationFrame((next) => real_time_frame(studio, going, next));
  }
  return ended;
};

const end_run = (studio, stop) => {
  const going = studio.run;
  if (!going) {
    return;
  }
  studio.run = null;
  studio.running = false;
  if (going.fast) {
    studio.fast_rate = frame_rate(going);
  }
  document.body.dataset.running = "no";
  going.resolve({ stop, frames: going.frames });
};

export const pause = (studio) => {
  if (studio.running) {
    end_run(studio, { reason: "paused" });
    studio.message = "paused";
    show_stop(studio);
  }
};

const frame_rate = (going) => {
  const seconds = (performance.now() - going.start) / 1000;
  return seconds > 0 ? Math.round(going.frames / seconds) : 0;
};

// Runs `frames` frames of the run (at most those it has left); false when the run ended there.
const run_frames_of = (studio, going, frames) => {
  frames = Math.min(frames, going.left);
  let stop = { reason: "done" };
  if (frames > 0) {
    const before = studio_core.state().frames;
    stop = studio_core.run_frames(frames);
    const ran = studio_core.state().frames - before;
    going.frames += ran;
    going.left -= ran;
  }
  if (stop.error || stop.reason !== "done" || going.left <= 0) {
    after_stop(studio, stop.error || stop.reason !== "done" ? stop : { reason: "limit" },
               `ran ${going.frames.toLocaleString("en")} frames`);
    show_stop(studio);
    return false;
  }
  return true;
};

// A slice of a fast run, its size from the last one's time; the views four times a second.
const fast_slice = (studio, going) => {
  if (studio.run !== going) {
    return;
  }
  const start = performance.now();
  const frames = going.slice;
  if (!run_frames_of(studio, going, frames)) {
    return;
  }
  const took = Math.max(performance.now() - start, 0.1);
  going.slice = Math.max(1, Math.min(4 * frames, Math.round(frames * slice_ms / took)));
  if (!going.drawing && start - going.views_time >= views_ms) {
    going.drawing = true;
    requestAnimationFrame(() => {
      going.drawing = false;
      if (studio.run === going) {
        going.views_time = performance.now();
        studio.message = `running fast: ${frame_rate(going).toLocaleString("en")} frames a second`;
        show_stop(studio);
      }
    });
  }
  next_slice(() => fast_slice(studio, going));
};

// An animation frame of a real-time run: the frames due, the picture and the status, and the
// other views four times a second.
const real_time_frame = (studio, going, now) => {
  if (studio.run !== going) {
    return;
  }
  going.owed = Math.min(going.owed + (now - going.last_time) / 1000 / frame_seconds, 15);
  going.last_time = now;
  const frames = Math.floor(going.owed);
  going.owed -= frames;
  if (frames > 0 && !run_frames_of(studio, going, frames)) {
    return;
  }
  if (now - going.views_time >= views_ms) {
    going.views_time = now;
    show_stop(studio);
  } else {
    draw_picture();
    show_status(studio);
  }
  requestAnimationFrame((next) => real_time_frame(studio, going, next));
};

// The next fast slice as soon as the page is free: one message for one slice, so a message
// left over from a run that ended starts no second chain of slices.
const slices = new MessageChannel();
let waiting_slice = null;
slices.port1.onmessage = () => {
  const slice = waiting_slice;
  waiting_slice = null;
  if (slice) {
    slice();
  }
};
const next_slice = (slice) => {
  waiting_slice = slice;
  slices.port2.postMessage(null);
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
