// The process entry: floating point, the exception filter, the command line, the runtime's
// start, then the normal end through runtime_error(0).
#include <windows.h>
#include <shellapi.h>

#include <cfloat>
#include <string>
#include <vector>

#include "runtime/rterror.h"
#include "runtime/runtime.h"

namespace {

std::vector<std::string> command_line_utf8()
{
    std::vector<std::string> args;
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 0; argv && i < argc; i++) {
        int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string s(n > 0 ? size_t(n - 1) : 0, '\0');
        if (n > 1) WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, s.data(), n, nullptr, nullptr);
        args.push_back(std::move(s));
    }
    if (argv) LocalFree(argv);
    return args;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    // Double precision, round to nearest, every exception masked: IEEE results without traps.
    _control87(_MCW_EM, _MCW_EM);
#if defined(__i386__)
    _control87(_PC_53 | _RC_NEAR, _MCW_PC | _MCW_RC);
#endif
    rt_install_filter();
    std::vector<std::string> args = command_line_utf8();
    runtime::init();
    runtime_error(RT_NORMAL_END, 0);
}
