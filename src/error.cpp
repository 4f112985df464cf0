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

std::string_view format_va(std::span<char> scratch, std::string& spill, const char* fmt,
                           va_list ap) {
    va_list again;
    va_copy(again, ap);
    const int need = std::vsnprintf(scratch.data(), scratch.size(), fmt, ap);
    std::string_view text;
    if (need > 0 && static_cast<std::size_t>(need) < scratch.size()) {
        text = {scratch.data(), static_cast<std::size_t>(need)};
    } else if (need > 0) {
        spill.resize(static_cast<std::size_t>(need));
        std::vsnprintf(spill.data(), spill.size() + 1, fmt, again);
        text = spill;
    }
    va_end(again);
    return text;
}

std::string format(const char* fmt, ...) {
    char scratch[256];
    std::string spill;
    va_list ap;
    va_start(ap, fmt);
    const std::string_view text = format_va(scratch, spill, fmt, ap);
    va_end(ap);
    return std::string(text);
}

void set_error(const char* fmt, ...) {
    char scratch[sizeof g_err];
    std::string spill;
    va_list ap;
    va_start(ap, fmt);
    std::string_view text = format_va(scratch, spill, fmt, ap);
    va_end(ap);
    text = text.substr(0, sizeof g_err - 1); // cut silently, as documented
    if (t_scoped) {
        *t_scoped = text;
    } else {
        std::memcpy(g_err, text.data(), text.size());
        g_err[text.size()] = '\0';
    }
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
