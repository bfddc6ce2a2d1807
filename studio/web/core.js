// The studio's bridge to its WebAssembly (appended to tavrin-studio.js): globalThis.studio_core
// turns the plain C functions of studio/studio_main.cpp into calls with strings, numbers and
// byte arrays. What they return is JSON with named fields, made in C++; only the bulk bytes (the
// ROM, the memory, the picture) are read in place. The page (studio.js) uses nothing else of the
// module. The script defines tavrin_studio_module(), which makes a fresh instance and sets
// studio_core to it; a call that fails inside the module (an abort, memory exhausted) throws an
// Error that says so, and tells studio_core.on_failure(error) first, if it is set, since that
// instance cannot be trusted any more.
//
//     studio_core.put_file("main.asm", text);
//     const result = studio_core.assemble("main.asm"); // {ok, errors, lines, symbols, ..., rom}
//     studio_core.reset();
//     const stop = studio_core.run_frames(60);         // {reason, address} or {error}
(function () {
  const encoder = new TextEncoder();
  const decoder = new TextDecoder();

  // Calls `action(pointer, size)` with the UTF-8 bytes of `text` in the module's memory.
  const with_text = (text, action) => {
    const bytes = encoder.encode(text);
    const pointer = _malloc(bytes.length + 1);
    HEAPU8.set(bytes, pointer);
    try {
      return action(pointer, bytes.length);
    } finally {
      _free(pointer);
    }
  };
  // The value of the JSON text, ended by a zero byte, that a call returned.
  const json_at = (start) => JSON.parse(decoder.decode(HEAPU8.subarray(start, HEAPU8.indexOf(0, start))));
  const bytes_at = (start, size) => start === 0 ? null : HEAPU8.subarray(start, start + size);
  let layout = null;
  const sizes = () => {
    if (layout === null) {
      layout = json_at(_studio_layout());
    }
    return layout;
  };

  const calls = {
    examples: () => json_at(_studio_examples()),                 // [{name, text}]
    keys: () => json_at(_studio_keys()),                         // [{key, label}]
    flags: () => json_at(_studio_flags()),                       // [{mask, short, name}]
    // {rom_size, memory_size, picture_width, picture_height, ram_start, video_start, ram_end}
    layout: () => Object.assign({}, sizes()),
    clear_files: () => _studio_clear_files(), // the author's files out, the examples kept
    put_file: (name, text) => with_text(name, (n, n_size) =>
      with_text(text, (t, t_size) => _studio_put_file(n, n_size, t, t_size))),
    // {ok, errors: [{line, file, message}], notes (as errors), listing, symbol_file, symbols: [{name, value,
    // label}], lines: [{address, file, line}], rom (its bytes when it assembled)}
    assemble: (name) => {
      const result = json_at(with_text(name, _studio_assemble));
      result.rom = result.ok ? bytes_at(_studio_rom(), sizes().rom_size).slice() : null;
      return result;
    },
    reset: () => _studio_reset() === 1,
    step: () => json_at(_studio_step()),
    step_over: (max_frames) => json_at(_studio_step_over(max_frames)),
    run_frames: (count) => json_at(_studio_run_frames(count)),
    step_out: (max_frames) => json_at(_studio_step_out(max_frames)),
    run_to: (address, max_frames) => json_at(_studio_run_to(address, max_frames)),
    power_off: () => _studio_power_off(),
    call_stack: () => json_at(_studio_call_stack()),        // [{call, target, return, sp, interrupt}]
    evaluate: (text) => json_at(with_text(text, _studio_evaluate)), // {value, digits} or {error}
    // Going back, as the steps forwards: {reason, address} or {error}
    step_back: () => json_at(_studio_step_back()),
    step_back_over: () => json_at(_studio_step_back_over()),
    reverse_continue: (max_frames) => json_at(_studio_reverse_continue(max_frames)),
    seek: (frame) => _studio_seek(frame) === 1,                       // to a frame's start
    seek_instruction: (count) => _studio_seek_instruction(count) === 1,
    who_wrote: (address) => json_at(_studio_who_wrote(address)),     // {frame, instruction, pc, interrupt} or null
    picture_address: (x, y) => _studio_picture_address(x, y),       // the video byte of a pixel
    history: () => json_at(_studio_history()),                       // {earliest_frame, latest_frame, bytes} or null
    heap_bytes: () => HEAPU8.length,                                 // all of the module's memory
    set_break: (address, on) => _studio_break(address, on ? 1 : 0),
    clear_breaks: () => _studio_clear_breaks(),
    watch: (first, length) => _studio_watch(first, length),
    clear_watches: () => _studio_clear_watches(),
    // The audit's faults since power-on: {total, faults: [{pc, interrupt, times, text}]} or null
    faults: () => json_at(_studio_faults()),
    stop_on_faults: (on) => _studio_stop_on_faults(on ? 1 : 0),
    key: (name, down) => _studio_key(name.charCodeAt(0), down ? 1 : 0),
    // null, or why the script is wrong
    replay: (script) => {
      const problem = json_at(with_text(script, _studio_replay));
      return problem && problem.error;
    },
    recording: () => json_at(_studio_recording()),
    // {pc, a, bc, de, hl, sp, flags, interrupts_enabled, frames, instructions, in_period,
    // in_frame}, or null before power-on
    state: () => json_at(_studio_state()),
    memory: () => bytes_at(_studio_memory(), sizes().memory_size),
    picture: () => bytes_at(_studio_picture(), sizes().picture_width * sizes().picture_height),
    disassemble: (address, count) => json_at(_studio_disassemble(address, count)), // [{address, bytes, text}]
  };
  const core = { on_failure: null };
  // (No destructuring here: Emscripten's minifier of this Debian release mangles it.)
  for (const name of Object.keys(calls)) {
    const call = calls[name];
    core[name] = (...values) => {
      try {
        return call(...values);
      } catch (error) {
        const failure = new Error(`The studio's WebAssembly failed in ${name}: ${error.message || error}`);
        if (globalThis.studio_core.on_failure) {
          globalThis.studio_core.on_failure(failure);
        }
        throw failure;
      }
    };
  }
  globalThis.studio_core = core;
})();
