// Growable output byte buffer and the rule by which real numbers are written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qf {

// Fresh (no storage), live, or failed (an allocation failed: no storage, stays failed).
// While live, data[len] is NUL. First storage is 1 MiB; growth doubles.
struct buf {
    std::uint8_t* data = nullptr;
    std::uint64_t len = 0;
    std::uint64_t cap = 0;
    bool failed = false;

    buf() = default;
    buf(const buf&) = delete;
    buf& operator=(const buf&) = delete;
    buf(buf&& o) noexcept;
    buf& operator=(buf&& o) noexcept;
    ~buf();
};

constexpr std::uint64_t buf_first_cap = 1048576;

// Appends n bytes; returns the storage, or null when the buffer is (or becomes) failed.
std::uint8_t* buf_bytes(buf& b, const void* p, std::size_t n);
inline std::uint8_t* buf_text(buf& b, std::string_view s) {
    return buf_bytes(b, s.data(), s.size());
}
// Appends printf-formatted text.
void buf_format(buf& b, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// Gives a fresh buffer its first storage; false when that fails.
bool buf_reserve_first(buf& b);
// Releases the storage. A live buffer becomes fresh again; a failed one stays failed.
void buf_release(buf& b);
// Hands the storage over (caller frees with std::free); the buffer becomes fresh.
std::uint8_t* buf_take(buf& b);

// Whole numbers as integers, others with exactly four decimals ("%.4f").
void num_text(double v, char out[64]);
std::string num_str(double v);

} // namespace qf
