#include "tools/drovask-dap/adapter.hpp"

#include "tools/drovask-dap/expressions.hpp"

#include "base/exception.hpp"
#include "formats/key_script.hpp"
#include "machine/rom_file.hpp"
#include "tools/asm8080/assembler.hpp"
#include "tools/disassembler/disassembler.hpp"
#include "tools/drovask-run/pictures.hpp"
#include "tools/drovask-run/runner.hpp"
#include "tools/files/format_files.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iterator>

namespace Dap {

namespace {

namespace fs = std::filesystem;
using Formats::Json;

// Instructions run between two looks at the input while the machine runs: a frame's worth.
constexpr int slice_instructions = 2 * Drovask::default_instructions_per_interrupt;
// Frames looked through between two looks at the input while going back: a few hundredths of a
// second.
constexpr std::uint64_t reverse_slice_frames = 120;
constexpr int thread_id = 1;
constexpr std::size_t max_stack_words = 32; // the Stack scope's words from SP up

enum Scope : int { registers_scope = 1, flags_scope = 2, stack_scope = 3 };

// The exception breakpoints: the faults of drovask-run's audit, and the instructions that the
// machine does not implement.
struct Exception_Filter {
    std::string_view id;
    std::string_view label;
    std::string_view description;
    bool on_at_first;
};
constexpr std::array<Exception_Filter, Adapter::exception_filter_count> exception_filters{{
    {"stores", "Stores outside RAM",
     "A store dropped outside RAM (2000H-3FFFH), or one through HL into the ROM or above RAM",
     true},
    {"stack", "Stack leaving RAM", "SP changed to a place outside RAM", true},
    {"ports", "Ignored ports", "An IN or OUT to a port that the machine does not answer", false},
    {"unimplemented", "Unimplemented instructions",
     "An instruction that the machine does not implement; when off, the session ends there", true},
}};
constexpr std::size_t unimplemented_filter = 3;

std::size_t filter_of(Drovask::Fault_Kind kind) {
    switch (kind) {
    case Drovask::Fault_Kind::stack_outside_ram:
        return 1;
    case Drovask::Fault_Kind::ignored_input_port:
    case Drovask::Fault_Kind::ignored_output_port:
        return 2;
    default:
        return 0;
    }
}

[[noreturn]] void refuse(const std::string& message) {
    throw Tavrin::Exception{message};
}

std::string hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::uint16_t word_at(const Intel_8080& p, std::uint16_t address) {
    return static_cast<std::uint16_t>(p.memory[address] |
                                      p.memory[static_cast<std::uint16_t>(address + 1)] << 8);
}

// The arguments as the requests take them; a wrong one is refused with its name.
const Json& member(const Json& arguments, std::string_view name) {
    const Json* value = arguments.find(name);
    if (value == nullptr) {
        refuse("the argument '" + std::string(name) + "' is missing");
    }
    return *value;
}

std::string string_argument(const Json& arguments, std::string_view name) {
    const Json& value = member(arguments, name);
    if (!value.is_string()) {
        refuse("the argument '" + std::string(name) + "' is not a string");
    }
    return value.string();
}

std::optional<std::string> optional_string(const Json& arguments, std::string_view name) {
    if (arguments.find(name) == nullptr || arguments.find(name)->is_null()) {
        return std::nullopt;
    }
    return string_argument(arguments, name);
}

long long integer_argument(const Json& arguments, std::string_view name, long long least,
                           long long most, std::optional<long long> otherwise = std::nullopt) {
    const Json* value = arguments.find(name);
    if ((value == nullptr || value->is_null()) && otherwise) {
        return *otherwise;
    }
    const double number = member(arguments, name).number();
    if (!member(arguments, name).is_number() || number != std::floor(number) ||
        number < static_cast<double>(least) || number > static_cast<double>(most)) {
        refuse("the argument '" + std::string(name) + "' is not a whole number from " +
               std::to_string(least) + " to " + std::to_string(most));
    }
    return static_cast<long long>(number);
}

bool flag_argument(const Json& arguments, std::string_view name) {
    const Json* value = arguments.find(name);
    if (value == nullptr || value->is_null()) {
        return false;
    }
    if (!value->is_bool()) {
        refuse("the argument '" + std::string(name) + "' is not true or false");
    }
    return value->boolean();
}

const Json::Array& array_argument(const Json& arguments, std::string_view name) {
    const Json& value = member(arguments, name);
    if (!value.is_array()) {
        refuse("the argument '" + std::string(name) + "' is not an array");
    }
    return value.array();
}

constexpr std::string_view base64_digits =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        unsigned group = unsigned{bytes[i]} << 16;
        group |= n > 1 ? unsigned{bytes[i + 1]} << 8 : 0u;
        group |= n > 2 ? unsigned{bytes[i + 2]} : 0u;
        for (std::size_t k = 0; k < 4; ++k) {
            text += k <= n ? base64_digits[(group >> (18 - 6 * k)) & 63] : '=';
        }
    }
    return text;
}

