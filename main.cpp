// The process entry: floating point, the exception filter, the standard handles, the command
// line, the runtime's start, then the normal end through runtime_error(0). It never returns:
// every end of the process goes through runtime_error (or the console's quit).
#include <windows.h>
#include <shellapi.h>

#include <cfloat>
#include <string>
#include <vector>

#include "runtime/boot.h"
#include "runtime/errors.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/platform.h"
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

// Double precision, round to nearest, every exception masked (x87 control word 027Fh): IEEE
// results without traps. x86-64 has no x87 precision control; its SSE unit is always double.
void floating_point_init()
{
    _fpreset();
    _control87(_MCW_EM | _RC_NEAR, _MCW_EM | _MCW_RC);
#if defined(__i386__)
    _control87(_PC_53, _MCW_PC);
#endif
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    floating_point_init();
    rt_install_filter();
    platform_set_output(GetStdHandle(STD_OUTPUT_HANDLE));
    std::vector<std::string> args = command_line_utf8();   // for system/options, once the library exists
    runtime::start();
    // The boot's own catch: an error of the boot sources is reported as any uncaught error.
    try {
        runtime::boot();
    } catch (const system_throw_unwind&) {
        rt_top_handler();
    } catch (const script_error_unwind&) {
        interpreter::uncaught_error();   // no try frame caught it
    }
    runtime_error(RT_NORMAL_END, 0);
}
