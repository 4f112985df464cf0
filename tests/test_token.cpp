// The tokenizer, the dictionary view over it and the byte rules the classic readers keep.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "testutil.h"
#include "token.h"

namespace {

using namespace std::string_literals;
using qf::token_kind;
using tk = token_kind;

// Each text gets a heap block of exactly its size, so a read past its end is caught by the
// address sanitizer.
std::vector<std::uint8_t> exact(std::string_view s) {
    return qft::to_vec(s);
}

qf::bytes view_of(const std::vector<std::uint8_t>& v) {
    return {v.data(), v.size()};
}

std::int32_t size_of(const std::vector<std::uint8_t>& v) {
    return static_cast<std::int32_t>(v.size());
}

// Every token of the text, comments included, each as a letter for its kind and its text,
// separated by "|": N name, I integer, F real, S string, H hex string, C comment, K keyword,
// B bad, and the brackets as themselves.
std::string tokens_of(std::string_view text) {
    const auto v = exact(text);
    std::string out;
    for (qf::token t = qf::next_token(view_of(v), 0, size_of(v)); t.kind != tk::end;
         t = qf::next_token(view_of(v), t.to, size_of(v))) {
        const std::string_view body = qf::token_text(view_of(v), t);
        if (!out.empty()) out += '|';
        // Letters in the order of token_kind, up to the brackets.
        constexpr std::string_view letters = "?BCNIFSHK";
        const auto k = static_cast<std::size_t>(t.kind);
        if (k < letters.size()) out += letters[k];
        out += body;
    }
    return out;
}

TEST(Tokenizer, EveryKindOfToken) {
    struct token_case {
        const char* what;
        std::string text;
        std::string want;
    };
    const token_case cases[] = {
        {"names end at white space and delimiters", "/Type/Page /A#20B /",
         "N/Type|N/Page|N/A#20B|N/"},
        {"integers and reals", "12 -3 +4 0.5 -.25 7. 1.2.3", "I12|I-3|I+4|F0.5|F-.25|F7.|K1.2.3"},
        {"a sign or point alone is no number", "- . +x", "K-|K.|K+x"},
        {"keywords", "true null R obj endobj", "Ktrue|Knull|KR|Kobj|Kendobj"},
        {"literal strings nest and escape", "(a(b)c) (\\)) (x\\\\)", "S(a(b)c)|S(\\))|S(x\\\\)"},
        {"delimiters inside a string are its text", "(>> /Key %) 1", "S(>> /Key %)|I1"},
        {"hex strings", "<48 65> <>", "H<48 65>|H<>"},
        {"brackets", "[<<>>]{}", "[|<<|>>|]|{|}"},
        {"comments run to the line end", "% a >> (\r/A %b\n1", "C% a >> (|N/A|C%b|I1"},
        {"every PDF white space separates", "1\0002\t3\n4\f5\r6 7"s, "I1|I2|I3|I4|I5|I6|I7"},
        {"a reference is three tokens", "5 0 R", "I5|I0|KR"},
        {"lone closers are bad", "> )", "B>|B)"},
        {"unclosed string runs to the end", "1 (a(b)", "I1|B(a(b)"},
        {"unclosed hex string runs to the end", "<4142", "B<4142"},
        {"escape as the last byte", "(a\\", "B(a\\"},
        {"comment without a line end", "%%EOF", "C%%EOF"},
        {"empty", "", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(tokens_of(c.text), c.want) << c.what;
}

TEST(Tokenizer, StaysInsideItsRange) {
    // "<< /A (xy) >>" cut after each byte: no token reaches past the cut, each one advances.
    const std::string text = "<< /A (xy) /B <41> /C [1 2.5] % c\n/D 3 0 R >>";
    const auto v = exact(text);
    for (std::int32_t end = 0; end <= size_of(v); ++end) {
        std::int32_t pos = 0;
        for (qf::token t = qf::next_token(view_of(v), pos, end); t.kind != tk::end;
             t = qf::next_token(view_of(v), pos, end)) {
            ASSERT_LE(t.to, end) << end;
            ASSERT_GT(t.to, t.from) << end;
            ASSERT_GE(t.from, pos) << end;
            pos = t.to;
        }
    }
    // An end past the buffer is cut to it; a start past the end gives the end token.
    EXPECT_EQ(qf::next_token(view_of(v), 0, 1 << 20).kind, tk::dict_open);
    EXPECT_EQ(qf::next_token(view_of(v), 100, size_of(v)).kind, tk::end);
    EXPECT_EQ(qf::next_token(view_of(v), -5, size_of(v)).kind, tk::dict_open);
}

TEST(Tokenizer, ValuesOfTokens) {
    const auto v = exact("/A#20B#2 -12 +7 4294967301 2.5 -.5 12 0 R 5 R 0 0 R /N");
    const qf::bytes d = view_of(v);
    const std::int32_t end = size_of(v);
    std::vector<qf::token> t;
    for (qf::token k = qf::next_token(d, 0, end); k.kind != tk::end;
         k = qf::next_token(d, k.to, end))
        t.push_back(k);
    ASSERT_EQ(t.size(), 15u);
    EXPECT_EQ(qf::name_of(d, t[0]), "A B#2"); // an incomplete escape stays as written
    EXPECT_TRUE(qf::name_is(d, t[0], "A B#2"));
    EXPECT_FALSE(qf::name_is(d, t[0], "A#20B#2"));
    EXPECT_EQ(qf::integer_of(d, t[1]), -12);
    EXPECT_EQ(qf::integer_of(d, t[2]), 7);
    EXPECT_EQ(qf::integer_of(d, t[3]), 5); // wraps in 32 bits, as every number read
    EXPECT_EQ(qf::integer_of(d, t[4]), std::nullopt);
    EXPECT_EQ(qf::number_of(d, t[4]), 2.5);
    EXPECT_EQ(qf::number_of(d, t[5]), -0.5);
    EXPECT_EQ(qf::number_of(d, t[0]), std::nullopt);

    const auto ref = qf::reference_at(d, t[6], end);
    ASSERT_TRUE(ref.has_value());
    EXPECT_EQ(ref->num, 12);
    EXPECT_EQ(ref->gen, 0);
    EXPECT_EQ(ref->end, t[8].to);
    EXPECT_FALSE(qf::reference_at(d, t[9], end));  // no generation
    EXPECT_FALSE(qf::reference_at(d, t[11], end)); // object 0 is never referenced
    EXPECT_FALSE(qf::reference_at(d, t[14], end));
}

TEST(Tokenizer, StringValues) {
    struct string_case {
        std::string text;
        std::optional<std::string> want;
    };
    const string_case cases[] = {
        {"(plain)", "plain"},
        {"(a\\(b\\)c)", "a(b)c"},
        {"(n(es)ted)", "n(es)ted"},
        {"(\\n\\r\\t\\b\\f\\\\)", "\n\r\t\b\f\\"},
        {"(\\101\\7\\0617)", "A\x07"
                             "17"},
        {"(\\q)", "q"},             // an unknown escape is the byte itself
        {"(one\\\ntwo)", "onetwo"}, // a line continued
        {"(one\\\r\ntwo)", "onetwo"},
        {"(a\r\nb\rc)", "a\nb\nc"}, // every end of line reads as a line feed
        {"<48 65 6C6c 6F>", "Hello"},
        {"<414>", "A@"}, // an odd last digit is followed by 0
        {"<>", ""},
        {"/Name", std::nullopt},
        {"12", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto v = exact(c.text);
        const qf::token t = qf::next_token(view_of(v), 0, size_of(v));
        EXPECT_EQ(qf::string_of(view_of(v), t), c.want) << c.text;
    }
}

TEST(Tokenizer, ObjectEnd) {
    struct end_case {
        const char* text;
        std::int32_t want;
    };
    const end_case cases[] = {
        {"<< /A [1 (]) <<>>] >> x", 21},
        {"[1 [2 [3]] % ]\n] x", 16},
        {"12 0 R x", 6},
        {"12 0 % gen\nR x", 12},
        {"12 0 obj", 2}, // a number, not a reference
        {"(a) x", 3},
        {"<< /A ]", -2}, // closed by the other kind of bracket
        {"[1 ) 2]", -2},
        {"]", -2},
        {"[1 2", -1},
        {"[1 (2]", -1},
        {">> x", -2},
        {"", -1},
    };
    for (const auto& c : cases) {
        const auto v = exact(c.text);
        const qf::token first = qf::next_token(view_of(v), 0, size_of(v));
        EXPECT_EQ(qf::object_end(view_of(v), first, size_of(v)), c.want) << c.text;
    }
}

// Keys of a dictionary with the text of their values.
std::vector<std::pair<std::string, std::string>> entries_of(const qf::dict_view& view) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const qf::dict_entry& e : view.entries) {
        const std::string_view all(reinterpret_cast<const char*>(view.text.data()),
                                   view.text.size());
        out.emplace_back(
            qf::name_of(view.text, e.key),
            std::string(all.substr(static_cast<std::size_t>(e.value.from),
                                   static_cast<std::size_t>(e.value_end - e.value.from))));
    }
    return out;
}

struct dict_case {
    const char* what;
    std::string text;
    bool closed;
    std::vector<std::pair<std::string, std::string>> want;
};

TEST(DictView, ReadsKeysAndWholeValues) {
    const dict_case cases[] = {
        {"plain values",
         "<< /Type /Annot /N 3 /R 1.5 /B true >>",
         true,
         {{"Type", "/Annot"}, {"N", "3"}, {"R", "1.5"}, {"B", "true"}}},
        {"nested values stay whole",
         "<< /AP << /N 12 0 R >> /Rect [0 0 (]) 1] /X 1 >>",
         true,
         {{"AP", "<< /N 12 0 R >>"}, {"Rect", "[0 0 (]) 1]"}, {"X", "1"}}},
        {"references are one value", "<</P 4 0 R/Q 5>>", true, {{"P", "4 0 R"}, {"Q", "5"}}},
        {"strings and comments hide keys",
         "<< /T (/V 1 >>) % /V 2 >>\n/V 3 >>",
         true,
         {{"T", "(/V 1 >>)"}, {"V", "3"}}},
        {"hex string value", "<< /ID <a1b2> >>", true, {{"ID", "<a1b2>"}}},
        {"escaped key", "<< /Sub#74ype /Widget >>", true, {{"Subtype", "/Widget"}}},
        {"no white space at all", "<</A/B/C[1]>>", true, {{"A", "/B"}, {"C", "[1]"}}},
        {"leading comment and white space", " % x\n<< /A 1 >>", true, {{"A", "1"}}},
        {"range ends inside a value", "<< /A 1 /B [1 2", false, {{"A", "1"}, {"B", "[1 2"}}},
        {"range ends after a key", "<< /A 1 /B", false, {{"A", "1"}}},
        {"a value that is no object stops reading", "<< /A 1 /B ) /C 2 >>", false, {{"A", "1"}}},
        {"a key that is no name stops reading", "<< /A 1 2 /C 3 >>", false, {{"A", "1"}}},
        {"empty", "<<>>", true, {}},
    };
    for (const auto& c : cases) {
        const auto v = exact(c.text);
        const auto view = qf::read_dict(view_of(v), 0, size_of(v));
        ASSERT_TRUE(view.has_value()) << c.what;
        EXPECT_EQ(view->closed, c.closed) << c.what;
        EXPECT_EQ(entries_of(*view), c.want) << c.what;
    }
    for (const char* not_a_dict : {"[1 2]", "/A", "", "< <", "(<<)"}) {
        const auto v = exact(not_a_dict);
        EXPECT_FALSE(qf::read_dict(view_of(v), 0, size_of(v)).has_value()) << not_a_dict;
    }
}

TEST(DictView, FindsTheFirstEntryOfAKey) {
    const auto v = exact("<< /F 4 /F 8 /Fx 1 >>");
    const auto view = qf::read_dict(view_of(v), 0, size_of(v));
    ASSERT_TRUE(view.has_value());
    const qf::dict_entry* f = qf::dict_find(*view, "F");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(qf::integer_of(view->text, f->value), 4);
    EXPECT_EQ(qf::dict_find(*view, "G"), nullptr);
    EXPECT_EQ(view->end, size_of(v));
}

TEST(DictView, EveryDamagedInputIsReadInsideItsRange) {
    // Each byte of a dictionary replaced by each delimiter, and the text cut after each byte:
    // every entry lies inside the range and reading never runs past it.
    const std::string base = "<< /A (x) /B <41> /C [1 << /D 2 0 R >>] % c\n/E 3 >>";
    const std::string bytes_to_try = "()<>[]{}/%\\\n";
    for (std::size_t at = 0; at < base.size(); ++at) {
        for (char b : bytes_to_try) {
            std::string text = base;
            text[at] = b;
            for (std::size_t cut : {text.size(), at + 1}) {
                const auto v = exact(std::string_view(text).substr(0, cut));
                const auto view = qf::read_dict(view_of(v), 0, size_of(v));
                if (!view) continue;
                ASSERT_LE(view->end, size_of(v)) << text;
                for (const qf::dict_entry& e : view->entries) {
                    ASSERT_LE(e.value.to, e.value_end) << text;
                    ASSERT_LE(e.value_end, size_of(v)) << text;
                }
            }
        }
    }
}

TEST(ClassicRules, WalkedCloseDiffersFromTheTokenizerOnComments) {
    // The object table has always been found with comments and hex strings unrecognised; the
    // tokenizer recognises both.
    struct close_case {
        const char* text;
        std::int32_t walked;
        std::int32_t tokens; // object_end - 2
    };
    const close_case cases[] = {
        {"<< /A 1 >>", 8, 8},        {"<< /A (>>) >>", 11, 11}, {"<< % >>\n>>", 5, 8},
        {"<< /A <3E3E> >>", 13, 13}, {"<< /A (x) >>", 10, 10},  {"<< /A (x)", -1, -3},
        {"<< /A >", -1, -3},
    };
    for (const auto& c : cases) {
        const auto v = exact(c.text);
        EXPECT_EQ(qf::walked_dict_close(view_of(v), 0, size_of(v)), c.walked) << c.text;
        const qf::token first = qf::next_token(view_of(v), 0, size_of(v));
        EXPECT_EQ(qf::object_end(view_of(v), first, size_of(v)) - 2, c.tokens) << c.text;
    }
}

TEST(ClassicRules, ReferenceList) {
    struct list_case {
        const char* text;
        std::vector<std::int32_t> want;
        bool inline_dict;
    };
    const list_case cases[] = {
        {"3 0 R 4 0 R]", {3, 4}, false},
        {"3 0R\r\n4 0 R]", {3, 4}, false},
        {"3 4 5]", {3, 5}, false}, // no R needed: the number after a number is its generation
        {"<ab> 3 0 R x]", {3}, false},
        {"0 0 R 4 0 R]", {4}, false},
        {"3 0 R << /Type /Page >> 4 0 R]", {3}, true},
        {"3 0 R", {3}, false},
        {"] 3 0 R", {}, false},
    };
    for (const auto& c : cases) {
        const auto v = exact(c.text);
        bool inline_dict = false;
        EXPECT_EQ(qf::reference_list(view_of(v), 0, size_of(v), 100, &inline_dict), c.want)
            << c.text;
        EXPECT_EQ(inline_dict, c.inline_dict) << c.text;
    }
    const auto v = exact("1 0 R 2 0 R 3 0 R]");
    EXPECT_EQ(qf::reference_list(view_of(v), 0, size_of(v), 2), (std::vector<std::int32_t>{1, 2}));
}

} // namespace
