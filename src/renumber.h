// Renumbering map of carried objects, and the rewriting of indirect references through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "doc.h"

namespace qf {

struct renumber_map {
    std::vector<std::int32_t> old_nums;                         // input numbers, in carry order
    std::vector<std::int32_t> new_nums;                         // output numbers, parallel
    std::unordered_map<std::int32_t, std::int32_t> first_index; // old number -> first k
};

void map_add(renumber_map& m, std::int32_t old_num, std::int32_t new_num);
// New number of old_num, or -1 when it has none (or a new number of 0 or below).
std::int32_t map_lookup(const renumber_map& m, std::int32_t old_num);

// An indirect reference "N G R" starting at pos (a digit): any PDF white space between the
// parts, a generation of any number of digits or none. On success sets num and end (just past
// the R). The collector and the renumberer both use this.
bool match_ref(bytes text, std::size_t pos, std::int32_t& num, std::size_t& end);

// Copy of `text` with every reference to a mapped number rewritten as "M 0 R".
std::string remap_res_n(bytes text, const renumber_map& m);

} // namespace qf
