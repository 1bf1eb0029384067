// HTTP requests over the system's request object (created by ProgID, used synchronously), and
// url!'s read and write. A request is done in three steps: everything it sends is gathered from
// the values into C++ strings first (forming may allocate), then the COM calls run with no value
// made, then the answer becomes values. COM resources are held by scoped owners, so an error
// raised while the answer becomes values (invalid UTF-8, no memory) leaks nothing.
#include "runtime/io/http.h"

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/port.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/io/byte_input.h"
#include "runtime/io/codec_io.h"
#include "runtime/io/simple_io.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/unicode.h"

namespace simple_io {
// The request object's interface, in vtable order after IDispatch (the SDK header that declares
// it is not part of mingw-w64). Only the methods up to ResponseBody are called; the rest of the
// table is never reached, so it is not declared. It must not sit in an anonymous namespace: the
// compiler would see that no class of the program implements it and drop the calls as unreachable.
struct request_object : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE SetProxy(long setting, VARIANT server, VARIANT bypass) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCredentials(BSTR user, BSTR password, long flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Open(BSTR method, BSTR url, VARIANT async) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRequestHeader(BSTR name, BSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetResponseHeader(BSTR name, BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllResponseHeaders(BSTR* headers) = 0;
    virtual HRESULT STDMETHODCALLTYPE Send(VARIANT body) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Status(long* status) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_StatusText(BSTR* status) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ResponseText(BSTR* body) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ResponseBody(VARIANT* body) = 0;
};

}  // namespace simple_io

namespace {

using simple_io::request_object;

// The interface id of version 5.1 of the object. Wine answers the older id with E_NOINTERFACE,
// which would fail every request; Windows answers both.
const IID request_iid = {0x016FE2EC, 0xB2C8, 0x45F8, {0xB2, 0x3B, 0x39, 0xE5, 0x3A, 0x75, 0x39, 0x6B}};

constexpr uint64_t SERIES_LIMIT = 0x7FFFFFF0u;   // the most bytes a series can hold, with its header

// ---- scoped owners of COM resources --------------------------------------------------------------

struct bstr {
    BSTR b = nullptr;
    bstr() = default;
    explicit bstr(const std::wstring& s) : b(SysAllocStringLen(s.data(), UINT(s.size()))) {}
    ~bstr() { SysFreeString(b); }
    bstr(const bstr&) = delete;
    bstr& operator=(const bstr&) = delete;
};

// Clearing a VARIANT frees what it holds: a BSTR, or a SAFEARRAY with its data.
struct variant {
    VARIANT v;
    variant() { VariantInit(&v); }
    ~variant() { VariantClear(&v); }
    variant(const variant&) = delete;
    variant& operator=(const variant&) = delete;
};

struct request_ref {
    request_object* p = nullptr;
    request_ref() = default;
    ~request_ref()
    {
        if (p) p->Release();
    }
    request_ref(const request_ref&) = delete;
    request_ref& operator=(const request_ref&) = delete;
};

// The data of a byte SAFEARRAY, locked while the owner lives.
struct array_data {
    SAFEARRAY* array;
    uint8_t* bytes = nullptr;
    explicit array_data(SAFEARRAY* a) : array(a)
    {
        void* p = nullptr;
        if (SUCCEEDED(SafeArrayAccessData(a, &p))) bytes = static_cast<uint8_t*>(p);
    }
    ~array_data()
    {
        if (bytes) SafeArrayUnaccessData(array);
    }
    array_data(const array_data&) = delete;
    array_data& operator=(const array_data&) = delete;
};

// ---- what a request sends -------------------------------------------------------------------------

enum class body_kind { NONE, BYTES, TEXT };

struct request_plan {
    std::wstring method, url;
    std::vector<std::pair<std::wstring, std::wstring>> headers;
    body_kind kind = body_kind::NONE;
    std::vector<uint8_t> bytes;
    std::wstring text;
};

std::wstring wide_of_utf8(const uint8_t* text, uint32_t length)
{
    std::wstring out;
    if (length == 0) return out;
    int n = MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<const char*>(text), int(length), nullptr, 0);
    if (n <= 0) return out;
    out.resize(size_t(n));
    MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<const char*>(text), int(length), out.data(), n);
    return out;
}

std::wstring symbol_text(uint32_t id)
{
    uint32_t length = 0;
    const uint8_t* name = symbol::name(id, &length);
    return wide_of_utf8(name, length);
}

// The formed text of a value; a string! gives its characters as they are.
std::wstring text_of(const cell* value)
{
    if (cell_type(value) == TYPE_STRING) return simple_io::wide_text(value);
    stack::scope scope;
    cell* held = scope.push(*value);
    cell* formed = string::make_at(stack::push_slot(), 64);
    form_value(held, formed, nullptr, FORM_WHOLE);
    return simple_io::wide_text(formed);
}

// The cell at index i from a block's head, copied out (the caller may allocate before using it).
cell item(const cell* blk, uint32_t i)
{
    return *(series_head_cell(series_of(blk->data2)) + series::head_clamped(blk) + i);
}

void gather_headers(const cell* headers, request_plan& plan)
{
    if (!headers) {
        plan.headers = {{L"Content-Type", L"application/x-www-form-urlencoded"},
                        {L"Accept-Charset", L"UTF-8"},
                        {L"User-Agent", L"Mozilla/5.0 (Windows NT 6.1; Win64; x64)"}};
        return;
    }
    uint32_t count = series::length_clamped(headers);
    if (count % 2) {
        // A name without its value: the pairs end one cell short of the block's tail.
        cell name = item(headers, count - 1);
        fire(ERR_SCRIPT, err::INVALID_ARG, &name);
    }
    for (uint32_t i = 0; i < count; i += 2) {
        cell name = item(headers, i);
        std::wstring name_text = lookup_word_q(cell_type(&name)) ? symbol_text(word_symbol(&name)) : text_of(&name);
        cell value = item(headers, i + 1);
        plan.headers.emplace_back(std::move(name_text), text_of(&value));
    }
}

request_plan make_plan(uint32_t method, const cell* url, const cell* headers, const cell* data)
{
    request_plan plan;
    plan.method = symbol_text(method);
    if (!plan.method.empty()) _wcsupr(plan.method.data());
    plan.url = simple_io::wide_text(url);
    gather_headers(headers, plan);
    if (!data || cell_type(data) == TYPE_NONE || plan.method == L"GET" || plan.method == L"HEAD") return plan;
    if (cell_type(data) == TYPE_BINARY) {
        byte_input in(data);
        plan.bytes.assign(in.data(), in.data() + in.size());
        plan.kind = body_kind::BYTES;
    } else {
        plan.text = text_of(data);
        plan.kind = body_kind::TEXT;
    }
    return plan;
}

// ---- the request -------------------------------------------------------------------------------

// The body VARIANT: VT_ERROR (no argument), a byte SAFEARRAY or a BSTR. False when the system
// cannot make it.
bool set_body(const request_plan& plan, VARIANT& body)
{
    if (plan.kind == body_kind::NONE) {
        body.vt = VT_ERROR;
        body.scode = DISP_E_PARAMNOTFOUND;
        return true;
    }
    if (plan.kind == body_kind::TEXT) {
        body.bstrVal = SysAllocStringLen(plan.text.data(), UINT(plan.text.size()));
        if (!body.bstrVal) return false;
        body.vt = VT_BSTR;
        return true;
    }
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, ULONG(plan.bytes.size()));
    if (!array) return false;
    body.vt = VT_ARRAY | VT_UI1;   // owned by the VARIANT from here: cleared with it
    body.parray = array;
    array_data data(array);
    if (!data.bytes) return false;
    if (!plan.bytes.empty()) std::memcpy(data.bytes, plan.bytes.data(), plan.bytes.size());
    return true;
}

