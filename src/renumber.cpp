// Lexical rewriting of indirect references through the renumbering map. The text is not
// parsed as PDF objects; only literal strings and comments are told apart, and copied as they
// stand.
#include "renumber.h"

#include "error.h"
#include "lex.h"

namespace qf {

void map_add(renumber_map& m, std::int32_t old_num, std::int32_t new_num) {
    m.old_nums.push_back(old_num);
    m.new_nums.push_back(new_num);
    // emplace keeps an existing key: the first entry for a number is the one that counts.
    m.first_index.emplace(old_num, static_cast<std::int32_t>(m.old_nums.size() - 1));
}

std::int32_t map_lookup(const renumber_map& m, std::int32_t old_num) {
    auto it = m.first_index.find(old_num);
    if (it == m.first_index.end()) return -1;
    auto k = static_cast<std::size_t>(it->second);
    if (k >= m.new_nums.size()) return -1;
    std::int32_t new_num = m.new_nums[k];
    return new_num > 0 ? new_num : -1;
}

std::string remap_res_n(bytes text, const renumber_map& m) {
    std::string out;
    out.reserve(text.size() + 16);
    std::size_t copied = 0;
    for_each_ref(text, [&](std::size_t start, std::size_t end, std::int32_t num) {
        const std::int32_t new_num = map_lookup(m, num);
        if (new_num <= 0) return;
        out.append(reinterpret_cast<const char*>(text.data()) + copied, start - copied);
        // The old generation and the spacing are dropped: one space each side of the 0.
        out += format("%ld 0 R", static_cast<long>(new_num));
        copied = end;
    });
    out.append(reinterpret_cast<const char*>(text.data()) + copied, text.size() - copied);
    return out;
}

} // namespace qf
