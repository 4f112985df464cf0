#include "pagesel.h"

#include "error.h"

namespace qf {

namespace {

bool parse_ref(std::string_view text, page_ref& ref) {
    if (text == "z" || text == "Z") {
        ref = {1, true};
        return true;
    }
    ref.from_end = false;
    if (!text.empty() && (text[0] == 'r' || text[0] == 'R')) {
        ref.from_end = true;
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 9) return false;
    std::int64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    ref.n = n;
    return n > 0;
}

constexpr std::int64_t max_selected_pages = std::int64_t{1} << 24;

std::int64_t page_of(const page_ref& ref, std::int32_t page_count) {
    return ref.from_end ? page_count + 1 - ref.n : ref.n;
}

std::string ref_text(const page_ref& ref) {
    return ref.from_end ? format("r%lld", static_cast<long long>(ref.n))
                        : format("%lld", static_cast<long long>(ref.n));
}

} // namespace

bool parse_page_ranges(std::string_view text, std::vector<page_range>& ranges, std::string& why) {
    ranges.clear();
    if (text.empty()) return true;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) comma = text.size();
        const std::string_view item = text.substr(start, comma - start);
        page_range r;
        // A dash separates the two ends; "r" numbers have no sign, so one dash at most.
        const std::size_t dash = item.find('-');
        bool ok;
        if (dash == std::string_view::npos) {
            ok = parse_ref(item, r.first);
            r.last = r.first;
        } else {
            ok = parse_ref(item.substr(0, dash), r.first) &&
                 parse_ref(item.substr(dash + 1), r.last);
        }
        if (!ok) {
            why = format("bad page range \"%.*s\"", static_cast<int>(item.size()), item.data());
            ranges.clear();
            return false;
        }
        ranges.push_back(r);
        start = comma + 1;
    }
    return true;
}

bool resolve_page_ranges(const std::vector<page_range>& ranges, std::int32_t page_count,
                         std::vector<std::int32_t>& pages, std::string& why) {
    pages.clear();
    if (ranges.empty()) {
        for (std::int32_t p = 1; p <= page_count; ++p) pages.push_back(p);
        return true;
    }
    for (const page_range& r : ranges) {
        for (const page_ref* end : {&r.first, &r.last}) {
            const std::int64_t p = page_of(*end, page_count);
            if (p < 1 || p > page_count) {
                why = format("page %s is outside the document (%ld page%s)", ref_text(*end).c_str(),
                             static_cast<long>(page_count), page_count == 1 ? "" : "s");
                pages.clear();
                return false;
            }
        }
        const std::int64_t a = page_of(r.first, page_count), b = page_of(r.last, page_count);
        const std::int64_t step = a <= b ? 1 : -1;
        // Repeated ranges could ask for more pages than any booklet file can hold.
        if (static_cast<std::int64_t>(pages.size()) + (a <= b ? b - a : a - b) + 1 >
            max_selected_pages) {
            why = "the page selection names too many pages";
            pages.clear();
            return false;
        }
        for (std::int64_t p = a;; p += step) {
            pages.push_back(static_cast<std::int32_t>(p));
            if (p == b) break;
        }
    }
    return true;
}

} // namespace qf