std::vector<std::uint8_t> from_base64(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    unsigned group = 0;
    int bits = 0;
    std::size_t padding = 0;
    for (const char c : text) {
        if (c == '=') {
            ++padding;
            continue;
        }
        const std::size_t digit = base64_digits.find(c);
        if (digit == std::string_view::npos || padding > 0) {
            refuse("the data is not base64");
        }
        group = (group << 6) | static_cast<unsigned>(digit);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<std::uint8_t>(group >> bits));
        }
    }
    if (padding > 2 || (text.size() % 4 != 0 && padding > 0)) {
        refuse("the data is not base64");
    }
    return bytes;
}

bool same_file(const std::string& a, const std::string& b) {
    if (a == b) {
        return true;
    }
    std::error_code error;
    const fs::path ca = fs::weakly_canonical(a, error);
    const fs::path cb = fs::weakly_canonical(b, error);
    return !error && ca == cb;
}

Json variable(std::string name, std::string value, std::optional<std::uint16_t> memory = {}) {
    Json v = Json::Object{
        {"name", std::move(name)}, {"value", std::move(value)}, {"variablesReference", 0}};
    if (memory) {
        v.set("memoryReference", hex(*memory, 4));
    }
    return v;
}

// The addresses of `count` instructions from the `skip`-th after `base` (before it when
// negative); an address outside memory stands for a place with no instruction.
std::vector<long long> instruction_starts(const Intel_8080& p, const Formats::Line_Map& lines,
                                          long long base, long long skip, long long count) {
    const auto after = [&](long long a) {
        return a < 0 || a > 0xFFFF ? a + 1
                                   : a + static_cast<long long>(Asm8080::instruction_size(
                                             p.memory[static_cast<std::size_t>(a)]));
    };
    std::vector<long long> starts;
    long long a = base;
    if (skip < 0) {
        // Going back: from early enough (an instruction is at most 3 bytes), and from the first
        // place after that which the line map knows as a start, so the decoding falls in step.
        a = base + 3 * skip;
        for (const Formats::Line_Map::Entry& entry : lines.entries()) {
            if (entry.address >= a && entry.address <= base) {
                a = entry.address;
                break;
            }
        }
        for (; a < base; a = after(a)) {
            starts.push_back(a);
        }
        const auto back = static_cast<std::size_t>(-skip);
        if (starts.size() > back) {
            starts.erase(starts.begin(), starts.end() - static_cast<std::ptrdiff_t>(back));
        }
        starts.insert(starts.begin(), back - starts.size(), -1);
        a = base;
    }
    for (long long i = 0; i < skip; ++i) {
        a = after(a);
    }
    for (; static_cast<long long>(starts.size()) < count; a = after(a)) {
        starts.push_back(a);
    }
    starts.resize(static_cast<std::size_t>(count));
    return starts;
}

} // namespace

const Adapter::Request Adapter::requests[] = {
    {"initialize", &Adapter::initialize, false},
    {"launch", &Adapter::launch, false},
    {"setBreakpoints", &Adapter::set_breakpoints, true},
    {"setFunctionBreakpoints", &Adapter::set_function_breakpoints, true},
    {"setExceptionBreakpoints", &Adapter::set_exception_breakpoints, false},
    {"dataBreakpointInfo", &Adapter::data_breakpoint_info, true},
    {"setDataBreakpoints", &Adapter::set_data_breakpoints, true},
    {"configurationDone", &Adapter::configuration_done, true},
    {"threads", &Adapter::threads, false},
    {"continue", &Adapter::continue_, true},
    {"next", &Adapter::next, true},
    {"stepIn", &Adapter::step_in, true},
    {"stepOut", &Adapter::step_out, true},
    {"stepBack", &Adapter::step_back, true},
    {"reverseContinue", &Adapter::reverse_continue, true},
    {"pause", &Adapter::pause, true},
    {"stackTrace", &Adapter::stack_trace, true},
    {"scopes", &Adapter::scopes, true},
    {"variables", &Adapter::variables, true},
    {"setVariable", &Adapter::set_variable, true},
    {"readMemory", &Adapter::read_memory, true},
    {"writeMemory", &Adapter::write_memory, true},
    {"disassemble", &Adapter::disassemble, true},
    {"evaluate", &Adapter::evaluate, true},
    {"terminate", &Adapter::terminate, false},
    {"disconnect", &Adapter::disconnect, false},
};

Adapter::Adapter(Send send) : send_(std::move(send)) {
    for (std::size_t i = 0; i < exception_filters.size(); ++i) {
        exceptions_[i] = exception_filters[i].on_at_first;
    }
}

