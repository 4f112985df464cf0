#include "error.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace qf {

namespace {
char g_err[1024];
thread_local std::string* t_scoped = nullptr;
} // namespace

error_scope::error_scope(std::string& text) : previous(t_scoped) {
    text.clear();
    t_scoped = &text;
}
error_scope::~error_scope() {
    t_scoped = previous;
}

int bounded_format(char* dst, std::size_t n, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int r = std::vsnprintf(dst, n, fmt, ap);
    va_end(ap);
    return r;
}

std::string format_va(const char* fmt, va_list ap) {
    va_list measure;
    va_copy(measure, ap);
    const int need = std::vsnprintf(nullptr, 0, fmt, measure);
    va_end(measure);
    std::string out;
    if (need > 0) {
        out.resize(static_cast<std::size_t>(need));
        std::vsnprintf(out.data(), out.size() + 1, fmt, ap);
    }
    return out;
}

std::string format(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string out = format_va(fmt, ap);
    va_end(ap);
    return out;
}

void set_error(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    char text[sizeof g_err];
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    if (t_scoped)
        *t_scoped = text;
    else
        std::memcpy(g_err, text, std::strlen(text) + 1);
}

void clear_error() {
    if (t_scoped)
        t_scoped->clear();
    else
        g_err[0] = '\0';
}
bool error_is_set() {
    return t_scoped ? !t_scoped->empty() : g_err[0] != '\0';
}
const char* last_error() {
    return t_scoped ? t_scoped->c_str() : g_err;
}

} // namespace qf
