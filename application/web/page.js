// What a page of the machine needs besides the program: the picture fitted to the space the page
// leaves it, exact to the device pixel, and the player's controls beside the keyboard (touch
// controls, gamepads, and the key legend named by the keyboard's own layout). Each function
// takes the elements it works on, so that any page with a canvas can use it.
//
//     const fit = tavrin_page.keep_fitted(room, stage, screen, canvas, (result) => ...);
//     tavrin_page.connect_touch_controls(document, send);   // send(code, down)
//     tavrin_page.poll_gamepads(send, on_any_press, on_unreadable);  // every animation frame
//     tavrin_page.name_keys_by_layout(document);
//     const states = tavrin_page.kept_states(() => hash);  // states.put("saved", bytes) ...
"use strict";
globalThis.tavrin_page = (function () {
    const picture_width = 224;
    const picture_height = 256;

    // The largest whole number of device pixels per machine pixel that fits `width` x `height`
    // CSS pixels at `ratio` device pixels per CSS pixel; 0 where not even one fits.
    function whole_scale(width, height, ratio) {
        return Math.max(0, Math.min(Math.floor((width * ratio) / picture_width),
                                    Math.floor((height * ratio) / picture_height)));
    }

    // The step, in CSS pixels, of the places that are whole CSS pixels and whole device pixels
    // alike (2 at a ratio of 1.5, 8 at 2.625), or 0 where none is near.
    function common_step(ratio) {
        const whole = (n) => Math.abs(n * ratio - Math.round(n * ratio)) < 1e-6;
        return [1, 2, 3, 4, 5, 6, 8].find(whole) || 0;
    }

    // The canvas's box for the picture at `scale`: a size on the page in whole CSS pixels that
    // are whole device pixels too (browsers that lay out in CSS pixels and those that lay out in
    // device pixels then show it alike, one backing pixel per device pixel), the backing store
    // of that many device pixels, and where the picture lies in it (the few pixels left over
    // around it show the background).
    function canvas_box(scale, ratio) {
        const width = picture_width * scale;
        const height = picture_height * scale;
        const step = common_step(ratio);
        const page = (size) => (step ? Math.ceil(size / ratio / step) * step : size / ratio);
        const box = { width: page(width), height: page(height) };
        box.backing = [Math.round(box.width * ratio), Math.round(box.height * ratio)];
        box.picture = [Math.floor((box.backing[0] - width) / 2),
                       Math.floor((box.backing[1] - height) / 2), width, height];
        return box;
    }

    // Sizes `canvas` with the picture at the largest whole number of device pixels per machine
    // pixel that fits `room`: an element, hidden, whose box the page's style makes the most space
    // the rest of the page leaves the picture at this window's size. The stage's parent gets the
    // canvas's size as --picture-width and --picture-height, for its layout to make `stage` (a
    // positioned element) at least that large. Where not even one fits, the picture is scaled
    // down smoothly to fit. `screen` (the canvas's box, absolutely positioned in the stage,
    // holding any notices over it) is centred in the stage on a device pixel, wherever the
    // stage's own place (an odd width, a scrollbar) would put it between two. The canvas's
    // `picture_viewport` ([left, top, width, height] in its backing store) tells the program
    // where to draw. Returns { scale, smooth }.
    function fit_picture(room, stage, screen, canvas) {
        const ratio = window.devicePixelRatio || 1;
        const space = room.getBoundingClientRect();
        let scale = whole_scale(space.width, space.height, ratio);
        let box = canvas_box(Math.max(scale, 1), ratio);
        while (scale > 1 && (box.width > space.width || box.height > space.height)) {
            box = canvas_box(--scale, ratio);
        }
        const smooth = scale === 0;
        if (smooth) {
            const shown = Math.min(space.width / picture_width, space.height / picture_height);
            box = { width: picture_width * shown, height: picture_height * shown,
                    backing: [picture_width, picture_height],
                    picture: [0, 0, picture_width, picture_height] };
        }
        if (canvas.width !== box.backing[0] || canvas.height !== box.backing[1]) {
            canvas.width = box.backing[0]; // each clears the picture until the next frame
            canvas.height = box.backing[1];
        }
        canvas.picture_viewport = box.picture;
        canvas.style.width = `${box.width}px`;
        canvas.style.height = `${box.height}px`;
        canvas.classList.toggle("smooth", smooth);
        stage.parentElement.style.setProperty("--picture-width", `${box.width}px`);
        stage.parentElement.style.setProperty("--picture-height", `${box.height}px`);
        // From the viewport's corner, then back to the stage's, as the layout has it now.
        const stage_box = stage.getBoundingClientRect();
        const step = common_step(ratio);
        const place = (start, free) => {
            const centre = start + free / 2;
            return (step ? Math.round(centre / step) * step
                         : Math.round(centre * ratio) / ratio) - start;
        };
        screen.style.left = `${place(stage_box.x, stage_box.width - box.width)}px`;
        screen.style.top = `${place(stage_box.y, stage_box.height - box.height)}px`;
        return { scale, smooth };
    }

    // Fits the picture now and again whenever the room's or the stage's size, the window's size
    // or the device pixel ratio (zoom, another screen) changes; `fitted` hears each result.
    function keep_fitted(room, stage, screen, canvas, fitted) {
        const fit = () => fitted(fit_picture(room, stage, screen, canvas));
        const observer = new ResizeObserver(fit);
        observer.observe(room);
        observer.observe(stage);
        window.addEventListener("resize", fit);
        const watch_ratio = () => {
            matchMedia(`(resolution: ${window.devicePixelRatio}dppx)`)
                .addEventListener("change", () => { fit(); watch_ratio(); }, { once: true });
        };
        watch_ratio();
        fit();
        return fit;
    }

    // A control's `data-key`: a machine key's letter, or "Backspace" (the rewind).
    const key_code = (key) => (key === "Backspace" ? 0x08 : key.charCodeAt(0));

    // On-screen controls: every element with `data-key` (a machine key's letter, "C" and so on)
    // holds that key while at least one pointer presses it, so that two thumbs can hold right
    // and fire together. A pointer follows its finger: sliding off a control lets that control
    // go, and sliding onto another presses it, so that a thumb rocks from left to right without
    // lifting. `send(code, down)` takes the key's code.
    function connect_touch_controls(root, send) {
        const pressing = new Map(); // pointer id: the control it presses, or null between two
        const holders = (control) => [...pressing.values()].filter((c) => c === control).length;
        const move = (pointer, control) => {
            const before = pressing.get(pointer) || null;
            if (control === undefined) {
                pressing.delete(pointer);
            } else {
                pressing.set(pointer, control);
            }
            if (before === control) {
                return;
            }
            if (before && holders(before) === 0) {
                send(key_code(before.dataset.key), false);
                before.classList.remove("held");
            }
            if (control && holders(control) === 1) {
                send(key_code(control.dataset.key), true);
                control.classList.add("held");
            }
        };
        const control_at = (event) => {
            const under = document.elementFromPoint(event.clientX, event.clientY);
            const control = under && under.closest("[data-key]");
            return control && root.contains(control) ? control : null;
        };
        root.addEventListener("pointerdown", (event) => {
            const control = event.target.closest && event.target.closest("[data-key]");
            if (control) {
                event.preventDefault();
                move(event.pointerId, control);
            }
        });
        window.addEventListener("pointermove", (event) => {
            if (pressing.has(event.pointerId)) {
                move(event.pointerId, control_at(event));
            }
        });
        for (const type of ["pointerup", "pointercancel"]) {
            window.addEventListener(type, (event) => move(event.pointerId, undefined));
        }
        root.addEventListener("contextmenu", (event) => {
            if (event.target.closest && event.target.closest("[data-key]")) {
                event.preventDefault();
            }
        });
    }

    // The standard gamepad mapping's controls as the Windows names of the gamepad's keys, which
    // the program's key map takes: bottom face button (fire), back (coin), start (one
    // player), d-pad left and right, and the left stick's horizontal axis, past half way.
    const gamepad_buttons = [[0, 0xC3], [8, 0xD0], [9, 0xCF], [14, 0xCD], [15, 0xCE]];
    const stick_left = 0xD6;
    const stick_right = 0xD5;

    function gamepad_controls(pad) {
        const down = new Set();
        for (const [button, code] of gamepad_buttons) {
            if (pad.buttons[button] && pad.buttons[button].pressed) {
                down.add(code);
            }
        }
        const x = pad.axes.length > 0 ? pad.axes[0] : 0;
        if (x <= -0.5) {
            down.add(stick_left);
        } else if (x >= 0.5) {
            down.add(stick_right);
        }
        return down;
    }

    // Reads every connected gamepad once an animation frame, whether the machine runs or not,
    // and sends each control that went down or up; `pressed` hears of every control going down.
    // Gamepads without the standard mapping cannot be read: `unreadable` hears their names
    // (the browser's ids) whenever that list changes.
    function poll_gamepads(send, pressed, unreadable) {
        let held = new Set();
        let unread = "";
        const poll = () => {
            const now = new Set();
            const others = [];
            for (const pad of navigator.getGamepads ? navigator.getGamepads() : []) {
                if (pad && pad.mapping === "standard") {
                    gamepad_controls(pad).forEach((code) => now.add(code));
                } else if (pad) {
                    others.push(pad.id);
                }
            }
            if (others.join("\n") !== unread) {
                unread = others.join("\n");
                unreadable(others);
            }
            for (const code of held) {
                if (!now.has(code)) {
                    send(code, false);
                }
            }
            for (const code of now) {
                if (!held.has(code)) {
                    send(code, true);
                    pressed();
                }
            }
            held = now;
            requestAnimationFrame(poll);
        };
        requestAnimationFrame(poll);
    }

    // Keys are read by their place on the keyboard: each `kbd[data-code]` ("KeyQ") shows what
    // that place carries on the player's layout, where the browser tells it.
    function name_keys_by_layout(root) {
        if (!navigator.keyboard || !navigator.keyboard.getLayoutMap) {
            return;
        }
        navigator.keyboard.getLayoutMap().then((layout) => {
            for (const key of root.querySelectorAll("kbd[data-code]")) {
                const name = layout.get(key.dataset.code);
                if (name) {
                    key.textContent = name.toUpperCase();
                }
            }
        }, () => {});
    }

    // The machine's states kept in the browser, each image's apart under the SHA-256 that
    // `hash()` gives: `put(name, bytes)` returns whether the browser kept them, `get(name)` the
    // bytes or null, `remove(name)`. In localStorage, which a page that is going still writes
    // at once, a byte a character.
    function kept_states(hash) {
        const key = (name) => `tavrin-mirellon.state.${hash()}.${name}`;
        const attempt = (action, otherwise) => {
            try {
                return action();
            } catch {
                return otherwise; // storage full, or turned off
            }
        };
        return {
            get: (name) => attempt(() => {
                const text = localStorage.getItem(key(name));
                return text === null ? null : Uint8Array.from(text, (c) => c.charCodeAt(0));
            }, null),
            put: (name, bytes) => attempt(() => {
                let text = "";
                for (let i = 0; i < bytes.length; i += 8192) {
                    text += String.fromCharCode.apply(null, bytes.subarray(i, i + 8192));
                }
                localStorage.setItem(key(name), text);
                return true;
            }, false),
            remove: (name) => attempt(() => localStorage.removeItem(key(name))),
        };
    }

    return { whole_scale, fit_picture, keep_fitted, connect_touch_controls, poll_gamepads,
             name_keys_by_layout, kept_states };
})();
