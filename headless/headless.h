// The headless front end's shared services: loading text, evaluating one line as the console
// does, and the Kiv test runner.
#pragma once
#include <string>
#include "runtime/cell.h"

namespace headless {
// What one top-level evaluation gave: the molded result (unset flagged), or the formed error and
// its category/id.
struct outcome {
    bool unset = false;
    std::string mold;
    std::string error;
    std::string kind;
};

bool read_file(const std::wstring& path, std::string& out);
// The values of a UTF-8 text as a block, pushed.
cell* load(const std::string& text);
// Moves the block's index past a leading Kiv [...] header.
void skip_header(cell* code);
// Evaluates the text as the console does: errors and stray exits are caught, the stacks given
// back. What print writes goes to *printed when given, else to standard output.
// The result is molded only when asked.
outcome evaluate(const std::string& text, std::string* printed = nullptr, bool mold = true);
// The category/id of the error being raised.
std::string error_kind();
// Runs a test script: prints each failure and "N passed, N failed"; 0 when none failed.
int run_tests(const std::wstring& path);
}  // namespace headless