std::string utf8_of_bstr(BSTR text)
{
    std::string out;
    UINT length = text ? SysStringLen(text) : 0;
    if (length == 0) return out;
    int n = WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return out;
    out.resize(size_t(n));
    WideCharToMultiByte(CP_UTF8, 0, text, int(length), out.data(), n, nullptr, nullptr);
    return out;
}

struct answer {
    long status = 0;
    std::string header_text;
    variant body;
    int64_t promised = -1;   // the body length the headers promise, -1 when none can be checked
};

// A header's value, or false when the answer does not carry it.
bool response_header(request_object* request, const wchar_t* name, std::wstring& value)
{
    bstr asked{std::wstring(name)}, got;
    if (!asked.b || FAILED(request->GetResponseHeader(asked.b, &got.b)) || !got.b) return false;
    // Wine counts the terminating zero in the string's length: the value ends at the first zero.
    const wchar_t* text = got.b;
    value.assign(text, std::find(text, text + SysStringLen(got.b), L'\0'));
    return true;
}

// The body length that Content-Length promises: -1 when the answer has no body by its status or
// the request's method, when the body is chunked (the length header is then void), or when the
// header is missing or is not one decimal number.
int64_t promised_length(request_object* request, const request_plan& plan, long status)
{
    if (plan.method == L"HEAD" || (status >= 100 && status < 200) || status == 204 || status == 304) return -1;
    std::wstring text;
    if (response_header(request, L"Transfer-Encoding", text) || !response_header(request, L"Content-Length", text))
        return -1;
    size_t i = 0, end = text.size();
    while (i < end && (text[i] == L' ' || text[i] == L'\t')) i++;
    while (end > i && (text[end - 1] == L' ' || text[end - 1] == L'\t')) end--;
    if (i == end || end - i > 15) return -1;   // 15 digits stay far below the 64-bit limit
    int64_t n = 0;
    for (; i < end; i++) {
        if (text[i] < L'0' || text[i] > L'9') return -1;
        n = n * 10 + (text[i] - L'0');
    }
    return n;
}

