// The annotations a printer prints: read from a page so that the booklet draws their normal
// appearances into the page's form, where a reader draws them on the original page.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "doc.h"

namespace qf {

struct printed_annotation {
    std::int32_t appearance = 0; // input number of the appearance stream (a Form XObject)
    // Maps the appearance, after its own /Matrix, onto the annotation's /Rect in the page's
    // default user space: "a b c d e f cm".
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
};

struct page_annotations {
    std::vector<printed_annotation> drawn; // in the page's /Annots order
    std::int32_t unusable = 0; // printable annotations left out for want of a usable appearance
};

// What reading the annotations of many pages of one document shares, so that every object is
// read once however many pages list it.
struct annotation_memo {
    struct outcomes;
    std::unique_ptr<outcomes> known;
    annotation_memo();
    ~annotation_memo();
};

// The page's annotations that print: the Print flag set, the Hidden flag clear, any subtype
// but pop-ups and links. Each is drawn with its normal appearance (/AP /N, for a dictionary
// of states the one /AS names).
page_annotations printed_annotations(const doc& d, const obj& page, annotation_memo& memo);
page_annotations printed_annotations(const doc& d, const obj& page);

} // namespace qf
