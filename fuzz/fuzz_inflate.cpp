// Decodes the input as a zlib stream into buffers of several exact capacities (so that a
// write one past the end is caught), then reverses PNG row filters over the decoded bytes and
// over the raw input with a column count taken from the input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "inflate.h"

namespace {

void decode_into(const std::uint8_t* data, std::size_t size, std::uint64_t cap) {
    // An exact-size heap block, never a larger one, so ASan sees every overrun.
    std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[cap ? cap : 1]);
    std::uint64_t out_len = 12345;
    const int rc = qf::inflate_decompress(data, size, cap ? out.get() : nullptr, cap, &out_len);
    if (out_len > cap || (rc != 0 && out_len != 0)) __builtin_trap();
    if (rc == 0 && out_len > 0) {
        const int columns = static_cast<int>(out_len % 17);
        qf::inflate_png_unfilter(out.get(), out_len, columns);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    decode_into(data, size, 0);
    decode_into(data, size, 1);
    decode_into(data, size, 300);
    decode_into(data, size, 70000);

    if (size >= 2) {
        const int columns = static_cast<int>(data[0] | (data[1] << 8)) - 2;
        const std::size_t len = size - 2;
        std::unique_ptr<std::uint8_t[]> buf(new std::uint8_t[len ? len : 1]);
        if (len) std::memcpy(buf.get(), data + 2, len);
        qf::inflate_png_unfilter(buf.get(), len, columns);
    }
    return 0;
}
