// The headless front end: a console program built from the runtime's sources for tests and
// benchmarks, not the product (whose print never writes to standard output). Its print hook
// writes UTF-8 to standard output.
//   kiv-cli FILE          evaluates the script (a Kiv [...] header is skipped); an uncaught error
//                         is formed on standard error and the process ends with status -2
//   kiv-cli --time FILE   the same, then the seconds spent evaluating on standard error
//   kiv-cli --test FILE   runs a Kiv test script (runner.cpp)
//   kiv-cli --start-time  prints the seconds the runtime's start and the boot of the library took
//   kiv-cli               evaluates each line of standard input: "== " and the molded result
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "headless/headless.h"
#include "runtime/boot.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/errors.h"
#include "runtime/hooks.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/stack.h"
#include "runtime/platform.h"
#include "runtime/rterror.h"
#include "runtime/runtime.h"

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
    std::string input;
    read_all(GetStdHandle(STD_INPUT_HANDLE), input);
    size_t at = 0;
    while (at < input.size()) {
        size_t end = input.find('\n', at);
        if (end == std::string::npos) end = input.size();
        std::string line = input.substr(at, end - at);
        at = end + 1;
        headless::outcome o = headless::evaluate(line);
        if (!o.error.empty()) write_handle(STD_OUTPUT_HANDLE, o.error + "\n");
        else if (!o.unset) write_handle(STD_OUTPUT_HANDLE, "== " + o.mold + "\n");
    }
    return 0;
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
        runtime::boot();
        double booted = seconds_now();
        if (args.empty()) status = run_lines();
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
