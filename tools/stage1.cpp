// The first stage of the build: a console program made from the same runtime as the product, with
// the library's sources carried as text and an empty boot image. It starts the runtime from the
// text, runs the boot (so that a source that fails to load or run stops the build), then loads
// each source again with the lexer and writes the block of their blocks as compact KIVBIN to the
// file named by its one argument: the boot image that the product embeds. Status 0 when written.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "runtime/boot.h"
#include "runtime/boot_image.h"
#include "runtime/datatypes/block.h"
#include "runtime/embedded.h"
#include "runtime/errors.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/stack.h"
#include "runtime/io/kivbin.h"
#include "runtime/io/lexer.h"
#include "runtime/platform.h"
#include "runtime/rterror.h"
#include "runtime/runtime.h"

extern "C" const uint8_t kiv_boot_image[1] = {0};
extern "C" const uint32_t kiv_boot_image_size = 0;
extern "C" const char kiv_build_stamp[] = "date: none git: none";

namespace {

[[noreturn]] void stop(const char* what, const char* detail)
{
    std::fprintf(stderr, "stage1: %s %s\n", what, detail);
    std::fflush(stderr);
    ExitProcess(1);
}

cell* text_source(uint32_t n)
{
    const char* name = runtime::boot_sources[n];
    const embedded_source* source = embedded::find(name);
    if (!source) stop("missing source", name);
    return lexer::load(source->bytes, source->length, stack::push_slot());
}

}  // namespace

int main(int argc, char** argv)
{
    rt_install_filter();
    platform_set_output(GetStdHandle(STD_OUTPUT_HANDLE));
    if (argc != 2) stop("usage:", "stage1 <boot image file>");
    runtime::source_hook = text_source;
    std::vector<uint8_t> image;
    try {
        runtime::start();
        runtime::boot();
        cell* sources = block::make_at(stack::push_slot(), runtime::BOOT_SOURCES);
        for (uint32_t n = 0; n < runtime::BOOT_SOURCES; n++) {
            block::rs_append(sources, text_source(n));
            stack::pop(1);
        }
        image = kivbin::encode_cp(sources);
    } catch (const script_error_unwind&) {
        stop("the sources raise", interpreter::raised_error_text().c_str());
    } catch (const system_throw_unwind&) {
        stop("the sources throw", "");
    }
    FILE* out = std::fopen(argv[1], "wb");
    if (!out || std::fwrite(image.data(), 1, image.size(), out) != image.size() || std::fclose(out) != 0)
        stop("cannot write", argv[1]);
    ExitProcess(0);
}
