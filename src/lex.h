// Byte-level primitives over PDF text. No allocation, no state, no messages.
// Positions are int32 offsets into `d`; d.size() is the readable length ("len").
//
// These are the rules the classic readers of keys, integers and object headers were built on;
// their output depends on them byte for byte. New readers use the tokenizer and dictionary
// view of token.h.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "doc.h"

namespace qf {

// NUL, TAB, LF, FF, CR, space.
constexpr bool is_pdf_ws(std::uint8_t c) {
    return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32;
}
// isspace in the C locale: TAB, LF, VT, FF, CR, space.
constexpr bool is_std_ws(std::uint8_t c) {
    return (c >= 9 && c <= 13) || c == 32;
}
// ASCII letters and digits only.
constexpr bool is_alnum(std::uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
constexpr bool is_digit(std::uint8_t c) {
    return c >= '0' && c <= '9';
}
// The value of a hexadecimal digit of either case, or -1.
constexpr int hex_digit(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Where the value of the key /key found at key_pos may begin: just past the name.
constexpr std::int32_t past_key(std::int32_t key_pos, std::string_view key) {
    return key_pos + 1 + static_cast<std::int32_t>(key.size());
}

// First position at or after pos (below end) that is not PDF white space, or end.
std::int32_t skip_ws(bytes d, std::int32_t pos, std::int32_t end);

// First occurrence of kw at or after from obeying the word rule, or -1.
std::int32_t find_kw(bytes d, std::int32_t from, std::string_view kw);

// Whether "<<" stands at pos, below min(end, len).
bool dict_opens_at(bytes d, std::int32_t pos, std::int32_t end);

// Whether kw stands exactly at pos, obeying the word rule.
bool kw_at(bytes d, std::int32_t pos, std::string_view kw);

// Position of the "/" of the first key /name at or after from ending within min(end, len).
// A byte search: nesting, strings and comments are not told apart, as the classic key readers
// have always looked keys up.
std::int32_t find_name(bytes d, std::int32_t from, std::int32_t end, std::string_view name);

// A name token /key at dictionary depth 0 or 1, outside strings and comments. Unlike a
// dictionary lookup it also finds the key in value position: page-tree nodes have always been
// told apart by any such /Type.
std::int32_t find_name_top(bytes d, std::int32_t from, std::int32_t end, std::string_view key);

// 1 for a /Page, 2 for a /Pages node, 0 otherwise. `d` is the whole input.
int obj_type(bytes d, const obj& o);

// Position of the "stream" keyword after the dictionary opened at pos, or -1.
std::int32_t dict_stream_kw(bytes d, std::int32_t pos);

// dict_stream_kw for every position in `starts` (ascending), with the same results, in time
// linear in the input for inputs whose dictionaries never close: one walk serves every start
// it passes.
std::vector<std::int32_t> dict_stream_kws(bytes d, const std::vector<std::int32_t>& starts);

// Integer at cursor ("-" allowed), cursor moved past it; -1 and cursor unchanged on failure.
std::int32_t parse_int_at(bytes d, std::int32_t& cursor);

// Integer at cursor bounded by end ("+" or "-" allowed); moves the cursor even on failure.
std::int32_t read_int_adv(bytes d, std::int32_t end, std::int32_t& cursor);

// Past an object header "N G obj" that starts at pos: the number, the generation when a digit
// follows, and the keyword obj with the white space after it when it stands there; white space
// is skipped up to end. `has_obj` tells whether the keyword was there.
std::int32_t skip_obj_header(bytes d, std::int32_t pos, std::int32_t end, bool* has_obj = nullptr);

// Where the data of the stream whose keyword is at s begins: after its end-of-line, where
// spaces and tabs may stand before the LF or CR LF; without one, the single byte after
// "stream" is taken as its end of line.
std::int32_t stream_data_start(bytes d, std::int32_t s);

// A stream's /Length between from and end: sets at most one of direct / objnum (both -1 first).
void parse_length(bytes d, std::int32_t from, std::int32_t end, std::int32_t& direct,
                  std::int32_t& objnum);

// qsort comparator over pairs of int32 by their first element.
int sx_rng_cmp(const void* a, const void* b);

} // namespace qf
