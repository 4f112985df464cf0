// Objects stored inside object streams (ISO 32000-1, 7.5.7). Such objects have no header of
// their own in the file, so the scan cannot see them: each object stream is decoded into an
// arena block and every object it holds becomes a table entry pointing into that block.
#include "objstm.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "inflate.h"
#include "lex.h"

namespace qf {

namespace {

// Larger streams are not decoded.
constexpr std::int64_t max_stream_bytes = 268435456;
// The room for decoding grows fourfold from eight times the stream's size while it is at most
// this, so the last room tried is the first one past it.
constexpr std::uint64_t max_retry_capacity = 268435455;
constexpr std::int32_t max_objects_per_stream = 100000;
constexpr std::int32_t max_object_text = 1048576;

// The first value of a /key in from..to that is at least min_value, or -1. The value is read
// from the byte after the name and the delimiter that follows it.
std::int32_t first_key_value(bytes in, std::int32_t from, std::int32_t to, std::string_view key,
                             std::int32_t min_value) {
    const auto skip = static_cast<std::int32_t>(key.size()) + 1;
    for (std::int32_t p = find_name(in, from, to, key); p >= 0; p = find_name(in, p + 1, to, key)) {
        std::int32_t cursor = skip_ws(in, p + skip, to);
        const std::int32_t v = parse_int_at(in, cursor);
        if (v >= min_value) return v;
    }
    return -1;
}

// The stream's data decoded into an arena block of its exact size: copied unchanged unless it
// names /FlateDecode (other filters are not undone). False when it is too large or cannot be
// decoded; nothing of a failed attempt stays.
bool decode_stream(doc& d, const obj& o, std::int32_t dict_end, const std::uint8_t*& block_out,
                   std::int64_t& decoded) {
    const std::int64_t n = static_cast<std::int64_t>(o.data_end) - o.data_start;
    if (n < 0 || n > max_stream_bytes) return false;
    if (o.data_start < 0 || o.data_end > d.len) return false;
    const std::uint8_t* src = d.data.data() + o.data_start;
    std::vector<std::uint8_t> plain;
    if (find_name(d.input(), o.dict_start, dict_end, "FlateDecode") < 0) {
        plain.assign(src, src + n);
    } else {
        const std::uint64_t first = static_cast<std::uint64_t>(n) * 8 + 64;
        std::uint64_t last = first;
        while (last <= max_retry_capacity) last *= 4;
        if (inflate_growing(src, static_cast<std::uint64_t>(n), first, last, plain) != 0)
            return false;
    }
    // Positions inside the block are 32-bit like every other position.
    if (plain.size() > static_cast<std::uint64_t>(INT32_MAX)) return false;
    if (!take_decode_budget(d, plain.size())) {
        d.budget_exceeded = true;
        return false;
    }
    std::uint8_t* block = arena_alloc(d, plain.size() ? plain.size() : 1);
    if (!block) return false;
    if (!plain.empty()) std::memcpy(block, plain.data(), plain.size());
    block_out = block;
    decoded = static_cast<std::int64_t>(plain.size());
    return true;
}

// Appends the objects of one object stream whose decoded data is block[0..decoded).
void append_contained_objects(doc& d, const std::uint8_t* block, std::int64_t decoded,
                              std::int32_t count, std::int32_t first, std::int32_t container_pos) {
    const bytes data(block, static_cast<std::size_t>(decoded));
    const auto end = static_cast<std::int32_t>(decoded);
    // The header: count pairs of object number and offset (relative to /First).
    std::vector<std::int32_t> nums(static_cast<std::size_t>(count));
    std::vector<std::int32_t> offsets(static_cast<std::size_t>(count));
    std::int32_t cursor = 0;
    for (std::size_t l = 0; l < nums.size(); ++l) {
        nums[l] = read_int_adv(data, end, cursor);
        offsets[l] = read_int_adv(data, end, cursor);
        if (nums[l] < 0 || offsets[l] < 0) return;
    }
    for (std::size_t l = 0; l < nums.size(); ++l) {
        // An object's text runs to the next object's offset; the last one's to the end.
        const std::int64_t offset = offsets[l];
        const std::int64_t length = l + 1 < nums.size()
                                        ? static_cast<std::int64_t>(offsets[l + 1]) - offset
                                        : decoded - first - offset;
        if (nums[l] <= 0 || length < 1 || length > max_object_text) continue;
        // Offsets are not bounded by the header: a text is cut at the end of the decoded
        // data, and one that starts beyond it has nothing left.
        const std::int64_t start = first + offset;
        if (start >= decoded) continue;
        obj e;
        e.num = nums[l];
        e.gen = 0;
        e.in_objstm = 1;
        e.text = block + start;
        e.text_len = static_cast<std::int32_t>(std::min(length, decoded - start));
        e.container_pos = container_pos;
        d.objects.push_back(e);
    }
}

} // namespace

void unpack_object_streams(doc& d) {
    // Entries appended here are visited too, and skipped: object streams inside object
    // streams are not unpacked.
    for (std::size_t i = 0; i < d.objects.size(); ++i) {
        const obj o = d.objects[i]; // a copy: appending moves the table
        if (o.in_objstm || !o.has_stream || o.dict_start < 0) continue;
        const dict_range dict = dict_range_of(d, o);
        const bytes in = dict.buf;
        const std::int32_t from = dict.from;
        const std::int32_t to = dict.to;
        if (find_name(in, from, to, "ObjStm") < 0) continue;

        const std::uint8_t* block = nullptr;
        std::int64_t decoded = 0;
        if (!decode_stream(d, o, to, block, decoded)) continue;
        const std::int32_t count = first_key_value(in, from, to, "N", 1);
        const std::int32_t first = first_key_value(in, from, to, "First", 0);
        if (first < 0) continue;
        if (count < 1 || count > max_objects_per_stream) continue;
        if (first > decoded) continue;
        append_contained_objects(d, block, decoded, count, first, o.hdr_pos);
    }
}

} // namespace qf
