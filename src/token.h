// PDF tokens and a dictionary view over them. The tokenizer knows every lexical element of
// the format (white space, comments, names, numbers, literal and hex strings, keywords and
// delimiters), so readers built on it respect nesting, strings and comments.
//
// A few readers of page trees, content and resources keep simpler byte rules whose results
// the classic output depends on; each is one named primitive at the end of this header.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "doc.h"

namespace qf {

enum class token_kind : std::uint8_t {
    end,         // nothing left before the end of the range
    bad,         // a lone ">", or a string or hex string the range ends inside
    comment,     // "%" up to (not including) the end of its line
    name,        // "/" and the regular bytes after it
    integer,     // [+-]digits
    real,        // [+-]digits.digits, either side of the point may be empty (not both)
    string,      // "(" ... ")" with balanced parentheses and escapes
    hex_string,  // "<" ... ">"
    keyword,     // any other run of regular bytes: true, null, R, obj, stream, ...
    array_open,  // [
    array_close, // ]
    dict_open,   // <<
    dict_close,  // >>
    brace_open,  // {
    brace_close, // }
};

struct token {
    token_kind kind = token_kind::end;
    std::int32_t from = 0; // first byte
    std::int32_t to = 0;   // one past the last byte
};

// PDF delimiters: ( ) < > [ ] { } / %.
constexpr bool is_pdf_delimiter(std::uint8_t c) {
    return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' ||
           c == '}' || c == '/' || c == '%';
}

// The token at or after pos, white space skipped; nothing is read at or past end (cut to the
// buffer). A token never ends before it starts, and a non-end token is never empty.
token next_token(bytes d, std::int32_t pos, std::int32_t end);

// next_token with comments skipped.
token next_significant(bytes d, std::int32_t pos, std::int32_t end);

// The text of a token.
std::string_view token_text(bytes d, const token& t);

// A name token's name without its "/", with #xx escapes decoded.
std::string name_of(bytes d, const token& t);

// Whether a name token names `key` (escapes decoded).
bool name_is(bytes d, const token& t, std::string_view key);

// The bytes a literal or hex string token stands for: escapes (\n \r \t \b \f \( \) \\,
// octal \ddd, a backslash before a line end) undone, hex digits paired (a last odd one
// followed by 0); nullopt for any other token.
std::optional<std::string> string_of(bytes d, const token& t);

// The value of an integer token, wrapping in 32 bits; nullopt for any other token.
std::optional<std::int32_t> integer_of(bytes d, const token& t);

// The value of an integer or real token.
std::optional<double> number_of(bytes d, const token& t);

// Where the object that starts with token `first` ends: past its closing bracket for an array
// or dictionary (nesting, strings and comments respected), past "R" for a reference "N G R",
// else past the token itself. -1 when the range ends inside it; -2 when it is no object (a
// closing bracket, one closed by the other kind, a stray ")" or ">").
std::int32_t object_end(bytes d, const token& first, std::int32_t end);

// An indirect reference "N G R" read as tokens, comments allowed between them.
struct reference {
    std::int32_t num = 0;
    std::int32_t gen = 0;
    std::int32_t end = 0; // past the R
};
std::optional<reference> reference_at(bytes d, const token& first, std::int32_t end);

// The keys and values of one dictionary, in order.
struct dict_entry {
    token key;   // a name token
    token value; // the first token of the value
    std::int32_t value_end = 0;
};
struct dict_view {
    bytes text;
    std::int32_t open = 0; // where its "<<" stands
    std::vector<dict_entry> entries;
    std::int32_t end = 0; // past its ">>", or where reading stopped
    bool closed = false;  // whether its ">>" was found
};

// The dictionary whose "<<" is the first token at or after pos. Entries are read up to its
// ">>"; when the range ends first, the last entry's value runs to the end (`closed` is then
// false). Reading stops at a token that cannot begin an entry. nullopt when no "<<" stands
// there.
std::optional<dict_view> read_dict(bytes d, std::int32_t pos, std::int32_t end);

// The first entry with this key.
const dict_entry* dict_find(const dict_view& v, std::string_view key);

// ---- Simpler byte rules kept by the classic readers ----

// What the object table's dictionary walk sees at p (below end): "<<", ">>", the "(" of a
// string, a "<" or ">" on the range's last byte (the walk fails there), or any other byte.
enum class walk_byte : std::uint8_t { open, close, string, cut, other };
inline walk_byte dictionary_walk_at(bytes d, std::int32_t p, std::int32_t end) {
    // Inline: the object table's walks call it for every byte they pass.
    const std::uint8_t c = d[static_cast<std::size_t>(p)];
    if (c == '(') return walk_byte::string;
    if (c != '<' && c != '>') return walk_byte::other;
    if (p + 1 >= end) return walk_byte::cut;
    if (d[static_cast<std::size_t>(p) + 1] != c) return walk_byte::other; // a hex string's
    return c == '<' ? walk_byte::open : walk_byte::close;
}

// The ">>" closing the dictionary opened by the "<<" at open, within [open, end): strings are
// skipped (a backslash hides the next byte), comments and hex strings are not recognised —
// the object table's boundaries have always been found this way. -1 when the range ends
// first, also when a string closes on its last byte.
std::int32_t walked_dict_close(bytes d, std::int32_t open, std::int32_t end);

// A reference as the classic readers rewrite and follow it: digits, PDF white space, an
// optional generation, "R" not followed by a letter or digit; no comments between. The number
// wraps in 32 bits. Sets num and end (past the R).
bool match_ref(bytes text, std::size_t pos, std::int32_t& num, std::size_t& end);

// A number as box arrays are read, at pos (below end): an optional sign, then digits with at
// most one "."; reading stops at the first other byte, so "12x" reads as 12. Without a digit
// or point after the sign, ok is false and reading goes on one byte further.
struct number_read {
    double value = 0;
    std::int32_t next = 0; // where reading goes on
    bool ok = false;
};
number_read read_number(bytes d, std::int32_t pos, std::int32_t end);

// The numbers of a reference array as the page-tree and content readers take them, from just
// after its "[" to its "]" or end: each number with an optional generation and an optional
// R; other bytes are stepped over. At most `max_count` numbers are kept. Stops at a "<<" and
// then sets *inline_dict.
std::vector<std::int32_t> reference_list(bytes d, std::int32_t pos, std::int32_t end,
                                         std::size_t max_count, bool* inline_dict = nullptr);

} // namespace qf
