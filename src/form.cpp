// A page as a Form XObject: its box as /BBox, a /Matrix that turns it upright, its content
// (one stream, an array of streams joined into one, or a stream written inside the page
// dictionary) and its resources renumbered into the output's numbering.
#include "form.h"

#include <initializer_list>
#include <map>
#include <string>

#include "deflate.h"
#include "error.h"
#include "filters.h"
#include "lex.h"
#include "outbuf.h"
#include "renumber.h"
#include "resources.h"
#include "token.h"

namespace qf {

namespace {

constexpr std::string_view form_end = "\nendstream";

// A referenced stream object with data we can read.
bool has_stream_data(const doc& d, const obj* o) {
    if (!o) return false;
    const std::optional<bytes> data = stream_data_of(d, *o);
    return data && !data->empty();
}

// The value of a non-stream object: its text from an object stream, or what stands between
// its header and endobj in the file, without the white space around it.
std::optional<std::string_view> object_value(const doc& d, std::int32_t num) {
    const obj* o = find_obj(d, num);
    if (!o || o->has_stream) return std::nullopt;
    const dict_range body = body_range_of(d, *o);
    if (!body.ok || body.from >= body.to) return std::nullopt;
    std::string_view text(reinterpret_cast<const char*>(body.buf.data()) + body.from,
                          static_cast<std::size_t>(body.to - body.from));
    while (!text.empty() && is_pdf_ws(static_cast<std::uint8_t>(text.back())))
        text.remove_suffix(1);
    if (text.empty()) return std::nullopt;
    return text;
}

// The filter rules read /Filter and /DecodeParms as direct values, and a value copied into the
// form must not name an object of the input. A dictionary that gives either as an indirect
// reference is therefore handed over as a copy with the referenced values written in.
std::optional<std::string> with_filter_values_resolved(const doc& d, bytes text, std::int32_t from,
                                                       std::int32_t to) {
    std::string copy(reinterpret_cast<const char*>(text.data()) + from,
                     static_cast<std::size_t>(to - from));
    bool resolved = false;
    for (std::string_view key : {"Filter", "DecodeParms", "DP"}) {
        const bytes view(reinterpret_cast<const std::uint8_t*>(copy.data()), copy.size());
        const auto end = static_cast<std::int32_t>(copy.size());
        const std::int32_t at = find_name(view, 0, end, key);
        if (at < 0) continue;
        const std::int32_t value = skip_ws(view, past_key(at, key), end);
        if (value >= end || !is_digit(view[static_cast<std::size_t>(value)])) continue;
        std::int32_t num = 0;
        std::size_t ref_end = 0;
        if (!match_ref(view, static_cast<std::size_t>(value), num, ref_end)) continue;
        const std::optional<std::string_view> target = object_value(d, num);
        if (!target) continue;
        std::string spaced;
        spaced.reserve(target->size() + 2);
        spaced.append(1, ' ').append(*target).append(1, ' ');
        copy.replace(static_cast<std::size_t>(value), ref_end - static_cast<std::size_t>(value),
                     spaced);
        resolved = true;
    }
    if (!resolved) return std::nullopt;
    return copy;
}

// How a content stream goes into its form: decoded, or as stored with its filter entries.
using content_rule = int (*)(bytes, std::int32_t, std::int32_t, const std::uint8_t*, std::int32_t,
                             streamout&, std::uint64_t*);

int stream_obj_content(const doc& d, const obj& o, content_rule rule, streamout& out) {
    const dict_range dict = dict_range_of(d, o);
    const std::uint8_t* data = d.data.data() + o.data_start;
    const std::int32_t data_len = o.data_end - o.data_start;
    if (!dict.ok) return rule(d.input(), -1, -1, data, data_len, out, &d.decode_budget);
    if (dict.to > dict.from) {
        if (auto resolved = with_filter_values_resolved(d, dict.buf, dict.from, dict.to)) {
            const bytes view(reinterpret_cast<const std::uint8_t*>(resolved->data()),
                             resolved->size());
            return rule(view, 0, static_cast<std::int32_t>(resolved->size()), data, data_len, out,
                        &d.decode_budget);
        }
    }
    return rule(dict.buf, dict.from, dict.to, data, data_len, out, &d.decode_budget);
}

// The result of a decoding that went past the call's budget.
constexpr int over_budget = content_over_budget;

// Streams decoded this call that are still kept, at most this many.
constexpr std::size_t recent_decodes_kept = 4;

// The stream decoded, or its bytes from an earlier decoding in this call: a stream shared by
// many pages is decoded once. Decoded bytes count against the call's budget.
int decode_stream_obj(const doc& d, const obj& o, streamout& out) {
    for (const doc::decoded_stream& e : d.recent_decodes) {
        if (e.source != &o) continue;
        // A stream found to be carried as stored is carried again without decoding it.
        if (!e.bytes) return stream_obj_content(d, o, content_carry, out);
        out = streamout{};
        out.data = e.bytes->data();
        out.len = static_cast<std::int32_t>(e.bytes->size());
        return e.result;
    }
    const int r = stream_obj_content(d, o, content_decode, out);
    auto remember = [&d](doc::decoded_stream entry) {
        if (d.recent_decodes.size() == recent_decodes_kept)
            d.recent_decodes.erase(d.recent_decodes.begin());
        d.recent_decodes.push_back(std::move(entry));
    };
    if (r == 2) remember({&o, r, nullptr});
    if (r != 1 || !out.owned) return r;
    auto kept = std::make_shared<const std::vector<std::uint8_t>>(std::move(out.decoded));
    out.decoded.clear();
    out.data = kept->data();
    out.owned = false;
    remember({&o, r, std::move(kept)});
    return r;
}

// Sets the message of a content stream that could not be carried.
void fail_content(const doc& d, int result, std::int32_t page_number) {
    if (result == over_budget)
        set_error(
            "page %ld: content decodes to more than %llu bytes, the limit for one call",
            static_cast<long>(page_number),
            static_cast<unsigned long long>(decode_budget_for(static_cast<std::uint64_t>(d.len))));
    else
        set_error("page %ld: content stream cannot be carried (unsupported /Filter)",
                  static_cast<long>(page_number));
}

// The stream objects the array that opens with the "[" at `open` references, up to its "]"
// or `end`, in order; references to anything else are passed over.
std::vector<const obj*> array_parts(const doc& d, bytes text, std::int32_t open, std::int32_t end) {
    std::vector<const obj*> parts;
    for (const std::int32_t num :
         reference_list(text.first(static_cast<std::size_t>(end)), open + 1, end, SIZE_MAX)) {
        const obj* part_obj = find_obj(d, num);
        if (has_stream_data(d, part_obj)) parts.push_back(part_obj);
    }
    return parts;
}

// Joins the streams referenced by the array that opens with the "[" at `open`. Each part is
// decoded and followed by a line feed; a part that could only be carried encoded fails the
// page, since one stream cannot hold parts with different filters. With `as_stored`, an array
// of one stream is that stream, as it is stored.
bool join_array(const doc& d, bytes text, std::int32_t open, std::int32_t end,
                std::int32_t page_number, bool as_stored, streamout& content) {
    const std::vector<const obj*> parts = array_parts(d, text, open, end);
    if (as_stored && parts.size() == 1) {
        const int r = stream_obj_content(d, *parts.front(), content_carry, content);
        if (r < 0) {
            fail_content(d, r, page_number);
            return false;
        }
        return true;
    }
    std::vector<std::uint8_t> joined;
    bool appended = false;
    bool joined_failed = false; // the joined length would not fit a 32-bit count
    for (const obj* part_obj : parts) {
        streamout part;
        int r = decode_stream_obj(d, *part_obj, part);
        if (r < 0) {
            fail_content(d, r, page_number);
            return false;
        }
        if (r == 2) {
            set_error("page %ld: array /Contents mixes an unsupported filter",
                      static_cast<long>(page_number));
            return false;
        }
        if (joined_failed) continue;
        if (static_cast<std::uint64_t>(joined.size()) + static_cast<std::uint64_t>(part.len) + 1 >
            static_cast<std::uint64_t>(INT32_MAX)) {
            joined_failed = true;
            joined.clear();
            continue;
        }
        joined.insert(joined.end(), part.data, part.data + part.len);
        joined.push_back('\n');
        appended = true;
    }
    if (appended && !joined_failed) {
        content = streamout{};
        content.decoded = std::move(joined);
        content.data = content.decoded.data();
        content.len = static_cast<std::int32_t>(content.decoded.size());
        content.owned = true;
    }
    return true;
}

// The "[" that opens the body of an array object, in the buffer its text lies in.
struct array_body {
    bytes text;
    std::int32_t open = -1;
    std::int32_t end = 0;
};

std::optional<array_body> find_array_body(const doc& d, const obj& o) {
    if (!o.in_objstm && o.dict_start >= 0) return std::nullopt;
    const dict_range body = body_range_of(d, o);
    if (!body.ok) return std::nullopt;
    const std::int32_t p = skip_ws(body.buf, body.from, body.to);
    if (p >= body.to || body.buf[static_cast<std::size_t>(p)] != '[') return std::nullopt;
    return array_body{body.buf, p, body.to};
}

// /Contents N G R. A reference to an array object is carried like a direct array. With
// `as_stored` one stream goes into the form as it is stored, not decoded.
bool single_reference(const doc& d, bytes text, std::int32_t at, std::int32_t page_number,
                      bool as_stored, streamout& content) {
    std::int32_t num = 0;
    std::size_t ref_end = 0;
    if (!match_ref(text, static_cast<std::size_t>(at), num, ref_end) || num <= 0) return true;
    const obj* target = find_obj(d, num);
    if (!target) return true;
    if (has_stream_data(d, target)) {
        const int r = as_stored ? stream_obj_content(d, *target, content_carry, content)
                                : decode_stream_obj(d, *target, content);
        if (r < 0) {
            fail_content(d, r, page_number);
            return false;
        }
        return true;
    }
    if (target->has_stream) return true;
    if (auto body = find_array_body(d, *target))
        return join_array(d, body->text, body->open, body->end, page_number, as_stored, content);
    return true;
}

// A stream written inside the page dictionary: its dictionary opens at `open` in `text`, and
// the page's dictionary range ends at `end`.
bool inline_stream(const doc& d, bytes text, std::int32_t open, std::int32_t end,
                   std::int32_t page_number, bool as_stored, streamout& content) {
    bytes page_text = text.first(static_cast<std::size_t>(end));
    std::int32_t kw = dict_stream_kw(page_text, open);
    if (kw < 0) return true;
    std::int32_t direct = -1, length_obj = -1;
    parse_length(page_text, open, kw, direct, length_obj);
    std::int64_t length = -1;
    if (direct >= 0)
        length = direct;
    else if (length_obj > 0)
        length = indirect_integer(d, length_obj);
    if (length < 0) return true;

    const std::int64_t data_pos = stream_data_start(page_text, kw);
    if (data_pos + length > end) return true;

    const content_rule rule = as_stored ? content_carry : content_decode;
    if (rule(text, open, kw, text.data() + data_pos, static_cast<std::int32_t>(length), content,
             &d.decode_budget) < 0) {
        set_error("page %ld: inline content stream cannot be carried (unsupported /Filter)",
                  static_cast<long>(page_number));
        return false;
    }
    return true;
}

// Fills `content` from the page's /Contents; false after setting a message.
bool find_content(const doc& d, const dict_range& range, std::int32_t page_number, bool as_stored,
                  streamout& content) {
    constexpr std::string_view contents = "Contents";
    std::int32_t key = find_name(range.buf, range.from, range.to, contents);
    if (key < 0) return true;
    std::int32_t v = skip_ws(range.buf, past_key(key, contents), range.to);
    if (v >= range.to) return true;
    std::uint8_t c = range.buf[v];
    if (is_digit(c)) return single_reference(d, range.buf, v, page_number, as_stored, content);
    if (c == '[') return join_array(d, range.buf, v, range.to, page_number, as_stored, content);
    if (dict_opens_at(range.buf, v, range.to))
        return inline_stream(d, range.buf, v, range.to, page_number, as_stored, content);
    return true; // null, a string, anything else: an empty form
}

// Plain content compressed, when that makes it smaller.
void compress_plain(streamout& content) {
    if (!content.dict_tail.empty() || content.len <= 0) return;
    std::vector<std::uint8_t> packed;
    deflate_compress(bytes(content.data, static_cast<std::size_t>(content.len)), packed);
    if (packed.size() >= static_cast<std::size_t>(content.len)) return;
    content.decoded = std::move(packed);
    content.data = content.decoded.data();
    content.len = static_cast<std::int32_t>(content.decoded.size());
    content.owned = true;
    content.dict_tail = " /Filter /FlateDecode";
}

} // namespace

std::string form_dict_start(const pageinfo& pi) {
    const std::string x0 = num_str(pi.x0), y0 = num_str(pi.y0), x1 = num_str(pi.x1),
                      y1 = num_str(pi.y1);
    std::string header =
        "<< /Type /XObject /Subtype /Form /BBox [" + x0 + " " + y0 + " " + x1 + " " + y1 + "]";
    // Turns the page upright; the sheet side scales and moves the turned box into its slot.
    switch (pi.rotate % 360) {
    case 90:
        header += " /Matrix [0 -1 1 0 0 " + x1 + "]";
        break;
    case 180:
        header += " /Matrix [-1 0 0 -1 " + x1 + " " + y1 + "]";
        break;
    case 270:
        header += " /Matrix [0 1 -1 0 " + y1 + " 0]";
        break;
    default:
        break;
    }
    return header;
}

namespace {

// A literal string of these bytes: parentheses and backslashes escaped, bytes outside
// printable ASCII written in octal.
std::string literal_string(std::string_view text) {
    std::string out = "(";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '(' || c == ')' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 32 || c > 126) {
            out += format("\\%03o", static_cast<unsigned>(c));
        } else {
            out += ch;
        }
    }
    return out + ")";
}

