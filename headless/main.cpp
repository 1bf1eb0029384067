// The headless front end: a console program built from the runtime's sources for tests and
// benchmarks, not the product (whose print never writes to standard output). Its print hook
// writes UTF-8 to standard output.
//   kiv-cli FILE          evaluates the script (a Kiv [...] header is skipped); an uncaught error
//                         is formed on standard error and the process ends with status -2
//   kiv-cli --time FILE   the same, then the seconds spent evaluating on standard error
//   kiv-cli --test FILE   runs a Kiv test script (runner.cpp)
//   kiv-cli --start-time  prints the seconds the runtime's start and the boot of the library took
//   kiv-cli               evaluates each line of standard input: "== " and the molded result
//   kiv-cli --console ... runs the console (system/console/launch) over the command line, at 80
//                         columns; its switches and script are the console's own
// Only the console mode keeps system/console: elsewhere the front end is no console.
// In every mode the global words ask and input read a line of standard input (stdin_line).
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "headless/headless.h"
#include "runtime/boot.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/errors.h"
#include "runtime/hooks.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/trace.h"
#include "runtime/stack.h"
#include "runtime/platform.h"
#include "runtime/rterror.h"
#include "runtime/runtime.h"
#include "runtime/unicode.h"

namespace {

std::string* capture = nullptr;   // print goes here instead of standard output while set

void write_handle(DWORD which, const std::string& text)
{
    HANDLE h = GetStdHandle(which);
    DWORD written = 0;
    if (h && h != INVALID_HANDLE_VALUE && !text.empty()) WriteFile(h, text.data(), DWORD(text.size()), &written, nullptr);
}

void print_value(const cell* value, uint32_t new_line)
{
    cell text = *value;
    std::string out = cell_type(&text) == TYPE_STRING ? string::utf8_copy(&text) : std::string();
    if (new_line) out += "\n";
    if (capture) *capture += out;
    else write_handle(STD_OUTPUT_HANDLE, out);
}

void print_text(const char*, uint32_t, uint32_t) {}

std::vector<std::wstring> arguments()
{
    std::vector<std::wstring> args;
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; argv && i < argc; i++) args.emplace_back(argv[i]);
    if (argv) LocalFree(argv);
    return args;
}

bool read_all(HANDLE h, std::string& out)
{
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n > 0) out.append(buffer, n);
    return true;
}

// What print and the prompts write: the test runner's capture while it is set, else standard output.
void write_out(const std::string& text)
{
    if (capture) *capture += text;
    else write_handle(STD_OUTPUT_HANDLE, text);
}

size_t utf8_count(const std::string& text)
{
    size_t n = 0;
    for (unsigned char c : text) n += (c & 0xC0) != 0x80;
    return n;
}

// ---- standard input, one line at a time ---------------------------------------------------------
// Read in blocks and handed out a line at a time, so the lines of a pipe cost no system call each.
// A console gives UTF-16 (ReadConsoleW), kept as UTF-8; anything else gives its bytes.
bool stdin_console = false;
std::string stdin_buffer;
size_t stdin_at = 0;
bool stdin_ended = false;

