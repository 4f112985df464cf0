#include "error.h"

#include <cstdarg>
#include <cstdio>

namespace qf {

namespace {
char g_err[1024];
}

int bounded_format(char* dst, std::size_t n, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int r = std::vsnprintf(dst, n, fmt, ap);
    va_end(ap);
    return r;
}

std::string format(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list ap2;
    va_copy(ap2, ap);
    int need = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string out;
    if (need > 0) {
        out.resize(static_cast<std::size_t>(need));
        std::vsnprintf(out.data(), out.size() + 1, fmt, ap2);
    }
    va_end(ap2);
    return out;
}

void set_error(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(g_err, sizeof g_err, fmt, ap);
    va_end(ap);
}

void clear_error() {
    g_err[0] = '\0';
}
bool error_is_set() {
    return g_err[0] != '\0';
}
const char* last_error() {
    return g_err;
}

} // namespace qf
