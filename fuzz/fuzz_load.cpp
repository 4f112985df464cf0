// Loads the input as a PDF and, when that succeeds, writes its booklet to /dev/null, so that
// the reading side and the whole writing path (plan, sides, forms, filters, carried objects,
// cross-reference table) run on every input the loader accepts. The tokenizer runs over the
// whole input and the dictionary view over every object the loader found, with their
// promises checked.
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "doc.h"
#include "load.h"
#include "token.h"
#include "writer.h"

namespace {

void check(bool promise) {
    if (!promise) __builtin_trap();
}

// Tokens advance and stay inside the range.
void tokenize_all(qf::bytes d, std::int32_t end) {
    std::int32_t pos = 0;
    for (qf::token t = qf::next_token(d, pos, end); t.kind != qf::token_kind::end;
         t = qf::next_token(d, pos, end)) {
        check(t.from >= pos && t.to > t.from && t.to <= end);
        pos = t.to;
    }
}

// Every entry of every dictionary the table points at lies inside its range.
void read_dictionaries(const qf::doc& d) {
    for (const qf::obj& o : d.objects) {
        const qf::dict_range r = qf::dict_range_of(d, o);
        if (!r.ok) continue;
        const auto view = qf::read_dict(r.buf, r.from, r.to);
        if (!view) continue;
        check(view->end <= r.to);
        for (const qf::dict_entry& e : view->entries) {
            check(e.key.kind == qf::token_kind::name && e.value_end <= r.to);
            (void)qf::name_of(r.buf, e.key);
            (void)qf::reference_at(r.buf, e.value, r.to);
            (void)qf::number_of(r.buf, e.value);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte picks the sheet: -1 (automatic), 0 A4, 1 Letter, 2 A3, or 3 (refused).
    // The whole input still goes to the loader, which finds the header wherever it is.
    const std::int32_t sheet = static_cast<std::int32_t>(data[0] % 5) - 1;
    try {
        tokenize_all(qf::bytes(data, size), static_cast<std::int32_t>(size));
        qf::doc d;
        if (qf::doc_load_bytes(std::vector<std::uint8_t>(data, data + size), "fuzz.pdf", d) == 0) {
            read_dictionaries(d);
            qf::booklet_doc(d, "/dev/null", sheet);
            qf::doc_free(d);
        }
    } catch (const std::bad_alloc&) {
        // Reported as "out of memory" at the C boundary; not a fault of the input handling.
    }
    return 0;
}