void stdin_start()
{
    DWORD mode = 0;
    stdin_console = GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

bool stdin_fill()
{
    HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
    if (stdin_at > 0) {
        stdin_buffer.erase(0, stdin_at);
        stdin_at = 0;
    }
    DWORD n = 0;
    if (stdin_console) {
        wchar_t units[4096];
        if (!ReadConsoleW(h, units, 4096, &n, nullptr) || n == 0) return false;
        int bytes = WideCharToMultiByte(CP_UTF8, 0, units, int(n), nullptr, 0, nullptr, nullptr);
        if (bytes <= 0) return false;
        size_t old = stdin_buffer.size();
        stdin_buffer.resize(old + size_t(bytes));
        WideCharToMultiByte(CP_UTF8, 0, units, int(n), stdin_buffer.data() + old, bytes, nullptr, nullptr);
        return true;
    }
    char block[65536];
    if (!ReadFile(h, block, sizeof block, &n, nullptr) || n == 0) return false;
    stdin_buffer.append(block, n);
    return true;
}

// The next line without its line end (a carriage return before the line feed dropped too); the
// last line may lack its line feed. False at the end of input.
bool stdin_line(std::string& line)
{
    for (;;) {
        size_t end = stdin_buffer.find('\n', stdin_at);
        if (end != std::string::npos || stdin_ended) {
            if (end == std::string::npos) {
                if (stdin_at >= stdin_buffer.size()) return false;
                end = stdin_buffer.size();
            }
            line.assign(stdin_buffer, stdin_at, end - stdin_at);
            stdin_at = end + 1;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return true;
        }
        if (!stdin_fill()) stdin_ended = true;
    }
}

double seconds_now()
{
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return double(count.QuadPart) / double(frequency.QuadPart);
}

// A script: its values, a Kiv [...] header skipped. Uncaught errors end the process with -2.
int run_file(const std::wstring& path, bool timed)
{
    std::string text;
    if (!headless::read_file(path, text)) {
        write_handle(STD_ERROR_HANDLE, "cannot read the script\n");
        return 1;
    }
    double seconds = 0;
    try {
        cell* code = headless::load(text);
        headless::skip_header(code);
        double start = seconds_now();
        interpreter::eval(code, false);
        seconds = seconds_now() - start;
    } catch (const script_error_unwind&) {
        write_handle(STD_ERROR_HANDLE, interpreter::raised_error_text() + "\n");
        rt_exit(0xFFFFFFFEu);
    }
    if (timed) {
        char figure[64];
        std::snprintf(figure, sizeof figure, "%.4f\n", seconds);
        write_handle(STD_ERROR_HANDLE, figure);
    }
    return 0;
}

// Standard input, line by line, as the console evaluates it.
int run_lines()
{
    std::string line;
    while (stdin_line(line)) {
        headless::outcome o = headless::evaluate(line);
        if (!o.error.empty()) write_handle(STD_OUTPUT_HANDLE, o.error + "\n");
        else if (!o.unset) write_handle(STD_OUTPUT_HANDLE, "== " + o.mold + "\n");
    }
    return 0;
}

// ---- ask and input ------------------------------------------------------------------------------
// The console's words over standard input: the prompt written, one line read, echoed when the
// input is no terminal (the hidden one as a "*" per character, a closing escape character not
// shown), and kept in the history as the terminal keeps it. At the end of input the process ends
// with status 0 (the test runner's with 1: a case that asks can have no input there).

bool test_run = false;

// The history that a line goes to: the /history block, else system/console/history while a
// console is set; none otherwise.
cell history_of(const cell* given)
{
    if (given) return *given;
    return object::system_field({"console", "history"});
}

// A line goes to the head of the history when it is not empty, not cancelled (a closing escape
// character), not hidden and not the newest entry already (compared case-sensitively). The string
// itself goes there, as the terminal puts its input line.
void keep_in_history(const cell* line, const std::string& text, bool hidden, const cell* given)
{
    if (text.empty() || text.back() == '\x1b' || hidden) return;
    cell history = history_of(given);
    if (cell_type(&history) != TYPE_BLOCK) return;
    if (block::rs_length(&history) > 0) {
        const cell* newest = block::rs_head(&history);
        if (cell_type(newest) == TYPE_STRING && string::utf8_copy(newest) == text) return;
    }
    block::insert_value(&history, line, false, false);
}

// The result string in the arguments base.
void ask_line(const std::string& question, bool hidden, const cell* given)
{
    std::string text;
    {
        trace::quiet off;   // a tracer's state is left as ask found it
        write_out(question);
        if (!stdin_line(text)) {
            if (test_run) write_handle(STD_ERROR_HANDLE, "ask: the end of standard input\n");
            rt_exit(test_run ? 1 : 0);
        }
        if (!stdin_console) {
            std::string echo = text;
            if (!echo.empty() && echo.back() == '\x1b') echo.pop_back();
            if (hidden) echo.assign(utf8_count(echo), '*');
            write_out(echo + "\n");
        }
    }
    cell given_blk = given ? *given : none_value;
    stack::scope keep;
    cell* held = keep.push(given_blk);
    cell* line = string::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), 0);
    keep_in_history(line, text, hidden, given ? held : nullptr);
    *stack_s.arguments = *line;
}

// ask question /hide /history blk: the window holds question, hide's flag, history's flag, blk.
void ask_entry()
{
    cell* w = stack_s.arguments;
    std::string question = string::utf8_copy(w);
    bool hidden = !cell_falsy(w + 1);
    ask_line(question, hidden, cell_falsy(w + 2) ? nullptr : w + 3);
}

void input_entry() { ask_line("", false, nullptr); }

