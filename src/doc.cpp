#include "doc.h"

#include <algorithm>
#include <new>

#include "lex.h"

namespace qf {

void doc_free(doc& d) {
    d = doc{};
}

bool take_decode_budget(const doc& d, std::uint64_t n) {
    if (n > d.decode_budget) return false;
    d.decode_budget -= n;
    return true;
}

std::uint8_t* arena_alloc(doc& d, std::uint64_t size) {
    if (size > SIZE_MAX) return nullptr;
    std::unique_ptr<std::uint8_t[]> block(new (std::nothrow) std::uint8_t[size ? size : 1]);
    if (!block) return nullptr;
    try {
        d.arena.push_back(std::move(block));
    } catch (...) {
        return nullptr;
    }
    return d.arena.back().get();
}

void index_objects(doc& d) {
    d.by_num.clear();
    d.by_num.reserve(d.objects.size());
    for (std::size_t i = 0; i < d.objects.size(); ++i)
        d.by_num.emplace_back(d.objects[i].num, static_cast<std::int32_t>(i));
    std::sort(d.by_num.begin(), d.by_num.end());
}

const obj* find_obj(const doc& d, std::int32_t num) {
    auto it = std::lower_bound(d.by_num.begin(), d.by_num.end(),
                               std::pair<std::int32_t, std::int32_t>(num, INT32_MIN));
    if (it == d.by_num.end() || it->first != num) return nullptr;
    auto idx = static_cast<std::size_t>(it->second);
    return idx < d.objects.size() ? &d.objects[idx] : nullptr;
}

dict_range dict_range_of(const doc& d, const obj& o) {
    return dict_range_in(d.input(), o);
}

dict_range dict_range_in(bytes input, const obj& o) {
    const auto len = static_cast<std::int32_t>(input.size());
    dict_range r;
    if (o.in_objstm) {
        if (!o.text) return r;
        r.buf = bytes(o.text, static_cast<std::size_t>(o.text_len));
        r.from = 0;
        r.to = o.text_len;
        r.ok = true;
        return r;
    }
    if (o.dict_start < 0 || o.dict_start > len) return r;
    r.buf = input;
    r.from = o.dict_start;
    r.to = o.stream_pos > 0 ? o.stream_pos : o.endobj_pos > 0 ? o.endobj_pos : len;
    if (r.to > len) r.to = len;
    if (r.to < r.from) r.to = r.from;
    r.ok = true;
    return r;
}

dict_range body_range_of(const doc& d, const obj& o) {
    dict_range r;
    if (o.in_objstm) {
        if (!o.text) return r;
        r.buf = bytes(o.text, static_cast<std::size_t>(o.text_len));
        r.to = o.text_len;
        r.ok = true;
        return r;
    }
    if (o.hdr_pos < 0 || o.hdr_pos >= d.len) return r;
    r.buf = d.input();
    r.from = skip_obj_header(r.buf, o.hdr_pos, d.len);
    r.to = o.endobj_pos > o.hdr_pos && o.endobj_pos <= d.len ? o.endobj_pos : d.len;
    if (r.to < r.from) r.to = r.from;
    r.ok = true;
    return r;
}

std::optional<bytes> stream_data_of(const doc& d, const obj& o) {
    if (!o.has_stream || o.in_objstm || o.data_start < 0 || o.data_end < o.data_start ||
        o.data_end > d.len)
        return std::nullopt;
    return d.input().subspan(static_cast<std::size_t>(o.data_start),
                             static_cast<std::size_t>(o.data_end - o.data_start));
}

std::int32_t indirect_integer(const doc& d, std::int32_t num) {
    const obj* o = find_obj(d, num);
    if (!o || o->has_stream || o->in_objstm || o->hdr_pos < 0 || o->hdr_pos >= d.len) return -1;
    std::int32_t cursor = skip_obj_header(d.input(), o->hdr_pos, d.len);
    return parse_int_at(d.input(), cursor);
}

} // namespace qf
