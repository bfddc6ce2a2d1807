// The page's interface for automated checks: the global object tavrin_test drives the machine
// frame by frame on the headless runner's schedule and reads its picture, so that a browser
// and drovask-run, given the same ROM and keys, can be compared picture for picture. Beside it,
// tavrin_machine is what the page's own controls call: the player's pause, the touch controls'
// and gamepads' keys, a ROM image of the player's, a start after the end, and the machine's
// state saved and loaded as a state file; and it tells the machine's keys, from the program's
// key table:
//
//     tavrin_machine.keys();            // [{ key: "C", label: "coin" }, ...]
//
//     tavrin_test.reset();              // power-on with the current image, paused, no key held
//     tavrin_test.key("C", true);       // one of tavrin_machine.keys()' letters
//     tavrin_test.run_frames(60);       // two interrupts a frame
//     tavrin_test.picture();            // base64 of 224 x 256 bytes, 0 or 255 each
//     tavrin_test.instructions();       // run since power-on
//     tavrin_test.save_state();         // base64 of the state file (.tmstate)
//     tavrin_test.load_state(text);     // throws an Error saying why a state is refused
//     tavrin_test.resume();             // back to real time
//
// tavrin_test is defined once the program has started (after main), when every call works; a
// script waits for the object, and nothing else.
(function () {
  const c_string = (start) => new TextDecoder().decode(HEAPU8.subarray(start, HEAPU8.indexOf(0, start)));
  const to_base64 = (bytes) => {
    let text = "";
    for (let i = 0; i < bytes.length; i += 8192) {
      text += String.fromCharCode.apply(null, bytes.subarray(i, i + 8192));
    }
    return btoa(text);
  };
  // Read from the module once it has loaded, and kept.
  let machine_keys = null;
  const keys = () => {
    if (!machine_keys) {
      machine_keys = JSON.parse(c_string(_tavrin_machine_keys()));
    }
    return machine_keys;
  };
  const picture_bytes = 224 * 256;
  const machine = {
    hold: function (paused) { _tavrin_hold(paused ? 1 : 0); },
    // A virtual-key code: a machine key's letter, or a gamepad's control (0xC3 and so on).
    input: function (code, down) { _tavrin_input(code, down ? 1 : 0); },
    start_again: function () { _tavrin_start_again(); },
    keys: function () { return keys().map((machine_key) => Object.assign({}, machine_key)); },
    // Power-on with `image` (8,192 bytes), or with the built-in program for null.
    use_rom: function (image) {
      if (image) {
        HEAPU8.set(image, _tavrin_chosen_rom());
      }
      _tavrin_use_rom(image ? 1 : 0);
    },
    // The SHA-256 of the image being played, in hexadecimal: what its states are kept under.
    rom_hash: function () { return c_string(_tavrin_rom_hash()); },
    // The state file's bytes, or null once the emulation has ended.
    save_state: function () {
      const start = _tavrin_save_state();
      return start ? HEAPU8.slice(start, start + _tavrin_state_size()) : null;
    },
    // The machine goes on from `bytes` (a state file) with a past of its own: null, or the
    // reason it was refused, which starts with `name` (the machine then goes on as it was).
    load_state: function (bytes, name) {
      const name_bytes = new TextEncoder().encode(name);
      const start = _tavrin_state_buffer(bytes.length + name_bytes.length);
      HEAPU8.set(bytes, start);
      HEAPU8.set(name_bytes, start + bytes.length);
      const refusal = _tavrin_load_state(bytes.length, name_bytes.length);
      return refusal ? c_string(refusal) : null;
    },
  };
  const test_interface = {
    reset: function () { _tavrin_reset(); },
    pause: function () { _tavrin_pause(); },
    resume: function () { _tavrin_resume(); },
    run_frames: function (n) {
      if (!Number.isInteger(n) || n < 0) {
        throw new RangeError("run_frames: n must be a whole number of frames, 0 or more");
      }
      return _tavrin_run_frames(n) !== 0;
    },
    key: function (name, down) {
      if (!keys().some((machine_key) => machine_key.key === name)) {
        const letters = keys().map((machine_key) => machine_key.key).join(", ");
        throw new RangeError("key: name must be one of " + letters);
      }
      _tavrin_input(name.charCodeAt(0), down ? 1 : 0);
    },
    picture: function () {
      const start = _tavrin_picture();
      return to_base64(HEAPU8.subarray(start, start + picture_bytes));
    },
    instructions: function () { return _tavrin_instructions(); },
    save_state: function () {
      const bytes = machine.save_state();
      return bytes ? to_base64(bytes) : null;
    },
    load_state: function (text) {
      const bytes = Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
      const refusal = machine.load_state(bytes, "load_state");
      if (refusal) {
        throw new Error(refusal);
      }
    },
  };
  addOnPostRun(() => { globalThis.tavrin_test = test_interface; });
  globalThis.tavrin_machine = machine;
})();
