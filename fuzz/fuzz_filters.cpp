// Runs the content stream filters on a stream dictionary and its data, both taken from the
// input: the dictionary is everything before the first "stream" keyword, the data everything
// after it (past one end-of-line). Without the keyword the whole input is the dictionary and
// the data is one byte, so the filter lookup still runs.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "filters.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (std::size_t{1} << 24)) return 0;
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::size_t kw = all.find("stream");
    const std::size_t dict_len = kw == std::string_view::npos ? size : kw;
    std::size_t data_pos = kw == std::string_view::npos ? size : kw + 6;
    if (data_pos < size && data[data_pos] == '\r') ++data_pos;
    if (data_pos < size && data[data_pos] == '\n') ++data_pos;

    // Separate exact-size copies, as the dictionary and the data are separate ranges to the
    // filters; ASan then catches a read past either one.
    std::vector<std::uint8_t> text(data, data + dict_len);
    std::vector<std::uint8_t> body(data + data_pos, data + size);
    if (body.empty()) body.push_back('x');
    body.shrink_to_fit();
    text.shrink_to_fit();

    try {
        qf::streamout out;
        const int rc = qf::content_decode(qf::bytes(text.data(), text.size()), 0,
                                          static_cast<std::int32_t>(text.size()), body.data(),
                                          static_cast<std::int32_t>(body.size()), out);
        if (rc == 1 || rc == 2) {
            // Touch every byte handed back, so a dangling or short result is caught.
            volatile std::uint8_t sink = 0;
            for (std::int32_t i = 0; i < out.len; ++i) sink = sink ^ out.data[i];
            (void)sink;
        }
    } catch (const std::bad_alloc&) {
    }
    return 0;
}