// Runs the request; false when the object cannot be made or any call fails.
bool perform(const request_plan& plan, bool info, answer& out)
{
    platform_com_start();  // COM starts on first use, not at start-up
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(L"WinHttp.WinHttpRequest.5.1", &clsid))) return false;
    request_ref request;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, request_iid,
                                reinterpret_cast<void**>(&request.p))) || !request.p)
        return false;
    bstr method(plan.method), url(plan.url);
    if (!method.b || !url.b) return false;
    variant async;
    async.v.vt = VT_BOOL;
    async.v.boolVal = VARIANT_FALSE;
    if (FAILED(request.p->Open(method.b, url.b, async.v))) return false;
    for (const auto& [name_text, value_text] : plan.headers) {
        bstr name(name_text), value(value_text);
        if (!name.b || !value.b || FAILED(request.p->SetRequestHeader(name.b, value.b))) return false;
    }
    variant body;
    if (!set_body(plan, body.v) || FAILED(request.p->Send(body.v))) return false;
    if (FAILED(request.p->get_Status(&out.status))) return false;
    if (info) {
        bstr headers;
        if (FAILED(request.p->GetAllResponseHeaders(&headers.b))) return false;
        out.header_text = utf8_of_bstr(headers.b);
    }
    // Some request objects (Wine's) report success for a body that the connection cut short of
    // its Content-Length: the length is checked here, and such an answer fails as a whole.
    out.promised = promised_length(request.p, plan, out.status);
    return SUCCEEDED(request.p->get_ResponseBody(&out.body.v));
}

// The answer body's length: false when the VARIANT is not a one-dimensional array of bytes (no
// VARIANT at all is an empty body).
bool body_length(const VARIANT& body, uint64_t& length)
{
    length = 0;
    if (body.vt == VT_EMPTY || body.vt == VT_NULL) return true;
    if (body.vt != (VT_ARRAY | VT_UI1) || !body.parray) return false;
    if (SafeArrayGetDim(body.parray) != 1 || SafeArrayGetElemsize(body.parray) != 1) return false;
    LONG low = 0, high = -1;
    if (FAILED(SafeArrayGetLBound(body.parray, 1, &low)) || FAILED(SafeArrayGetUBound(body.parray, 1, &high)))
        return false;
    int64_t n = int64_t(high) - int64_t(low) + 1;
    if (n < 0) return false;
    length = uint64_t(n);
    return true;
}

// The body as the caller asked for it, into slot (which must not move).
cell* body_value(cell* slot, const VARIANT& body, uint32_t length, bool binary, bool lines, const cell* url)
{
    if (binary) {
        node_ref node = bytes_alloc(length);   // allocated first; its address is taken after
        if (length) {
            array_data data(body.parray);
            if (!data.bytes) fire(ERR_INTERNAL, err::NO_MEMORY);
            std::memcpy(at(series_of(node)->head), data.bytes, length);
        }
        return binary_result(slot, node, length);
    }
    // The array is this call's own copy of the answer: folding CR LF may change it in place, and
    // it lies outside the value heap, so making the values does not move it.
    uint8_t none = 0;
    if (!length) {
        if (lines) return simple_io::lines_to_block(slot, &none, 0, url);
        return simple_io::text_to_string(slot, &none, 0, url);
    }
    array_data data(body.parray);
    if (!data.bytes) fire(ERR_INTERNAL, err::NO_MEMORY);
    if (lines) return simple_io::lines_to_block(slot, data.bytes, length, url);
    return simple_io::text_to_string(slot, data.bytes, length, url);
}

