// The studio's bridge to its WebAssembly (appended to tavrin-studio.js): globalThis.studio_core
// turns the plain C functions of studio/studio_main.cpp into calls with strings, numbers and
// byte arrays. The page (studio.js) uses nothing else of the module.
//
//     studio_core.put_file("main.asm", text);
//     const result = studio_core.assemble("main.asm"); // {ok, errors, listing, symbols, lines, rom}
//     studio_core.reset();
//     const stop = studio_core.run_frames(60);         // {reason, address} or {error}
(function () {
  const encoder = new TextEncoder();
  const decoder = new TextDecoder();
  const reasons = ["done", "breakpoint", "watch", "limit"];
  const output = { errors: 0, listing: 1, symbols: 2, lines: 3, recording: 4, disassembly: 5,
                   message: 6, examples: 7 };

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
  const text_of = (kind) => {
    const start = _studio_output(kind);
    return decoder.decode(HEAPU8.subarray(start, start + _studio_output_size(kind)));
  };
  const stop_of = (code) => code < 0 ? { error: text_of(output.message) }
                                     : { reason: reasons[code & 0xff], address: code >>> 8 };

  globalThis.studio_core = {
    examples: () => text_of(output.examples).split("\n").filter((name) => name).map((name, i) => {
      const start = _studio_example_text(i);
      return { name: name, text: decoder.decode(HEAPU8.subarray(start, start + _studio_example_size(i))) };
    }),
    put_file: (name, text) => with_text(name, (n, n_size) =>
      with_text(text, (t, t_size) => _studio_put_file(n, n_size, t, t_size))),
    assemble: (name) => {
      const ok = with_text(name, _studio_assemble) === 1;
      const errors = text_of(output.errors).split("\n").filter((line) => line).map((line) => {
        const [number, file, ...message] = line.split("\t");
        return { line: Number(number), file: file, message: message.join("\t") };
      });
      const rom = _studio_rom();
      return { ok: ok, errors: errors, listing: text_of(output.listing),
               symbols: text_of(output.symbols), lines: text_of(output.lines),
               rom: ok ? HEAPU8.slice(rom, rom + 8192) : null };
    },
    reset: () => _studio_reset() === 1,
    step: () => stop_of(_studio_step()),
    step_over: (max_frames) => stop_of(_studio_step_over(max_frames)),
    run_frames: (count) => stop_of(_studio_run_frames(count)),
    set_break: (address, on) => _studio_break(address, on ? 1 : 0),
    clear_breaks: () => _studio_clear_breaks(),
    watch: (first, length) => _studio_watch(first, length),
    clear_watches: () => _studio_clear_watches(),
    key: (name, down) => _studio_key(name.charCodeAt(0), down ? 1 : 0),
    replay: (script) => with_text(script, _studio_replay) === 1 ? null : text_of(output.message),
    recording: () => { _studio_make_recording(); return text_of(output.recording); },
    state: () => {
      const start = _studio_state() >>> 2;
      if (start === 0) {
        return null;
      }
      const s = HEAPU32.subarray(start, start + 13);
      return { pc: s[0], a: s[1], bc: s[2], de: s[3], hl: s[4], sp: s[5], flags: s[6],
               interrupts_enabled: s[7] === 1, frames: s[8], instructions: s[10] * 2 ** 32 + s[9],
               in_period: s[11], in_frame: s[12] };
    },
    memory: () => {
      const start = _studio_memory();
      return start === 0 ? null : HEAPU8.subarray(start, start + 65536);
    },
    picture: () => {
      const start = _studio_picture();
      return HEAPU8.subarray(start, start + 224 * 256);
    },
    disassemble: (address, count) => {
      _studio_disassemble(address, count);
      return text_of(output.disassembly).split("\n").filter((line) => line).map((line) => {
        const [where, bytes, text] = line.split("\t");
        return { address: parseInt(where, 16), bytes: bytes.trim(), text: text };
      });
    },
  };
})();
