#pragma once

#include "base/clock.hpp"
#include "base/exception.hpp"
#include "machine/machine.hpp"
#include "tests/machine/rom_with.hpp"
#include "window/window.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <limits>
#include <memory>

// One real window with its OpenGL context for the whole test program, and a fresh machine per
// test built on it.
class Machine_Test : public ::testing::Test {
public:
    static void SetUpTestSuite() {
        window = std::make_unique<Tavrin::Window>(
            "machine test", Tavrin::Vector2i{448, 512}, Tavrin::Color{0.3f, 0.3f, 0.3f, 1.0f},
            Tavrin::Color{1.0f, 1.0f, 1.0f, 1.0f}, Tavrin::Vector2i{130, 130});
    }
    static void TearDownTestSuite() { window.reset(); }

protected:
    void SetUp() override {
        for (auto& key : window->key_held) {
            key = false;
        }
        window->open = true;
    }

    // A machine running `program`, with its timer held off until a test forces it.
    std::unique_ptr<Drovask::Machine> machine_with(std::initializer_list<std::uint8_t> program) {
        rom = rom_with(program);
        auto machine = std::make_unique<Drovask::Machine>(window.get(), Drovask::Rom{rom});
        hold_timer(*machine);
        return machine;
    }

    static void hold_timer(Drovask::Machine& machine) {
        machine.session.board.last_interrupt_time = std::numeric_limits<double>::max();
    }
    static void force_timer(Drovask::Machine& machine) {
        machine.session.board.last_interrupt_time = 0.0;
    }

    inline static std::unique_ptr<Tavrin::Window> window;
    std::array<std::uint8_t, Drovask::rom_size> rom{};
};
