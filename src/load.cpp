// Loading a PDF file: the bytes read whole, the trailers of the last cross-reference section,
// every object found by scanning for headers, the consolidated table, the catalog and pages.
//
// Objects are located by their "N G obj" headers, never by cross-reference offsets, so a
// damaged table costs at most the /Root hint. Every keyword search that would be repeated
// from many starting points is answered from one list of the keyword's positions, so that
// hostile input with many headers stays linear in the file size.
#include "load.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <new>
#include <string_view>

#include <sys/stat.h>

#include "error.h"
#include "lex.h"
#include "objstm.h"
#include "pagetree.h"
#include "token.h"

namespace qf {

namespace {

// Object numbers from here up are dropped by consolidation.
constexpr std::int32_t first_dropped_num = 8388608;
// A chain of cross-reference streams is followed at most this far (a /Prev may loop).
constexpr int max_xref_visits = 32;

using positions = std::vector<std::int32_t>;

std::uint8_t at(bytes d, std::int64_t pos) {
    return d[static_cast<std::size_t>(pos)];
}

const char* shown(const char* name) {
    return name ? name : "";
}

// Every position of kw that obeys the keyword word rule, ascending. A match depends only on
// its own position, so find_kw from any start is the first of these at or after it.
positions keyword_positions(bytes d, std::string_view kw) {
    positions out;
    for (std::int32_t p = find_kw(d, 0, kw); p >= 0; p = find_kw(d, p + 1, kw)) out.push_back(p);
    return out;
}

// Every /name key of the whole buffer, ascending.
positions name_positions(bytes d, std::string_view name) {
    positions out;
    const auto len = static_cast<std::int32_t>(d.size());
    for (std::int32_t p = find_name(d, 0, len, name); p >= 0; p = find_name(d, p + 1, len, name))
        out.push_back(p);
    return out;
}

// The first listed position at or after from, or -1.
std::int32_t next_at(const positions& list, std::int64_t from) {
    auto it = std::lower_bound(list.begin(), list.end(), from,
                               [](std::int32_t p, std::int64_t v) { return p < v; });
    return it == list.end() ? -1 : *it;
}

// Whether find_name(d, from, end, name) finds a key, given the keys of the whole buffer. A
// key that ends before the range's end is a key of the whole buffer too; one that ends
// exactly at the range's end needs no delimiter after it, which only a look at that spot tells.
bool name_in_range(bytes d, const positions& keys, std::int32_t from, std::int32_t end,
                   std::string_view name) {
    const auto key_len = static_cast<std::int64_t>(name.size()) + 1;
    const std::int32_t first = next_at(keys, from);
    if (first >= 0 && first + key_len <= end) return true;
    const std::int64_t tail = end - key_len;
    return tail >= from && find_name(d, static_cast<std::int32_t>(tail), end, name) >= 0;
}

// ---- Cross-reference section ----

// One trailer after a classic table: its dictionary is read from k up to h, the next
// "startxref" or the end of the file.
struct trailer_span {
    std::int32_t k = 0;
    std::int32_t h = 0;
};

// The trailers that follow a classic table at x. The last one whose /Root is readable gives
// trailer_root; an /Encrypt in any of them marks the file encrypted.
void read_classic_trailers(doc& d, std::int32_t x, const positions& startxrefs) {
    const bytes in = d.input();
    const std::int32_t len = d.len;
    std::vector<trailer_span> trailers;
    for (std::int32_t t = find_kw(in, x + 4, "trailer"); t >= 0;
         t = find_kw(in, t + 1, "trailer")) {
        const std::int32_t k = skip_ws(in, t + 7, len);
        if (k >= len) continue;
        std::int32_t h = next_at(startxrefs, k);
        if (h < 0) h = len;
        if (k >= h || at(in, k) != '<') continue;
        trailers.push_back({k, h});
    }
    if (trailers.empty()) return;

    // Trailers without a "startxref" between them read overlapping ranges; each key is read
    // once instead. No "startxref" can start inside or right after a key (its word rule needs
    // a non-letter before it), so every key of a range is a key of the whole file, and its
    // value, read up to the next "startxref", is the same for every range that holds it.
    const std::int32_t from = trailers.front().k;
    const bytes tail = in.subspan(static_cast<std::size_t>(from));
    const std::int32_t tail_len = len - from;
    positions roots;
    for (std::int32_t p = find_name(tail, 0, tail_len, "Root"); p >= 0;
         p = find_name(tail, p + 1, tail_len, "Root"))
        roots.push_back(p + from);
    // first_valid[i]: index of the first key at or after roots[i] with a usable value.
    std::vector<std::size_t> first_valid(roots.size() + 1, roots.size());
    std::vector<std::int32_t> values(roots.size(), -1);
    for (std::size_t i = roots.size(); i-- > 0;) {
        std::int32_t h = next_at(startxrefs, roots[i]);
        if (h < 0) h = len;
        // As in a stream's /Length, the byte that ends the name is stepped over unread.
        std::int32_t cursor = skip_ws(in, past_key(roots[i], "Root") + 1, h);
        values[i] = parse_int_at(in, cursor);
        first_valid[i] = values[i] >= 0 ? i : first_valid[i + 1];
    }
    const positions encrypts = name_positions(tail, "Encrypt");

    for (const trailer_span& t : trailers) {
        const auto i = static_cast<std::size_t>(std::lower_bound(roots.begin(), roots.end(), t.k) -
                                                roots.begin());
        const std::size_t v = first_valid[i];
        if (v < roots.size() && roots[v] < t.h) d.trailer_root = values[v];
        const std::int32_t e = next_at(encrypts, t.k - from);
        if (e >= 0 && e + from < t.h) d.encrypted = 1;
    }
}

// The dictionary of a cross-reference stream whose header starts at x (a digit). Returns
// its usable /Prev, or -1 when the chain ends here.
std::int32_t read_xref_stream_dict(doc& d, std::int32_t x, int& visits) {
    const bytes in = d.input();
    const std::int32_t len = d.len;
    bool has_obj = false;
    const std::int32_t q = skip_obj_header(in, x, len, &has_obj);
    ++visits;
    if (!has_obj) return -1;
    std::int32_t end = len;
    if (q < len && at(in, q) == '<') {
        const std::int32_t s = dict_stream_kw(in, q);
        if (s > 0) end = s;
    }

    std::int32_t prev = -1;
    if (const std::int32_t key = find_name(in, q, end, "Prev"); key >= 0) {
        std::int32_t cursor = skip_ws(in, past_key(key, "Prev"), end);
        const std::int32_t v = parse_int_at(in, cursor);
        if (v >= 0 && v < len) prev = v;
    }
    // The newest section is read first, so an older /Root never replaces a newer one.
    if (d.trailer_root < 0) {
        if (const std::int32_t key = find_name(in, q, end, "Root"); key >= 0) {
            std::int32_t cursor = skip_ws(in, past_key(key, "Root") + 1, end);
            const std::int32_t v = parse_int_at(in, cursor);
            if (v >= 0) d.trailer_root = v;
        }
    }
    if (find_name(in, q, end, "Encrypt") >= 0) d.encrypted = 1;
    return prev;
}

// ---- Object headers ----

struct header {
    std::int32_t num = 0;
    std::int32_t gen = 0;
    std::int32_t pos = 0;
};

// Reads "N G" backwards from just before the "obj" at p.
bool read_header_backwards(bytes in, std::int32_t p, header& h) {
    std::int64_t i = p - 1;
    while (i >= 0 && is_std_ws(at(in, i))) --i;
    const std::int64_t gen_last = i;
    while (i >= 0 && is_digit(at(in, i))) --i;
    if (i == gen_last) return false;
    const std::int64_t gen_first = i + 1;
    if (i < 0 || !is_std_ws(at(in, i))) return false;
    while (i >= 0 && is_std_ws(at(in, i))) --i;
    const std::int64_t num_last = i;
    while (i >= 0 && is_digit(at(in, i))) --i;
    if (i == num_last) return false;
    // "x1 0 obj" or "/Foo2 0 obj" is no header.
    if (i >= 0 && is_alnum(at(in, i))) return false;
    std::int32_t cursor = static_cast<std::int32_t>(i + 1);
    h.num = parse_int_at(in, cursor);
    if (h.num <= 0) return false;
    cursor = static_cast<std::int32_t>(gen_first);
    h.gen = parse_int_at(in, cursor);
    h.pos = static_cast<std::int32_t>(i + 1);
    return true;
}

// ---- Stream measuring ----

// First position at or after pos that is not standard white space (or len). Runs already
// walked are remembered as start -> end, so that many stream lengths that end inside one long
// run of blanks cost one walk of it, not one each.
std::int32_t skip_std_ws_remembered(bytes in, std::map<std::int32_t, std::int32_t>& runs,
                                    std::int32_t pos) {
    auto next = runs.upper_bound(pos);
    if (next != runs.begin()) {
        auto known = std::prev(next);
        if (pos < known->second) return known->second;
    }
    const auto len = static_cast<std::int32_t>(in.size());
    std::int32_t q = pos;
    while (q < len && is_std_ws(at(in, q))) {
        if (next != runs.end() && q == next->first) {
            q = next->second;
            break;
        }
        ++q;
    }
    if (q > pos) runs[pos] = q;
    return q;
}

constexpr std::int32_t length_unread = -2;

// indirect_integer for an indirect /Length, kept per table index.
std::int32_t indirect_length(const doc& d, std::int32_t num, std::vector<std::int32_t>& cache) {
    const obj* o = find_obj(d, num);
    if (!o) return -1;
    auto& slot = cache[static_cast<std::size_t>(o - d.objects.data())];
    if (slot == length_unread) slot = indirect_integer(d, num);
    return slot;
}

// One stream's data; the start comes first, as sx_rng_cmp compares it.
struct stream_range {
    std::int32_t start;
    std::int32_t end;
};

} // namespace

// ---- Stages ----

int check_input_size(std::int64_t size, const char* name) {
    if (size < 1) {
        set_error("empty input file: %s", shown(name));
        return -1;
    }
    if (size > INT32_MAX) {
        set_error("input file too large: %s", shown(name));
        return -1;
    }
    return 0;
}

void read_xref_section(doc& d) {
    d.trailer_root = -1;
    d.encrypted = 0;
    const bytes in = d.input();
    const std::int32_t len = d.len;
    const positions startxrefs = keyword_positions(in, "startxref");
    if (startxrefs.empty()) return;
    std::int32_t cursor = startxrefs.back() + 9;
    const std::int32_t offset = parse_int_at(in, cursor);
    if (offset < 0 || offset >= len) return;

    std::int32_t e = offset;
    int visits = 0;
    while (e >= 0 && e < len && visits != max_xref_visits) {
        const std::int32_t p = skip_ws(in, e, len);
        if (p >= len) break;
        if (kw_at(in, p, "xref")) {
            read_classic_trailers(d, p, startxrefs);
            break;
        }
        if (!is_digit(at(in, p))) break;
        const std::int32_t prev = read_xref_stream_dict(d, p, visits);
        if (prev < 0) break;
        e = prev;
    }
}

void scan_headers(doc& d) {
    d.objects.clear();
    const bytes in = d.input();
    const std::int32_t len = d.len;
    const positions endobjs = keyword_positions(in, "endobj");
    // Only a dictionary without "endobj" after it needs these; found on first need.
    positions xrefs, trailers;
    bool have_ends = false;

    // Every header first, then the dictionaries they open measured in one pass (a walk per
    // dictionary would be quadratic when many of them never close).
    struct found_header {
        header h;
        std::int32_t p; // the "obj" keyword
        std::int32_t body;
    };
    std::vector<found_header> found;
    std::vector<std::int32_t> dict_bodies;
    for (std::int32_t p = 0; p + 3 < len; ++p) {
        if (at(in, p) != 'o' || !kw_at(in, p, "obj")) continue;
        header h;
        if (!read_header_backwards(in, p, h)) continue;
        const std::int32_t body = skip_ws(in, p + 3, len);
        found.push_back({h, p, body});
        if (body < len && at(in, body) == '<') dict_bodies.push_back(body);
    }
    const std::vector<std::int32_t> stream_kws = dict_stream_kws(in, dict_bodies);
    std::size_t next_dict = 0;

    for (const found_header& f : found) {
        const header& h = f.h;
        const std::int32_t p = f.p;
        obj o;
        o.num = h.num;
        o.gen = h.gen;
        o.hdr_pos = h.pos;
        const std::int32_t body = f.body;
        if (body < len && at(in, body) == '<') {
            o.dict_start = body;
            const std::int32_t s = stream_kws[next_dict++];
            if (s >= 0) {
                // Its end is found when the stream is measured.
                o.stream_pos = s;
                o.has_stream = 1;
                o.data_start = stream_data_start(in, s);
                d.objects.push_back(o);
                continue;
            }
            o.endobj_pos = next_at(endobjs, body);
            if (o.endobj_pos < 0) {
                // A damaged file's last dictionary may end where its trailer begins.
                if (!have_ends) {
                    xrefs = keyword_positions(in, "xref");
                    trailers = keyword_positions(in, "trailer");
                    have_ends = true;
                }
                const std::int32_t x = next_at(xrefs, p + 3);
                const std::int32_t t = next_at(trailers, p + 3);
                o.endobj_pos = x < 0 ? t : t < 0 ? x : std::min(x, t);
            }
        } else {
            o.endobj_pos = next_at(endobjs, p + 3);
        }
        if (o.endobj_pos < 0) continue;
        o.obj_end = o.endobj_pos + 6;
        d.objects.push_back(o);
    }
}

void measure_streams(doc& d) {
    // An indirect /Length names the first entry with that number in scan order.
    index_objects(d);
    const bytes in = d.input();
    const std::int32_t len = d.len;
    const positions endstreams = keyword_positions(in, "endstream");
    const positions endobjs = keyword_positions(in, "endobj");
    std::vector<std::int32_t> length_cache(d.objects.size(), length_unread);
    std::map<std::int32_t, std::int32_t> blank_runs;

    for (obj& o : d.objects) {
        if (!o.has_stream) continue;
        std::int32_t length = -1;
        std::int32_t length_obj = -1;
        parse_length(in, o.dict_start, o.stream_pos, length, length_obj);
        if (length < 0 && length_obj >= 0) length = indirect_length(d, length_obj, length_cache);

        // A /Length is trusted only when "endstream" follows the data it delimits.
        bool trusted = false;
        if (length > 0 && static_cast<std::int64_t>(o.data_start) + length <= len) {
            const std::int32_t e = o.data_start + length;
            const std::int32_t q = skip_std_ws_remembered(in, blank_runs, e);
            if (static_cast<std::int64_t>(q) + 8 < len &&
                std::memcmp(&in[q], "endstream", 9) == 0) {
                o.data_end = e;
                trusted = true;
            }
        }
        if (!trusted) {
            // From data_start itself: an empty stream's "endstream" stands right there, and
            // a search from one byte further would run on into the next stream's data.
            const std::int32_t h = next_at(endstreams, o.data_start);
            if (h < 0) {
                o.no_endstream = 1;
                o.data_end = len;
            } else {
                // The end-of-line before "endstream" belongs to the keyword, not the data.
                std::int32_t end = h;
                if (h > o.data_start && at(in, h - 1) == '\n') {
                    end = h - 1;
                    if (end - 1 >= o.data_start && at(in, end - 1) == '\r') --end;
                } else if (h > o.data_start && at(in, h - 1) == '\r') {
                    end = h - 1;
                }
                o.data_end = end;
            }
        }
        if (o.data_end < o.data_start) o.data_end = o.data_start;
        o.data_len = o.data_end - o.data_start;
        o.endobj_pos = next_at(endobjs, static_cast<std::int64_t>(o.data_end) + 1);
        o.obj_end = o.endobj_pos >= 0 ? o.endobj_pos + 6 : -1;
    }
}

namespace {

bool unterminated_stream(const obj& o) {
    return o.has_stream && o.endobj_pos < 0;
}

// Drops the marked entries, keeping the order of the others.
template <class Marked> void compact_objects(std::vector<obj>& objects, Marked marked) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < objects.size(); ++i)
        if (!marked(i)) objects[kept++] = objects[i];
    objects.resize(kept);
}

} // namespace

