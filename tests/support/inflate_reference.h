// The reference (bit-serial) DEFLATE decoder, for comparing the library's decoder with.
#pragma once

#include <cstdint>

namespace qft {

// As qf::inflate_decompress, except that a full output is -1 like any other failure.
int reference_inflate(const std::uint8_t* in, std::uint64_t in_len, std::uint8_t* out,
                      std::uint64_t out_cap, std::uint64_t* out_len);

} // namespace qft
