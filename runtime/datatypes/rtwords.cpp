// The runtime's vocabulary, made at start-up, and the mold cycle markers.
#include "runtime/datatypes/rtwords.h"

#include "runtime/cells.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"

namespace {

struct named {
    const char* name;
    uint32_t slot;
};
struct from_symbol {
    rt_symbol symbol;
    rt_word word;
};

// The making order is fixed: the global context's positions follow it.
const named symbol_names[] = {
    {"spec", SYM_SPEC}, {"body", SYM_BODY}, {"words", SYM_WORDS}, {"class", SYM_CLASS}, {"logic!", SYM_LOGIC},
    {"integer!", SYM_INTEGER}, {"char!", SYM_CHAR}, {"float!", SYM_FLOAT}, {"percent!", SYM_PERCENT},
    {"any-type!", SYM_ANY_TYPE}, {"exit", SYM_EXIT}, {"return", SYM_RETURN}, {"Windows", SYM_WINDOWS},
    {"Syllable", SYM_SYLLABLE}, {"macOS", SYM_MACOS}, {"Linux", SYM_LINUX}, {"NetBSD", SYM_NETBSD},
    {"repeat", SYM_REPEAT}, {"foreach", SYM_FOREACH}, {"map-each", SYM_MAP_EACH},
    {"remove-each", SYM_REMOVE_EACH}, {"any", SYM_ANY}, {"break", SYM_BREAK}, {"copy", SYM_COPY},
    {"end", SYM_END}, {"fail", SYM_FAIL}, {"into", SYM_INTO}, {"opt", SYM_OPT}, {"not", SYM_NOT},
    {"quote", SYM_QUOTE}, {"case", SYM_CASE}, {"reject", SYM_REJECT}, {"set", SYM_SET}, {"skip", SYM_SKIP},
    {"some", SYM_SOME}, {"thru", SYM_THRU}, {"to", SYM_TO}, {"none", SYM_NONE}, {"|", SYM_PIPE},
    {"-", SYM_MINUS}, {"if", SYM_IF}, {"remove", SYM_REMOVE}, {"while", SYM_WHILE}, {"insert", SYM_INSERT},
    {"only", SYM_ONLY}, {"collect", SYM_COLLECT}, {"keep", SYM_KEEP}, {"pick", SYM_PICK}, {"ahead", SYM_AHEAD},
    {"after", SYM_AFTER}, {"x", SYM_X}, {"y", SYM_Y}, {"z", SYM_Z}, {"self", SYM_SELF}, {"values", SYM_VALUES},
    {"owner", SYM_OWNER}, {"owned", SYM_OWNED}, {"events?", SYM_EVENTS_Q}, {"true", SYM_TRUE},
    {"false", SYM_FALSE}, {"yes", SYM_YES}, {"no", SYM_NO}, {"on", SYM_ON}, {"off", SYM_OFF},
    {"type", SYM_TYPE}, {"face", SYM_FACE}, {"window", SYM_WINDOW}, {"offset", SYM_OFFSET}, {"key", SYM_KEY},
    {"flag", SYM_FLAG}, {"code", SYM_CODE}, {"picked", SYM_PICKED}, {"flags", SYM_FLAGS}, {"away?", SYM_AWAY_Q},
    {"ctrl?", SYM_CTRL_Q}, {"shift?", SYM_SHIFT_Q}, {"down?", SYM_DOWN_Q}, {"mid-down?", SYM_MID_DOWN_Q},
    {"alt-down?", SYM_ALT_DOWN_Q}, {"aux-down?", SYM_AUX_DOWN_Q}, {"orientation", SYM_ORIENTATION},
    {"get", SYM_GET}, {"put", SYM_PUT}, {"post", SYM_POST}, {"head", SYM_HEAD}, {"size", SYM_SIZE},
    {"rgb", SYM_RGB}, {"alpha", SYM_ALPHA}, {"argb", SYM_ARGB}, {"date", SYM_DATE}, {"year", SYM_YEAR},
    {"month", SYM_MONTH}, {"day", SYM_DAY}, {"zone", SYM_ZONE}, {"isoweek", SYM_ISOWEEK}, {"week", SYM_WEEK},
    {"weekday", SYM_WEEKDAY}, {"yearday", SYM_YEARDAY}, {"julian", SYM_JULIAN}, {"time", SYM_TIME},
    {"hour", SYM_HOUR}, {"minute", SYM_MINUTE}, {"second", SYM_SECOND}, {"timezone", SYM_TIMEZONE},
    {"code", SYM_CODE}, {"amount", SYM_AMOUNT}, {"user", SYM_USER}, {"host", SYM_HOST}, {"system", SYM_SYSTEM},
    {"system-global", SYM_SYSTEM_GLOBAL}, {"stack", SYM_STACK}, {"trace", SYM_TRACE},
    {"no-trace", SYM_NO_TRACE},
};
const from_symbol symbol_words[] = {
    {SYM_WINDOWS, W_WINDOWS}, {SYM_SYLLABLE, W_SYLLABLE}, {SYM_MACOS, W_MACOS}, {SYM_LINUX, W_LINUX},
    {SYM_NETBSD, W_NETBSD}, {SYM_TO, W_TO}, {SYM_THRU, W_THRU}, {SYM_NOT, W_NOT}, {SYM_REMOVE, W_REMOVE},
    {SYM_WHILE, W_WHILE}, {SYM_COLLECT, W_COLLECT}, {SYM_KEEP, W_KEEP}, {SYM_AHEAD, W_AHEAD},
    {SYM_PIPE, W_PIPE}, {SYM_ANY, W_ANY}, {SYM_SOME, W_SOME}, {SYM_COPY, W_COPY}, {SYM_OPT, W_OPT},
    {SYM_INTO, W_INTO}, {SYM_INSERT, W_INSERT}, {SYM_IF, W_IF}, {SYM_QUOTE, W_QUOTE}, {SYM_COLLECT, W_COLLECT},
    {SYM_SET, W_SET}, {SYM_CASE, W_CASE}, {SYM_END, W_END},
};
const named word_names[] = {
    {"at", W_AT}, {"back", W_BACK}, {"find", W_FIND}, {"head", W_HEAD}, {"head?", W_HEAD_Q},
    {"index?", W_INDEX_Q}, {"length?", W_LENGTH_Q}, {"next", W_NEXT}, {"pick", W_PICK}, {"skip", W_SKIP},
    {"select", W_SELECT}, {"tail", W_TAIL}, {"tail?", W_TAIL_Q}, {"change", W_CHANGE}, {"changed", W_CHANGED},
    {"clear", W_CLEAR}, {"cleared", W_CLEARED}, {"set-path", W_SET_PATH}, {"append", W_APPEND},
    {"appended", W_APPENDED}, {"move", W_MOVE}, {"moved", W_MOVED}, {"poke", W_POKE}, {"poked", W_POKED},
    {"put", W_PUT}, {"put-ed", W_PUT_ED}, {"removed", W_REMOVED}, {"random", W_RANDOM},
    {"randomized", W_RANDOMIZED}, {"reverse", W_REVERSE}, {"reversed", W_REVERSED}, {"sort", W_SORT},
    {"sorted", W_SORTED}, {"swap", W_SWAP}, {"swaped", W_SWAPED}, {"take", W_TAKE}, {"taken", W_TAKEN},
    {"trim", W_TRIM}, {"trimmed", W_TRIMMED}, {"inserted", W_INSERTED}, {"uppercase", W_UPPERCASE},
    {"lowercase", W_LOWERCASE}, {"checksum", W_CHECKSUM}, {"push", W_PUSH}, {"pop", W_POP}, {"fetch", W_FETCH},
    {"match", W_MATCH}, {"iterate", W_ITERATE}, {"paren", W_PAREN}, {"<anon>", W_ANON_TAG},
    {"<body>", W_BODY_TAG}, {"<not-found>", W_NOT_FOUND_TAG}, {"add", W_ADD}, {"subtract", W_SUBTRACT},
    {"divide", W_DIVIDE}, {"on-parse-event", W_ON_PARSE_EVENT}, {"on-change*", W_ON_CHANGE_STAR},
    {"on-deep-change*", W_ON_DEEP_CHANGE_STAR}, {"type", W_TYPE}, {"id", W_ID}, {"try", W_TRY},
    {"catch", W_CATCH}, {"name", W_NAME}, {"multiply", W_MULTIPLY}, {"browse", W_BROWSE}, {"open", W_OPEN},
    {"create", W_CREATE}, {"close", W_CLOSE}, {"delete", W_DELETE}, {"modify", W_MODIFY}, {"query", W_QUERY},
    {"read", W_READ}, {"rename", W_RENAME}, {"update", W_UPDATE}, {"write", W_WRITE}, {"prescan", W_PRESCAN},
    {"scan", W_SCAN}, {"load", W_LOAD}, {"error", W_ERROR}, {"comment", W_COMMENT}, {"init", W_INIT},
    {"exec", W_EXEC}, {"call", W_CALL}, {"return", W_RETURN}, {"enter", W_ENTER}, {"exit", W_EXIT},
    {"prolog", W_PROLOG}, {"epilog", W_EPILOG}, {"throw", W_THROW}, {"expr", W_EXPR},
    {"<interp-callback>", W_INTERP_CALLBACK_TAG}, {"<lexer-callback>", W_LEXER_CALLBACK_TAG},
    {"<parse-callback>", W_PARSE_CALLBACK_TAG}, {"<compare-callback>", W_COMPARE_CALLBACK_TAG},
    {"throw", W_THROW}, {"note", W_NOTE}, {"syntax", W_SYNTAX}, {"script", W_SCRIPT}, {"math", W_MATH},
    {"access", W_ACCESS}, {"user", W_USER}, {"internal", W_INTERNAL}, {"invalid-error", W_INVALID_ERROR},
    {"local", W_LOCAL}, {"<applied>", W_APPLIED_TAG},
};

const named refinement_names[] = {
    {"local", REF_LOCAL}, {"extern", REF_EXTERN}, {"compare", REF_COMPARE},
    {"part", REF_PART},   {"skip", REF_SKIP},     {"with", REF_WITH},
    {"seek", REF_SEEK},
};

uint32_t symbol_ids[SYM_COUNT];
const cell* word_cells[W_COUNT];
const cell* refinement_cells[REF_COUNT];

struct cycle_marker {
    uint32_t type;
    const char* mold;
    int32_t length;
};

constexpr cycle_marker markers[] = {
    {TYPE_BLOCK, "[...]", 5},   {TYPE_HASH, "[...]", 5},     {TYPE_PAREN, "(...)", 5},
    {TYPE_MAP, "#[...]", 6},    {TYPE_OBJECT, "make object! [...]", 18},
    {TYPE_PATH, "...", 3},      {TYPE_LIT_PATH, "...", 3},   {TYPE_SET_PATH, "...", 3},
    {TYPE_GET_PATH, "...", 3},
};

}  // namespace

