// The page's interface for automated checks: the global object tavrin_test drives the machine
// frame by frame on the headless runner's schedule and reads its picture, so that a browser
// and drovask-run, given the same ROM and keys, can be compared picture for picture.
//
//     tavrin_test.reset();              // power-on, paused, no key held
//     tavrin_test.key("C", true);       // C, Q, E, A, D or S
//     tavrin_test.run_frames(60);       // two interrupts a frame
//     tavrin_test.picture();            // base64 of 224 x 256 bytes, 0 or 255 each
//     tavrin_test.resume();             // back to real time
(function () {
  const keys = "CQEADS";
  const picture_bytes = 224 * 256;
  globalThis.tavrin_test = {
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
      if (typeof name !== "string" || name.length !== 1 || keys.indexOf(name) < 0) {
        throw new RangeError("key: name must be one of C, Q, E, A, D, S");
      }
      _tavrin_key(name.charCodeAt(0), down ? 1 : 0);
    },
    picture: function () {
      const start = _tavrin_picture();
      const bytes = HEAPU8.subarray(start, start + picture_bytes);
      let text = "";
      for (let i = 0; i < bytes.length; i += 8192) {
        text += String.fromCharCode.apply(null, bytes.subarray(i, i + 8192));
      }
      return btoa(text);
    },
  };
})();
