#include "token.h"

#include <algorithm>
#include <cmath>

#include "lex.h"

namespace qf {

namespace {

std::uint8_t byte_at(bytes d, std::int32_t p) {
    return d[static_cast<std::size_t>(p)];
}

bool is_regular(std::uint8_t c) {
    return !is_pdf_ws(c) && !is_pdf_delimiter(c);
}

// Past the literal string whose "(" is at p, or -1 when the range ends inside it.
std::int32_t past_string(bytes d, std::int32_t p, std::int32_t end) {
    int nesting = 0;
    while (p < end) {
        const std::uint8_t c = byte_at(d, p);
        if (c == '\\') {
            p += 2;
            continue;
        }
        ++p;
        if (c == '(') ++nesting;
        if (c == ')' && --nesting == 0) return p;
    }
    return -1;
}

// Whether the regular bytes [from, to) form a number, and which kind.
token_kind number_kind(bytes d, std::int32_t from, std::int32_t to) {
    std::int32_t p = from;
    if (byte_at(d, p) == '+' || byte_at(d, p) == '-') ++p;
    int digits = 0;
    int points = 0;
    for (; p < to; ++p) {
        const std::uint8_t c = byte_at(d, p);
        if (is_digit(c))
            ++digits;
        else if (c == '.' && points == 0)
            ++points;
        else
            return token_kind::keyword;
    }
    if (digits == 0) return token_kind::keyword;
    return points ? token_kind::real : token_kind::integer;
}

} // namespace

token next_token(bytes d, std::int32_t pos, std::int32_t end) {
    end = std::min(end, static_cast<std::int32_t>(d.size()));
    pos = std::max(pos, 0);
    while (pos < end && is_pdf_ws(byte_at(d, pos))) ++pos;
    if (pos >= end) return {token_kind::end, end, end};
    const std::uint8_t c = byte_at(d, pos);
    auto single = [&](token_kind k) { return token{k, pos, pos + 1}; };
    switch (c) {
    case '[':
        return single(token_kind::array_open);
    case ']':
        return single(token_kind::array_close);
    case '{':
        return single(token_kind::brace_open);
    case '}':
        return single(token_kind::brace_close);
    case ')':
        return single(token_kind::bad);
    case '%': {
        std::int32_t p = pos + 1;
        while (p < end && byte_at(d, p) != '\r' && byte_at(d, p) != '\n') ++p;
        return {token_kind::comment, pos, p};
    }
    case '(': {
        const std::int32_t p = past_string(d, pos, end);
        return p < 0 ? token{token_kind::bad, pos, end} : token{token_kind::string, pos, p};
    }
    case '<': {
        if (pos + 1 < end && byte_at(d, pos + 1) == '<')
            return {token_kind::dict_open, pos, pos + 2};
        std::int32_t p = pos + 1;
        while (p < end && byte_at(d, p) != '>') ++p;
        return p < end ? token{token_kind::hex_string, pos, p + 1}
                       : token{token_kind::bad, pos, end};
    }
    case '>':
        if (pos + 1 < end && byte_at(d, pos + 1) == '>')
            return {token_kind::dict_close, pos, pos + 2};
        return single(token_kind::bad);
    case '/': {
        std::int32_t p = pos + 1;
        while (p < end && is_regular(byte_at(d, p))) ++p;
        return {token_kind::name, pos, p};
    }
    default: {
        std::int32_t p = pos;
        while (p < end && is_regular(byte_at(d, p))) ++p;
        return {number_kind(d, pos, p), pos, p};
    }
    }
}

token next_significant(bytes d, std::int32_t pos, std::int32_t end) {
    token t = next_token(d, pos, end);
    while (t.kind == token_kind::comment) t = next_token(d, t.to, end);
    return t;
}

std::string_view token_text(bytes d, const token& t) {
    return {reinterpret_cast<const char*>(d.data()) + t.from,
            static_cast<std::size_t>(t.to - t.from)};
}

std::string name_of(bytes d, const token& t) {
    std::string out;
    if (t.kind != token_kind::name) return out;
    for (std::int32_t p = t.from + 1; p < t.to; ++p) {
        const std::uint8_t c = byte_at(d, p);
        if (c == '#' && p + 2 < t.to) {
            const int high = hex_digit(byte_at(d, p + 1));
            const int low = hex_digit(byte_at(d, p + 2));
            if (high >= 0 && low >= 0) {
                out.push_back(static_cast<char>(high << 4 | low));
                p += 2;
                continue;
            }
        }
        out.push_back(static_cast<char>(c));
    }
    return out;
}

bool name_is(bytes d, const token& t, std::string_view key) {
    if (t.kind != token_kind::name) return false;
    // Most names carry no escapes: compare in place.
    const std::string_view raw = token_text(d, t).substr(1);
    if (raw.find('#') == std::string_view::npos) return raw == key;
    return name_of(d, t) == key;
}

std::optional<std::string> string_of(bytes d, const token& t) {
    std::string out;
    if (t.kind == token_kind::hex_string) {
        int high = -1;
        for (std::int32_t p = t.from + 1; p < t.to - 1; ++p) {
            const int v = hex_digit(byte_at(d, p));
            if (v < 0) continue; // white space between the digits
            if (high < 0) {
                high = v;
            } else {
                out.push_back(static_cast<char>(high << 4 | v));
                high = -1;
            }
        }
        if (high >= 0) out.push_back(static_cast<char>(high << 4));
        return out;
    }
    if (t.kind != token_kind::string) return std::nullopt;
    const std::int32_t last = t.to - 1; // the closing ")"
    for (std::int32_t p = t.from + 1; p < last; ++p) {
        const std::uint8_t c = byte_at(d, p);
        if (c != '\\') {
            // An end of line in a string is read as a line feed, whatever its bytes.
            if (c == '\r') {
                out.push_back('\n');
                if (p + 1 < last && byte_at(d, p + 1) == '\n') ++p;
            } else {
                out.push_back(static_cast<char>(c));
            }
            continue;
        }
        if (++p >= last) break;
        const std::uint8_t e = byte_at(d, p);
        if (e >= '0' && e <= '7') {
            int value = e - '0';
            for (int k = 0;
                 k < 2 && p + 1 < last && byte_at(d, p + 1) >= '0' && byte_at(d, p + 1) <= '7'; ++k)
                value = value * 8 + (byte_at(d, ++p) - '0');
            out.push_back(static_cast<char>(value & 0xFF));
            continue;
        }
        // \n \r \t \b \f stand for their control bytes; a backslash before a line end
        // continues the line; any other escaped byte, \( \) \\ included, is itself.
        constexpr std::string_view letters = "nrtbf", controls = "\n\r\t\b\f";
        if (const std::size_t k = letters.find(static_cast<char>(e)); k != letters.npos)
            out.push_back(controls[k]);
        else if (e == '\r' && p + 1 < last && byte_at(d, p + 1) == '\n')
            ++p;
        else if (e != '\r' && e != '\n')
            out.push_back(static_cast<char>(e));
    }
    return out;
}

std::optional<std::int32_t> integer_of(bytes d, const token& t) {
    if (t.kind != token_kind::integer) return std::nullopt;
    std::int32_t cursor = t.from;
    return read_int_adv(d, t.to, cursor);
}

std::optional<double> number_of(bytes d, const token& t) {
    if (t.kind != token_kind::integer && t.kind != token_kind::real) return std::nullopt;
    const number_read n = read_number(d, t.from, t.to);
    if (!std::isfinite(n.value)) return std::nullopt;
    return n.value;
}

std::optional<reference> reference_at(bytes d, const token& first, std::int32_t end) {
    const std::optional<std::int32_t> num = integer_of(d, first);
    if (!num || *num <= 0 || token_text(d, first).front() == '+') return std::nullopt;
    const token gen_token = next_significant(d, first.to, end);
    const std::optional<std::int32_t> gen = integer_of(d, gen_token);
    if (!gen || *gen < 0) return std::nullopt;
    const token r = next_significant(d, gen_token.to, end);
    if (r.kind != token_kind::keyword || token_text(d, r) != "R") return std::nullopt;
    return reference{*num, *gen, r.to};
}

std::int32_t object_end(bytes d, const token& first, std::int32_t end) {
    end = std::min(end, static_cast<std::int32_t>(d.size()));
    // A token the range cuts short (an unclosed string) is an object the range ends inside.
    auto failed = [end](const token& t) {
        return t.kind == token_kind::end || t.to >= end ? -1 : -2;
    };
    switch (first.kind) {
    case token_kind::end:
    case token_kind::bad:
        return failed(first);
    case token_kind::array_close:
    case token_kind::dict_close:
    case token_kind::brace_close:
        return -2;
    case token_kind::integer:
        if (auto ref = reference_at(d, first, end)) return ref->end;
        return first.to;
    case token_kind::array_open:
    case token_kind::dict_open:
        break;
    default:
        return first.to;
    }
    // Brackets of both kinds nest; each must be closed by its own kind.
    std::vector<token_kind> open{first.kind};
    std::int32_t p = first.to;
    while (!open.empty()) {
        const token t = next_token(d, p, end);
        if (t.kind == token_kind::end || t.kind == token_kind::bad) return failed(t);
        if (t.kind == token_kind::array_open || t.kind == token_kind::dict_open) {
            open.push_back(t.kind);
        } else if (t.kind == token_kind::array_close || t.kind == token_kind::dict_close) {
            const token_kind want =
                t.kind == token_kind::array_close ? token_kind::array_open : token_kind::dict_open;
            if (open.back() != want) return -2;
            open.pop_back();
        }
        p = t.to;
    }
    return p;
}

std::optional<dict_view> read_dict(bytes d, std::int32_t pos, std::int32_t end) {
    end = std::min(end, static_cast<std::int32_t>(d.size()));
    const token open = next_significant(d, pos, end);
    if (open.kind != token_kind::dict_open) return std::nullopt;
    dict_view v;
    v.text = d;
    v.open = open.from;
    v.end = open.to;
    std::int32_t p = open.to;
    for (;;) {
        const token key = next_significant(d, p, end);
        if (key.kind == token_kind::dict_close) {
            v.end = key.to;
            v.closed = true;
            return v;
        }
        if (key.kind != token_kind::name) return v; // the end of the range, or a broken entry
        const token value = next_significant(d, key.to, end);
        if (value.kind == token_kind::end) return v;
        const std::int32_t value_end = object_end(d, value, end);
        if (value_end == -1) {
            // The range ends inside the value: the key is known, its value runs to the end.
            v.entries.push_back({key, value, end});
            v.end = end;
            return v;
        }
        if (value_end < 0) return v;
        v.entries.push_back({key, value, value_end});
        p = v.end = value_end;
    }
}

const dict_entry* dict_find(const dict_view& v, std::string_view key) {
    for (const dict_entry& e : v.entries)
        if (name_is(v.text, e.key, key)) return &e;
    return nullptr;
}

std::int32_t walked_dict_close(bytes d, std::int32_t open, std::int32_t end) {
    end = std::min(end, static_cast<std::int32_t>(d.size()));
    if (open < 0) return -1;
    int depth = 0;
    for (std::int32_t p = open; p < end;) {
        switch (dictionary_walk_at(d, p, end)) {
        case walk_byte::cut:
            return -1;
        case walk_byte::open:
            ++depth;
            p += 2;
            break;
        case walk_byte::close:
            if (--depth == 0) return p;
            p += 2;
            break;
        case walk_byte::string:
            p = past_string(d, p, end);
            // A string that closes on the range's last byte leaves nothing to close the
            // dictionary with.
            if (p < 0 || p >= end) return -1;
            break;
        case walk_byte::other:
            ++p;
            break;
        }
    }
    return -1;
}

number_read read_number(bytes d, std::int32_t pos, std::int32_t end) {
    std::int32_t i = pos;
    bool negative = false;
    if (byte_at(d, i) == '+' || byte_at(d, i) == '-') {
        negative = byte_at(d, i) == '-';
        ++i;
    }
    if (i >= end || !(is_digit(byte_at(d, i)) || byte_at(d, i) == '.')) return {0, pos + 1, false};
    double value = 0;
    double place = 0.1;
    bool after_point = false;
    for (; i < end; ++i) {
        const std::uint8_t c = byte_at(d, i);
        if (is_digit(c)) {
            if (after_point) {
                value += (c - '0') * place;
                place *= 0.1;
            } else {
                value = value * 10 + (c - '0');
            }
        } else if (c == '.' && !after_point) {
            after_point = true;
        } else {
            break;
        }
    }
    return {negative ? -value : value, i, true};
}

bool match_ref(bytes text, std::size_t pos, std::int32_t& num, std::size_t& end) {
    if (pos >= text.size() || !is_digit(text[pos])) return false;
    const auto size = static_cast<std::int32_t>(text.size());
    auto p = static_cast<std::int32_t>(pos);
    const std::int32_t value = parse_int_at(text, p);
    p = skip_ws(text, p, size);
    if (p < size && is_digit(text[static_cast<std::size_t>(p)])) {
        parse_int_at(text, p); // the generation, whatever its length or value
        p = skip_ws(text, p, size);
    }
    if (p >= size || text[static_cast<std::size_t>(p)] != 'R') return false;
    // "R" must end a word: /Rotate, /RGB and "RG" never complete a reference.
    if (p + 1 < size && is_alnum(text[static_cast<std::size_t>(p) + 1])) return false;
    num = value;
    end = static_cast<std::size_t>(p) + 1;
    return true;
}

std::vector<std::int32_t> reference_list(bytes d, std::int32_t pos, std::int32_t end,
                                         std::size_t max_count, bool* inline_dict) {
    if (inline_dict) *inline_dict = false;
    std::vector<std::int32_t> numbers;
    end = std::min(end, static_cast<std::int32_t>(d.size()));
    pos = skip_ws(d, pos, end);
    while (pos >= 0 && pos < end && byte_at(d, pos) != ']') {
        if (byte_at(d, pos) == '<' && pos + 1 < end && byte_at(d, pos + 1) == '<') {
            if (inline_dict) *inline_dict = true;
            break;
        }
        if (!is_digit(byte_at(d, pos))) {
            ++pos;
            continue;
        }
        const std::int32_t num = parse_int_at(d, pos);
        if (num > 0 && numbers.size() < max_count) numbers.push_back(num);
        pos = skip_ws(d, pos, end);
        if (pos < end && is_digit(byte_at(d, pos))) parse_int_at(d, pos);
        pos = skip_ws(d, pos, end);
        if (pos < end && byte_at(d, pos) == 'R') ++pos;
        pos = skip_ws(d, pos, end);
    }
    return numbers;
}

} // namespace qf
