// Last-error text and the library's one bounded formatter.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace qf {

// Formats into dst (at most n bytes including the NUL, always terminated when n > 0) and
// returns the length the whole text would have had. "%ld" takes a long: pass 32-bit values
// cast to long.
int bounded_format(char* dst, std::size_t n, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

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
