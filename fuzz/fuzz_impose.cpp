// The imposition interface end to end: the first bytes of the input choose the options (sheet,
// signature, binding, flip, cover, page selection, margins, gutter, creep, scale, fold marks,
// compression, annotations),
// the rest is the PDF, made into a booklet in memory and planned again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "quirefold_impose.h"

namespace {

constexpr std::size_t option_bytes = 12;

const char* const sheets[] = {nullptr,   "auto",      "a4",  "letter",      "a5",    "b4",
                              "tabloid", "300x200mm", "1x1", "14400x14400", "bogus", "0x5"};
const char* const selections[] = {nullptr, "",      "1",  "z-1", "r2-r1", "1-3,3,1",
                                  "2-z",   "1-999", "r9", "x",   ",",     "1,1,1,1,1"};
// Lengths from none through ordinary to ones that leave no room or are refused.
const double lengths[] = {0, 0.5, 12, 36, 100, 400, 5000, 14400, 20000, -1};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < option_bytes) return 0;
    quirefold_impose_options o;
    quirefold_impose_options_init(&o);
    o.sheet = sheets[data[0] % (sizeof sheets / sizeof *sheets)];
    o.signature = data[1] % 8 == 7 ? -1 : data[1] % 8;
    o.binding = data[2] % 3; // 2 is refused
    o.flip = data[3] % 3;
    o.cover = data[4] & 1;
    o.pages = selections[data[5] % (sizeof selections / sizeof *selections)];
    o.margin = lengths[data[6] % (sizeof lengths / sizeof *lengths)];
    o.gutter = lengths[data[7] % (sizeof lengths / sizeof *lengths)];
    o.creep = lengths[data[8] % (sizeof lengths / sizeof *lengths)];
    o.scale = data[9] % 4; // 3 is refused
    o.fold_marks = data[10] & 1;
    o.compress = !(data[11] & 1);
    o.annotations = (data[11] >> 1) % 3; // 2 is refused

    quirefold_impose_input input{nullptr, data + option_bytes, size - option_bytes, nullptr};
    quirefold_impose_result r;
    quirefold_impose_result_init(&r);
    const int status = quirefold_impose(&input, nullptr, &o, &r);
    // A booklet reported as made has bytes; a failure has a message.
    if (status == QUIREFOLD_IMPOSE_OK && (!r.output || r.output_size == 0)) std::abort();
    if (status != QUIREFOLD_IMPOSE_OK && (!r.message || !*r.message)) std::abort();
    const int planned = quirefold_impose_plan(&input, &o, &r);
    if (planned != status && status != QUIREFOLD_IMPOSE_FAILED) std::abort();
    quirefold_impose_result_free(&r);
    return 0;
}