void Adapter::receive(std::string_view body) {
    Json request;
    try {
        request = Formats::parse_json(body, "the message");
    } catch (const Tavrin::Exception& error) {
        respond(Json::Object{}, "malformed JSON: " + error.message);
        return;
    }
    respond(request, {});
}

// Answers `request` (an error with `error` when that is not empty, before anything is looked at).
void Adapter::respond(const Json& request, std::string_view error) {
    const Json* seq = request.find("seq");
    const Json* command = request.find("command");
    Json response =
        Json::Object{{"seq", 0},
                     {"type", "response"},
                     {"request_seq", seq != nullptr && seq->is_number() ? *seq : Json(0)},
                     {"command", command != nullptr && command->is_string() ? command->string()
                                                                            : std::string()}};
    std::string message(error);
    Json body = Json::Object{};
    answering_ = true;
    if (message.empty()) {
        try {
            if (!request.is_object()) {
                refuse("a message is a JSON object");
            }
            const Json* type = request.find("type");
            if (type == nullptr || !type->is_string() || type->string() != "request") {
                refuse("only requests are answered (\"type\": \"request\")");
            }
            if (command == nullptr || !command->is_string()) {
                refuse("a request names its command");
            }
            const Request* found = nullptr;
            for (const Request& r : requests) {
                if (r.command == command->string()) {
                    found = &r;
                }
            }
            if (found == nullptr) {
                refuse("unknown request '" + command->string() + "'");
            }
            if (found->needs_program && !machine_) {
                refuse("no program is running: launch one first");
            }
            const Json* arguments = request.find("arguments");
            const Json none = Json::Object{};
            if (arguments != nullptr && !arguments->is_object() && !arguments->is_null()) {
                refuse("the arguments are not an object");
            }
            body = (this->*found->handler)(
                arguments != nullptr && arguments->is_object() ? *arguments : none);
        } catch (const Tavrin::Exception& failure) {
            message = failure.message;
        }
    }
    response.set("seq", seq_++);
    response.set("success", message.empty());
    if (!message.empty()) {
        response.set("message", message);
    }
    response.set("body", std::move(body));
    send_(response);
    answering_ = false;
    for (Json& held : held_events_) {
        held.set("seq", seq_++);
        send_(held);
    }
    held_events_.clear();
}

void Adapter::event(const std::string& name, Json body) {
    Json message =
        Json::Object{{"seq", 0}, {"type", "event"}, {"event", name}, {"body", std::move(body)}};
    if (answering_) {
        held_events_.push_back(std::move(message)); // the response goes first
        return;
    }
    message.set("seq", seq_++);
    send_(message);
}

void Adapter::output(const std::string& text, const std::string& category) {
    event("output", Json::Object{{"category", category}, {"output", text + "\n"}});
}

Studio::Debugger& Adapter::machine() {
    return *machine_;
}

// The debugger shows its board read-only; registers and memory changed between steps are what
// the next step runs with, as the debugger keeps nothing that depends on them.
Drovask::Board& Adapter::board() {
    return const_cast<Drovask::Board&>(machine_->board());
}

Json Adapter::initialize(const Json& arguments) {
    if (const Json* base = arguments.find("linesStartAt1"); base != nullptr && base->is_bool()) {
        line_base_ = base->boolean() ? 1 : 0;
    }
    Json::Array filters;
    for (const Exception_Filter& f : exception_filters) {
        filters.push_back(Json::Object{{"filter", std::string(f.id)},
                                       {"label", std::string(f.label)},
                                       {"description", std::string(f.description)},
                                       {"default", f.on_at_first}});
    }
    return Json::Object{
        {"supportsConfigurationDoneRequest", true},
        {"supportsFunctionBreakpoints", true},
        {"supportsConditionalBreakpoints", false},
        {"supportsHitConditionalBreakpoints", false},
        {"supportsDataBreakpoints", true},
        {"supportsReadMemoryRequest", true},
        {"supportsWriteMemoryRequest", true},
        {"supportsDisassembleRequest", true},
        {"supportsSetVariable", true},
        {"supportsEvaluateForHovers", true},
        {"supportsTerminateRequest", true},
        {"supportsStepBack", true},
        {"supportsSteppingGranularity", false},
        {"supportsInstructionBreakpoints", false},
        {"supportsRestartRequest", false},
        {"exceptionBreakpointFilters", filters},
    };
}

