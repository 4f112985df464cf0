// Byte-level primitives: keywords, keys, integers, stream keywords, /Length and /Type.
#include <gtest/gtest.h>

#include <random>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "lex.h"
#include "testutil.h"

using qft::bv;

namespace {

// Each text gets a heap block of exactly its size, so a read past its end is caught by the
// address sanitizer.
std::vector<std::uint8_t> exact(std::string_view s) {
    return qft::to_vec(s);
}

} // namespace

TEST(Lex, ByteClasses) {
    for (int c = 0; c < 256; ++c) {
        const auto b = static_cast<std::uint8_t>(c);
        const bool pdf_ws = c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32;
        const bool std_ws = (c >= 9 && c <= 13) || c == 32;
        const bool alnum =
            (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        EXPECT_EQ(qf::is_pdf_ws(b), pdf_ws) << c;
        EXPECT_EQ(qf::is_std_ws(b), std_ws) << c;
        EXPECT_EQ(qf::is_alnum(b), alnum) << c;
    }
}

TEST(Lex, SkipWs) {
    struct Case {
        std::string_view text;
        std::int32_t pos, end, want;
    };
    const Case cases[] = {
        {std::string_view(" \t\r\n\f\0x", 7), 0, 7, 6}, // NUL is PDF white space
        {"\vx", 0, 2, 0},                               // VT is not
        {"\x01x", 0, 2, 0},                             // nor are control bytes
        {"   ", 0, 3, 3},                               // all white: end
        {"  x", 0, 1, 1},                               // end before the text's end
        {"ab", 2, 2, 2},                                // at end: the position itself
        {"ab", 5, 2, 5},                                // beyond end: the position itself
        {"a  b", 1, 4, 3},
    };
    for (const auto& c : cases) {
        auto v = exact(c.text);
        EXPECT_EQ(qf::skip_ws(v, c.pos, c.end), c.want) << c.text << " from " << c.pos;
    }
    // An end past the buffer: the skip runs out of bytes and reports end.
    auto v = exact("  ");
    EXPECT_EQ(qf::skip_ws(v, 0, 10), 10);
}

TEST(Lex, FindKw) {
    struct Case {
        std::string_view text, kw;
        std::int32_t from, want;
    };
    const Case cases[] = {
        {"endobj", "obj", 0, -1},           // letter before
        {"objx", "obj", 0, -1},             // letter after
        {"5 0 obj<<", "obj", 0, 4},         // delimiter after
        {"obj", "obj", 0, 0},               // whole buffer
        {"x obj", "obj", 0, 2},             // ends the buffer
        {"obj obj", "obj", 1, 4},           // from skips the first
        {"obj obj", "obj", -7, 0},          // negative from counts as 0
        {"1endobj endobj", "endobj", 0, 8}, // digit before
        {"_obj", "obj", 0, 1},              // "_" is not a letter or digit
        {"\xC3obj", "obj", 0, 1},           // nor is a high byte
        {"ob", "obj", 0, -1},               // shorter than the keyword
        {"stream", "stream", 1, -1},
        {"xrefstream trailer", "trailer", 0, 11},
    };
    for (const auto& c : cases) {
        auto v = exact(c.text);
        EXPECT_EQ(qf::find_kw(v, c.from, c.kw), c.want) << c.text << " / " << c.kw;
    }
}

TEST(Lex, KwAt) {
    struct Case {
        std::string_view text;
        std::int32_t pos;
        bool want;
    };
    const Case cases[] = {
        {"stream\rdata", 0, true}, {"streams", 0, false}, {"stream", 0, true}, // ends the buffer
        {"xstream", 1, false},                                                 // letter before
        {">>stream\n", 2, true},   {"strea", 0, false},                        // too short
        {"stream", -1, false},                                                 // negative position
        {"stream", 1, false},      {"stream_", 0, true},
    };
    for (const auto& c : cases) {
        auto v = exact(c.text);
        EXPECT_EQ(qf::kw_at(v, c.pos, "stream"), c.want) << c.text << " at " << c.pos;
    }
}

TEST(Lex, FindName) {
    struct Case {
        std::string_view text;
        std::int32_t from, end, want;
    };
    const Case cases[] = {
        {"/Length1 5", 0, 10, -1},
        {"/Length/Filter", 0, 14, 0},
        {"<< /Length", 0, 10, 3},   // ends exactly at the range end
        {"<< /Length 5", 0, 10, 3}, // range end inside the text
        {"<< /Length 5", 0, 9, -1}, // the name does not fit
        {"/Length+ /Length- /Length_ /Length.", 0, 35, 27},
        {"(/Length 5)", 0, 11, 1},          // strings are not recognised
        {"/Length 1 /Length 2", 1, 19, 10}, // from is the slash's position
        {"/Length 1", 0, 1000, 0},          // end past the buffer is cut to it
        {"/Lengt", 0, 6, -1},
        {"Length", 0, 6, -1}, // no slash
    };
    for (const auto& c : cases) {
        auto v = exact(c.text);
        EXPECT_EQ(qf::find_name(v, c.from, c.end, "Length"), c.want) << c.text;
    }
}

TEST(Lex, FindNameTop) {
    struct Case {
        std::string_view text;
        std::int32_t want;
    };
    const Case cases[] = {
        {"<< /Type /Page >>", 3},
        {"<</Type/Page>>", 2},
        {"/Type", 0}, // depth 0 and ends the range
        {"<< /Types 1 /Type 2 >>", 12},
        {"<< /A << /Type /X >> /Type /Y >>", 21}, // depth 2 is skipped
        {"<< /A << >> >> /Type", 15},             // back at depth 0
        {"<< >> >> >> /Type", 12},                // depth does not go below 0
        {"<< /A (/Type) /Type 1 >>", 14},         // inside a string
        {"<< /A (a(/Type)b) /Type 1 >>", 18},     // nested parentheses
        {"<< /A (\\) /Type) /Type >>", 17},       // escaped parenthesis
        {"<< /A <2F54797065> /Type >>", 19},      // hex string is stepped over
        {"<< % /Type\n/Type >>", 11},             // comment ends at LF
        {"<< % /Type\r/Type >>", 11},             // or at CR
        {"<< [/Type] >>", 4},                     // arrays are not tracked
        {"<< /A > /Type >>", 8},                  // a single ">" is stepped over
        {"<< /A (unclosed /Type", -1},
        {"<< % no line end /Type", -1},
        {"<< /A <2F /Type", -1}, // hex string without ">"
        {"<< /Type", 3},
        {"<< /Typ", -1},
        {"<< (", -1}, // "(" as the last byte
        {"<< <", -1}, // "<" as the last byte
        {"<< >", -1}, // ">" as the last byte
        {"(\\", -1},  // escape at the range end
    };
    for (const auto& c : cases) {
        auto v = exact(c.text);
        EXPECT_EQ(qf::find_name_top(v, 0, static_cast<std::int32_t>(v.size()), "Type"), c.want)
            << c.text;
    }
    // from and end bound the walk; end past the buffer is cut to it.
    auto v = exact("<< /Type 1 /Type 2 >>");
    EXPECT_EQ(qf::find_name_top(v, 4, 21, "Type"), 11);
    EXPECT_EQ(qf::find_name_top(v, 0, 6, "Type"), -1);
    EXPECT_EQ(qf::find_name_top(v, 0, 8, "Type"), 3);
    EXPECT_EQ(qf::find_name_top(v, 0, 1 << 20, "Type"), 3);
}

namespace {

qf::obj dict_entry(std::int32_t dict_start, std::int32_t stream_pos = -1,
                   std::int32_t endobj_pos = -1) {
    qf::obj o;
    o.dict_start = dict_start;
    o.stream_pos = stream_pos;
    o.endobj_pos = endobj_pos;
    return o;
}

} // namespace

TEST(Lex, ObjTypeOverWholeDictionary) {
    struct Case {
        std::string_view text;
        int want;
    };
    const Case cases[] = {
        {"<< /Type /Page >>", 1},
        {"<</Type/Page>>", 1},
        {"<< /Type /Pages /Kids [] >>", 2},
        {"<< /Type/Pages>>", 2},
        {"<< /Type /PageLabels >>", 0},
        {"<< /Type /Pagesx >>", 0},
        {"<< /Type /Page_1 >>", 1},               // "_" ends the word
        {"<< /Type /Catalog /Type /Pages >>", 2}, // later /Type is tried
        {"<< /Type 5 /Type /Page >>", 1},
        {"<< /Type /PageX /Type /Pages >>", 0}, // a letter after Page stops it
        {"<< /A << /Type /Pages >> >>", 0},     // depth 2 only
        {"<< % /Type /Page\n /Kids [] >>", 0},  // in a comment
        {"<< /T (/Type /Page) >>", 0},          // in a string
        {"<< /Font /Type /Page >>", 1},         // any /Type key counts
        {"<< /Type\r\n\t/Page >>", 1},
        {"<< /Type /Pag >>", 0},
        {"<< /Type", 0},
        {"<< /Type /", 0},
        {"<< /Type /Page", 1}, // ends the range
        {"<< /Type /Pages", 2},
        {"<< /Types /Page >>", 0},
    };
    for (const auto& c : cases) {
        auto v = exact(c.text);
        EXPECT_EQ(qf::obj_type(v, dict_entry(0)), c.want) << c.text;
    }
}

TEST(Lex, ObjTypeRangeOfAnEntry) {
    // The range ends at the stream keyword, else at endobj, else at the input's end.
    const std::string text = "1 0 obj << /X 1 >> stream /Type /Page endstream endobj /Type /Pages";
    auto v = exact(text);
    const auto dict = static_cast<std::int32_t>(text.find("<<"));
    const auto stream = static_cast<std::int32_t>(text.find("stream"));
    const auto endobj = static_cast<std::int32_t>(text.find("endobj"));
    EXPECT_EQ(qf::obj_type(v, dict_entry(dict, stream, endobj)), 0);
    EXPECT_EQ(qf::obj_type(v, dict_entry(dict, -1, endobj)), 1);
    EXPECT_EQ(qf::obj_type(v, dict_entry(dict, 0, 0)), 1); // to the end: the first /Type wins
    EXPECT_EQ(qf::obj_type(v, dict_entry(-1, stream, endobj)), 0);
    EXPECT_EQ(qf::obj_type(v, dict_entry(static_cast<std::int32_t>(text.size()))), 0);
    // Positions past the input are cut to it.
    EXPECT_EQ(qf::obj_type(v, dict_entry(dict, 1 << 20)), 1);

    // /Type /Page cut off by the range end right after "Page": still a page.
    const std::string cut = "<< /Type /Pages >>";
    auto w = exact(cut);
    EXPECT_EQ(qf::obj_type(w, dict_entry(0, 14)), 1);
    EXPECT_EQ(qf::obj_type(w, dict_entry(0, 15)), 2);
}

TEST(Lex, ObjTypeOfAnObjectFromAnObjectStream) {
    const std::string input = "<< /Type /Pages >>";
    auto in = exact(input);
    const std::string text = "<< /Type /Page /Parent 2 0 R >>";
    auto t = exact(text);
    qf::obj o;
    o.in_objstm = 1;
    o.text = t.data();
    o.text_len = static_cast<std::int32_t>(t.size());
    EXPECT_EQ(qf::obj_type(in, o), 1); // the text is read, not the input, whatever dict_start
    o.dict_start = 0;
    EXPECT_EQ(qf::obj_type(in, o), 1);
    o.text_len = 12; // "<< /Type /Pa"
    EXPECT_EQ(qf::obj_type(in, o), 0);
    o.text = nullptr;
    o.text_len = 0;
    EXPECT_EQ(qf::obj_type(in, o), 0);
}

TEST(Lex, DictStreamKw) {
    struct Case {
        std::string_view text;
        std::int32_t want;
    };
    const Case cases[] = {
        {"<< /A (a>>b) >>\r\nstream", 17},
        {"<< /A << >> >>endobj", -1},
        {"<< /A << >> >> stream\n", 15},
        {"<</Length 3>>stream", 13},
        {"<< /A (x\\)>>) >> stream", 17},  // escaped ")" keeps the string open
        {"<< /A (a(b)c>>) >> stream", 19}, // nested parentheses
        {"<< /A <3E3E> >> stream", 16},    // hex string walked bytewise
        {"<< /A > 1 >> stream", 13},
        {"<< /A >> streams", -1},
        {"<< /A >>", -1}, // nothing after
        {"<< /A >", -1},  // ">" as the last byte
        {"<< /A <", -1},
        {"<< /A (", -1},
        {"<< /A (abc", -1},      // string not closed
        {"<< /A (ab\\", -1},     // escape at the end
        {">> << >> stream", -1}, // depth -1, 0 is never reached downwards
        {">> << >> >> << >> stream", -1},
        {"<< % >> stream\n >> stream", 8},            // comments are not recognised
        {std::string_view("<< >>\0\0stream", 13), 7}, // NUL is white space
        {"<< >>\vstream", -1},                        // VT is not
    };
    for (const auto& c : cases) {
        auto v = exact(c.text);
        EXPECT_EQ(qf::dict_stream_kw(v, 0), c.want) << c.text;
    }
    auto v = exact("1 0 obj << >> stream");
    EXPECT_EQ(qf::dict_stream_kw(v, 8), 14);
    EXPECT_EQ(qf::dict_stream_kw(v, -1), -1);
    EXPECT_EQ(qf::dict_stream_kw(v, 100), -1);
}

TEST(Lex, ParseIntAt) {
    struct Case {
        std::string_view text;
        std::int32_t cursor, want, cursor_after;
    };
    const Case cases[] = {
        {"  -12 0 R", 0, -12, 5},
        {"+5", 0, -1, 0},
        {"4294967301", 0, 5, 10}, // wraps in 32 bits
        {"2147483648", 0, INT32_MIN, 10},
        {"-2147483648", 0, INT32_MIN, 11},
        {"2147483647", 0, INT32_MAX, 10},
        {"-1", 0, -1, 2}, // the text -1 looks like a failure
        {"007x", 0, 7, 3},
        {"12", 2, -1, 2},  // at len
        {"12", 9, -1, 9},  // beyond len
        {"   ", 0, -1, 0}, // white space to the end
        {"-", 0, -1, 0},
        {"- 5", 0, -1, 0},
        {"x5", 0, -1, 0},
        {"\v5", 0, -1, 0}, // VT is not PDF white space
        {std::string_view("\0 42", 4), 0, 42, 4},
        {"5 0 R", 1, 0, 3},
    };
    for (const auto& c : cases) {
        auto v = exact(c.text);
        std::int32_t cur = c.cursor;
        EXPECT_EQ(qf::parse_int_at(v, cur), c.want) << c.text;
        EXPECT_EQ(cur, c.cursor_after) << c.text;
    }
    // The length bounds the digits.
    auto v = exact("12345");
    std::int32_t cur = 0;
    EXPECT_EQ(qf::parse_int_at(qf::bytes(v).first(3), cur), 123);
    EXPECT_EQ(cur, 3);
}

TEST(Lex, ReadIntAdv) {
    struct Case {
        std::string_view text;
        std::int32_t cursor, end, want, cursor_after;
    };
    const Case cases[] = {
        {"  x", 0, 3, -1, 3}, // past the offending byte
        {"R", 0, 1, -1, 0},   // stays on the R
        {" R 5", 0, 4, -1, 1},        {"+7", 0, 2, 7, 2},       {"-7 ", 0, 3, -7, 2},
        {"4294967301", 0, 10, 5, 10}, {"   ", 0, 3, -1, 3}, // white space to end: cursor at end
        {"  ", 0, 1, -1, 1},          {"+", 0, 1, -1, 1},   // sign at end
        {"- 5", 0, 3, -1, 2}, // the byte after the sign is the offending one
        {"+-5", 0, 3, -1, 2},         {"5", 1, 1, -1, 1},       // at end: unchanged
        {"5", 4, 1, -1, 4},           {"123456", 0, 3, 123, 3}, // end bounds the digits
        {"1 2 3", 1, 5, 2, 3},
    };
    for (const auto& c : cases) {
        auto v = exact(c.text);
        std::int32_t cur = c.cursor;
        EXPECT_EQ(qf::read_int_adv(v, c.end, cur), c.want) << c.text;
        EXPECT_EQ(cur, c.cursor_after) << c.text;
    }
}

TEST(Lex, ReadIntAdvLoopEndsWhenEndIsPastTheBuffer) {
    // A caller reading integers up to an end beyond the buffer still comes to that end.
    auto v = exact("1 2 x");
    std::vector<std::int32_t> got;
    std::int32_t cur = 0;
    for (int guard = 0; cur < 50 && guard < 100; ++guard)
        got.push_back(qf::read_int_adv(v, 50, cur));
    EXPECT_EQ(cur, 50);
    EXPECT_EQ(got, (std::vector<std::int32_t>{1, 2, -1, -1}));
}

TEST(Lex, ParseLength) {
    struct Case {
        std::string_view text;
        std::int32_t direct, objnum;
    };
    const Case cases[] = {
        {"<< /Length 12 0 R >>", -1, 12},
        {"<< /Length 12 0 obj", 12, -1},
        {"<< /Length [3 7] >>", 7, -1},
        {"<< /Length [ 3 x 7 ] >>", 7, -1},
        {"<< /Length [] /Length 4 >>", 4, -1}, // empty array: next occurrence
        {"<< /Length [-3] /Length 4 >>", 4, -1},
        {"<< /Length [3 -2] >>", 3, -1}, // the last usable value
        {"<< /Length -5 >>", -1, -1},
        {"<< /Length -0 >>", 0, -1},
        {"<< /Length 12 >>", 12, -1},
        {"<< /Length 12 R >>", -1, 12},    // no generation
        {"<< /Length 12 0 RG >>", 12, -1}, // R is part of a word
        {"<< /Length 12 0 R", -1, 12},     // R ends the range
        {"<< /Length1 5 /Length 9 >>", 9, -1},
        {"<< /Length /X /Length 9 >>", 9, -1}, // not a number: next occurrence
        {"<< /Length", -1, -1},
        {"<< /Length ", -1, -1},
        {"<< /Length   ", -1, -1},
        {"<< /Length\n\r8 >>", 8, -1},
        {"<< /Length 4294967301 >>", 5, -1},  // wraps
        {"<< /Length 2147483648 >>", -1, -1}, // wraps negative: unusable
        {"<< /Length(5)>>", 5, -1},           // the byte after the name is skipped
        {"<< /Length[12]>>", 12, -1},
        {"<< /Length 5 0 R /Length 6 >>", -1, 5},
    };
    for (const auto& c : cases) {
        auto v = exact(c.text);
        std::int32_t direct = 99, objnum = 99;
        qf::parse_length(v, 0, static_cast<std::int32_t>(v.size()), direct, objnum);
        EXPECT_EQ(direct, c.direct) << c.text;
        EXPECT_EQ(objnum, c.objnum) << c.text;
    }
}

TEST(Lex, ParseLengthBounds) {
    const std::string text = "<< /Length 12 0 R >> /Length 3";
    auto v = exact(text);
    std::int32_t direct = 0, objnum = 0;
    // The reference check stops at end: without the R the number is a direct length.
    qf::parse_length(v, 0, 16, direct, objnum);
    EXPECT_EQ(direct, 12);
    EXPECT_EQ(objnum, -1);
    // from skips the first key.
    qf::parse_length(v, 4, static_cast<std::int32_t>(text.size()), direct, objnum);
    EXPECT_EQ(direct, 3);
    EXPECT_EQ(objnum, -1);
    // A value that starts at end: nothing, and later keys are not examined.
    qf::parse_length(v, 0, 11, direct, objnum);
    EXPECT_EQ(direct, -1);
    EXPECT_EQ(objnum, -1);
    // end past the buffer.
    qf::parse_length(v, 21, 1 << 20, direct, objnum);
    EXPECT_EQ(direct, 3);
    // An array cut by end.
    auto w = exact("<< /Length [3 7] >>");
    qf::parse_length(w, 0, 14, direct, objnum);
    EXPECT_EQ(direct, 3);
}

TEST(Lex, SxRngCmpSortsByFirstOnly) {
    std::int32_t pairs[][2] = {{5, 0}, {-3, 9}, {5, -1}, {2, 7}, {INT32_MIN, 0}, {INT32_MAX, 0}};
    std::qsort(pairs, std::size(pairs), sizeof pairs[0], qf::sx_rng_cmp);
    const std::int32_t firsts[] = {INT32_MIN, -3, 2, 5, 5, INT32_MAX};
    for (std::size_t i = 0; i < std::size(pairs); ++i) EXPECT_EQ(pairs[i][0], firsts[i]);
    const std::int32_t a[2] = {1, 100}, b[2] = {1, -100}, c[2] = {2, 0};
    EXPECT_EQ(qf::sx_rng_cmp(a, b), 0);
    EXPECT_EQ(qf::sx_rng_cmp(a, c), -1);
    EXPECT_EQ(qf::sx_rng_cmp(c, a), 1);
}

TEST(Lex, SkipObjHeader) {
    struct {
        const char* text;
        std::int32_t end; // -1: the whole text
        std::int32_t pos;
        bool has_obj;
    } cases[] = {
        {"12 0 obj\n<< >>", -1, 9, true},   {"12 0 obj<<", -1, 8, true},
        {"12 obj [1]", -1, 7, true},   // no generation
        {"12 0 objx", -1, 5, false},   // not the keyword: stops on it
        {"12 0 R", -1, 5, false},      // a reference, not a header
        {"12 0 obj   ", 10, 10, true}, // white space skipped only up to end
        {"  7 3 obj\r\n(x)", -1, 11, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto v = qft::bv(c.text);
        const auto end = c.end < 0 ? static_cast<std::int32_t>(v.size()) : c.end;
        bool has_obj = !c.has_obj;
        EXPECT_EQ(qf::skip_obj_header(v, 0, end, &has_obj), c.pos);
        EXPECT_EQ(has_obj, c.has_obj);
    }
}

// The one-pass form gives dict_stream_kw's result for every start: random texts over the bytes
// that matter to the walk (brackets, strings, escapes, the keyword), every '<' a start, plus
// starts at other bytes.
TEST(DictStreamKws, SameAsOneWalkPerStart) {
    std::mt19937 rng(99);
    const std::string pieces[] = {"<<",       ">>",  "<",      ">",   "(",        ")",       "\\",
                                  " ",        "\n",  "stream", "x",   "1 0 obj ", "<< /A (", ") >>",
                                  ">>stream", "<<<", ">>>",    "\\(", "(((",      ")))"};
    // Mostly short texts, every tenth a long one where many walks run into each other.
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const int parts = 1 + static_cast<int>(rng() % (round % 10 == 0 ? 400 : 60));
        for (int k = 0; k < parts; ++k) text += pieces[rng() % std::size(pieces)];
        std::vector<std::int32_t> starts;
        for (std::size_t p = 0; p < text.size(); ++p)
            if (text[p] == '<' || rng() % 7 == 0) starts.push_back(static_cast<std::int32_t>(p));
        const std::vector<std::int32_t> batch = qf::dict_stream_kws(qft::bv(text), starts);
        ASSERT_EQ(batch.size(), starts.size());
        for (std::size_t k = 0; k < starts.size(); ++k)
            ASSERT_EQ(batch[k], qf::dict_stream_kw(qft::bv(text), starts[k]))
                << "text \"" << text << "\" start " << starts[k];
    }
    // Nothing to measure, and repeated starts.
    EXPECT_TRUE(qf::dict_stream_kws(qft::bv("<< >>"), {}).empty());
    EXPECT_EQ(qf::dict_stream_kws(qft::bv("<< >> stream"), {0, 0}),
              (std::vector<std::int32_t>{6, 6}));
}