void remove_false_entries(doc& d) {
    // Every stream's data as it was measured, sorted by start, with the farthest end reached
    // by any range up to each one: a header lies inside some stream's data exactly when it
    // lies before the farthest end of the ranges that start at or before it.
    std::vector<stream_range> ranges;
    std::vector<std::int32_t> reach;
    std::vector<std::uint8_t> drop;
    try {
        for (const obj& o : d.objects)
            if (o.has_stream && o.data_start >= 0 && o.data_start < o.data_end)
                ranges.push_back({o.data_start, o.data_end});
        reach.resize(ranges.size());
        drop.resize(d.objects.size());
    } catch (const std::bad_alloc&) {
        remove_false_entries_linear(d);
        return;
    }
    // qsort must not be handed the null data of an empty vector.
    if (!ranges.empty()) std::qsort(ranges.data(), ranges.size(), sizeof(stream_range), sx_rng_cmp);
    std::int32_t farthest = -1;
    for (std::size_t i = 0; i < ranges.size(); ++i)
        reach[i] = farthest = std::max(farthest, ranges[i].end);

    auto inside_stream_data = [&](std::int32_t pos) {
        auto it =
            std::upper_bound(ranges.begin(), ranges.end(), pos,
                             [](std::int32_t p, const stream_range& r) { return p < r.start; });
        if (it == ranges.begin()) return false;
        return pos < reach[static_cast<std::size_t>(it - ranges.begin()) - 1];
    };
    for (std::size_t i = 0; i < d.objects.size(); ++i) {
        const obj& o = d.objects[i];
        drop[i] = unterminated_stream(o) || inside_stream_data(o.hdr_pos);
    }
    compact_objects(d.objects, [&](std::size_t i) { return drop[i] != 0; });
}

