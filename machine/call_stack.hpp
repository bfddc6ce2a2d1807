#pragma once

// The calls a program is inside, as a debugger shows them: a frame for each CALL, conditional
// call taken, RST and interrupt, gone again at the RET (or conditional return taken) that pops
// its return address. Each step of the session is told to it with the machine before and after:
//
//     Drovask::Call_Stack calls;
//     const Drovask::Call_Stack::Before before = Drovask::Call_Stack::before(session.board);
//     session.step();
//     calls.stepped(before, session.board);
//     for (const Drovask::Call_Frame& frame : calls.frames(session.board.processor.sp)) ...
//
// A frame keeps the stack pointer at which its return address lies, so a program that drops its
// return address (POP it, load SP afresh, jump back through PCHL) or rewrites it does not leave
// the stack wrong: a return pops the frame at its stack pointer and those below it, a call drops
// the frames at or below its own, and the frames shown are those the stack still holds. It has
// room for `capacity` frames; a deeper recursion forgets its outermost calls. Nothing allocates.

#include "machine/board.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace Drovask {

struct Call_Frame {
    std::uint16_t call;           // the CALL or RST, or for an interrupt the PC it interrupted
    std::uint16_t target;         // where it went: the routine's address, or the interrupt's
    std::uint16_t return_address; // pushed on the stack
    std::uint16_t sp;             // where the return address lies
    bool interrupt;

    bool operator==(const Call_Frame&) const = default;
};

class Call_Stack {
public:
    static constexpr std::size_t capacity = 64;

    // What a step needs to know of the machine before it.
    struct Before {
        std::uint16_t pc, sp;
        std::uint8_t opcode;
        std::uint32_t interrupt_number; // changes when an interrupt is delivered
    };
    static Before before(const Board& board) {
        const Intel_8080& p = board.processor;
        return {p.pc, p.sp, p.memory[p.pc], board.interrupt_number};
    }

    // After one step of the session (an instruction, then the timer if it fired).
    void stepped(const Before& before, const Board& after) {
        const Intel_8080& p = after.processor;
        const bool interrupted = after.interrupt_number != before.interrupt_number;
        // The instruction's own effect, without the interrupt's push after it.
        const auto sp = static_cast<std::uint16_t>(interrupted ? p.sp + 2 : p.sp);
        const std::uint16_t pc = interrupted ? word_at(p, p.sp) : p.pc;
        if (is_call(before.opcode) && sp == static_cast<std::uint16_t>(before.sp - 2)) {
            push({before.pc, pc, static_cast<std::uint16_t>(before.pc + call_size(before.opcode)),
                  sp, false});
        } else if (is_return(before.opcode) && sp == static_cast<std::uint16_t>(before.sp + 2)) {
            returned(before.sp);
        }
        if (interrupted) {
            push({pc, p.pc, pc, p.sp, true});
        }
    }

    // The frames the stack still holds with the stack pointer at `sp`, outermost first.
    std::span<const Call_Frame> frames(std::uint16_t sp) const {
        std::size_t live = count_;
        while (live > 0 && frames_[live - 1].sp < sp) {
            --live;
        }
        return {frames_.data(), live};
    }

    // Every frame kept, those the stack no longer holds included: what `assign` takes back.
    std::span<const Call_Frame> all() const { return {frames_.data(), count_}; }
    // The frames as they were at another point (`all()` then).
    void assign(std::span<const Call_Frame> frames) {
        count_ = std::min(frames.size(), capacity);
        std::copy_n(frames.end() - static_cast<std::ptrdiff_t>(count_), count_, frames_.begin());
    }
    void clear() { count_ = 0; }

    // CALL, a conditional call and RST.
    static constexpr bool is_call(std::uint8_t opcode) {
        return opcode == 0xCD || (opcode & 0xC7) == 0xC4 || (opcode & 0xC7) == 0xC7;
    }
    static constexpr std::uint16_t call_size(std::uint8_t opcode) {
        return (opcode & 0xC7) == 0xC7 ? 1 : 3;
    }
    // RET and a conditional return.
    static constexpr bool is_return(std::uint8_t opcode) {
        return opcode == 0xC9 || (opcode & 0xC7) == 0xC0;
    }

private:
    static std::uint16_t word_at(const Intel_8080& p, std::uint16_t address) {
        return static_cast<std::uint16_t>(p.memory[address] |
                                          p.memory[static_cast<std::uint16_t>(address + 1)] << 8);
    }

    void push(const Call_Frame& frame) {
        while (count_ > 0 && frames_[count_ - 1].sp <= frame.sp) {
            --count_; // stale: the stack has moved up past them
        }
        if (count_ == capacity) {
            for (std::size_t i = 1; i < capacity; ++i) {
                frames_[i - 1] = frames_[i];
            }
            --count_;
        }
        frames_[count_++] = frame;
    }

    void returned(std::uint16_t sp) {
        while (count_ > 0 && frames_[count_ - 1].sp <= sp) {
            --count_;
        }
    }

    std::array<Call_Frame, capacity> frames_{};
    std::size_t count_ = 0;
};

} // namespace Drovask
