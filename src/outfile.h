// Writing the output file so that a failure never leaves a damaged file behind.
#pragma once

#include <cstdint>

#include "doc.h"

namespace qf {

// Writes `content` to `path`. A regular file (or a new one) is written to a temporary file in
// the same folder, flushed to disk and renamed over it, so that on any failure the old file
// stays as it was and no temporary file remains; an existing file keeps its permissions and a
// symbolic link is written through to its target. Anything else (a device, a pipe) is written
// in place. 1, or 0 after setting "cannot write <path>", "short write to <path>" or
// "close error on <path>"; with `with_reason` the system's reason follows the first after ": ".
int write_file_safely(bytes content, const char* path, bool with_reason);

} // namespace qf
