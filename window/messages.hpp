#pragma once

#include <cstddef>
#include <cstdint>

// Window message numbers and virtual-key codes with their Win32 values (spelled in lower case so
// that the system headers' macros of the same names cannot clash with them). The portable window
// procedure works on these; each platform layer delivers its events in this form.
namespace Tavrin::messages {

inline constexpr std::uint32_t wm_move = 0x0003;
inline constexpr std::uint32_t wm_size = 0x0005;
inline constexpr std::uint32_t wm_setfocus = 0x0007;
inline constexpr std::uint32_t wm_killfocus = 0x0008;
inline constexpr std::uint32_t wm_close = 0x0010;
inline constexpr std::uint32_t wm_keydown = 0x0100;
inline constexpr std::uint32_t wm_keyup = 0x0101;
inline constexpr std::uint32_t wm_syskeydown = 0x0104;
inline constexpr std::uint32_t wm_syskeyup = 0x0105;
inline constexpr std::uint32_t wm_command = 0x0111;
inline constexpr std::uint32_t wm_mousemove = 0x0200;
inline constexpr std::uint32_t wm_lbuttondown = 0x0201;
inline constexpr std::uint32_t wm_lbuttonup = 0x0202;
inline constexpr std::uint32_t wm_rbuttondown = 0x0204;
inline constexpr std::uint32_t wm_rbuttonup = 0x0205;
inline constexpr std::uint32_t wm_mbuttondown = 0x0207;
inline constexpr std::uint32_t wm_mbuttonup = 0x0208;
inline constexpr std::uint32_t wm_mousewheel = 0x020A;
inline constexpr std::uint32_t wm_capturechanged = 0x0215;

// System commands named by the wm_command rule.
inline constexpr std::uint32_t sc_maximize = 0xF030;
inline constexpr std::uint32_t sc_close = 0xF060;
inline constexpr std::uint32_t sc_restore = 0xF120;

// One wheel notch.
inline constexpr std::int32_t wheel_delta = 120;

// Virtual-key codes. Letters and digits are their upper-case ASCII codes ('A' is 0x41).
inline constexpr std::uint32_t vk_back = 0x08;
inline constexpr std::uint32_t vk_tab = 0x09;
inline constexpr std::uint32_t vk_return = 0x0D;
inline constexpr std::uint32_t vk_shift = 0x10;
inline constexpr std::uint32_t vk_control = 0x11;
inline constexpr std::uint32_t vk_menu = 0x12;
inline constexpr std::uint32_t vk_escape = 0x1B;
inline constexpr std::uint32_t vk_space = 0x20;
inline constexpr std::uint32_t vk_left = 0x25;
inline constexpr std::uint32_t vk_up = 0x26;
inline constexpr std::uint32_t vk_right = 0x27;
inline constexpr std::uint32_t vk_down = 0x28;
inline constexpr std::uint32_t vk_f1 = 0x70;
inline constexpr std::uint32_t vk_f10 = 0x79;
inline constexpr std::uint32_t vk_f12 = 0x7B;
// A gamepad's controls, as Windows names them: the standard layout's bottom face button, the
// d-pad, start (menu), back (view) and the left stick's horizontal directions.
inline constexpr std::uint32_t vk_gamepad_a = 0xC3;
inline constexpr std::uint32_t vk_gamepad_dpad_left = 0xCD;
inline constexpr std::uint32_t vk_gamepad_dpad_right = 0xCE;
inline constexpr std::uint32_t vk_gamepad_menu = 0xCF;
inline constexpr std::uint32_t vk_gamepad_view = 0xD0;
inline constexpr std::uint32_t vk_gamepad_left_thumbstick_right = 0xD5;
inline constexpr std::uint32_t vk_gamepad_left_thumbstick_left = 0xD6;

// Indices of the mouse buttons in the key flags: the values of their button-down messages.
inline constexpr std::size_t left_button = wm_lbuttondown;
inline constexpr std::size_t right_button = wm_rbuttondown;
inline constexpr std::size_t middle_button = wm_mbuttondown;

// The message for a key going down or up: with Alt held, and for F10, Win32 sends system-key
// messages instead.
constexpr std::uint32_t key_message(std::uint32_t code, bool down, bool alt) {
    const bool system = alt || code == vk_f10;
    return system ? (down ? wm_syskeydown : wm_syskeyup) : (down ? wm_keydown : wm_keyup);
}

// Key messages carry codes 0 to 255; the flags above 255 belong to the mouse buttons.
inline constexpr std::uint32_t key_code_count = 256;

} // namespace Tavrin::messages
