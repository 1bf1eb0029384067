// The Kiv test runner. A script holds one case per line: code, then ";==" and the mold of the
// result, ";!!" and the category/id of the error it raises, or ";>>" and what it prints (a line
// break written "^/"). Lines without a marker set up the cases after them; an error there is a
// failure too. Each failure names the file, the line, the code, what was expected and what came.
// Scripts may also make the routine word of the entry test-handle (a handle! of a given value).
#include <windows.h>

#include <string>

#include "headless/headless.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/routine.h"
#include "runtime/stack.h"

namespace {

void out(const std::string& text)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), DWORD(text.size()), &written, nullptr);
}

std::string trim(const std::string& s)
{
    size_t a = s.find_first_not_of(" \t\r");
    size_t b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

std::string shown_breaks(const std::string& s)
{
    std::string r;
    for (char c : s) r += c == '\n' ? std::string("^/") : std::string(1, c);
    return r;
}

std::string narrow(const std::wstring& w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(size_t(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

// The marker of a case line: the last ";==", ";!!" or ";>>" on it, so that code may hold the
// same characters in a string before it.
size_t marker_at(const std::string& line, std::string& marker)
{
    size_t best = std::string::npos;
    for (const char* m : {";==", ";!!", ";>>"}) {
        size_t p = line.rfind(m);
        if (p != std::string::npos && (best == std::string::npos || p > best)) {
            best = p;
            marker = m;
        }
    }
    return best;
}

// A marker written wrong (";=", ";!", ";>" without its second character, and such) would make a
// case a setup line or a comment and let it pass unchecked: the position of the comment that
// begins like a marker in the text before the real one (strings skipped), else npos.
size_t stray_marker_at(const std::string& code)
{
    int braces = 0;
    bool quoted = false;
    for (size_t p = 0; p < code.size(); p++) {
        char c = code[p];
        if (c == '^') {
            p++;   // an escaped character of a string
        } else if (quoted) {
            quoted = c != '"';
        } else if (braces) {
            braces += c == '{' ? 1 : c == '}' ? -1 : 0;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '{') {
            braces = 1;
        } else if (c == ';') {   // a comment: the rest of the line
            return p + 1 < code.size() && std::string("=!>").find(code[p + 1]) != std::string::npos
                       ? p
                       : std::string::npos;
        }
    }
    return std::string::npos;
}

// test-handle n: a handle! of value n, of the window kind. Test scripts stand in for the GUI back
// end with it (the recording platform of tests/support/), since Kiv code makes no handles.
void test_handle()
{
    cell* arg = stack::arguments();
    handle::make_at(arg, uintptr_t(uint32_t(integer_of(arg))), handle::KIND_WINDOW);
}

const routine_row test_rows[] = {{"test-handle", test_handle}};

}  // namespace

int headless::run_tests(const std::wstring& path)
{
    routine::register_(test_rows, sizeof test_rows / sizeof test_rows[0]);
    std::string text;
    if (!read_file(path, text)) {
        out("cannot read " + narrow(path) + "\n");
        return 1;
    }
    std::string file = narrow(path);
    uint32_t passed = 0, failed = 0, number = 0;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        number++;
        std::string marker;
        size_t m = marker_at(line, marker);
        std::string code = trim(m == std::string::npos ? line : line.substr(0, m));
        size_t stray = stray_marker_at(m == std::string::npos ? line : line.substr(0, m));
        if (stray != std::string::npos || (code.empty() && m != std::string::npos)) {
            failed++;
            out(file + ":" + std::to_string(number) + ": " + trim(line) +
                "\n    not a case: a marker is \";==\", \";!!\" or \";>>\" after the code\n");
            continue;
        }
        if (code.empty() || code[0] == ';') continue;
        std::string expected = m == std::string::npos ? std::string() : trim(line.substr(m + 3));
        std::string printed;
        outcome o = evaluate(code, &printed, marker == ";==" || marker == ";!!");
        std::string actual;
        bool ok;
        if (marker.empty()) {
            ok = o.error.empty();
            actual = o.error;
        } else if (marker == ";!!") {
            ok = o.kind == expected;
            actual = o.error.empty() ? "no error, == " + o.mold : o.kind;
        } else if (marker == ";>>") {
            actual = shown_breaks(printed);
            ok = o.error.empty() && actual == expected;
            if (!o.error.empty()) actual = o.error;
        } else {
            actual = o.error.empty() ? o.mold : o.error;
            ok = o.error.empty() && o.mold == expected;
        }
        if (ok) {
            if (!marker.empty()) passed++;
            continue;
        }
        failed++;
        out(file + ":" + std::to_string(number) + ": " + code + "\n    expected: " +
            (marker.empty() ? "no error" : marker + " " + expected) + "\n    actual:   " + actual + "\n");
    }
    if (passed + failed == 0) {
        out(file + ": no cases\n");
        failed++;
    }
    out(std::to_string(passed) + " passed, " + std::to_string(failed) + " failed\n");
    return failed ? 1 : 0;
}
