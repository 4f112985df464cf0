// Renumbering map of carried objects, and the rewriting of indirect references through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "doc.h"
#include "lex.h"
#include "token.h"

namespace qf {

struct renumber_map {
    std::vector<std::int32_t> old_nums;                         // input numbers, in carry order
    std::vector<std::int32_t> new_nums;                         // output numbers, parallel
    std::unordered_map<std::int32_t, std::int32_t> first_index; // old number -> first k
};

void map_add(renumber_map& m, std::int32_t old_num, std::int32_t new_num);
// New number of old_num, or -1 when it has none (or a new number of 0 or below).
std::int32_t map_lookup(const renumber_map& m, std::int32_t old_num);

// Calls on_ref(start, end, num) for every reference "N G R" (as match_ref reads them) outside
// literal strings and comments, in order: the references that carried text holds. A digit run that
// begins no reference is passed over whole, so a later number of the text can still begin one.
template <class on_ref_fn> void for_each_ref(bytes text, on_ref_fn&& on_ref) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::uint8_t c = text[pos];
        if (c == '(' || c == '%') {
            // A string's text is data and a comment's is no part of the object, whatever they
            // look like; a string the text ends inside runs to the end.
            const token t = next_token(text, static_cast<std::int32_t>(pos),
                                       static_cast<std::int32_t>(text.size()));
            pos = static_cast<std::size_t>(t.to);
            continue;
        }
        if (!is_digit(c)) {
            ++pos;
            continue;
        }
        std::int32_t num = 0;
        std::size_t end = 0;
        if (match_ref(text, pos, num, end)) {
            on_ref(pos, end, num);
            pos = end;
            continue;
        }
        while (pos < text.size() && is_digit(text[pos])) ++pos;
    }
}

// Copy of `text` with every reference to a mapped number rewritten as "M 0 R".
std::string remap_res_n(bytes text, const renumber_map& m);

} // namespace qf
