// The interface for automated checks, globalThis.tavrin_studio (README.md, "The studio"), which
// studio.js defines once the WebAssembly module has started:
//
//     tavrin_studio.set_source(text);
//     tavrin_studio.assemble();                // {ok, errors: [{line, message}], rom (base64)}
//     tavrin_studio.break_at("draw");          // a line number, a symbol or "1A2BH"
//     tavrin_studio.continue_to_break(600);    // {stopped, pc, line}
//     tavrin_studio.registers();               // {pc, a, bc, de, hl, sp, flags}
//     tavrin_studio.memory(0x2000, 16);        // base64 of the bytes there, null before power-on
//     tavrin_studio.reverse_continue(600);     // {stopped, pc, file, line}, backwards
//     tavrin_studio.who_wrote(0x2400);         // {frame, instruction, pc, file, line} or null
//     tavrin_studio.step_out();                // {stopped, pc, file, line}: back in the caller
//     await tavrin_studio.run_fast(36000);     // {stopped, pc, file, line, frames}: Run fast's run
//     tavrin_studio.call_stack();              // [{call, target, return, interrupt, file, line}]
//     tavrin_studio.watch("w[2100H]");         // {value} or {error}
//     tavrin_studio.files();                   // [{name, text, main, open}]
//     tavrin_studio.write_file("x.inc", text); // made or changed, not brought to the front
//     tavrin_studio.breakpoints();             // [{file, line, address}] (and labels, addresses)
//     await tavrin_studio.share_link();        // the link that holds the project

import { all_breaks, break_at, clear_breaks, keep_breaks_now } from "./studio_breaks.js";
import { open_file, project_files, save_source, set_source } from "./studio_editor.js";
import { settings } from "./studio_files.js";
import { delete_file, set_main, write_file } from "./studio_project.js";
import { share_link } from "./studio_share.js";
import { assemble, max_search_frames, paused_move, power_on, replay, run, run_to, seek_frame,
         step, step_back, step_back_over, step_out, step_over, who_wrote } from "./studio_machine.js";
import { watch_value } from "./studio_panels.js";
import { base64 } from "./studio_text.js";

// Where a move stopped: {stopped (at a breakpoint, a watch or a fault), pc, file, line}.
const stopped_at = (studio, name, stop) => {
  if (stop === null) {
    throw new Error(`${name}: assemble a program first`);
  }
  const state = studio_core.state();
  const place = studio.line_of.get(state.pc);
  return { stopped: ["breakpoint", "watch", "fault"].includes(stop.reason), pc: state.pc,
           file: place ? place.file : null, line: place ? place.line : null };
};

