// Lexical rewriting of indirect references through the renumbering map. The text is never
// parsed as PDF objects: strings, comments and names get no special treatment.
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

namespace {

std::size_t skip_pdf_ws(bytes text, std::size_t pos) {
    while (pos < text.size() && is_pdf_ws(text[pos])) ++pos;
    return pos;
}

std::size_t skip_digits(bytes text, std::size_t pos) {
    while (pos < text.size() && is_digit(text[pos])) ++pos;
    return pos;
}

} // namespace

bool match_ref(bytes text, std::size_t pos, std::int32_t& num, std::size_t& end) {
    if (pos >= text.size() || !is_digit(text[pos])) return false;
    // Object numbers read from text wrap in 32 bits, as every number the reader takes.
    std::uint32_t value = 0;
    while (pos < text.size() && is_digit(text[pos]))
        value = value * 10u + static_cast<std::uint32_t>(text[pos++] - '0');
    pos = skip_pdf_ws(text, pos);
    if (pos < text.size() && is_digit(text[pos])) {
        pos = skip_digits(text, pos); // the generation, whatever its length or value
        pos = skip_pdf_ws(text, pos);
    }
    if (pos >= text.size() || text[pos] != 'R') return false;
    // "R" must end a word: /Rotate, /RGB and "RG" never complete a reference.
    if (pos + 1 < text.size() && is_alnum(text[pos + 1])) return false;
    num = static_cast<std::int32_t>(value);
    end = pos + 1;
    return true;
}

std::string remap_res_n(bytes text, const renumber_map& m) {
    std::string out;
    out.reserve(text.size() + 16);
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (!is_digit(text[pos])) {
            out.push_back(static_cast<char>(text[pos++]));
            continue;
        }
        std::int32_t num = 0;
        std::size_t end = 0;
        if (match_ref(text, pos, num, end)) {
            std::int32_t new_num = map_lookup(m, num);
            if (new_num > 0) {
                // The old generation and the spacing are dropped: one space each side of the 0.
                out += format("%ld 0 R", static_cast<long>(new_num));
                pos = end;
                continue;
            }
        }
        // Not a mapped reference: copy the digit run and look again after it, so a later
        // number of the same text can still begin a reference.
        std::size_t run_end = skip_digits(text, pos);
        out.append(reinterpret_cast<const char*>(text.data() + pos), run_end - pos);
        pos = run_end;
    }
    return out;
}

} // namespace qf
