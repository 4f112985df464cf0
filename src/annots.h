// The annotations a printer prints: read from a page so that the booklet draws their normal
// appearances into the page's form, where a reader draws them on the original page.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "doc.h"

namespace qf {

// A field's appearance made where the form asks readers to make them (/NeedAppearances) and
// the field has none it can use: a text field's value in Helvetica, or the mark of a check box
// or radio button that is on, in ZapfDingbats.
struct made_appearance {
    std::vector<std::string> lines; // WinAnsi bytes, top line first; the mark's one character
    bool symbol = false;            // a mark: one ZapfDingbats character, centred
    bool multiline = false;         // lines from the top, not one line centred
    double font_size = 0;
    std::string colour;                    // the field's colour operators, such as "0 0 1 rg"
    std::string background, border;        // /MK /BG and /BC as fill and stroke operators
    double border_width = 1;               // /BS /W
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0; // the field's rectangle, drawn inside it
};

struct printed_annotation {
    std::int32_t appearance = 0; // input number of the appearance stream; 0: `made` is drawn
    // Maps the appearance, after its own /Matrix, onto the annotation's /Rect in the page's
    // default user space: "a b c d e f cm".
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
    made_appearance made;
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
// of states the one /AS names), or, for a text field or check box without one in a form that
// asks readers to make appearances, with one made from its value.
page_annotations printed_annotations(const doc& d, const obj& page, annotation_memo& memo);

} // namespace qf