void runtime_words_init()
{
    for (const named& s : symbol_names) symbol_ids[s.slot] = symbol::make(s.name);
    for (const from_symbol& w : symbol_words) word_cells[w.word] = word::from_symbol(symbol_ids[w.symbol]);
    for (const named& w : word_names) word_cells[w.slot] = word::load(w.name);
}

void refinement_words_init()
{
    for (const named& r : refinement_names) refinement_cells[r.slot] = refinement::load(r.name);
}

uint32_t rt_symbol_id(rt_symbol which) { return which < SYM_COUNT ? symbol_ids[which] : 0; }

const cell* rt_word_cell(rt_word which)
{
    return which < W_COUNT && word_cells[which] ? word_cells[which] : &none_value;
}

const cell* rt_refinement_word(rt_refinement which)
{
    return which < REF_COUNT && refinement_cells[which] ? refinement_cells[which] : &none_value;
}

bool mold_cycle_check(const cell* value, cell* buffer, int32_t* budget, bool mold)
{
    uint32_t type = cell_type(value);
    node_ref node = type == TYPE_OBJECT ? value->data1 : value->data2;
    if (!cycle_find(node)) return false;
    const char* text = "...";
    int32_t length = 3;
    if (mold) {
        for (const cycle_marker& m : markers) {
            if (m.type != type) continue;
            text = m.mold;
            length = m.length;
        }
    }
    string::concatenate_literal(buffer, text);
    *budget -= length;
    return true;
}

int32_t mold_indent(cell* buffer, int32_t level, int32_t budget)
{
    for (int32_t i = 0; i < level; i++) string::concatenate_literal(buffer, "    ");
    return budget - 4 * (level > 0 ? level : 0);
}