void remove_false_entries_linear(doc& d) {
    auto inside_stream_data = [&](std::int32_t pos) {
        for (const obj& s : d.objects)
            if (s.has_stream && s.data_start >= 0 && s.data_start <= pos && pos < s.data_end)
                return true;
        return false;
    };
    // Decide every entry before dropping any, so that the data of a dropped stream still
    // counts, as it does with the sorted ranges. Number 0 marks a dropped entry: no header has it.
    for (obj& o : d.objects)
        if (unterminated_stream(o) || inside_stream_data(o.hdr_pos)) o.num = 0;
    compact_objects(d.objects, [&](std::size_t i) { return d.objects[i].num == 0; });
}

void scan_objects(doc& d) {
    scan_headers(d);
    measure_streams(d);
    remove_false_entries(d);
    index_objects(d);
}

void consolidate_objects(doc& d) {
    const bytes in = d.input();
    auto is_object_stream = [&](const obj& o) {
        if (o.in_objstm || !o.has_stream || o.dict_start < 0) return false;
        return find_name(in, o.dict_start, o.stream_pos > 0 ? o.stream_pos : d.len, "ObjStm") >= 0;
    };
    // Entries grouped by number, each group in table order. For each number the definition
    // that stands latest in the file wins, as incremental updates replace what came before: the
    // top-level definition with the highest table index (the table keeps file order), or the
    // object from the object stream that stands latest, when that stream comes after it.
    // Object streams never survive.
    index_objects(d);
    std::vector<std::uint8_t> keep(d.objects.size(), 0);
    for (std::size_t g = 0; g < d.by_num.size();) {
        const std::int32_t num = d.by_num[g].first;
        std::int32_t top = -1;
        std::int32_t packed = -1;
        std::size_t i = g;
        for (; i < d.by_num.size() && d.by_num[i].first == num; ++i) {
            const std::int32_t idx = d.by_num[i].second;
            const obj& o = d.objects[static_cast<std::size_t>(idx)];
            if (o.in_objstm) {
                if (packed < 0 ||
                    o.container_pos >= d.objects[static_cast<std::size_t>(packed)].container_pos)
                    packed = idx;
            } else if (!is_object_stream(o))
                top = idx;
        }
        g = i;
        if (num <= 0 || num >= first_dropped_num) continue;
        std::int32_t winner = top >= 0 ? top : packed;
        if (top >= 0 && packed >= 0 &&
            d.objects[static_cast<std::size_t>(packed)].container_pos >
                d.objects[static_cast<std::size_t>(top)].hdr_pos)
            winner = packed;
        if (winner >= 0) keep[static_cast<std::size_t>(winner)] = 1;
    }
    compact_objects(d.objects, [&](std::size_t i) { return keep[i] == 0; });
    d.highest = 0;
    for (const obj& o : d.objects) d.highest = std::max(d.highest, o.num);
    index_objects(d);
}

