// Rewriting of indirect references through the renumbering map.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "renumber.h"
#include "testutil.h"

namespace {

using qft::bv;
using namespace std::string_literals;

qf::renumber_map make_map(const std::vector<std::pair<int, int>>& entries) {
    qf::renumber_map m;
    for (auto [old_num, new_num] : entries) qf::map_add(m, old_num, new_num);
    return m;
}

std::string remap(std::string_view text, const qf::renumber_map& m) {
    return qf::remap_res_n(bv(text), m);
}

struct remap_case {
    const char* name;
    std::string input;
    std::string expected;
};

void PrintTo(const remap_case& c, std::ostream* os) {
    *os << c.name;
}

// With the map 5 -> 23, 6 -> 24, 10 -> 41, 12 -> 40.
const std::vector<remap_case> remap_cases = {
    {"font entry", "<< /Font << /F1 5 0 R >> >>", "<< /Font << /F1 23 0 R >> >>"},
    {"array of references", "[5 0 R 6 0 R]", "[23 0 R 24 0 R]"},
    {"other generation dropped", "5 1 R", "23 0 R"},
    {"spacing normalised", "5   0   R", "23 0 R"},
    {"no generation, no space", "5R", "23 0 R"},
    {"no generation", "5 R", "23 0 R"},
    {"unmapped number", "7 0 R", "7 0 R"},
    {"R followed by a letter", "5 0 RG", "5 0 RG"},
    {"R followed by a digit", "5 0 R5 0 R", "5 0 R23 0 R"},
    {"line feed between the parts", "5\n0 R", "23 0 R"},
    {"CR LF and TAB between the parts", "5\r\n0\tR", "23 0 R"},
    {"NUL and FF between the parts", "5\0000\fR"s, "23 0 R"},
    {"VT is not PDF white space", "5\v0 R", "5\v0 R"},
    {"two-digit generation", "12 10 R", "40 0 R"},
    {"long generation with zeros", "6 00007 R", "24 0 R"},
    {"direct integer", "/Length 5", "/Length 5"},
    {"digit of a name read as the number", "/F5 6 R", "/F23 0 R"},
    {"digit run read whole", "15 0 R 55 0 R", "15 0 R 55 0 R"},
    {"number wraps in 32 bits", "4294967301 0 R", "23 0 R"},
    {"three numbers: the last two form the reference", "6 5 0 R", "6 23 0 R"},
    {"number before an unmapped reference", "5 0 0 R", "5 0 0 R"},
    {"object header is no reference", "5 0 obj", "5 0 obj"},
    {"literal string copied as it stands", "(see 5 0 R) 5 0 R", "(see 5 0 R) 23 0 R"},
    {"nested and escaped parentheses", "(a (5 0 R) \\) 5 0 R) 6 0 R",
     "(a (5 0 R) \\) 5 0 R) 24 0 R"},
    {"unclosed string runs to the end", "6 0 R (5 0 R", "24 0 R (5 0 R"},
    {"comment copied as it stands", "% 5 0 R\n5 0 R", "% 5 0 R\n23 0 R"},
    {"parenthesis in a comment opens no string", "% (\r5 0 R", "% (\r23 0 R"},
    {"delimiter after R", "<</A 5 0 R/B 6 0 R>>", "<</A 23 0 R/B 24 0 R>>"},
    {"byte above 127 after R", "5 0 R\xC3\xA9", "23 0 R\xC3\xA9"},
    {"name beginning with R", "5 /RGB 6 /Rotate", "5 /RGB 6 /Rotate"},
    {"ends inside a digit run", "[1 2 5", "[1 2 5"},
    {"ends after the generation", "5 0", "5 0"},
    {"ends after white space", "5 0 ", "5 0 "},
    {"R as the last byte", "/XObject << /Im1 6 0 R", "/XObject << /Im1 24 0 R"},
    {"empty text", "", ""},
};

class RemapExamples : public ::testing::TestWithParam<remap_case> {};

TEST_P(RemapExamples, RewritesMappedReferencesOnly) {
    auto m = make_map({{5, 23}, {6, 24}, {10, 41}, {12, 40}});
    EXPECT_EQ(remap(GetParam().input, m), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, RemapExamples, ::testing::ValuesIn(remap_cases),
                         [](const auto& info) {
                             std::string n;
                             for (char c : std::string(info.param.name))
                                 n += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return n;
                         });

TEST(RemapMap, FirstEntryForANumberWins) {
    auto m = make_map({{5, 23}, {6, 24}, {5, 99}});
    EXPECT_EQ(qf::map_lookup(m, 5), 23);
    EXPECT_EQ(remap("[5 0 R 6 0 R]", m), "[23 0 R 24 0 R]");
}

TEST(RemapMap, NewNumberZeroOrBelowLeavesReferencesUnchanged) {
    // The first entry decides even when a later one has a usable number.
    auto m = make_map({{5, 0}, {6, -3}, {5, 23}, {7, 30}});
    EXPECT_EQ(qf::map_lookup(m, 5), -1);
    EXPECT_EQ(qf::map_lookup(m, 6), -1);
    EXPECT_EQ(qf::map_lookup(m, 7), 30);
    EXPECT_EQ(remap("[5 0 R 6 0 R 7 0 R]", m), "[5 0 R 6 0 R 30 0 R]");
}

TEST(RemapMap, UnknownNumberHasNoNewNumber) {
    auto m = make_map({{5, 23}});
    EXPECT_EQ(qf::map_lookup(m, 4), -1);
    EXPECT_EQ(qf::map_lookup(qf::renumber_map{}, 5), -1);
}

TEST(RemapMap, EmptyMapCopiesTextUnchanged) {
    std::string text = "<< /Font << /F1 5 0 R >> /XObject << /Im7 8 0 R >> >>";
    EXPECT_EQ(remap(text, qf::renumber_map{}), text);
}

TEST(RemapMap, BinaryBytesCopiedUnchanged) {
    std::string text("\0\x01\xff[5 0 R]\x80\0", 12);
    auto m = make_map({{5, 23}});
    EXPECT_EQ(remap(text, m), std::string("\0\x01\xff[23 0 R]\x80\0", 13));
}

TEST(RemapMap, ShortReferencesToLongNumbersOutgrowFourTimesTheInput) {
    // "5R " (3 bytes) becomes "2147483647 0 R " (15 bytes): far beyond four times the input
    // plus a little, which a fixed-size output would overrun.
    std::string text, expected;
    for (int i = 0; i < 2000; ++i) {
        text += "5R ";
        expected += "2147483647 0 R ";
    }
    auto m = make_map({{5, 2147483647}});
    EXPECT_EQ(remap(text, m), expected);
}

struct match_case {
    const char* text;
    std::size_t pos;
    bool ok;
    std::int32_t num;
    std::size_t end;
};

TEST(MatchRef, RecognisesReferencesAtPosition) {
    const match_case cases[] = {
        {"12 10 R", 0, true, 12, 7},
        {"12 10 R", 3, true, 10, 7},
        {"12 10 R", 1, true, 2, 7}, // any digit may start a number
        {"5 0 R", 1, false, 0, 0},  // not at a digit
        {"5 0 R", 9, false, 0, 0},  // outside the text
        {"5R", 0, true, 5, 2},
        {"5\n0\nR/", 0, true, 5, 5},
        {"5 0 Rx", 0, false, 0, 0},
        {"5 0 0 R", 0, false, 0, 0},
        {"5 0", 0, false, 0, 0},
        {"5", 0, false, 0, 0},
        {"2147483648 0 R", 0, true, INT32_MIN, 14},
    };
    for (const auto& c : cases) {
        std::int32_t num = 0;
        std::size_t end = 0;
        bool ok = qf::match_ref(bv(c.text), c.pos, num, end);
        EXPECT_EQ(ok, c.ok) << c.text << " at " << c.pos;
        if (ok && c.ok) {
            EXPECT_EQ(num, c.num) << c.text << " at " << c.pos;
            EXPECT_EQ(end, c.end) << c.text << " at " << c.pos;
        }
    }
}

} // namespace
