#pragma once

// The assembler's own header, for its parts only: what a statement keeps, the state that the
// parts share (grouped by what each part owns), and the class whose members they define.
//
//   assembler.cpp   the entry points, reading the sources, errors
//   conditions.cpp  IF, IFDEF, IFNDEF, ELSE, ENDIF
//   macros.cpp      MACRO, REPT, IRP, IRPC: reading bodies and writing them out
//   statements.cpp  parsing a line: its label, its instruction's operands
//   directives.cpp  parsing a directive's operands, as its row in the directive table says
//   evaluation.cpp  symbols and expressions
//   passes.cpp      the first pass's addresses and labels, the second pass's bytes, the image

#include "tools/asm8080/assembler.hpp"
#include "tools/asm8080/instructions.hpp"
#include "tools/asm8080/syntax.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Asm8080::Detail {

// A statement keeps no tokens and no expression trees, only where its parts lie in its line:
// expressions are parsed again, from the text, when they are evaluated. So a line of millions of
// operands costs its text and a few numbers, not a structure many times its size.
// There may be a million of them: the fields are ordered to pack.
struct Macro;

// A line of a macro's or a repetition's body, as it was written.
struct Body_Line {
    std::string_view text;
    int file = 0;
    int line = 0;
    const Macro* macro = nullptr;
};

struct Macro {
    std::string name;                    // as written; "REPT", "IRP" or "IRPC" for a repetition
    std::vector<std::string> parameters; // upper-case
    std::vector<std::string> locals;     // upper-case
    std::vector<Body_Line> body;
    // Each parameter's index, then each local name's after them: one look-up a name.
    std::unordered_map<std::string, std::size_t> names;
};

struct Statement {
    std::string_view text;  // in Program::sources or Program::expansions
    std::string_view label; // as written
    const Instruction* instruction = nullptr;
    const Body_Line* origin = nullptr; // for a line a macro wrote, the line of its body
    std::int64_t value = 0;            // what a SET sets
    int file = 0;
    int line = 0;
    // The instruction's operand, or the ORG / EQU / DS value: where it lies in `text`, and its
    // depth (0: none). DB and DW items are read again from `operands`, where the operands start.
    std::uint32_t expression_begin = 0;
    std::uint32_t expression_end = 0;
    std::uint32_t operands = 0;
    std::uint32_t address = 0;
    std::uint32_t size = 0;
    std::uint8_t depth = 0;
    std::uint8_t opcode = 0;
    Directive directive = Directive::none;
    bool valid = true;
    bool assembled = true; // false in a branch not taken, in a macro's definition
    bool expansion = false;
    bool filled = false;    // DS with a fill value
    bool has_value = false; // a SET whose value is known

    Lexer expression() const { return Lexer(text, expression_begin, expression_end); }
    // The directive's row in the table; null for an instruction or a line without an operation.
    const Directive_Info* info() const { return directive_info(directive); }
};

constexpr std::uint32_t memory_size = 0x10000;
// Bounds for values that may be anything.
constexpr std::int64_t any_low = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t any_high = std::numeric_limits<std::int64_t>::max();
static_assert(maximum_expression_depth <= 255, "Statement::depth holds the depth of an expression");

// A chain of EQUs is evaluated one inside another: the depths of their expressions add up on the
// stack, so it is their sum that is bounded, not each expression alone.
constexpr int maximum_evaluation_depth = 1000;

struct Symbol {
    int statement = 0; // index of the defining statement, which has the name as written
    bool is_equ = false;
    bool is_set = false; // its value is the last SET's, in either pass
    std::int64_t value = 0;
    enum class State { unresolved, resolving, resolved, failed } state = State::unresolved;
};

// Why an evaluation failed. An empty message means the cause is reported on another line.
// A failure of the definitions themselves (circular, too deep) is reported wherever it is met.
struct Failure {
    std::string message;
    bool in_definitions = false;
};

// The first tokens of a line, read without judging the rest: enough to find its label and
// operation in a body being defined or a branch not taken, where anything may follow.
struct Head {
    std::array<Token, 3> tokens;
    std::array<std::size_t, 3> ends{};
    std::size_t count = 0;
    std::size_t operation = 0; // the index of the operation's token; count when none
};

// The operands of a statement: how many there are, and the tokens of the first two (no
// statement takes more).
struct Operands {
    std::size_t count = 0;
    std::array<Lexer, 2> first{Lexer({}), Lexer({})};

    const Lexer& back() const { return first[count - 1]; }
};

Operands operands_of(const Statement& statement);