namespace {

// The catalog: the trailer's /Root when that object exists, else the first entry that names
// /Catalog anywhere in its text, else object 1.
std::int32_t choose_catalog(const doc& d) {
    if (d.trailer_root >= 0 && find_obj(d, d.trailer_root)) return d.trailer_root;
    const bytes in = d.input();
    // Ranges of dictionary objects may nest or run to the end of the file; one list of the
    // keys keeps the search linear.
    const positions keys = name_positions(in, "Catalog");
    for (const obj& o : d.objects) {
        const dict_range r = dict_range_of(d, o);
        if (!r.ok) continue;
        // An object-stream entry's text lies outside the input the key list was made from.
        if (o.in_objstm ? find_name(r.buf, r.from, r.to, "Catalog") >= 0
                        : name_in_range(in, keys, r.from, r.to, "Catalog"))
            return o.num;
    }
    return 1;
}

// The first /Pages value of the catalog that reads as a positive number, or -1.
std::int32_t pages_reference(const doc& d, const obj& o) {
    const dict_range r = dict_range_of(d, o);
    if (!r.ok) return -1;
    const bytes range = r.buf.first(static_cast<std::size_t>(r.to));
    for (std::int32_t p = find_name(range, r.from, r.to, "Pages"); p >= 0;
         p = find_name(range, p + 1, r.to, "Pages")) {
        const std::int32_t value = skip_ws(range, past_key(p, "Pages"), r.to);
        std::int32_t num = 0;
        std::size_t ref_end = 0;
        if (value < r.to && match_ref(range, static_cast<std::size_t>(value), num, ref_end) &&
            num > 0)
            return num;
    }
    return -1;
}

// An encryption dictionary among the objects: the standard security handler's (/Filter
// /Standard with the /O and /U password entries) or a public-key handler's (/Recipients).
// It tells an encrypted file whose trailer, and so its /Encrypt, was lost.
bool has_encryption_dictionary(const doc& d) {
    // Most files name neither handler anywhere in their bytes: one pass settles it. Objects
    // unpacked from object streams are not in those bytes, so their files are searched anyway.
    const std::string_view text(reinterpret_cast<const char*>(d.data.data()),
                                static_cast<std::size_t>(d.len));
    if (d.arena.empty() && text.find("/Standard") == std::string_view::npos &&
        text.find("/Recipients") == std::string_view::npos)
        return false;
    // An encryption dictionary is a few hundred bytes; looking no further than this into each
    // object keeps the search linear however long a damaged dictionary runs.
    constexpr std::int32_t window = 2048;
    for (const obj& o : d.objects) {
        dict_range r = dict_range_of(d, o);
        if (!r.ok) continue;
        if (r.to - r.from > window) r.to = r.from + window;
        const std::optional<dict_view> v = read_dict(r.buf, r.from, r.to);
        const dict_entry* filter = v ? dict_find(*v, "Filter") : nullptr;
        if (!filter) continue;
        if (dict_find(*v, "Recipients")) return true;
        if (name_is(v->text, filter->value, "Standard") && dict_find(*v, "O") && dict_find(*v, "U"))
            return true;
    }
    return false;
}

} // namespace

