// Walking the page tree into the page list, and reading page attributes.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "doc.h"

namespace qf {

// A page box as read, normalised to lower-left / upper-right.
struct box {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// Attributes a page inherits from its /Pages ancestors.
struct inherited_attrs {
    std::int32_t rotate = 0;
    std::optional<box> media;
    std::optional<box> crop;
};

// Rotation reduced to 0..359.
constexpr std::int32_t norm_rotate(std::int32_t r) {
    return ((r % 360) + 360) % 360;
}

// The object's own /Rotate as written (may be negative), or nullopt when missing/unreadable.
std::optional<std::int32_t> obj_rotate_own(const doc& d, const obj& o);

// The object's own /MediaBox or /CropBox (key "MediaBox" / "CropBox"), following an indirect
// reference to the array, or nullopt.
std::optional<box> obj_box_own(const doc& d, const obj& o, const char* key);

// Sets the page box of `pi` from the page's own boxes and the inherited ones.
pageinfo& fill_pageinfo(const doc& d, const obj& o, const inherited_attrs& inh, pageinfo& pi);

// Appends the pages under `node` to `pages`. >0 success (records in the list), 0 no pages,
// -1 broken tree, -2 inline page dictionary in this node's /Kids. `visited` has highest + 1
// zeroed bytes. Deeper than 256 levels gives -1.
int resolve_pages(const doc& d, std::int32_t node, std::vector<pageinfo>& pages,
                  std::vector<std::uint8_t>& visited, const inherited_attrs& inh, int depth = 0);

} // namespace qf

namespace qf {

// Page `page` (1-based) of the page list with its effective rotation, 0..359: its own /Rotate,
// else the one it inherits.
pageinfo effective_pageinfo(const doc& d, std::int32_t page);

} // namespace qf
