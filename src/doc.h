// The loaded input document: its bytes, the object table, the page list and the blocks of
// decoded object streams. Filled by doc_load (load.h), read by everything after it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace qf {

using bytes = std::span<const std::uint8_t>;

// One object-table entry. Positions are offsets into the document's bytes.
struct obj {
    std::int32_t num = 0;
    std::int32_t gen = 0;
    std::int32_t hdr_pos = -1;    // first digit of the object number in "N G obj"
    std::int32_t dict_start = -1; // "<" opening the body, when the body is a dictionary
    std::int32_t stream_pos = -1; // "stream" keyword after the dictionary
    std::int32_t data_start = -1; // first byte of stream data
    std::int32_t data_end = -1;   // one past the last byte of stream data
    std::int32_t endobj_pos = -1;
    std::int32_t obj_end = -1;
    std::int32_t data_len = -1;
    std::int32_t has_stream = 0;
    std::int32_t no_endstream = 0;
    std::int32_t in_objstm = 0;
    const std::uint8_t* text = nullptr; // object text inside a decoded object stream
    std::int32_t text_len = 0;
    // For an object from an object stream: hdr_pos of that stream, which places the object
    // in the file when definitions of one number compete.
    std::int32_t container_pos = -1;
};

// One resolved page. The box is the visible box (CropBox clipped to MediaBox), normalised so
// that x0 < x1 and y0 < y1.
struct pageinfo {
    std::int32_t obj_num = 0;
    std::int32_t parent_num = -1; // the /Pages node that listed the page; -1 for a root page
    std::int32_t inherited_rotate = 0;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    std::int32_t rotate = 0; // effective rotation, set by the sheet-side writer on its copy
};

struct doc {
    std::vector<std::uint8_t> data;
    std::int32_t len = 0;
    std::int32_t trailer_root = -1;
    std::int32_t encrypted = 0;
    std::vector<obj> objects;
    std::vector<std::unique_ptr<std::uint8_t[]>> arena;
    std::vector<pageinfo> pages;
    std::int32_t catalog = -1;
    std::int32_t highest = 0;
    // Bytes that decoding may still produce in this call (object streams and page content);
    // set when loading, generous for every real document, a bound for hostile ones.
    mutable std::uint64_t decode_budget = std::uint64_t{4} << 30;
    bool budget_exceeded = false;
    // The last few decoded content streams, so that a stream shared by many pages is decoded
    // once per call.
    struct decoded_stream {
        const obj* source = nullptr;
        int result = 0;
        std::shared_ptr<const std::vector<std::uint8_t>> bytes;
    };
    mutable std::vector<decoded_stream> recent_decodes;
    // (num, table index), sorted; built by index_objects for find_obj.
    std::vector<std::pair<std::int32_t, std::int32_t>> by_num;

    bytes input() const { return {data.data(), static_cast<std::size_t>(len)}; }
};

// The decoding budget of one call for an input of `len` bytes: 4 GiB or 64 times the input.
constexpr std::uint64_t decode_budget_for(std::uint64_t len) {
    const std::uint64_t floor = std::uint64_t{4} << 30;
    return 64 * len > floor ? 64 * len : floor;
}

// Takes `n` bytes from the budget; false (and nothing taken) when fewer are left.
bool take_decode_budget(const doc& d, std::uint64_t n);

// Releases everything the document owns and resets it to its initial state.
void doc_free(doc& d);

// A block owned by the document; null on failure. Contents are not initialised.
std::uint8_t* arena_alloc(doc& d, std::uint64_t size);

// Rebuilds the index behind find_obj. Call after every change to d.objects.
void index_objects(doc& d);

// The one lookup of an object by number: the first entry with that number in table order.
const obj* find_obj(const doc& d, std::int32_t num);

// The bytes in which an entry's own keys are looked up: its text for an object from an object
// stream, else the input from dict_start to stream_pos, endobj_pos or the end of the input.
// `buf` is the whole buffer the range lies in; `ok` is false when the entry has none.
struct dict_range {
    bytes buf;
    std::int32_t from = 0;
    std::int32_t to = 0;
    bool ok = false;
};
dict_range dict_range_of(const doc& d, const obj& o);
// The same for an entry of a table over `input`.
dict_range dict_range_in(bytes input, const obj& o);

// The text of an entry's value: its text for an object from an object stream, else the input
// after its "N G obj" header up to endobj (the end of the input without one). `ok` is false
// when the entry has no header.
dict_range body_range_of(const doc& d, const obj& o);

// A stream's data in the input; nullopt for a non-stream, an object-stream entry, or a range
// that does not lie in the input.
std::optional<bytes> stream_data_of(const doc& d, const obj& o);

// The integer that is the whole value of a non-stream object of the file, such as an indirect
// /Length; -1 when there is none.
std::int32_t indirect_integer(const doc& d, std::int32_t num);

} // namespace qf
