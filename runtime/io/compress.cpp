// compress and decompress: pick the codec by method word, size the output (a counting pass, or
// the size the caller gives), allocate it, then run the codec on the input fetched afresh.
#include "runtime/io/compress.h"

#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/io/byte_input.h"
#include "runtime/io/deflate.h"

namespace {

struct codec_row {
    const char* name;
    codec_routine compress, uncompress;
    bool sized;   // decompress takes /size as its first capacity
};
constexpr codec_row codecs[] = {
    {"zlib", zlib::compress, zlib::uncompress, true},
    {"deflate", deflate::compress, deflate::uncompress, true},
    {"gzip", gzip::compress, gzip::uncompress, false},
};
constexpr uint32_t CODEC_COUNT = sizeof codecs / sizeof codecs[0];

struct compress_state {
    uint32_t symbols[CODEC_COUNT];
};
compress_state compress_s;

const codec_row& codec_of(const cell* method)
{
    if (word::any_word_q(cell_type(method))) {
        uint32_t canonical = symbol::resolve(method->data2);
        for (uint32_t i = 0; i < CODEC_COUNT; i++)
            if (symbol::resolve(compress_s.symbols[i]) == canonical) return codecs[i];
    }
    fire(ERR_SCRIPT, err::INVALID_ARG, method);
}

// At most two runs: the first from the capacity given, the second with the size the first
// reported. Each run allocates its output first and only then takes the input's address.
void run(cell* data, codec_routine routine, const byte_input& in, uint64_t capacity)
{
    for (int attempt = 0; attempt < 2; attempt++) {
        if (capacity > CODEC_OUTPUT_MAX) fire(ERR_INTERNAL, err::NO_MEMORY);
        node_ref out = bytes_alloc(uint32_t(capacity));
        uint64_t size = capacity;
        int32_t r = routine(at(series_of(out)->head), &size, in.data(), in.size());
        if (r == CODEC_DONE) {
            binary_result(data, out, uint32_t(size));
            return;
        }
        if (r != CODEC_SMALL) break;
        capacity = size;
    }
    fire(ERR_SCRIPT, err::INVALID_DATA, data);
}

}  // namespace

void compress::init_words()
{
    for (uint32_t i = 0; i < CODEC_COUNT; i++) compress_s.symbols[i] = symbol::make(codecs[i].name);
}

void compress::native(cell* data, const cell* method)
{
    if (!byte_input_q(cell_type(data))) fire(ERR_SCRIPT, err::INVALID_ARG, data);
    const codec_row& codec = codec_of(method);
    byte_input in(data);
    run(data, codec.compress, in, uint64_t(in.size()) + 32);
}

void decompress::native(cell* data, const cell* method, const cell* size)
{
    if (cell_type(data) != TYPE_BINARY) fire(ERR_SCRIPT, err::INVALID_ARG, data);
    const codec_row& codec = codec_of(method);
    if (size && cell_type(size) != TYPE_INTEGER) fire(ERR_SCRIPT, err::INVALID_ARG, size);
    byte_input in(data);
    int64_t given = size ? int32_t(size->data2) : -1;
    if (codec.sized && given > int64_t(in.size())) {
        run(data, codec.uncompress, in, uint64_t(given));
        return;
    }
    uint64_t needed = 0;
    int32_t r = codec.uncompress(nullptr, &needed, in.data(), in.size());
    if (r == CODEC_DONE) {
        binary_result(data, bytes_alloc(0), 0);
        return;
    }
    if (r != CODEC_SMALL) fire(ERR_SCRIPT, err::INVALID_DATA, data);
    run(data, codec.uncompress, in, needed);
}