int resolve_catalog_and_pages(doc& d, const char* name) {
    if (d.objects.empty()) {
        set_error("no PDF objects found \xE2\x80\x94"
                  " not a PDF: %s",
                  shown(name));
        return -1;
    }
    if (d.budget_exceeded) {
        set_error(
            "the input decodes to more than %llu bytes, the limit for one call: %s",
            static_cast<unsigned long long>(decode_budget_for(static_cast<std::uint64_t>(d.len))),
            shown(name));
        return -1;
    }
    if (d.encrypted || has_encryption_dictionary(d)) {
        set_error("encrypted PDFs are not supported: %s", shown(name));
        return -1;
    }
    d.catalog = choose_catalog(d);
    const obj* catalog = find_obj(d, d.catalog);
    if (!catalog) {
        set_error("catalog (obj %ld) has no /Pages reference", static_cast<long>(d.catalog));
        return -1;
    }
    // A /Root that names the page tree itself, or a single page, is taken as its root.
    std::int32_t root = d.catalog;
    const int type = obj_type(d.input(), *catalog);
    if (type != 1 && type != 2) {
        root = pages_reference(d, *catalog);
        if (root <= 0) {
            set_error("catalog (obj %ld) has no /Pages reference", static_cast<long>(d.catalog));
            return -1;
        }
    }

    std::vector<std::uint8_t> visited;
    try {
        visited.assign(static_cast<std::size_t>(d.highest) + 1, 0);
    } catch (const std::bad_alloc&) {
        set_error("out of memory");
        return -1;
    }
    d.pages.clear();
    const int result = resolve_pages(d, root, d.pages, visited, inherited_attrs{}, 0);
    if (result == -2) {
        set_error("page tree uses inline page dictionaries in /Kids \xE2\x80\x94"
                  " pages must be indirect objects");
        return -1;
    }
    if (result < 0) {
        set_error("could not resolve the page tree (obj %ld is not a /Pages or /Page object, "
                  "or tree is broken)",
                  static_cast<long>(root));
        return -1;
    }
    if (result == 0 || d.pages.empty()) {
        set_error("document has no pages");
        return -1;
    }
    return 0;
}

