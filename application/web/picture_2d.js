// The picture without WebGL 2: where the browser gives the page no WebGL 2 context, or loses the
// one it gave, the program calls start(canvas) and then hands each frame's picture here, which
// draws it on a 2D canvas where the page's fit puts it (the canvas's picture_viewport), at the
// same whole number of device pixels per machine pixel. Each frame is put into a small canvas
// at one pixel per machine pixel, then drawn at the scale without smoothing: every device pixel
// takes its machine pixel's value, as in the WebGL picture.
//
//     Module.picture_2d = tavrin_picture_2d;
//     tavrin_picture_2d.start(canvas);   // false where not even a 2D canvas can be had
//     tavrin_picture_2d.draw(pixels);    // 224 x 256 bytes, 0 or 255 each, row by row
"use strict";
globalThis.tavrin_picture_2d = (function () {
  const width = 224;
  const height = 256;
  let page_canvas = null;
  let shown = null; // the page's canvas, or one laid over it once its WebGL context is lost
  let context = null;
  let small = null;
  let image = null;

  // A canvas laid over `canvas`, which already holds a (lost) WebGL context and cannot take a
  // 2D one. Events pass through it to the page's canvas; the page's notices stay above it.
  function overlay(canvas) {
    const over = document.createElement("canvas");
    over.setAttribute("aria-hidden", "true");
    over.style.position = "absolute";
    over.style.left = over.style.top = "0";
    over.style.pointerEvents = "none";
    canvas.after(over);
    return over;
  }

  // The overlay follows the page's canvas as the page fits it to the window.
  function follow() {
    if (shown.width !== page_canvas.width || shown.height !== page_canvas.height) {
      shown.width = page_canvas.width;
      shown.height = page_canvas.height;
    }
    for (const property of ["width", "height", "visibility"]) {
      shown.style[property] = page_canvas.style[property];
    }
    shown.className = page_canvas.className;
  }

  function start(canvas) {
    page_canvas = shown = canvas;
    context = canvas.getContext("2d");
    if (!context) {
      shown = overlay(canvas);
      context = shown.getContext("2d");
    }
    small = document.createElement("canvas");
    small.width = width;
    small.height = height;
    const small_context = small.getContext("2d");
    if (!context || !small_context) {
      return false;
    }
    image = small_context.createImageData(width, height);
    image.data.fill(255); // opaque; each frame sets the colours
    canvas.style.cursor = "default"; // the program draws no cursor of its own here
    const sound = document.getElementById("sound");
    if (sound) {
      const line = document.createElement("p");
      line.id = "picture-2d";
      line.textContent = "This browser offers no WebGL 2 here, so the picture is drawn on a " +
                         "plain canvas: the same picture, as sharp.";
      sound.after(line);
    }
    return true;
  }

  function draw(pixels) {
    if (shown !== page_canvas) {
      follow();
    }
    const rgba = image.data;
    for (let i = 0, at = 0; i < pixels.length; ++i, at += 4) {
      rgba[at] = rgba[at + 1] = rgba[at + 2] = pixels[i];
    }
    small.getContext("2d").putImageData(image, 0, 0);
    const [left, top, across, down] = page_canvas.picture_viewport ||
                                      [0, 0, shown.width, shown.height];
    context.imageSmoothingEnabled = false; // a new size of the backing store turns it on again
    context.drawImage(small, left, top, across, down);
  }

  return { start, draw };
})();