export const checks_interface = (studio) => ({
  set_source: (text) => set_source(studio, String(text)),
  assemble: () => {
    const result = assemble(studio);
    return { ok: result.ok, errors: result.errors.map((e) => ({ file: e.file, line: e.line, message: e.message })),
             rom: result.ok ? base64(result.rom) : null };
  },
  reset: () => { if (!power_on(studio)) throw new Error("reset: assemble a program first"); },
  run_frames: (n) => {
    if (!Number.isInteger(n) || n < 0) {
      throw new RangeError("run_frames: n must be a whole number of frames, 0 or more");
    }
    const stop = paused_move(studio, () => studio_core.run_frames(n));
    return stop !== null && !stop.error;
  },
  step: () => { step(studio); },
  step_over: () => { step_over(studio); },
  registers: () => {
    const state = studio_core.state();
    return state && { pc: state.pc, a: state.a, bc: state.bc, de: state.de, hl: state.hl,
                      sp: state.sp, flags: state.flags };
  },
  memory: (first, length) => {
    const memory = studio_core.memory();
    if (!Number.isInteger(first) || !Number.isInteger(length) || first < 0 || length < 0 ||
        (memory && first + length > memory.length)) {
      throw new RangeError("memory: first and length must be whole numbers within the memory");
    }
    return memory && base64(memory.subarray(first, first + length));
  },
  break_at: (where) => break_at(studio, where),
  clear_breaks: () => clear_breaks(studio),
  continue_to_break: (max_frames) => {
    const stop = paused_move(studio, () => studio_core.run_frames(max_frames));
    if (stop === null) {
      throw new Error("continue_to_break: assemble a program first");
    }
    const state = studio_core.state();
    const place = studio.line_of.get(state.pc);
    return { stopped: ["breakpoint", "watch", "fault"].includes(stop.reason), pc: state.pc,
             line: place && place.file === studio.name ? place.line : null };
  },
  key: (name, down) => {
    if (typeof name !== "string" || !studio.keys.some((key) => key.key === name)) {
      throw new RangeError(`key: name must be one of ${studio.keys.map((key) => key.key).join(", ")}`);
    }
    studio_core.key(name, down);
  },
  picture: () => base64(studio_core.picture()),
  // Backwards, in the session's history.
  step_back: () => stopped_at(studio, "step_back", step_back(studio)),
  step_back_over: () => stopped_at(studio, "step_back_over", step_back_over(studio)),
  reverse_continue: (max_frames = max_search_frames) => {
    if (!Number.isInteger(max_frames) || max_frames < 0) {
      throw new RangeError("reverse_continue: max_frames must be a whole number of frames, 0 or more");
    }
    return stopped_at(studio, "reverse_continue",
                      paused_move(studio, () => studio_core.reverse_continue(max_frames)));
  },
  seek: (frame) => {
    if (!Number.isInteger(frame) || frame < 0) {
      throw new RangeError("seek: frame must be a whole number, 0 or more");
    }
    return seek_frame(studio, frame);
  },
  who_wrote: (address) => {
    if (!Number.isInteger(address) || address < 0 || address > 0xffff) {
      throw new RangeError("who_wrote: address must be a whole number from 0 to 65535");
    }
    const writer = who_wrote(studio, address);
    return writer && { frame: writer.frame, instruction: writer.instruction, pc: writer.pc,
                       file: writer.file, line: writer.line };
  },
  // The debugger's depth: step out, run to a line, run fast, the call stack, watch expressions.
  step_out: () => stopped_at(studio, "step_out", step_out(studio)),
  run_to: (file, line) => {
    if (!Number.isInteger(line) || line < 1) {
      throw new RangeError("run_to: line must be a whole number, 1 or more");
    }
    const stop = run_to(studio, String(file), line);
    if (stop === null && !studio_core.state()) {
      throw new Error("run_to: assemble a program first");
    }
    if (stop === null) {
      throw new Error(`run_to: ${file}:${line} holds no code`);
    }
    return stopped_at(studio, "run_to", stop);
  },
  // The Run fast button's run, ended by a stop, Pause or `max_frames` frames: a promise.
  run_fast: async (max_frames) => {
    if (!Number.isInteger(max_frames) || max_frames < 0) {
      throw new RangeError("run_fast: max_frames must be a whole number of frames, 0 or more");
    }
    const ended = await run(studio, true, max_frames);
    return Object.assign(stopped_at(studio, "run_fast", ended && ended.stop),
                         { frames: ended.frames });
  },
  call_stack: () => studio_core.call_stack().reverse().map((frame) => {
    const place = studio.line_of.get(frame.call);
    return { call: frame.call, target: frame.target, return: frame.return,
             interrupt: frame.interrupt, file: place ? place.file : null,
             line: place ? place.line : null };
  }),
  watch: (expression) => {
    if (!studio_core.state()) {
      throw new Error("watch: assemble a program first");
    }
    const value = watch_value(String(expression));
    return value.error ? { error: value.error } : { value: value.value };
  },
  // The project's files.
  files: () => Object.entries(project_files(studio)).map(([name, text]) => (
    { name, text, main: name === settings.main, open: name === studio.name })),
  write_file: (name, text) => write_file(studio, String(name), String(text)),
  remove_file: (name) => delete_file(studio, String(name)),
  open_file: (name) => open_file(studio, String(name)),
  set_main: (name) => set_main(studio, String(name)),
  breakpoints: () => all_breaks(studio).filter((b) => b.file),
  share_link: () => share_link(studio),
  // Resolves once every change is stored (IndexedDB), as a reload would find it.
  saved: async () => { await save_source(studio); await keep_breaks_now(studio); },
  // Beyond the contract, for the checks of sessions.
  recording: () => studio_core.recording(),
  replay: (script) => replay(studio, script),
});