int doc_load_bytes(std::vector<std::uint8_t> bytes_in, const char* name, doc& d) {
    doc_free(d);
    if (!name) {
        set_error("NULL path argument");
        return -1;
    }
    if (check_input_size(static_cast<std::int64_t>(bytes_in.size()), name) != 0) return -1;
    try {
        d.data = std::move(bytes_in);
        d.len = static_cast<std::int32_t>(d.data.size());
        d.decode_budget = decode_budget_for(d.data.size());
        read_xref_section(d);
        scan_objects(d);
        unpack_object_streams(d);
        consolidate_objects(d);
        if (resolve_catalog_and_pages(d, name) != 0) {
            doc_free(d);
            return -1;
        }
    } catch (const std::bad_alloc&) {
        doc_free(d);
        set_error("out of memory");
        return -1;
    }
    return 0;
}

int doc_load(const char* path, doc& d, bool with_reason) {
    doc_free(d);
    if (!path) {
        set_error("NULL path argument");
        return -1;
    }
    errno = 0;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "rb"), &std::fclose);
    int reason = errno;
    // A directory opens here but cannot be read; its "size" would be meaningless.
    struct stat info;
    if (file && fstat(fileno(file.get()), &info) == 0 && S_ISDIR(info.st_mode)) {
        file.reset();
        reason = EISDIR;
    }
    if (!file) {
        if (with_reason && reason != 0)
            set_error("cannot open %s: %s", path, std::strerror(reason));
        else
            set_error("cannot open %s", path);
        return -1;
    }
    std::int64_t size = -1;
    if (std::fseek(file.get(), 0, SEEK_END) == 0) size = std::ftell(file.get());
    if (check_input_size(size, path) != 0) return -1;
    std::vector<std::uint8_t> data;
    try {
        data.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        set_error("read error on %s", path);
        return -1;
    }
    if (std::fseek(file.get(), 0, SEEK_SET) != 0 ||
        std::fread(data.data(), 1, data.size(), file.get()) != data.size()) {
        set_error("read error on %s", path);
        return -1;
    }
    file.reset();
    return doc_load_bytes(std::move(data), path, d);
}

} // namespace qf