bool ascii_equal_ignoring_case(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        uint8_t x = uint8_t(a[i]), y = uint8_t(b[i]);
        if (x >= 'A' && x <= 'Z') x = uint8_t(x + 32);
        if (y >= 'A' && y <= 'Z') y = uint8_t(y + 32);
        if (x != y) return false;
    }
    return true;
}

cell string_of(const std::string& text)
{
    uint32_t remaining = 0;
    node_ref node = utf8_load_string(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), 0,
                                     &remaining, false);
    return cell{TYPE_STRING, 0, node, 0};
}

// ---- url! read and write -------------------------------------------------------------------------

// Whether the url's scheme starts with "http" (https included), in any letter case.
bool http_url_q(const cell* url)
{
    std::wstring text = simple_io::wide_text(url);
    if (text.size() < 4) return false;
    for (size_t i = 0; i < 4; i++)
        if (towlower(text[i]) != L"http"[i]) return false;
    return true;
}

uint32_t symbol_of(const char* name) { return symbol::make(name); }

cell* ask(cell* slot, uint32_t method, cell* url, const cell* headers, const cell* data, bool binary, bool lines,
          bool info)
{
    simple_io::request_http(slot, method, url, headers, data, binary, lines, info);
    if (cell_type(slot) == TYPE_NONE) fire(ERR_ACCESS, err::NO_CONNECT, url);
    return slot;
}

// A url of a scheme other than http: the port its parts make, not opened, in a new stack cell.
cell* port_of(const cell* url)
{
    cell* held = stack::push(url);
    cell* made = port::make(nullptr, held, TYPE_PORT);
    *held = *made;
    stack_s.top = held + 1;
    return held;
}

cell* url_read(cell* source, cell* part, cell* seek, bool binary, bool lines, bool info, cell* as)
{
    stack::scope scope;
    if (!http_url_q(source)) {
        cell* p = port_of(source);
        *source = *port::read(p, part, seek, binary, lines, info, as);
        return source;
    }
    if (arg_given(part) || arg_given(seek)) fire(ERR_INTERNAL, err::NOT_DONE);
    cell* url = scope.push(*source);
    cell* codec = scope.push(none_value);
    if (arg_given(as) && codec_io::find(as, codec)) {
        // A codec's name: its decode takes the answer's bytes.
        cell* body = scope.push(none_value);
        ask(body, symbol_of("get"), url, nullptr, nullptr, true, false, false);
        return codec_io::decode(codec, body, source);
    }
    return ask(source, symbol_of("get"), url, nullptr, nullptr, binary, lines, info);
}

cell* url_open(cell* url, bool new_, bool read, bool write, bool seek, cell* allow)
{
    stack::scope scope;
    cell* p = port_of(url);
    *url = *actions_of(TYPE_PORT).open(p, new_, read, write, seek, allow);
    return url;
}

cell* url_write(cell* target, cell* data, bool binary, bool lines, bool info, bool append, cell* part, cell* seek,
                cell* allow, cell* as)
{
    stack::scope scope;
    if (!http_url_q(target)) {
        cell* held = scope.push(*data);
        cell* p = port_of(target);
        *target = *port::write(p, held, binary, lines, info, append, part, seek, allow, as);
        return target;
    }
    // Positions and protection mean nothing to a request.
    if (arg_given(seek) || arg_given(allow)) fire(ERR_INTERNAL, err::NOT_DONE);
    cell* url = scope.push(*target);
    cell* given = scope.push(*data);
    cell* codec = scope.push(none_value);
    if (arg_given(as) && codec_io::find(as, codec)) {
        // A codec's name: what its encode gives is posted as it stands.
        codec_io::encode(codec, data, target, given);
        return ask(target, symbol_of("post"), url, nullptr, given, binary, lines, info);
    }
    uint32_t method = 0;
    cell* headers = nullptr;
    cell* body = given;
    if (cell_type(given) == TYPE_BLOCK && series::length_clamped(given) > 0) {
        // [method headers data]: a word, then optionally a block of headers and the data.
        uint32_t count = series::length_clamped(given);
        cell first = item(given, 0);
        if (cell_type(&first) != TYPE_WORD) fire(ERR_SCRIPT, err::INVALID_ARG, &first);
        method = word_symbol(&first);
        if (count > 1) {
            cell second = item(given, 1);
            if (cell_type(&second) != TYPE_BLOCK) fire(ERR_SCRIPT, err::INVALID_ARG, &second);
            headers = scope.push(second);
        }
        body = count > 2 ? scope.push(item(given, 2)) : nullptr;
    } else {
        method = symbol_of(cell_type(given) == TYPE_BLOCK ? "get" : "post");
    }
    if (body) {
        uint32_t t = cell_type(body);
        if (t != TYPE_BLOCK && t != TYPE_STRING && t != TYPE_BINARY) fire(ERR_SCRIPT, err::INVALID_ARG, body);
    }
    return ask(target, method, url, headers, body, binary, lines, info);
}

}  // namespace

