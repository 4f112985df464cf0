// Page selection: ranges such as "1-5,8,11-z", "z-1" or "r3-r1", checked on their own and then
// resolved against a document's page count.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qf {

// One end of a range: page n, or the n-th page from the end ("r1" and "z" are the last page).
struct page_ref {
    std::int64_t n = 0;
    bool from_end = false;
};

struct page_range {
    page_ref first, last; // first == last for a single page
};

// Parses the text; an empty text selects every page. False with a message in `why` for text
// that is no range list.
bool parse_page_ranges(std::string_view text, std::vector<page_range>& ranges, std::string& why);

// The 1-based page numbers the ranges name, in order (a range running backwards gives its pages
// backwards). False with a message in `why` when a page lies outside 1..page_count.
bool resolve_page_ranges(const std::vector<page_range>& ranges, std::int32_t page_count,
                         std::vector<std::int32_t>& pages, std::string& why);

} // namespace qf
