// Placeholder; replaced by the real implementation.
#include "writer.h"
#include "error.h"
namespace qf {
int booklet_doc(const doc&, const char*, std::int32_t) {
    set_error("failed to build output");
    return 0;
}
} // namespace qf
