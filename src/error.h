// Last-error text and the library's one printf-style formatter.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace qf {

// The whole formatted text, never cut.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The library's one printf-style formatter: the text goes into `scratch` when it fits (the
// common case, without allocating), else into `spill`; the view shows it where it went.
std::string_view format_va(std::span<char> scratch, std::string& spill, const char* fmt, va_list ap)
    __attribute__((format(printf, 3, 0)));

// While alive, the messages of this thread go to `text` instead of the process-wide last-error
// text, so that calls of the imposition interface keep their messages to themselves.
struct error_scope {
    explicit error_scope(std::string& text);
    ~error_scope();
    error_scope(const error_scope&) = delete;
    error_scope& operator=(const error_scope&) = delete;

  private:
    std::string* previous;
};

// Replaces the last-error text (cut silently at 1023 bytes).
void set_error(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void clear_error();
bool error_is_set();
const char* last_error();

} // namespace qf
