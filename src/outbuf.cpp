#include "outbuf.h"

#include "error.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace qf {

buf::buf(buf&& o) noexcept
    : data(std::exchange(o.data, nullptr)), len(std::exchange(o.len, 0)),
      cap(std::exchange(o.cap, 0)), failed(std::exchange(o.failed, false)) {}

buf& buf::operator=(buf&& o) noexcept {
    if (this != &o) {
        std::free(data);
        data = std::exchange(o.data, nullptr);
        len = std::exchange(o.len, 0);
        cap = std::exchange(o.cap, 0);
        failed = std::exchange(o.failed, false);
    }
    return *this;
}

buf::~buf() {
    std::free(data);
}

static void buf_fail(buf& b) {
    std::free(b.data);
    b.data = nullptr;
    b.len = 0;
    b.cap = 0;
    b.failed = true;
}

bool buf_reserve_first(buf& b) {
    if (b.failed) return false;
    if (b.data) return true;
    b.data = static_cast<std::uint8_t*>(std::malloc(buf_first_cap));
    if (!b.data) {
        buf_fail(b);
        return false;
    }
    b.cap = buf_first_cap;
    b.len = 0;
    b.data[0] = 0;
    return true;
}

std::uint8_t* buf_bytes(buf& b, const void* p, std::size_t n) {
    if (b.failed) return nullptr;
    if (!b.data && !buf_reserve_first(b)) return nullptr;
    if (n > UINT64_MAX / 4 - b.len) {
        buf_fail(b);
        return nullptr;
    }
    std::uint64_t need = b.len + n + 1;
    if (need > b.cap) {
        std::uint64_t cap = b.cap;
        while (cap < need) cap *= 2;
        if (cap > SIZE_MAX) {
            buf_fail(b);
            return nullptr;
        }
        auto* grown =
            static_cast<std::uint8_t*>(std::realloc(b.data, static_cast<std::size_t>(cap)));
        if (!grown) {
            buf_fail(b);
            return nullptr;
        }
        b.data = grown;
        b.cap = cap;
    }
    if (n) std::memcpy(b.data + b.len, p, n);
    b.len += n;
    b.data[b.len] = 0;
    return b.data;
}

void buf_format(buf& b, const char* fmt, ...) {
    char scratch[512];
    std::string spill;
    va_list ap;
    va_start(ap, fmt);
    const std::string_view text = format_va(scratch, spill, fmt, ap);
    va_end(ap);
    if (!text.empty()) buf_bytes(b, text.data(), text.size());
}

void buf_release(buf& b) {
    // A failed buffer stays failed: it must not take text again after losing some.
    std::free(b.data);
    b.data = nullptr;
    b.len = 0;
    b.cap = 0;
}

std::uint8_t* buf_take(buf& b) {
    std::uint8_t* p = b.data;
    b.data = nullptr;
    b.len = 0;
    b.cap = 0;
    return p;
}

void num_text(double v, char out[64]) {
    // Whole numbers within the 32-bit range are written as integers, negative zero as 0.
    if (v >= -2147483648.0 && v <= 2147483647.0) {
        auto t = static_cast<std::int32_t>(v);
        if (static_cast<double>(t) == v) {
            std::snprintf(out, 64, "%ld", static_cast<long>(t));
            return;
        }
    }
    std::snprintf(out, 64, "%.4f", v);
}

std::string num_str(double v) {
    char t[64];
    num_text(v, t);
    return t;
}

} // namespace qf