std::string matrix_text(std::initializer_list<double> values) {
    std::string out;
    for (double v : values) {
        if (!out.empty()) out += ' ';
        out += num_str(v);
    }
    return out;
}

// A field's appearance drawn as a reader makes it, inside the field's rectangle: a mark
// centred; text two points in, one line centred in a single-line field, lines from the top in
// a multi-line one.
std::string draw_made(const made_appearance& m) {
    const double w = m.x1 - m.x0, h = m.y1 - m.y0, size = m.font_size;
    // Text stands two points inside the border.
    const double padding = 2 + (m.border.empty() ? 0 : m.border_width);
    // The baseline sits a little above the bottom of the letters' box; ZapfDingbats marks are
    // about as wide as three quarters of their size.
    const double descent = 0.22 * size, leading = 1.15 * size;
    double x = m.x0 + padding;
    double y = m.multiline ? m.y1 - padding - size + descent : m.y0 + (h - size) / 2 + descent;
    if (m.symbol) {
        x = m.x0 + (w - 0.75 * size) / 2;
        y = m.y0 + (h - 0.7 * size) / 2;
    }
    std::string out = "q ";
    const std::string box = matrix_text({m.x0, m.y0, w, h});
    if (!m.background.empty()) {
        out += m.background;
        out += ' ';
        out += box;
        out += " re f ";
    }
    if (!m.border.empty() && m.border_width > 0) {
        // The border's stroke stays inside the rectangle.
        const double b = m.border_width;
        out += num_str(b);
        out += " w ";
        out += m.border;
        out += ' ';
        out += matrix_text({m.x0 + b / 2, m.y0 + b / 2, w - b, h - b});
        out += " re S ";
    }
    out += box;
    out += m.symbol ? " re W n BT /QfZapf " : " re W n BT /QfHelv ";
    out += num_str(size);
    out += " Tf ";
    out += m.colour.empty() ? "0 g" : m.colour;
    out += ' ';
    out += matrix_text({x, y});
    out += " Td";
    for (std::size_t i = 0; i < m.lines.size(); ++i) {
        if (i > 0) {
            out += " 0 ";
            out += num_str(-leading);
            out += " Td";
        }
        out += ' ';
        out += literal_string(m.lines[i]);
        out += " Tj";
    }
    out += " ET Q\n";
    return out;
}

} // namespace