Json Adapter::launch(const Json& arguments) {
    if (machine_) {
        refuse("a program is running already");
    }
    const fs::path program = fs::absolute(string_argument(arguments, "program"));
    std::vector<std::uint8_t> image;
    if (program.extension() == ".asm" || program.extension() == ".ASM") {
        const Asm8080::Program assembled =
            Asm8080::assemble_file(program.string(), Asm8080::Options{{}, Drovask::rom_size});
        for (const Asm8080::Diagnostic& note : assembled.notes) {
            output(Asm8080::format_diagnostic(note));
        }
        if (!assembled.ok()) {
            std::string message = "the program does not assemble:";
            for (std::size_t i = 0; i < assembled.errors.size() && i < 10; ++i) {
                message += "\n" + Asm8080::format_diagnostic(assembled.errors[i]);
            }
            refuse(message);
        }
        image = assembled.image;
        symbols_ = Formats::parse_symbol_file(
            Formats::format_symbol_file(assembled.symbols, assembled.values), "the assembly");
        lines_ = Asm8080::line_map_of(assembled);
    } else {
        image = Drovask::read_rom_files({program});
    }
    if (const auto path = optional_string(arguments, "symbols")) {
        symbols_ = Tools::read_symbol_file(*path);
    }
    if (const auto path = optional_string(arguments, "lines")) {
        lines_ = Tools::read_line_map(*path);
    }
    std::vector<Formats::Symbol> labels;
    std::copy_if(symbols_.all().begin(), symbols_.all().end(), std::back_inserter(labels),
                 [](const Formats::Symbol& symbol) { return symbol.label; });
    labels_ = Formats::Symbols(std::move(labels));
    std::vector<Formats::Key_Event> keys;
    if (const auto path = optional_string(arguments, "keys")) {
        keys = Tools::read_key_script(*path);
    }
    picture_ = optional_string(arguments, "picture").value_or("");
    stop_on_entry_ = flag_argument(arguments, "stopOnEntry");
    if (image.size() != Drovask::rom_size) {
        refuse("the ROM image has " + std::to_string(image.size()) + " bytes, not " +
               std::to_string(Drovask::rom_size));
    }
    machine_ = std::make_unique<Studio::Debugger>(Drovask::Rom(image.data(), Drovask::rom_size));
    machine_->replay(keys);
    output("drovask-dap: " + program.string() + ", " + std::to_string(symbols_.all().size()) +
           " symbols, " + std::to_string(lines_.entries().size()) + " lines");
    event("initialized");
    return Json::Object{};
}

std::optional<Formats::Line_Map::Entry> Adapter::code_at_line(const std::string& path,
                                                              int line) const {
    std::optional<Formats::Line_Map::Entry> best;
    for (const Formats::Line_Map::Entry& entry : lines_.entries()) {
        if (entry.line < line || (best && entry.line > best->line) ||
            (best && entry.line == best->line && entry.address >= best->address)) {
            continue;
        }
        if (same_file(entry.file, path)) {
            best = entry;
        }
    }
    return best;
}

void Adapter::refresh_breakpoints() {
    line_breakpoints_.reset();
    for (const auto& [path, addresses] : source_breakpoints_) {
        for (const std::uint16_t address : addresses) {
            line_breakpoints_[address] = true;
        }
    }
    breakpoints_ = line_breakpoints_;
    for (const std::uint16_t address : function_breakpoints_) {
        breakpoints_[address] = true;
    }
    // The debugger's own, which reverse continue looks for; forwards, the adapter stops at them.
    machine().clear_breakpoints();
    for (std::size_t address = 0; address < breakpoints_.size(); ++address) {
        if (breakpoints_[address]) {
            machine().set_breakpoint(static_cast<std::uint16_t>(address), true);
        }
    }
}

