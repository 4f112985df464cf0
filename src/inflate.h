// zlib-wrapped DEFLATE decoding into a caller's buffer, and PNG predictor reversal.
#pragma once

#include <cstdint>
#include <vector>

namespace qf {

// Decodes a zlib stream (RFC 1950 header, RFC 1951 blocks) into out, never past out_cap
// bytes; out_cap above 2^30 is refused. The Adler-32 trailer and anything after the final
// block are ignored. No allocation, no shared mutable state: safe from several threads.
// 0: decoded (or stopped at malformed data) with *out_len bytes written.
// inflate_output_full (-2): out_cap bytes were not enough; *out_len is 0.
// -1: header rejected, input truncated or a null pointer; *out_len is 0.
// Bytes of `out` past *out_len (and, on failure, all of it) may have been written.
constexpr int inflate_output_full = -2;
int inflate_decompress(const std::uint8_t* in, std::uint64_t in_len, std::uint8_t* out,
                       std::uint64_t out_cap, std::uint64_t* out_len);

// Decodes a zlib stream whose decoded size is not known: into a buffer of `first_cap` bytes
// that grows fourfold (never past `max_cap`, which it reaches last) while the output does not
// fit. Only one buffer is alive at a time. 0 with `out` holding the bytes (also for malformed
// data, the bytes before the fault); inflate_output_full when even max_cap bytes are too few;
// -1 when the inflater rejects the data (truncated, bad header), which no room mends.
int inflate_growing(const std::uint8_t* in, std::uint64_t in_len, std::uint64_t first_cap,
                    std::uint64_t max_cap, std::vector<std::uint8_t>& out);

// Undoes PNG row filters in place (one byte per sample). 0 on success, -1 for columns <= 0 or
// a row tag above 4.
int inflate_png_unfilter(std::uint8_t* buf, std::uint64_t len, int columns);

} // namespace qf
