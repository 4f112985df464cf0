// How a page's content stream is carried into its form: decoded here, or still encoded.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "doc.h"

namespace qf {

struct streamout {
    const std::uint8_t* data = nullptr; // bytes to write: `decoded` or the caller's input
    std::int32_t len = 0;
    bool owned = false;                // data points into `decoded`
    std::vector<std::uint8_t> decoded; // storage of decoded bytes
    std::string dict_tail;             // " /Filter ..." [" /DecodeParms ..."], or empty
};

// 1: plain bytes (decoded, or as stored when there is no filter); 2: carried encoded with
// dict_tail; -1: cannot be carried. `text` holds the stream's dictionary between dict_start
// (the "<<") and dict_end.
// With `budget_left`, the bytes the stages produce (and the room a stage filled in vain) are
// taken from it; when it runs out the result is content_over_budget.
int content_decode(bytes text, std::int32_t dict_start, std::int32_t dict_end,
                   const std::uint8_t* data, std::int32_t data_len, streamout& out,
                   std::uint64_t* budget_left = nullptr);
constexpr int content_over_budget = -3;

// The stream as stored: 1 for plain bytes (no filter), 2 with dict_tail holding its /Filter and
// /DecodeParms entries, -1 when those entries cannot be copied. Never decodes.
int content_carry(bytes text, std::int32_t dict_start, std::int32_t dict_end,
                  const std::uint8_t* data, std::int32_t data_len, streamout& out,
                  std::uint64_t* budget_left = nullptr);

// The text of the dictionary value that begins at start (after PDF white space), before end.
std::optional<std::string> copy_value_text(bytes text, std::int32_t start, std::int32_t end);

} // namespace qf
