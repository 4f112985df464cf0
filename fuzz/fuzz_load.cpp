// Loads the input as a PDF and, when that succeeds, writes its booklet to /dev/null, so that
// the reading side and the whole writing path (plan, sides, forms, filters, carried objects,
// cross-reference table) run on every input the loader accepts.
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "doc.h"
#include "load.h"
#include "writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte picks the sheet: -1 (automatic), 0 A4, 1 Letter, 2 A3, or 3 (refused).
    // The whole input still goes to the loader, which finds the header wherever it is.
    const std::int32_t sheet = static_cast<std::int32_t>(data[0] % 5) - 1;
    try {
        qf::doc d;
        if (qf::doc_load_bytes(std::vector<std::uint8_t>(data, data + size), "fuzz.pdf", d) == 0) {
            qf::booklet_doc(d, "/dev/null", sheet);
            qf::doc_free(d);
        }
    } catch (const std::bad_alloc&) {
        // Reported as "out of memory" at the C boundary; not a fault of the input handling.
    }
    return 0;
}
