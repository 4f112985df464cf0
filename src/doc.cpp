#include "doc.h"

#include <algorithm>
#include <new>

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
    dict_range r;
    if (o.in_objstm) {
        if (!o.text) return r;
        r.buf = bytes(o.text, static_cast<std::size_t>(o.text_len));
        r.from = 0;
        r.to = o.text_len;
        r.ok = true;
        return r;
    }
    if (o.dict_start < 0 || o.dict_start > d.len) return r;
    r.buf = d.input();
    r.from = o.dict_start;
    r.to = o.stream_pos > 0 ? o.stream_pos : o.endobj_pos > 0 ? o.endobj_pos : d.len;
    if (r.to > d.len) r.to = d.len;
    if (r.to < r.from) r.to = r.from;
    r.ok = true;
    return r;
}

} // namespace qf
