#pragma once

// The debug adapter's side of a session: each request read from the editor becomes a response
// and perhaps events, and the machine runs in slices between them so that a `pause` is heard.
//
//     Dap::Adapter adapter([&](const Formats::Json& message) { send(message); });
//     adapter.receive(body);           // one message's JSON text: a request
//     while (adapter.running()) {      // after continue, next, stepOut...
//         adapter.run_slice();         // about a frame of the machine, then look at the input
//     }
//     if (adapter.finished()) ...      // disconnect: the program ends
//
// The machine is the studio's debugger (a session on the counted schedule, stepped through the
// inspector), so a stop here is where drovask-run and the studio would stop; its history takes
// the machine back (step back, reverse continue), and its call stack is the stack trace's.

#include "formats/json.hpp"
#include "formats/line_map.hpp"
#include "formats/symbols.hpp"
#include "studio/debugger.hpp"

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Dap {

class Adapter {
public:
    using Send = std::function<void(const Formats::Json&)>;
    // stores, stack, ports, unimplemented: `exception_filters` in adapter.cpp.
    static constexpr std::size_t exception_filter_count = 4;

    explicit Adapter(Send send);

    // One message's body, as the frame carried it; malformed JSON and wrong requests are
    // answered with an error response.
    void receive(std::string_view body);

    bool running() const { return run_.has_value(); }
    // Runs the machine up to a slice's worth of instructions, or to the stop it is running for.
    void run_slice();
    bool finished() const { return finished_; }

private:
    // reverse: a reverse continue, which looks back through the history a slice at a time.
    enum class Run_Kind : std::uint8_t { continue_, next, step_out, reverse };
    struct Run {
        Run_Kind kind;
        std::size_t depth; // next: stops at or above it; step out: above it
        bool first = true; // a breakpoint where the run starts does not stop it
    };

    // The requests, each giving the response's body or throwing Tavrin::Exception; `requests`
    // in adapter.cpp lists them.
    using Handler = Formats::Json (Adapter::*)(const Formats::Json& arguments);
    struct Request {
        std::string_view command;
        Handler handler;
        bool needs_program; // answered only after launch
    };
    static const Request requests[];

    void respond(const Formats::Json& request, std::string_view body);
    Formats::Json initialize(const Formats::Json& arguments);
    Formats::Json launch(const Formats::Json& arguments);
    Formats::Json set_breakpoints(const Formats::Json& arguments);
    Formats::Json set_function_breakpoints(const Formats::Json& arguments);
    Formats::Json set_exception_breakpoints(const Formats::Json& arguments);
    Formats::Json data_breakpoint_info(const Formats::Json& arguments);
    Formats::Json set_data_breakpoints(const Formats::Json& arguments);
    Formats::Json configuration_done(const Formats::Json& arguments);
    Formats::Json threads(const Formats::Json& arguments);
    Formats::Json continue_(const Formats::Json& arguments);
    Formats::Json next(const Formats::Json& arguments);
    Formats::Json step_in(const Formats::Json& arguments);
    Formats::Json step_out(const Formats::Json& arguments);
    Formats::Json step_back(const Formats::Json& arguments);
    Formats::Json reverse_continue(const Formats::Json& arguments);
    Formats::Json pause(const Formats::Json& arguments);
    Formats::Json stack_trace(const Formats::Json& arguments);
    Formats::Json scopes(const Formats::Json& arguments);
    Formats::Json variables(const Formats::Json& arguments);
    Formats::Json set_variable(const Formats::Json& arguments);
    Formats::Json read_memory(const Formats::Json& arguments);
    Formats::Json write_memory(const Formats::Json& arguments);
    Formats::Json disassemble(const Formats::Json& arguments);
    Formats::Json evaluate(const Formats::Json& arguments);
    Formats::Json terminate(const Formats::Json& arguments);
    Formats::Json disconnect(const Formats::Json& arguments);

    // Starting and stopping the machine.
    void start(Run_Kind kind, std::size_t depth = 0);
    void reverse_slice();
    // One instruction; true when it stopped (a watch or a fault).
    bool step_once();
    void stopped(const std::string& reason, const std::string& description = {});
    void write_picture();

    Studio::Debugger& machine();
    Drovask::Board& board(); // to change registers and memory between steps
    void refresh_breakpoints();
    std::uint16_t value_of(std::string_view expression) const;
    std::string name_of(std::uint16_t address) const;
    void add_place(Formats::Json& item, std::uint16_t address) const; // source and line
    // The first address of code on `line` of `path`, or on the nearest line below it with code.
    std::optional<Formats::Line_Map::Entry> code_at_line(const std::string& path, int line) const;

    void event(const std::string& name, Formats::Json body = Formats::Json::Object{});
    void output(const std::string& text, const std::string& category = "console");

    Send send_;
    int seq_ = 1;
    int line_base_ = 1; // the editor's first line: 1, or 0
    bool stop_on_entry_ = false;
    bool answering_ = false; // events wait for the response under way
    std::vector<Formats::Json> held_events_;
    bool finished_ = false;
    std::unique_ptr<Studio::Debugger> machine_;
    Formats::Symbols symbols_;
    Formats::Symbols labels_; // the labels alone, for disassembly as dis8080 names addresses
    Formats::Line_Map lines_;
    std::string picture_; // a PNG written at every stop
    std::optional<Run> run_;
    std::map<std::string, std::vector<std::uint16_t>> source_breakpoints_; // by source path
    std::vector<std::uint16_t> function_breakpoints_;
    std::bitset<65536> breakpoints_;      // of both kinds
    std::bitset<65536> line_breakpoints_; // set on source lines
    // The exception filters on, in the order of `exception_filters`.
    std::array<bool, exception_filter_count> exceptions_{};
};

} // namespace Dap