// Calls `item(operand, text)` for each DB or DW item in turn: `text` holds the bytes of a
// string item (of bytes only: a word's string is its value), or is null for an expression.
// Stops early when `item` returns false.
template <typename Item>
void for_each_item(const Statement& statement, Item item) {
    const bool bytes = statement.info()->data == Directive_Data::bytes;
    Operand_Reader reader(statement.text, statement.operands);
    for (Lexer operand({}); reader.next(operand);) {
        Lexer tokens = operand;
        Token token;
        Token next;
        std::string message;
        const bool string = bytes && tokens.next(token, message) &&
                            token.kind == Token_Kind::string && !tokens.next(next, message) &&
                            token.text.size() != 1;
        if (!item(operand, string ? &token.text : nullptr)) {
            return;
        }
    }
}

// The IFs open, innermost last.
struct Condition {
    std::size_t statement = 0; // the IF
    bool active = false;       // assembling the lines now
    bool parent_active = false;
    bool decided = false; // a branch has been taken, or the condition could not be known
    bool in_else = false;
};

struct Conditions {
    std::vector<Condition> open;
    std::size_t floor = 0; // an ELSE or ENDIF closes no IF before this statement
};

// A body being read, up to its ENDM.
struct Capture {
    std::size_t statement = 0; // the MACRO, REPT, IRP or IRPC
    std::unique_ptr<Macro> macro;
    int depth = 1;                      // blocks open inside it, itself included
    bool in_body = false;               // past its LOCAL lines
    std::int64_t count = 0;             // of a REPT
    std::vector<std::string> arguments; // of an IRP, or IRPC's characters, one each
};

// What a body's parameters and local names stand for in one writing of it.
struct Substitution {
    const Macro& macro;
    const std::vector<std::string>& arguments;
    const std::vector<std::string>& locals;
};

// The macros defined, the body being read, and the expansions under way.
struct Macro_Table {
    std::unordered_map<std::string, const Macro*> by_name; // by upper-case name
    std::vector<std::unique_ptr<Macro>> kept; // every body, for the lines that point in
    std::optional<Capture> capture;           // a body being read
    const Macro* call = nullptr;              // the macro the statement just parsed calls
    int depth = 0;                            // expansions open, one inside another
    bool exit = false;                        // an EXITM was met
    bool runaway = false;                     // expansions went too deep: every one open ends
    std::size_t lines_written = 0;            // lines that macros and repetitions wrote
    std::size_t bytes_written = 0;            // bytes of text that macros wrote
    std::size_t locals_named = 0;             // ??0001, ??0002...
};

struct Symbol_Table {
    std::unordered_map<std::string, Symbol> entries; // by upper-case name
    int resolving = 0;                               // EQUs being resolved, one inside another
    int evaluation_depth = 0;                        // the sum of their expressions' depths
};

// Where the passes are.
struct Pass_State {
    std::uint32_t here = 0; // where the first pass places the next statement
    bool ended = false;     // END was met
    bool second = false;
    std::optional<std::uint32_t> lowest; // the lowest address that holds anything
    std::size_t lowest_statement = 0;
};

// The sources read.
struct Sources {
    std::size_t loaded = 0; // bytes of source read, included files too
    int include_depth = 0;
    std::string operand; // the file of an INCLUDE or INCBIN, the name of an IFDEF
};

// Errors are collected with the index of their statement and reported in source order.
struct Error_Log {
    std::vector<std::size_t> order;
    std::size_t last_order = 0;
    std::size_t in_a_row = 0;
    bool stopped = false; // too many errors, or too many lines: the rest is not read
};

// The memory that the second pass fills, and who wrote each byte.
struct Output {
    std::vector<int> owner;
    std::vector<std::uint8_t> memory;
    std::uint32_t highest = 0;
    bool any_placed = false;
};

class Assembler {
public:
    explicit Assembler(const Options& options) : options_(options) {}

    Program run(std::string&& text, const std::string& file_name);

private:
    class Evaluator;

    // Errors (assembler.cpp)
    void error(const Statement& statement, const std::string& message);
    void error_at(int file, int line, const std::string& message, std::size_t order);
    bool stop_for_errors();
    void invalid(Statement& statement, const std::string& message);

    // Reading the sources (assembler.cpp)
    void load(std::string_view source, const std::string& file_name);
    void process(std::string_view text, int file, int line, const Body_Line* origin);
    Statement& add_statement(std::string_view text, int file, int line, const Body_Line* origin);
    void act(std::size_t index);
    void recover(std::size_t index);
    void close_blocks();
    void load_include(const std::string& path, std::size_t index);
    void load_binary(const std::string& path, std::size_t index);
    std::string beside(const std::string& path, int file) const;
    bool read_beside(const std::string& resolved, std::size_t index, std::string& text);

