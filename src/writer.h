// The booklet file writer.
#pragma once

#include <cstdint>

#include "doc.h"
#include "layout.h"
#include "outbuf.h"

namespace qf {

// 1 when the output file has been written and closed; 0 after setting a message.
int booklet_doc(const doc& d, const char* out_path, std::int32_t sheet_size);

// Builds the whole booklet of a plan in `out`; false after setting a message. `out_name` names
// the output in messages.
bool build_booklet(const doc& d, const impose_plan& plan, const char* out_name, buf& out);

// The cross-reference table holds 10-digit offsets read as 32-bit values, so an output file
// must stay below 2^31 bytes.
constexpr std::uint64_t output_len_limit = std::uint64_t{1} << 31;

// True when an output of `len` bytes can be written; otherwise false after setting
// "output file too large (2 GiB or more): <path>".
bool output_size_ok(std::uint64_t len, const char* out_path);

// The write stage: refuses an empty (failed) or too large output before opening anything,
// then writes the file safely (outfile.h). 1, or 0 after setting a message.
// With `with_reason` the system's reason follows "cannot write <path>" after ": ".
int write_output(bytes content, const char* out_path, bool with_reason = false);

} // namespace qf