std::vector<simple_io::http_header> simple_io::parse_http_headers(const uint8_t* text, size_t length)
{
    std::vector<http_header> out;
    size_t start = 0;
    while (start < length) {
        size_t end = start;
        while (end < length && text[end] != '\n') end++;
        // A line's text runs to its first CR (the CR of CR LF, or one standing alone) or its LF.
        size_t stop = start;
        while (stop < end && text[stop] != '\r') stop++;
        // The name ends at the line's first ": "; the value runs to the text's stop.
        size_t colon = start;
        while (colon + 1 < stop && !(text[colon] == ':' && text[colon + 1] == ' ')) colon++;
        if (colon > start && colon + 1 < stop) {
            std::string name(reinterpret_cast<const char*>(text + start), colon - start);
            std::string value(reinterpret_cast<const char*>(text + colon + 2), stop - colon - 2);
            http_header* found = nullptr;
            for (http_header& h : out)
                if (ascii_equal_ignoring_case(h.name, name)) found = &h;
            if (found) found->values.push_back(std::move(value));
            else out.push_back({std::move(name), {std::move(value)}});
        }
        start = end + 1;
    }
    return out;
}

cell* simple_io::http_headers_value(cell* slot, const std::vector<http_header>& headers)
{
    // The header collection is a map made from name/value pairs; a repeated name has a block of
    // its values.
    stack::scope scope;
    cell* blk = block::make_at(stack::push_slot(), uint32_t(headers.size() * 2));
    for (const http_header& h : headers) {
        stack::scope each;
        cell* key = word::make_at(symbol::make(h.name.c_str()), stack::push_slot());
        block::rs_append(blk, key);
        cell* value = stack::push_slot();
        if (h.values.size() == 1) {
            *value = string_of(h.values[0]);
        } else {
            block::make_at(value, uint32_t(h.values.size()));
            for (const std::string& v : h.values) {
                cell text = string_of(v);
                block::rs_append(value, &text);   // room was made: no growth, no collection
            }
        }
        block::rs_append(blk, value);
    }
    *slot = *map::from_block(blk);
    return slot;
}

cell* simple_io::request_http(cell* slot, uint32_t method, const cell* url, const cell* headers, const cell* data,
                              bool binary, bool lines, bool info)
{
    request_plan plan = make_plan(method, url, headers, data);
    answer got;
    uint64_t length = 0;
    if (!perform(plan, info, got) || !body_length(got.body.v, length) ||
        (got.promised >= 0 && length < uint64_t(got.promised))) {
        *slot = none_value;
        return slot;
    }
    if (length >= SERIES_LIMIT) fire(ERR_INTERNAL, err::NO_MEMORY);
    cell source = *url;
    stack::scope scope;
    cell* name = scope.push(source);
    if (!info) return body_value(slot, got.body.v, uint32_t(length), binary, lines, name);
    cell* result = block::make_at(stack::push_slot(), 3);
    cell status{TYPE_INTEGER, 0, uint32_t(int32_t(got.status)), 0};
    block::rs_append(result, &status);
    std::vector<http_header> parsed = parse_http_headers(reinterpret_cast<const uint8_t*>(got.header_text.data()),
                                                         got.header_text.size());
    block::rs_append(result, http_headers_value(stack::push_slot(), parsed));
    block::rs_append(result, body_value(stack::push_slot(), got.body.v, uint32_t(length), binary, lines, name));
    *slot = *result;
    return slot;
}

void simple_io::http_init()
{
    // Like the file layer, the HTTP layer fills url!'s slots once the datatype is registered.
    action_table_row& row = datatype_s.rows[TYPE_URL];
    row.read = url_read;
    row.write = url_write;
    row.open = url_open;
}
