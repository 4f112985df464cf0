#include "objpack.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "deflate.h"
#include "error.h"

namespace qf {

namespace {

// Objects per object stream: enough for the index and the bodies to compress well together,
// few enough that a reader unpacks little to reach one.
constexpr std::size_t objects_per_stream = 100;

struct placed_object {
    std::int64_t offset;
    std::int64_t num;
};

// One cross-reference stream entry: type, then two fields (W [1 4 2]).
struct xref_entry {
    std::uint8_t type = 0;
    std::uint32_t field2 = 0;
    std::uint16_t field3 = 0;
};

void append(std::vector<std::uint8_t>& out, std::string_view s) {
    out.insert(out.end(), s.begin(), s.end());
}

void append_stream_object(std::vector<std::uint8_t>& out, std::int64_t num,
                          const std::string& dict_entries, const std::vector<std::uint8_t>& data) {
    append(out, std::to_string(num) + " 0 obj\n<< " + dict_entries + " /Length " +
                    std::to_string(data.size()) + " /Filter /FlateDecode >>\nstream\n");
    out.insert(out.end(), data.begin(), data.end());
    append(out, "\nendstream\nendobj\n");
}

} // namespace

std::vector<std::uint8_t> pack_objects(const buf& file, const std::vector<std::int64_t>& offsets,
                                       std::int64_t max_num) {
    try {
        const std::string_view text(reinterpret_cast<const char*>(file.data),
                                    static_cast<std::size_t>(file.len));
        // The table follows the last object; nothing after it holds "\nxref\n".
        const std::size_t table = text.rfind("\nxref\n");
        if (table == std::string_view::npos) {
            set_error("failed to build output");
            return {};
        }
        std::vector<placed_object> objects;
        for (std::int64_t k = 1; k <= max_num; ++k)
            if (offsets[static_cast<std::size_t>(k)] >= 0)
                objects.push_back({offsets[static_cast<std::size_t>(k)], k});
        std::sort(
            objects.begin(), objects.end(),
            [](const placed_object& a, const placed_object& b) { return a.offset < b.offset; });

        std::vector<std::uint8_t> out;
        out.reserve(static_cast<std::size_t>(file.len));
        append(out, "%PDF-1.5\n%\xE2\xE3\xCF\xD3\n");

        std::vector<xref_entry> xref(static_cast<std::size_t>(max_num) + 1);
        xref[0] = {0, 0, 65535};
        // Streams stay as they are; everything else waits for an object stream.
        std::vector<std::pair<std::int64_t, std::string_view>> packed;
        for (std::size_t i = 0; i < objects.size(); ++i) {
            const auto from = static_cast<std::size_t>(objects[i].offset);
            const std::size_t to = i + 1 < objects.size()
                                       ? static_cast<std::size_t>(objects[i + 1].offset)
                                       : table + 1;
            std::string_view whole = text.substr(from, to - from);
            const std::size_t body_at = whole.find('\n') + 1;
            std::string_view body = whole.substr(body_at);
            if (body.size() >= 7 && body.substr(body.size() - 7) == "endobj\n")
                body.remove_suffix(7);
            while (!body.empty() && body.back() == '\n') body.remove_suffix(1);
            if (body.size() >= 9 && body.substr(body.size() - 9) == "endstream") {
                xref[static_cast<std::size_t>(objects[i].num)] = {
                    1, static_cast<std::uint32_t>(out.size()), 0};
                append(out, whole);
                continue;
            }
            // An object without a body (a number the input lacked) is null.
            packed.emplace_back(objects[i].num, body.empty() ? std::string_view("null") : body);
        }

        // Object streams after the last number in use, the cross-reference stream after them.
        std::int64_t next_num = max_num + 1;
        for (std::size_t first = 0; first < packed.size(); first += objects_per_stream) {
            const std::size_t last = std::min(packed.size(), first + objects_per_stream);
            std::string index, bodies;
            for (std::size_t k = first; k < last; ++k) {
                index +=
                    std::to_string(packed[k].first) + " " + std::to_string(bodies.size()) + " ";
                bodies.append(packed[k].second);
                bodies += '\n';
                xref[static_cast<std::size_t>(packed[k].first)] = {
                    2, static_cast<std::uint32_t>(next_num), static_cast<std::uint16_t>(k - first)};
            }
            const std::string plain = index + bodies;
            std::vector<std::uint8_t> data;
            deflate_compress(
                bytes(reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size()), data);
            xref.push_back({1, static_cast<std::uint32_t>(out.size()), 0});
            append_stream_object(out, next_num,
                                 "/Type /ObjStm /N " + std::to_string(last - first) + " /First " +
                                     std::to_string(index.size()),
                                 data);
            ++next_num;
        }

        const std::int64_t xref_num = next_num;
        const auto xref_offset = static_cast<std::uint32_t>(out.size());
        xref.push_back({1, xref_offset, 0});
        std::vector<std::uint8_t> rows;
        rows.reserve(xref.size() * 7);
        for (const xref_entry& e : xref) {
            rows.push_back(e.type);
            for (int shift = 24; shift >= 0; shift -= 8)
                rows.push_back(static_cast<std::uint8_t>(e.field2 >> shift));
            rows.push_back(static_cast<std::uint8_t>(e.field3 >> 8));
            rows.push_back(static_cast<std::uint8_t>(e.field3));
        }
        std::vector<std::uint8_t> data;
        deflate_compress(bytes(rows), data);
        append_stream_object(
            out, xref_num,
            "/Type /XRef /Size " + std::to_string(xref_num + 1) + " /W [1 4 2] /Root 1 0 R", data);
        append(out, "startxref\n" + std::to_string(xref_offset) + "\n%%EOF\n");
        return out;
    } catch (const std::bad_alloc&) {
        set_error("out of memory");
        return {};
    }
}

} // namespace qf
