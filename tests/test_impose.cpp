// The planner's page order, checked by reading the folded booklet, and the option parsers:
// page ranges, lengths and sheet sizes.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "impose.h"
#include "pagesel.h"
#include "paper.h"

namespace {

using side_pages = std::array<std::int32_t, 4>; // front left, front right, back left, back right

std::vector<side_pages> sheets_of(const qf::impose_plan& plan) {
    std::vector<side_pages> out;
    for (const qf::sheet_plan& s : plan.sheets)
        out.push_back({s.front.left.page, s.front.right.page, s.back.left.page, s.back.right.page});
    return out;
}

qf::impose_plan order(std::int32_t pages, const qf::layout_options& opt) {
    std::vector<std::int32_t> sequence;
    for (std::int32_t p = 1; p <= pages; ++p) sequence.push_back(p);
    qf::impose_plan plan;
    qf::plan_order(sequence, opt, plan);
    return plan;
}

// Reads a printed booklet the way a person does: every signature's sheets nested (sheet 0
// outside) and folded, its pages turned one by one, the signatures one after the other.
//
// Unfolded and seen with the front up, a sheet of a booklet bound on the left carries on its
// right half the page read first (the outside of the leaf in front of the fold) and on its left
// half the page read last; turned over on the short edge, its back shows on the left the page
// behind the first one and on the right the page before the last one. A right binding mirrors
// both halves. A printer flipping on the long edge turns the back over on the other edge, so
// its halves change places (and stand upside down).
std::vector<std::int32_t> read_booklet(const qf::impose_plan& plan, bool right_binding,
                                       bool long_flip) {
    std::vector<std::int32_t> pages;
    std::size_t first = 0;
    while (first < plan.sheets.size()) {
        std::size_t end = first;
        while (end < plan.sheets.size() &&
               plan.sheets[end].signature == plan.sheets[first].signature)
            ++end;
        struct halves {
            std::int32_t first_read, second_read, before_last, last_read;
        };
        std::vector<halves> sheets;
        for (std::size_t k = first; k < end; ++k) {
            const qf::sheet_plan& s = plan.sheets[k];
            std::int32_t front_out = s.front.right.page, front_in = s.front.left.page;
            std::int32_t back_near = s.back.left.page, back_far = s.back.right.page;
            if (right_binding) std::swap(front_out, front_in);
            if (right_binding != long_flip) std::swap(back_near, back_far);
            sheets.push_back({front_out, back_near, back_far, front_in});
        }
        for (const halves& h : sheets) {
            pages.push_back(h.first_read);
            pages.push_back(h.second_read);
        }
        for (auto h = sheets.rbegin(); h != sheets.rend(); ++h) {
            pages.push_back(h->before_last);
            pages.push_back(h->last_read);
        }
        first = end;
    }
    return pages;
}

TEST(PlanOrder, ExamplesWrittenOut) {
    qf::layout_options plain;
    qf::layout_options right = plain;
    right.binding = qf::binding_edge::right;
    qf::layout_options long_flip = plain;
    long_flip.flip = qf::duplex_flip::long_edge;
    qf::layout_options sig1 = plain;
    sig1.signature = 1;
    qf::layout_options cover = plain;
    cover.cover = true;
    struct example {
        const char* what;
        std::int32_t pages;
        qf::layout_options opt;
        std::vector<side_pages> sheets;
    };
    const example examples[] = {
        {"one page", 1, plain, {{-1, 1, -1, -1}}},
        {"eight pages", 8, plain, {{8, 1, 2, 7}, {6, 3, 4, 5}}},
        {"five pages: blanks at the end", 5, plain, {{-1, 1, 2, -1}, {-1, 3, 4, 5}}},
        {"right binding mirrors every side", 8, right, {{1, 8, 7, 2}, {3, 6, 5, 4}}},
        {"long flip turns the backs", 8, long_flip, {{8, 1, 7, 2}, {6, 3, 5, 4}}},
        {"signatures of one sheet", 8, sig1, {{4, 1, 2, 3}, {8, 5, 6, 7}}},
        {"cover: blanks before the last page", 5, cover, {{5, 1, 2, -1}, {-1, 3, 4, -1}}},
    };
    for (const example& e : examples) {
        SCOPED_TRACE(e.what);
        EXPECT_EQ(sheets_of(order(e.pages, e.opt)), e.sheets);
    }
}

// Every combination of page count, signature size, binding, flip and cover: the booklet reads
// 1, 2, 3 ... with the blanks where they belong, signatures hold 4 × signature pages (the last
// one the rest), and the counts add up.
TEST(PlanOrder, EveryBookletReadsInOrder) {
    for (std::int32_t pages = 1; pages <= 30; ++pages) {
        for (std::int32_t signature = 0; signature <= 3; ++signature) {
            for (int variant = 0; variant < 8; ++variant) {
                qf::layout_options opt;
                opt.signature = signature;
                const bool right = variant & 1, long_flip = variant & 2, cover = variant & 4;
                opt.binding = right ? qf::binding_edge::right : qf::binding_edge::left;
                opt.flip = long_flip ? qf::duplex_flip::long_edge : qf::duplex_flip::short_edge;
                opt.cover = cover;
                SCOPED_TRACE(testing::Message()
                             << pages << " pages, signature " << signature
                             << (right ? ", right" : ", left") << (long_flip ? ", long" : ", short")
                             << (cover ? ", cover" : ""));
                const qf::impose_plan plan = order(pages, opt);

                const std::int32_t padded = (pages + 3) / 4 * 4;
                std::vector<std::int32_t> want;
                for (std::int32_t p = 1; p <= pages; ++p) want.push_back(p);
                want.resize(static_cast<std::size_t>(padded), -1);
                if (cover && padded != pages) std::swap(want[pages - 1], want.back());
                EXPECT_EQ(read_booklet(plan, right, long_flip), want);

                const std::int32_t sheets = padded / 4;
                const std::int32_t per = signature ? signature : sheets;
                ASSERT_EQ(plan.sheets.size(), static_cast<std::size_t>(sheets));
                EXPECT_EQ(plan.signatures, (sheets + per - 1) / per);
                EXPECT_EQ(plan.blanks, padded - pages);
                for (std::int32_t k = 0; k < sheets; ++k) {
                    const qf::sheet_plan& s = plan.sheets[static_cast<std::size_t>(k)];
                    EXPECT_EQ(s.signature, k / per);
                    EXPECT_EQ(s.sheet_in_signature, k % per);
                    EXPECT_FALSE(s.front.turned);
                    EXPECT_EQ(s.back.turned, long_flip);
                }
            }
        }
    }
}

TEST(PlanOrder, SelectionIsPlacedInTheOrderGiven) {
    qf::impose_plan plan;
    qf::plan_order({3, 2, 1, 1, 9}, qf::layout_options{}, plan);
    EXPECT_EQ(read_booklet(plan, false, false),
              (std::vector<std::int32_t>{3, 2, 1, 1, 9, -1, -1, -1}));
    EXPECT_EQ(plan.placed_pages, 5);
    EXPECT_EQ(plan.blanks, 3);
}

// ---- page ranges ---------------------------------------------------------------------------

TEST(PageRanges, ResolveAgainstThePageCount) {
    struct range_case {
        const char* text;
        std::int32_t count;
        std::vector<std::int32_t> pages;
    };
    const range_case cases[] = {
        {"", 3, {1, 2, 3}},       {"1-5,8,11-z", 12, {1, 2, 3, 4, 5, 8, 11, 12}},
        {"z-1", 4, {4, 3, 2, 1}}, {"r1", 7, {7}},
        {"r3-r1", 7, {5, 6, 7}},  {"r1-r3", 7, {7, 6, 5}},
        {"Z,2,2", 3, {3, 2, 2}},  {"1-1", 1, {1}},
        {"R2-z", 5, {4, 5}},
    };
    for (const range_case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<qf::page_range> ranges;
        std::string why;
        ASSERT_TRUE(qf::parse_page_ranges(c.text, ranges, why)) << why;
        std::vector<std::int32_t> pages;
        ASSERT_TRUE(qf::resolve_page_ranges(ranges, c.count, pages, why)) << why;
        EXPECT_EQ(pages, c.pages);
    }
}

TEST(PageRanges, BadTextIsRefusedBeforeAnyDocument) {
    struct bad_case {
        const char* text;
        const char* item; // the item the message quotes
    };
    const bad_case cases[] = {
        {",", ""},    {"1,", ""},         {",1", ""},         {"0", "0"},
        {"r0", "r0"}, {"1-", "1-"},       {"-3", "-3"},       {"1--2", "1--2"},
        {"a", "a"},   {"1-2-3", "1-2-3"}, {"1 - 2", "1 - 2"}, {"r", "r"},
        {"rz", "rz"}, {"2,1.5", "1.5"},   {"+1", "+1"},       {"12345678901", "12345678901"},
    };
    for (const bad_case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<qf::page_range> ranges;
        std::string why;
        EXPECT_FALSE(qf::parse_page_ranges(c.text, ranges, why));
        EXPECT_EQ(why, std::string("bad page range \"") + c.item + "\"");
        EXPECT_TRUE(ranges.empty());
    }
}

TEST(PageRanges, PagesOutsideTheDocumentAreNamed) {
    struct outside_case {
        const char* text;
        std::int32_t count;
        const char* why;
    };
    const outside_case cases[] = {
        {"9", 5, "page 9 is outside the document (5 pages)"},
        {"1-6", 5, "page 6 is outside the document (5 pages)"},
        {"r6", 5, "page r6 is outside the document (5 pages)"},
        {"2", 1, "page 2 is outside the document (1 page)"},
    };
    for (const outside_case& c : cases) {
        std::vector<qf::page_range> ranges;
        std::string why;
        ASSERT_TRUE(qf::parse_page_ranges(c.text, ranges, why));
        std::vector<std::int32_t> pages;
        EXPECT_FALSE(qf::resolve_page_ranges(ranges, c.count, pages, why));
        EXPECT_EQ(why, c.why);
    }
}

TEST(PageRanges, RepeatedRangesCannotAskForMorePagesThanABookletHolds) {
    std::string text = "1-z";
    for (int i = 0; i < 400; ++i) text += ",1-z";
    std::vector<qf::page_range> ranges;
    std::string why;
    ASSERT_TRUE(qf::parse_page_ranges(text, ranges, why));
    std::vector<std::int32_t> pages;
    EXPECT_FALSE(qf::resolve_page_ranges(ranges, 100000, pages, why));
    EXPECT_EQ(why, "the page selection names too many pages");
    EXPECT_TRUE(pages.empty());
}

// ---- lengths and sheets --------------------------------------------------------------------

TEST(Paper, Lengths) {
    struct length_case {
        const char* text;
        double points; // negative: refused
    };
    const length_case cases[] = {
        {"12", 12},   {"12pt", 12},      {"25.4mm", 72}, {"2.54cm", 72}, {"0.5in", 36}, {"1IN", 72},
        {".5", 0.5},  {"0", 0},          {"", -1},       {"mm", -1},     {"-3", -1},    {"1e3", -1},
        {"3 mm", -1}, {"5furlongs", -1}, {"1.2.3", -1},  {"nan", -1},    {"inf", -1},   {".", -1},
    };
    for (const length_case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<double> v = qf::parse_length(c.text);
        if (c.points < 0) {
            EXPECT_FALSE(v.has_value());
        } else {
            ASSERT_TRUE(v.has_value());
            EXPECT_NEAR(*v, c.points, 1e-9);
        }
    }
}

TEST(Paper, SheetNamesAndCustomSizesAreLandscape) {
    struct sheet_case {
        const char* text;
        double w, h; // 0: refused
        const char* name;
    };
    const sheet_case cases[] = {
        {"a4", 841.89, 595.28, "A4"},
        {"Letter", 792, 612, "Letter"},
        {"A3", 1190.55, 841.89, "A3"},
        {"a5", 595.28, 419.53, "A5"},
        {"b4", 1000.63, 708.66, "B4"},
        {"b5", 708.66, 498.9, "B5"},
        {"legal", 1008, 612, "Legal"},
        {"TABLOID", 1224, 792, "Tabloid"},
        {"600x400", 600, 400, "custom"},
        {"400x600", 600, 400, "custom"},
        {"11x17in", 1224, 792, "custom"},
        {"300X200mm", 300 * 72 / 25.4, 200 * 72 / 25.4, "custom"},
        {"auto", 0, 0, ""},
        {"folio", 0, 0, ""},
        {"0x400", 0, 0, ""},
        {"600x", 0, 0, ""},
        {"x400", 0, 0, ""},
        {"600x400x2", 0, 0, ""},
        {"-600x400", 0, 0, ""},
        {"300mmx200mm", 0, 0, ""},
        {"201x10in", 0, 0, ""},
    };
    for (const sheet_case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<qf::sheet_dims> s = qf::parse_sheet(c.text);
        if (c.w == 0) {
            EXPECT_FALSE(s.has_value());
            continue;
        }
        ASSERT_TRUE(s.has_value());
        EXPECT_NEAR(s->w, c.w, 1e-9);
        EXPECT_NEAR(s->h, c.h, 1e-9);
        EXPECT_STREQ(s->name, c.name);
    }
}

TEST(Paper, AutomaticSheetIsTheNearestStandardSizeEitherWayRound) {
    struct nearest_case {
        double w, h;
        const char* name;
    };
    const nearest_case cases[] = {
        {595.28, 841.89, "A4"}, {841.89, 595.28, "A4"}, {595, 842, "A4"},  {612, 792, "Letter"},
        {792, 612, "Letter"},   {419.53, 595.28, "A5"}, {842, 1191, "A3"}, {612, 1008, "Legal"},
        {792, 1224, "Tabloid"}, {500, 700, "B5"},       {0, 0, "A4"},
    };
    for (const nearest_case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << " x " << c.h);
        EXPECT_STREQ(qf::nearest_standard_sheet(c.w, c.h).name, c.name);
    }
}

} // namespace
