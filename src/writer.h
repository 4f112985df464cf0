// The booklet file writer.
#pragma once

#include <cstdint>

#include "doc.h"

namespace qf {

// 1 when the output file has been written and closed; 0 after setting a message.
int booklet_doc(const doc& d, const char* out_path, std::int32_t sheet_size);

} // namespace qf