std::vector<std::uint8_t> build_annotated_form(const pageinfo& pi, std::int32_t page_form,
                                               const page_annotations& annots,
                                               const renumber_map& map) {
    // One name for each appearance stream: check boxes often share theirs.
    std::string content = "/Pg Do\n";
    std::string xobjects = "/Pg " + std::to_string(page_form) + " 0 R";
    std::map<std::int32_t, std::string> names;
    bool made_text = false, made_mark = false;
    for (const printed_annotation& a : annots.drawn) {
        if (a.appearance == 0) {
            content += draw_made(a.made);
            (a.made.symbol ? made_mark : made_text) = true;
            continue;
        }
        const std::int32_t carried = map_lookup(map, a.appearance);
        if (carried <= 0) continue;
        std::string name = "A";
        name += std::to_string(names.size());
        auto [at, added] = names.emplace(carried, std::move(name));
        if (added) {
            xobjects += " /";
            xobjects += at->second;
            xobjects += ' ';
            xobjects += std::to_string(carried);
            xobjects += " 0 R";
        }
        content += "q ";
        content += matrix_text({a.a, a.b, a.c, a.d, a.e, a.f});
        content += " cm /";
        content += at->second;
        content += " Do Q\n";
    }
    std::string resources = "/XObject << " + xobjects + " >>";
    if (made_text || made_mark) {
        resources += " /Font <<";
        if (made_text)
            resources += " /QfHelv << /Type /Font /Subtype /Type1 /BaseFont /Helvetica "
                         "/Encoding /WinAnsiEncoding >>";
        if (made_mark)
            resources += " /QfZapf << /Type /Font /Subtype /Type1 /BaseFont /ZapfDingbats >>";
        resources += " >>";
    }
    const std::string header = form_dict_start(pi) + " /Length " + std::to_string(content.size()) +
                               " /Resources << " + resources + " >> >> stream\n";
    std::vector<std::uint8_t> body;
    body.reserve(header.size() + content.size() + form_end.size());
    body.insert(body.end(), header.begin(), header.end());
    body.insert(body.end(), content.begin(), content.end());
    body.insert(body.end(), form_end.begin(), form_end.end());
    return body;
}

std::optional<std::vector<std::uint8_t>>
build_form_xobject(const doc& d, const obj& page, const pageinfo& pi, const renumber_map& map,
                   std::int32_t page_number, bool compress) {
    streamout content;
    std::string resources_tail;
    dict_range range = dict_range_of(d, page);
    if (range.ok) {
        if (!find_content(d, range, page_number, compress, content)) return std::nullopt;
        if (compress) compress_plain(content);
        if (auto res = get_resources_inherited(d, &page, pi.parent_num))
            resources_tail =
                " /Resources " +
                remap_res_n(bytes(reinterpret_cast<const std::uint8_t*>(res->data()), res->size()),
                            map);
    }

    std::string header = form_dict_start(pi);
    header +=
        " /Length " + num_str(content.len) + content.dict_tail + resources_tail + " >> stream\n";

    std::vector<std::uint8_t> body;
    body.reserve(header.size() + static_cast<std::size_t>(content.len) + form_end.size());
    body.insert(body.end(), header.begin(), header.end());
    if (content.len > 0) body.insert(body.end(), content.data, content.data + content.len);
    body.insert(body.end(), form_end.begin(), form_end.end());
    return body;
}

} // namespace qf