Json Adapter::set_breakpoints(const Json& arguments) {
    const Json& source = member(arguments, "source");
    const std::string path = string_argument(source, "path");
    Json::Array lines;
    if (arguments.find("breakpoints") != nullptr) {
        for (const Json& b : array_argument(arguments, "breakpoints")) {
            lines.push_back(Json(integer_argument(b, "line", 0, 1'000'000'000)));
        }
    } else if (arguments.find("lines") != nullptr) {
        lines = array_argument(arguments, "lines");
    }
    std::vector<std::uint16_t>& addresses = source_breakpoints_[path];
    addresses.clear();
    Json::Array answers;
    for (const Json& line : lines) {
        if (!line.is_number()) {
            refuse("a breakpoint's line is not a number");
        }
        const int wanted = static_cast<int>(line.number()) + 1 - line_base_;
        Json answer = Json::Object{{"id", static_cast<int>(answers.size()) + 1}};
        if (const auto entry = code_at_line(path, wanted)) {
            addresses.push_back(entry->address);
            answer.set("verified", true);
            answer.set("line", entry->line - 1 + line_base_);
            answer.set("instructionReference", hex(entry->address, 4));
        } else {
            answer.set("verified", false);
            answer.set("line", line);
            answer.set("message", "no code on this line or below it in " + path);
        }
        answers.push_back(std::move(answer));
    }
    refresh_breakpoints();
    return Json::Object{{"breakpoints", std::move(answers)}};
}

Json Adapter::set_function_breakpoints(const Json& arguments) {
    function_breakpoints_.clear();
    Json::Array answers;
    for (const Json& b : array_argument(arguments, "breakpoints")) {
        const std::string name = string_argument(b, "name");
        Json answer = Json::Object{};
        try {
            const std::uint16_t address = value_of(name);
            function_breakpoints_.push_back(address);
            answer.set("verified", true);
            answer.set("instructionReference", hex(address, 4));
            add_place(answer, address);
        } catch (const Tavrin::Exception& error) {
            answer.set("verified", false);
            answer.set("message", error.message);
        }
        answers.push_back(std::move(answer));
    }
    refresh_breakpoints();
    return Json::Object{{"breakpoints", std::move(answers)}};
}

Json Adapter::set_exception_breakpoints(const Json& arguments) {
    std::array<bool, exception_filter_count> on{};
    Json::Array answers;
    for (const Json& id : array_argument(arguments, "filters")) {
        const auto* found = std::find_if(
            exception_filters.begin(), exception_filters.end(),
            [&](const Exception_Filter& f) { return id.is_string() && id.string() == f.id; });
        if (found == exception_filters.end()) {
            std::string known;
            for (const Exception_Filter& f : exception_filters) {
                known += (known.empty() ? "" : ", ") + std::string(f.id);
            }
            refuse("no exception filter is named " + Formats::format_json(id) + " (there are " +
                   known + ")");
        }
        on[static_cast<std::size_t>(found - exception_filters.begin())] = true;
        answers.push_back(Json::Object{{"verified", true}});
    }
    exceptions_ = on;
    return Json::Object{{"breakpoints", std::move(answers)}};
}

// A data breakpoint's id is "0xADDR:LENGTH": stores into those bytes stop the run.
Json Adapter::data_breakpoint_info(const Json& arguments) {
    std::string name = string_argument(arguments, "name");
    if (arguments.find("variablesReference") != nullptr &&
        !arguments.find("variablesReference")->is_null()) {
        return Json::Object{{"dataId", nullptr},
                            {"description", "only memory can be watched, not registers"}};
    }
    long long length = integer_argument(arguments, "bytes", 1, 65536, 1);
    if (const std::size_t colon = name.rfind(':'); colon != std::string::npos) {
        length = integer_argument(
            Json::Object{{"length", Formats::parse_json(name.substr(colon + 1), "the length")}},
            "length", 1, 65536);
        name.resize(colon);
    }
    const std::uint16_t address = value_of(name);
    const std::string id = hex(address, 4) + ":" + std::to_string(length);
    return Json::Object{{"dataId", id},
                        {"description", "stores into " + std::to_string(length) + " byte" +
                                            (length == 1 ? "" : "s") + " from " + hex(address, 4)},
                        {"accessTypes", Json::Array{"write"}},
                        {"canPersist", true}};
}

Json Adapter::set_data_breakpoints(const Json& arguments) {
    const Json::Array& wanted = array_argument(arguments, "breakpoints");
    std::vector<std::pair<std::uint16_t, std::uint32_t>> watches;
    for (const Json& b : wanted) {
        const std::string id = string_argument(b, "dataId");
        const std::size_t colon = id.rfind(':');
        if (colon == std::string::npos) {
            refuse("a data breakpoint's id is \"0xADDR:LENGTH\", not \"" + id + "\"");
        }
        const std::uint16_t address = value_of(id.substr(0, colon));
        const auto length = Dap::evaluate(id.substr(colon + 1), board().processor, {});
        if (length == 0) {
            refuse("a data breakpoint watches at least one byte");
        }
        if (const auto type = optional_string(b, "accessType"); type && *type != "write") {
            refuse("only stores can be watched, not '" + *type + "'");
        }
        watches.emplace_back(address, length);
    }
    machine().clear_watches();
    Json::Array answers;
    for (const auto& [address, length] : watches) {
        machine().add_watch(address, length);
        answers.push_back(Json::Object{{"verified", true}});
    }
    return Json::Object{{"breakpoints", std::move(answers)}};
}

Json Adapter::configuration_done(const Json&) {
    if (stop_on_entry_) {
        stopped("entry");
    } else {
        start(Run_Kind::continue_);
    }
    return Json::Object{};
}

Json Adapter::threads(const Json&) {
    return Json::Object{
        {"threads", Json::Array{Json::Object{{"id", thread_id}, {"name", "8080"}}}}};
}

void Adapter::start(Run_Kind kind, std::size_t depth) {
    run_ = Run{kind, depth};
}

Json Adapter::continue_(const Json&) {
    start(Run_Kind::continue_);
    return Json::Object{{"allThreadsContinued", true}};
}

Json Adapter::next(const Json&) {
    start(Run_Kind::next, machine().call_stack().size());
    return Json::Object{};
}

Json Adapter::step_out(const Json&) {
    const std::size_t depth = machine().call_stack().size();
    if (depth == 0) {
        refuse("there is no call to return from: the program has made none that is still open");
    }
    start(Run_Kind::step_out, depth - 1);
    return Json::Object{};
}

Json Adapter::step_in(const Json&) {
    run_.reset();
    if (!step_once()) {
        stopped("step");
    }
    return Json::Object{};
}

// Going back, through the debugger's history: the machine as it was, call stack and all.
Json Adapter::step_back(const Json&) {
    run_.reset();
    if (machine().step_back().reason == Studio::Stop_Reason::limit) {
        stopped("step", "the history reaches no further back");
    } else {
        stopped("step");
    }
    return Json::Object{};
}

// A reverse continue runs like a continue, in slices between looks at the input, so that a
// pause is heard even when the history holds minutes with no stop in them.
Json Adapter::reverse_continue(const Json&) {
    start(Run_Kind::reverse);
    return Json::Object{};
}

void Adapter::reverse_slice() {
    const bool resumed = !run_->first;
    run_->first = false;
    const Studio::Stop stop = machine().reverse_continue(reverse_slice_frames, resumed);
    if (stop.reason == Studio::Stop_Reason::limit &&
        machine().instructions() > machine().history().earliest()) {
        return; // nothing in this slice: the next one looks further back
    }
    switch (stop.reason) {
    case Studio::Stop_Reason::breakpoint:
        stopped(line_breakpoints_[stop.address] ? "breakpoint" : "function breakpoint");
        break;
    case Studio::Stop_Reason::watch:
        stopped("data breakpoint", "a store into " + hex(stop.address, 4));
        break;
    default:
        stopped("step", "no breakpoint before: back as far as the history reaches, instruction " +
                            std::to_string(machine().instructions()));
    }
}

Json Adapter::pause(const Json&) {
    if (run_) {
        stopped("pause");
    }
    return Json::Object{};
}

void Adapter::run_slice() {
    if (run_ && run_->kind == Run_Kind::reverse) {
        reverse_slice();
        return;
    }
    for (int i = 0; i < slice_instructions && run_; ++i) {
        if (const std::uint16_t pc = board().processor.pc; !run_->first && breakpoints_[pc]) {
            stopped(line_breakpoints_[pc] ? "breakpoint" : "function breakpoint");
            return;
        }
        run_->first = false;
        if (step_once()) {
            return;
        }
        if ((run_->kind == Run_Kind::next || run_->kind == Run_Kind::step_out) &&
            machine().call_stack().size() <= run_->depth) {
            stopped("step");
            return;
        }
    }
}

bool Adapter::step_once() {
    const Intel_8080& p = board().processor;
    const std::uint16_t pc = p.pc;
    const std::uint16_t sp = p.sp;
    const std::array<std::uint8_t, 3> bytes{p.memory[pc],
                                            p.memory[static_cast<std::uint16_t>(pc + 1)],
                                            p.memory[static_cast<std::uint16_t>(pc + 2)]};
    const std::uint32_t interrupt_number = board().interrupt_number;
    const std::uint64_t count = machine().instructions();
    std::optional<Drovask::Fault> fault; // the first one caught
    const auto look = [&](std::optional<Drovask::Fault> found) {
        if (!fault && found && exceptions_[filter_of(found->kind)]) {
            fault = found;
        }
    };
    Studio::Stop stop;
    try {
        stop = machine().step([&](std::uint16_t address, std::uint8_t, Store store) {
            const bool at_interrupt = machine().instructions() != count;
            look(Drovask::store_fault(p, address, store, at_interrupt ? p.pc : pc, at_interrupt));
        });
    } catch (const Tavrin::Exception& error) {
        machine().back_to_fault();
        output("drovask-dap: at " + hex(pc, 4) + ": " + error.message, "stderr");
        if (!exceptions_[unimplemented_filter]) {
            run_.reset();
            event("terminated");
        } else {
            stopped("exception", error.message);
        }
        return true;
    }
    const bool interrupted = board().interrupt_number != interrupt_number;
    const auto sp_after = static_cast<std::uint16_t>(interrupted ? p.sp + 2 : p.sp);
    look(Drovask::port_fault(bytes, pc));
    look(Drovask::stack_fault(sp, sp_after, pc, false));
    if (interrupted) {
        look(Drovask::stack_fault(sp_after, p.sp, word_at(p, p.sp), true));
    }
    if (fault) {
        stopped("exception", Drovask::describe(*fault));
        return true;
    }
    if (stop.reason == Studio::Stop_Reason::watch) {
        stopped("data breakpoint",
                "a store into " + hex(stop.address, 4) + " by the instruction at " + hex(pc, 4));
        return true;
    }
    return false;
}

void Adapter::stopped(const std::string& reason, const std::string& description) {
    run_.reset();
    write_picture();
    Json body =
        Json::Object{{"reason", reason}, {"threadId", thread_id}, {"allThreadsStopped", true}};
    if (!description.empty()) {
        body.set("description", description);
        body.set("text", description);
    }
    event("stopped", std::move(body));
}

void Adapter::write_picture() {
    if (picture_.empty()) {
        return;
    }
    Drovask::Screen screen;
    Drovask::convert_screen(board().processor, screen);
    std::FILE* file = std::fopen(picture_.c_str(), "wb");
    if (file == nullptr) {
        output("drovask-dap: cannot write the picture to " + picture_, "stderr");
        return;
    }
    try {
        Drovask::write_png(screen, file);
    } catch (const Tavrin::Exception& error) {
        output("drovask-dap: " + error.message, "stderr");
    }
    std::fclose(file);
}

std::string Adapter::name_of(std::uint16_t address) const {
    const std::string name = symbols_.near_name(address);
    return name.empty() ? hex(address, 4) : name;
}

void Adapter::add_place(Json& item, std::uint16_t address) const {
    const std::string place = lines_.place_of(address);
    const std::size_t colon = place.rfind(':');
    if (colon == std::string::npos) {
        item.set("line", 0);
        item.set("column", 0);
        return;
    }
    const std::string file = place.substr(0, colon);
    item.set("source", Json::Object{{"name", fs::path(file).filename().string()}, {"path", file}});
    item.set("line", std::stoi(place.substr(colon + 1)) - 1 + line_base_);
    item.set("column", line_base_);
}

Json Adapter::stack_trace(const Json& arguments) {
    if (run_) {
        refuse("the machine is running: pause it first");
    }
    std::vector<std::pair<std::uint16_t, bool>> places{{board().processor.pc, false}};
    const auto calls = machine().call_stack();
    for (auto call = calls.rbegin(); call != calls.rend(); ++call) {
        places.emplace_back(call->call, call->interrupt);
    }
    const auto first =
        static_cast<std::size_t>(integer_argument(arguments, "startFrame", 0, 65536, 0));
    const auto levels =
        static_cast<std::size_t>(integer_argument(arguments, "levels", 0, 65536, 0));
    Json::Array frames;
    for (std::size_t i = first; i < places.size() && (levels == 0 || i < first + levels); ++i) {
        const auto [address, interrupted] = places[i];
        Json frame =
            Json::Object{{"id", static_cast<int>(i)},
                         {"name", name_of(address) + (interrupted ? " (interrupted)" : "")},
                         {"instructionPointerReference", hex(address, 4)}};
        add_place(frame, address);
        frames.push_back(std::move(frame));
    }
    return Json::Object{{"stackFrames", std::move(frames)},
                        {"totalFrames", static_cast<int>(places.size())}};
}

Json Adapter::scopes(const Json& arguments) {
    integer_argument(arguments, "frameId", 0, 65536);
    return Json::Object{
        {"scopes",
         Json::Array{
             Json::Object{{"name", "Registers"},
                          {"presentationHint", "registers"},
                          {"variablesReference", registers_scope},
                          {"expensive", false}},
             Json::Object{
                 {"name", "Flags"}, {"variablesReference", flags_scope}, {"expensive", false}},
             Json::Object{
                 {"name", "Stack"}, {"variablesReference", stack_scope}, {"expensive", false}},
         }}};
}

Json Adapter::variables(const Json& arguments) {
    const Intel_8080& p = board().processor;
    Json::Array list;
    switch (integer_argument(arguments, "variablesReference", 1, 3)) {
    case registers_scope:
        for (const Register& r : registers) {
            const unsigned value = r.read(p);
            list.push_back(
                variable(std::string(r.name), hex(value, r.digits()),
                         r.digits() == 4 ? std::optional<std::uint16_t>(value) : std::nullopt));
        }
        list.push_back(variable("IE", p.interrupts_enabled ? "1" : "0"));
        break;
    case flags_scope:
        for (const Flag& f : flags) {
            list.push_back(variable(std::string(f.name), (p.flags & f.mask) != 0 ? "1" : "0"));
        }
        break;
    default:
        for (std::size_t i = 0; i < max_stack_words && p.sp + 2 * i + 1 <= 0xFFFF; ++i) {
            const auto address = static_cast<std::uint16_t>(p.sp + 2 * i);
            const std::uint16_t value = word_at(p, address);
            const std::string name = symbols_.near_name(value);
            list.push_back(variable("SP+" + std::to_string(2 * i),
                                    hex(value, 4) + (name.empty() ? "" : " (" + name + ")"),
                                    value));
        }
    }
    return Json::Object{{"variables", std::move(list)}};
}

Json Adapter::set_variable(const Json& arguments) {
    const auto scope = integer_argument(arguments, "variablesReference", 1, 3);
    const std::string name = string_argument(arguments, "name");
    if (scope == stack_scope) {
        refuse("the stack is changed through memory (writeMemory), not here");
    }
    const unsigned value = value_of(string_argument(arguments, "value"));
    Intel_8080& p = board().processor;
    if (upper(name) == "IE") {
        p.interrupts_enabled = value != 0;
        return Json::Object{{"value", value != 0 ? "1" : "0"}};
    }
    if (!write_register(p, name, value)) {
        refuse("no register or flag is named '" + name + "'");
    }
    const Register* r = named(registers, name);
    const unsigned now = *read_register(p, name);
    return Json::Object{{"value", r != nullptr ? hex(now, r->digits()) : std::to_string(now)}};
}

std::uint16_t Adapter::value_of(std::string_view expression) const {
    return static_cast<std::uint16_t>(
        Dap::evaluate(expression, machine_->board().processor, symbols_));
}

Json Adapter::read_memory(const Json& arguments) {
    const unsigned base = value_of(string_argument(arguments, "memoryReference"));
    const long long start = base + integer_argument(arguments, "offset", -65536, 65536, 0);
    const long long count = integer_argument(arguments, "count", 0, 65536);
    const Intel_8080& p = board().processor;
    std::vector<std::uint8_t> bytes;
    long long first = std::max(start, 0LL);
    for (long long a = first; a < start + count && a <= 0xFFFF; ++a) {
        bytes.push_back(p.memory[static_cast<std::size_t>(a)]);
    }
    return Json::Object{{"address", hex(static_cast<unsigned>(first & 0xFFFF), 4)},
                        {"data", base64(bytes)},
                        {"unreadableBytes", count - static_cast<long long>(bytes.size())}};
}

Json Adapter::write_memory(const Json& arguments) {
    const unsigned base = value_of(string_argument(arguments, "memoryReference"));
    const long long start = base + integer_argument(arguments, "offset", -65536, 65536, 0);
    const std::vector<std::uint8_t> bytes = from_base64(string_argument(arguments, "data"));
    if (start < 0 || start + static_cast<long long>(bytes.size()) > 0x10000) {
        refuse("the bytes would go outside the 64 KiB of memory");
    }
    Intel_8080& p = board().processor;
    std::copy(bytes.begin(), bytes.end(), p.memory.begin() + start);
    return Json::Object{{"offset", 0}, {"bytesWritten", static_cast<long long>(bytes.size())}};
}

Json Adapter::disassemble(const Json& arguments) {
    const long long base = value_of(string_argument(arguments, "memoryReference")) +
                           integer_argument(arguments, "offset", -65536, 65536, 0);
    const long long skip = integer_argument(arguments, "instructionOffset", -65536, 65536, 0);
    const long long count = integer_argument(arguments, "instructionCount", 0, 65536);
    const Intel_8080& p = board().processor;
    const std::vector<long long> wanted = instruction_starts(p, lines_, base, skip, count);
    Json::Array instructions;
    for (const long long address : wanted) {
        if (address < 0 || address > 0xFFFF) {
            instructions.push_back(Json::Object{
                {"address", "0x0000"}, {"instruction", ""}, {"presentationHint", "invalid"}});
            continue;
        }
        const auto at16 = static_cast<std::uint16_t>(address);
        const std::array<std::uint8_t, 3> bytes{p.memory[at16],
                                                p.memory[static_cast<std::uint16_t>(at16 + 1)],
                                                p.memory[static_cast<std::uint16_t>(at16 + 2)]};
        const Asm8080::Disassembly line = Asm8080::disassemble(bytes, &labels_);
        std::string text_bytes;
        for (std::size_t i = 0; i < line.size; ++i) {
            char byte[4];
            std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", bytes[i]);
            text_bytes += byte;
        }
        Json item = Json::Object{{"address", hex(at16, 4)},
                                 {"instructionBytes", text_bytes},
                                 {"instruction", line.text}};
        if (const std::string* name = labels_.name_of(at16)) {
            item.set("symbol", *name);
        }
        const std::string place = lines_.place_of(at16);
        if (const std::size_t colon = place.rfind(':'); colon != std::string::npos) {
            item.set("location",
                     Json::Object{{"name", fs::path(place.substr(0, colon)).filename().string()},
                                  {"path", place.substr(0, colon)}});
            item.set("line", std::stoi(place.substr(colon + 1)) - 1 + line_base_);
        }
        instructions.push_back(std::move(item));
    }
    return Json::Object{{"instructions", std::move(instructions)}};
}

Json Adapter::evaluate(const Json& arguments) {
    const std::string expression = string_argument(arguments, "expression");
    const unsigned value = value_of(expression);
    const std::string name = symbols_.near_name(static_cast<std::uint16_t>(value));
    return Json::Object{{"result", hex(value, value > 0xFF ? 4 : 2) + " (" + std::to_string(value) +
                                       ")" + (name.empty() ? "" : " " + name)},
                        {"variablesReference", 0},
                        {"memoryReference", hex(value, 4)}};
}

Json Adapter::terminate(const Json&) {
    run_.reset();
    event("terminated");
    return Json::Object{};
}

Json Adapter::disconnect(const Json&) {
    run_.reset();
    finished_ = true;
    return Json::Object{};
}

} // namespace Dap
