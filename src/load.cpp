// Placeholder; replaced by the real implementation.
#include "load.h"
#include "error.h"
namespace qf {
int doc_load(const char* path, doc& d) {
    doc_free(d);
    if (!path) { set_error("NULL path argument"); return -1; }
    set_error("cannot open %s", path);
    return -1;
}
} // namespace qf
namespace qf {
int doc_load_bytes(std::vector<std::uint8_t>, const char*, doc& d) {
    doc_free(d);
    set_error("no PDF objects found");
    return -1;
}
} // namespace qf