const routine_row front_end_rows[] = {{"front-end-ask", ask_entry}, {"front-end-input", input_entry}};

const char* const front_end_words = R"kiv(
ask: make routine! [[
    "Prompt the user for input"
    question [string!] /hide /history blk [block!] return: [string!]
] front-end-ask]
input: make routine! [["Wait for console user input" return: [string!]] front-end-input]
)kiv";

// Runs Kiv text of the front end's own; an error there is the front end's fault.
void define(const char* text)
{
    headless::outcome o = headless::evaluate(text, nullptr, false);
    if (!o.error.empty()) {
        write_handle(STD_ERROR_HANDLE, o.error + "\n");
        rt_exit(0xFFFFFFFEu);
    }
}

}  // namespace

// ---- the services the runner shares ---------------------------------------------------------------

bool headless::read_file(const std::wstring& path, std::string& out)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    read_all(h, out);
    CloseHandle(h);
    return true;
}

cell* headless::load(const std::string& text)
{
    cell* source = string::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), 0);
    if (!interpreter_s.load_text) fire(ERR_INTERNAL, err::NOT_DONE);
    cell* code = interpreter_s.load_text(source);
    *source = *code;
    stack_s.top = source + 1;
    return source;
}

void headless::skip_header(cell* code)
{
    if (block::rs_length(code) < 2) return;
    const cell* first = block::rs_head(code);
    uint32_t length;
    const uint8_t* name = cell_type(first) == TYPE_WORD ? symbol::name(first->data2, &length) : nullptr;
    bool header = name && length == 3 && std::string(reinterpret_cast<const char*>(name), 3) == "Kiv";
    if (header && cell_type(first + 1) == TYPE_BLOCK) code->data1 += 2;
}

headless::outcome headless::evaluate(const std::string& line, std::string* printed, bool mold)
{
    outcome o;
    std::string* saved = capture;
    capture = printed;
    interpreter::catch_point point;
    try {
        cell* code = load(line);
        interpreter::eval(code, false);
        cell* result = stack_s.top - 1;
        o.unset = cell_type(result) == TYPE_UNSET;
        if (mold) o.mold = string::utf8_copy(actions::mold_value(result, false, false, false, actions::NO_LIMIT));
    } catch (const script_error_unwind&) {
        o.kind = error_kind();
        cell error = point.take_error();
        o.error = interpreter::error_text(&error);
    }
    stack_s.top = point.top;
    capture = saved;
    return o;
}

std::string headless::error_kind()
{
    const raised_error& e = raised_error_get();
    if (e.category >= ERROR_CATEGORIES) return "?";
    const error_category_names& c = error_names[e.category];
    return std::string(c.name) + "/" + (e.id < c.count ? c.ids[e.id] : "?");
}

int main()
{
    rt_install_filter();
    platform_set_output(GetStdHandle(STD_OUTPUT_HANDLE));
    std::vector<std::wstring> args = arguments();
    int status = 0;
    try {
        double start = seconds_now();
        runtime::start();
        double started = seconds_now();
        dyn_print::add(print_value, print_text);
        routine::register_(front_end_rows, sizeof front_end_rows / sizeof front_end_rows[0]);
        runtime::boot();
        double booted = seconds_now();
        stdin_start();
        define(front_end_words);
        test_run = args.size() > 1 && args[0] == L"--test";
        bool console = !args.empty() && args[0] == L"--console";
        define(console ? "system/console/gui?: false system/console/size: 80x25" : "system/console: none");
        if (console) define("system/console/launch");
        else if (args.empty()) status = run_lines();
        else if (args[0] == L"--start-time") {
            char figures[96];
            std::snprintf(figures, sizeof figures, "start %.4f\nboot %.4f\n", started - start, booted - started);
            write_handle(STD_OUTPUT_HANDLE, figures);
        }
        else if (args[0] == L"--time" && args.size() > 1) status = run_file(args[1], true);
        else if (args[0] == L"--test" && args.size() > 1) status = headless::run_tests(args[1]);
        else status = run_file(args[0], false);
    } catch (const system_throw_unwind&) {
        rt_top_handler();
    } catch (const script_error_unwind&) {
        write_handle(STD_ERROR_HANDLE, interpreter::raised_error_text() + "\n");
        rt_exit(0xFFFFFFFEu);
    }
    rt_exit(uint32_t(status));
}