    // Conditions (conditions.cpp)
    void skip(std::size_t index);
    void condition(std::size_t index);
    void continue_condition(Statement& statement);

    // Macros and repetitions (macros.cpp)
    void begin_block(std::size_t index);
    void read_block_operands(Statement& statement, Capture& block);
    void capture(std::size_t index);
    Directive body_operation(std::string_view text, const Head& line, std::size_t& start) const;
    void declare_locals(Statement& statement, Macro& macro);
    void end_block();
    bool halted();
    void expand(const Macro& macro, std::size_t index);
    bool expand_once(const Macro& macro, const std::vector<std::string>& arguments,
                     std::size_t index);
    void write_body(const Substitution& substitution, std::size_t index);
    void close_expansion(std::size_t first, std::size_t conditions, bool exited);
    std::string block_name(const Capture& block) const;
    std::optional<std::string_view> substitute(std::string_view text,
                                               const Substitution& substitution);
    std::string_view keep(std::string_view text);
    std::vector<std::string> split_arguments(Statement& statement, bool evaluate);

    // Statements (statements.cpp)
    Head head(std::string_view text) const;
    bool is_operation(const std::string& name) const;
    Directive operation_of(const Head& line) const;
    void parse(Statement& statement);
    bool check_tokens(Statement& statement, const Head& line, const std::string* operation);
    void refuse_operation(Statement& statement, const std::string& operation,
                          const std::string& spelling);
    bool expression(Statement& statement, const Lexer& tokens);
    bool expect_operands(Statement& statement, const std::string& name, std::size_t found,
                         std::size_t count);
    std::optional<int> register_operand(Statement& statement, Lexer operand,
                                        std::span<const std::string_view> allowed);
    std::optional<int> single_register(Statement& statement, const Lexer& operand);
    void parse_instruction(Statement& statement);

    // Directives' operands (directives.cpp)
    void parse_directive(Statement& statement, const std::string& name);
    void parse_expression_operand(Statement& statement, const std::string& name);
    void parse_size_and_fill(Statement& statement);
    void parse_items(Statement& statement, const std::string& name);
    void parse_end(Statement& statement);
    void parse_name_operand(Statement& statement, const std::string& name, bool file);

    // Evaluation (evaluation.cpp)
    std::optional<std::int64_t> evaluate(const Lexer& expression, std::uint32_t here,
                                         Failure& failure);
    std::optional<std::int64_t> symbol_value(const std::string& name, const std::string& spelling,
                                             Failure& failure);
    std::optional<std::int64_t> resolve(Symbol& symbol, Failure& failure);
    std::optional<std::int64_t> value_in(const Statement& statement, const Lexer& expression,
                                         std::int64_t low, std::int64_t high, const char* what);

    // The passes (passes.cpp)
    void define(const Statement& statement, int index, bool is_equ);
    void locate(std::size_t i);
    void reserve(Statement& statement);
    void note_occupied(std::size_t i);
    void set(Statement& statement, int index);
    void second_pass();
    void choose_base();
    void assemble_statement(std::size_t i, Listing_Line& listed);
    void replay_set(const Statement& statement, Listing_Line& listed);
    void resolve_equ(const Statement& statement, std::size_t i, Listing_Line& listed);
    void emit_statement(const Statement& statement, std::vector<std::uint8_t>& bytes);
    void emit_instruction(const Statement& statement, std::vector<std::uint8_t>& bytes);
    void emit_items(const Statement& statement, std::vector<std::uint8_t>& bytes);
    void place(const Statement& statement, int index, const std::vector<std::uint8_t>& bytes);
    void finish();
    void sort_errors();
    void hand_over_symbols();
    void build_image();

    Options options_;
    Program program_;
    std::vector<Statement> statements_;
    Sources sources_;
    Error_Log log_;
    Conditions conditions_;
    Macro_Table macros_;
    Symbol_Table symbols_;
    Pass_State pass_;
    Output output_;
};

enum class Read_Result { read, cannot_open, refused };

// Reads a whole source file of at most `limit` bytes into `text`, reading no more than one byte
// past it. Only a regular file is read: a directory is not an empty source, nor is a device such
// as /dev/zero. When the result is `refused`, `reason` says why ("it is a directory").
Read_Result read_source(const std::string& path, std::size_t limit, std::string& text,
                        std::string& reason);

} // namespace Asm8080::Detail
