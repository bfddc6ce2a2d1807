// The interface for automated checks, globalThis.tavrin_studio (README.md, "The studio"), which
// studio.js defines once the WebAssembly module has started:
//
//     tavrin_studio.set_source(text);
//     tavrin_studio.assemble();                // {ok, errors: [{line, message}], rom (base64)}
//     tavrin_studio.break_at("draw");          // a line number, a symbol or "1A2BH"
//     tavrin_studio.continue_to_break(600);    // {stopped, pc, line}
//     tavrin_studio.registers();               // {pc, a, bc, de, hl, sp, flags}

import { break_at, clear_breaks } from "./studio_breaks.js";
import { set_source } from "./studio_editor.js";
import { assemble, paused_move, power_on, replay, step, step_over } from "./studio_machine.js";
import { base64 } from "./studio_text.js";

export const checks_interface = (studio) => ({
  set_source: (text) => set_source(studio, String(text)),
  assemble: () => {
    const result = assemble(studio);
    return { ok: result.ok, errors: result.errors.map((e) => ({ line: e.line, message: e.message })),
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
  break_at: (where) => break_at(studio, where),
  clear_breaks: () => clear_breaks(studio),
  continue_to_break: (max_frames) => {
    const stop = paused_move(studio, () => studio_core.run_frames(max_frames));
    if (stop === null) {
      throw new Error("continue_to_break: assemble a program first");
    }
    const state = studio_core.state();
    const place = studio.line_of.get(state.pc);
    return { stopped: stop.reason === "breakpoint" || stop.reason === "watch", pc: state.pc,
             line: place && place.file === studio.name ? place.line : null };
  },
  key: (name, down) => {
    if (typeof name !== "string" || !studio.keys.some((key) => key.key === name)) {
      throw new RangeError(`key: name must be one of ${studio.keys.map((key) => key.key).join(", ")}`);
    }
    studio_core.key(name, down);
  },
  picture: () => base64(studio_core.picture()),
  // Beyond the contract, for the checks of sessions.
  recording: () => studio_core.recording(),
  replay: (script) => replay(studio, script),
});
