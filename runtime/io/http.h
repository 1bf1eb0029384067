// HTTP and HTTPS requests through the system's request object, and url!'s read and write over them.
// Must not break: every BSTR, VARIANT, SAFEARRAY and COM reference is released on every path (an
// unwinding error included); the response header text is read only within its length; the answer
// body's type, dimensions and bounds are checked before a byte of it is read.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "runtime/cell.h"

namespace simple_io {

// One response header name with its values in the order received (a name met again adds a value;
// names are matched ignoring ASCII case, as the words they become are).
struct http_header {
    std::string name;
    std::vector<std::string> values;
};

// Parses response header text (UTF-8) of exactly `length` bytes: lines end at LF or at the text's
// end; a line is a name, ": " and the value up to the line's first CR (or its end); a line without
// ": " or with an empty name (the status line, the blank last line) is skipped.
std::vector<http_header> parse_http_headers(const uint8_t* text, size_t length);

// The response headers as a map! in slot (which must not move): each name a word!, each value a
// string! or, for a repeated name, a block of strings.
cell* http_headers_value(cell* slot, const std::vector<http_header>& headers);

// One synchronous request. method: the symbol naming it (get, head, post or any other, upper-cased);
// headers: a block of name/value pairs or none (then the three defaults go); data: none, binary!
// (sent as bytes) or any value (sent as its text); never a body for GET or HEAD. Writes into slot
// (which must not move) the body (binary!, block of lines or string!) or, with info, the block
// [status headers body]; none when the request object cannot be made, a call of it fails or the
// body is shorter than its Content-Length header promises (a connection cut off early). A
// header block of odd length raises script/invalid-arg naming its last name.
cell* request_http(cell* slot, uint32_t method, const cell* url, const cell* headers, const cell* data,
                   bool binary, bool lines, bool info);

// Installs url!'s read and write.
void http_init();

}  // namespace simple_io
