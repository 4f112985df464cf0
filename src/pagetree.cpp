#include "pagetree.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "lex.h"
#include "token.h"

namespace qf {

namespace {

// What a page gets when neither it nor an ancestor gives a usable box: A4 portrait.
constexpr box default_box{0, 0, 595, 842};

// Levels of /Pages nodes on one path; a deeper tree is refused rather than walked.
constexpr int max_tree_levels = 256;

// Every kid list may hold at least this many entries.
constexpr std::int64_t kid_list_base = 4096;

// The range's buffer cut at the range's end, so that no read runs into the next object.
bytes range_bytes(const dict_range& r) {
    return r.buf.first(static_cast<std::size_t>(r.to));
}

// The rectangle spanned by two corners given in any order; nullopt when it has no area or a
// coordinate is not finite (a number too long for a double).
std::optional<box> normalised_box(const double (&n)[4]) {
    for (double v : n)
        if (!std::isfinite(v)) return std::nullopt;
    // Adding 0.0 turns a written "-0" into 0.
    box r{std::min(n[0], n[2]) + 0.0, std::min(n[1], n[3]) + 0.0, std::max(n[0], n[2]) + 0.0,
          std::max(n[1], n[3]) + 0.0};
    if (!(r.x1 - r.x0 > 0) || !(r.y1 - r.y0 > 0)) return std::nullopt;
    return r;
}

// A box array whose "[" stands just before pos. Four numbers make the box; what follows
// them, even a missing "]", is not looked at.
std::optional<box> read_box_array(bytes b, std::int32_t pos, std::int32_t end) {
    pos = skip_ws(b, pos, end);
    if (pos >= end) return std::nullopt;
    double n[4] = {0, 0, 0, 0};
    int stored = 0;
    while (stored < 4 && pos < end) {
        pos = skip_ws(b, pos, end);
        if (pos >= end) break;
        if (b[pos] == ']') return std::nullopt;
        const number_read t = read_number(b, pos, end);
        if (t.ok) n[stored++] = t.value;
        pos = t.next;
    }
    if (stored < 4) return std::nullopt;
    return normalised_box(n);
}

// The box array that object `num` holds as its whole value (/MediaBox 12 0 R).
std::optional<box> read_box_object(const doc& d, std::int32_t num) {
    const obj* target = num > 0 ? find_obj(d, num) : nullptr;
    // A dictionary is not an array.
    if (!target || (!target->in_objstm && target->dict_start >= 0)) return std::nullopt;
    const dict_range body = body_range_of(d, *target);
    if (!body.ok) return std::nullopt;
    const bytes b = body.buf.first(static_cast<std::size_t>(body.to));
    const std::int32_t from = skip_ws(b, body.from, body.to);
    if (from >= body.to || b[from] != '[') return std::nullopt;
    return read_box_array(b, from + 1, body.to);
}

// One occurrence of a box key whose value starts at pos: an array, or "N G R" naming one.
std::optional<box> read_box_value(const doc& d, bytes b, std::int32_t pos, std::int32_t end) {
    pos = skip_ws(b, pos, end);
    if (pos >= end) return std::nullopt;
    if (b[pos] == '[') return read_box_array(b, pos + 1, end);
    std::int32_t num = 0;
    std::size_t ref_end = 0;
    if (!match_ref(b.first(static_cast<std::size_t>(end)), static_cast<std::size_t>(pos), num,
                   ref_end))
        return std::nullopt;
    return read_box_object(d, num);
}

// The box a reader shows: the crop box clipped to the media box.
box visible_box(const std::optional<box>& media, const std::optional<box>& crop) {
    if (crop && media) {
        const box clip{std::max(crop->x0, media->x0), std::max(crop->y0, media->y0),
                       std::min(crop->x1, media->x1), std::min(crop->y1, media->y1)};
        if (clip.x1 - clip.x0 > 0 && clip.y1 - clip.y0 > 0) return clip;
        return *media;
    }
    if (crop) return *crop;
    if (media) return *media;
    return default_box;
}

// Room in a node's kid list: a quarter of the node's size in bytes plus a floor. Numbers
// beyond it are dropped.
std::size_t kid_capacity(const obj& o) {
    std::int64_t cap = kid_list_base;
    if (o.in_objstm)
        cap += std::max<std::int32_t>(o.text_len, 0) / 4;
    else if (o.endobj_pos > o.hdr_pos)
        cap += (static_cast<std::int64_t>(o.endobj_pos) - o.hdr_pos) / 4;
    return static_cast<std::size_t>(cap);
}

// The object numbers in the node's /Kids array, in order. -2 for an inline dictionary in
// the array, -1 when the list cannot grow, else 0 (an empty list when there is no array).
int read_kids(const doc& d, const obj& node, std::vector<std::int32_t>& kids) {
    const dict_range r = dict_range_of(d, node);
    if (!r.ok) return 0;
    const bytes b = range_bytes(r);
    const std::int32_t end = r.to;
    constexpr std::string_view key_name = "Kids";
    std::int32_t pos = -1;
    for (std::int32_t key = find_name(b, r.from, end, key_name); key >= 0;
         key = find_name(b, key + 1, end, key_name)) {
        const std::int32_t v = skip_ws(b, past_key(key, key_name), end);
        if (v < end && b[v] == '[') {
            pos = v + 1;
            break;
        }
    }
    if (pos < 0) return 0;
    bool inline_dict = false;
    try {
        kids = reference_list(b, pos, end, kid_capacity(node), &inline_dict);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return inline_dict ? -2 : 0;
}

pageinfo make_page(const doc& d, const obj& o, std::int32_t parent, const inherited_attrs& inh) {
    pageinfo pi;
    pi.obj_num = o.num;
    pi.parent_num = parent;
    pi.inherited_rotate = norm_rotate(inh.rotate);
    return fill_pageinfo(d, o, inh, pi);
}

} // namespace

std::optional<std::int32_t> obj_rotate_own(const doc& d, const obj& o) {
    const dict_range r = dict_range_of(d, o);
    if (!r.ok) return std::nullopt;
    const bytes b = range_bytes(r);
    constexpr std::string_view key_name = "Rotate";
    const std::int32_t key = find_name(b, r.from, r.to, key_name);
    if (key < 0) return std::nullopt;
    std::int32_t cursor = skip_ws(b, past_key(key, key_name), r.to);
    const std::int32_t start = cursor;
    const std::int32_t value = parse_int_at(b, cursor);
    // parse_int_at answers -1 both for "-1" and for no number; only a moved cursor tells.
    if (cursor == start) return std::nullopt;
    return value;
}

std::optional<box> obj_box_own(const doc& d, const obj& o, const char* key) {
    const dict_range r = dict_range_of(d, o);
    if (!r.ok) return std::nullopt;
    const bytes b = range_bytes(r);
    for (std::int32_t p = find_name(b, r.from, r.to, key); p >= 0;
         p = find_name(b, p + 1, r.to, key)) {
        if (auto found = read_box_value(d, b, past_key(p, key), r.to)) return found;
    }
    return std::nullopt;
}

pageinfo& fill_pageinfo(const doc& d, const obj& o, const inherited_attrs& inh, pageinfo& pi) {
    std::optional<box> media = obj_box_own(d, o, "MediaBox");
    if (!media) media = inh.media;
    std::optional<box> crop = obj_box_own(d, o, "CropBox");
    if (!crop) crop = inh.crop;
    const box v = visible_box(media, crop);
    pi.x0 = v.x0;
    pi.y0 = v.y0;
    pi.x1 = v.x1;
    pi.y1 = v.y1;
    return pi;
}

int resolve_pages(const doc& d, std::int32_t node, std::vector<pageinfo>& pages,
                  std::vector<std::uint8_t>& visited, const inherited_attrs& inh, int depth) {
    const obj* o = find_obj(d, node);
    if (!o) return -1;
    const int type = obj_type(d.input(), *o);
    if (type == 1) {
        pages.push_back(make_page(d, *o, -1, inh));
        return 1;
    }
    if (type != 2) return -1;
    if (depth < 0 || depth >= max_tree_levels) return -1;
    if (node >= 0 && static_cast<std::size_t>(node) < visited.size()) {
        if (visited[static_cast<std::size_t>(node)]) return -1;
        visited[static_cast<std::size_t>(node)] = 1;
    }

    std::vector<std::int32_t> kids;
    const int kids_result = read_kids(d, *o, kids);
    if (kids_result < 0) return kids_result;
    if (kids.empty()) return 0;

    // What this node passes on: its own attributes where it has them, else its ancestors'.
    inherited_attrs mine = inh;
    if (auto r = obj_rotate_own(d, *o)) mine.rotate = *r;
    if (auto m = obj_box_own(d, *o, "MediaBox")) mine.media = m;
    if (auto c = obj_box_own(d, *o, "CropBox")) mine.crop = c;

    for (const std::int32_t kid : kids) {
        const obj* k = find_obj(d, kid);
        if (!k) return -1;
        const int kid_type = obj_type(d.input(), *k);
        if (kid_type == 1) {
            pages.push_back(make_page(d, *k, node, mine));
        } else if (kid_type == 2) {
            // An inline dictionary below the root counts as a broken tree.
            if (resolve_pages(d, kid, pages, visited, mine, depth + 1) < 0) return -1;
        } else {
            return -1;
        }
    }
    return static_cast<int>(pages.size());
}

} // namespace qf

namespace qf {

pageinfo effective_pageinfo(const doc& d, std::int32_t page) {
    pageinfo pi = d.pages[static_cast<std::size_t>(page) - 1];
    std::optional<std::int32_t> own;
    if (const obj* o = find_obj(d, pi.obj_num)) own = obj_rotate_own(d, *o);
    pi.rotate = norm_rotate(own ? *own : pi.inherited_rotate);
    return pi;
}

} // namespace qf
