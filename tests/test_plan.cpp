// Booklet plan: entry checks, sheet size and the page of every slot.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "error.h"
#include "plan.h"

namespace {

qf::doc doc_with_pages(int count, double x0 = 0, double y0 = 0, double x1 = 612, double y1 = 792,
                       std::int32_t rotate = 0) {
    qf::doc d;
    for (int i = 0; i < count; ++i) {
        qf::pageinfo p;
        p.obj_num = 3 + i;
        p.x0 = x0;
        p.y0 = y0;
        p.x1 = x1;
        p.y1 = y1;
        p.inherited_rotate = rotate;
        p.rotate = rotate;
        d.pages.push_back(p);
    }
    return d;
}

constexpr int blank = -1;

} // namespace

TEST(Plan, EntryChecksInOrder) {
    struct Case {
        const char* out_path;
        int pages;
        std::int32_t sheet_size;
        const char* message;
    };
    const Case cases[] = {
        {nullptr, 0, 3, "NULL output path"},
        {nullptr, 4, 0, "NULL output path"},
        {"out.pdf", 0, 3, "document has no pages"},
        {"out.pdf", 0, -1, "document has no pages"},
        {"out.pdf", 1, 3, "sheet_size must be 0 (A4), 1 (Letter) or 2 (A3) (got 3)"},
        {"out.pdf", 1, 2147483647,
         "sheet_size must be 0 (A4), 1 (Letter) or 2 (A3) (got 2147483647)"},
    };
    for (const auto& c : cases) {
        qf::doc d = doc_with_pages(c.pages);
        qf::booklet_plan plan;
        qf::clear_error();
        EXPECT_EQ(qf::make_plan(d, c.out_path, c.sheet_size, plan), 0) << c.message;
        EXPECT_STREQ(qf::last_error(), c.message);
    }
}

TEST(Plan, SheetSizeByCode) {
    struct Case {
        std::int32_t code;
        double w, h;
    };
    // The first page is portrait Letter, so every negative code picks A4.
    const Case cases[] = {
        {0, 841.89, 595.28},  {1, 792, 612},        {2, 1190.55, 841.89},
        {-1, 841.89, 595.28}, {-2, 841.89, 595.28}, {INT32_MIN, 841.89, 595.28},
    };
    for (const auto& c : cases) {
        qf::doc d = doc_with_pages(3);
        qf::booklet_plan plan;
        ASSERT_EQ(qf::make_plan(d, "out.pdf", c.code, plan), 1) << c.code;
        EXPECT_EQ(plan.sheet_w, c.w) << c.code;
        EXPECT_EQ(plan.sheet_h, c.h) << c.code;
    }
}

TEST(Plan, AutomaticSheetFollowsTheFirstPagesShape) {
    struct Case {
        const char* what;
        double x0, y0, x1, y1;
        std::int32_t rotate;
        bool letter;
    };
    const Case cases[] = {
        {"portrait Letter", 0, 0, 612, 792, 0, false},
        {"landscape A4", 0, 0, 842, 595, 0, true},
        {"square", 0, 0, 500, 500, 0, true},
        {"default box", 0, 0, 595, 842, 0, false},
        {"portrait rotated 90", 0, 0, 612, 792, 90, false},
        {"landscape rotated 270", 0, 0, 792, 612, 270, true},
        // Boxes away from the origin: width against height, not x1 against y1.
        {"portrait box far right", 500, 0, 1000, 600, 0, false},
        {"landscape box far up", 0, 300, 700, 900, 0, true},
        {"square box away from origin", 100, 200, 400, 500, 0, true},
    };
    for (const auto& c : cases) {
        qf::doc d = doc_with_pages(2, c.x0, c.y0, c.x1, c.y1, c.rotate);
        // Only the first page decides.
        d.pages[1].x1 = c.letter ? 10 : 5000;
        qf::booklet_plan plan;
        ASSERT_EQ(qf::make_plan(d, "out.pdf", -1, plan), 1) << c.what;
        EXPECT_EQ(plan.sheet_w, c.letter ? 792 : 841.89) << c.what;
        EXPECT_EQ(plan.sheet_h, c.letter ? 612 : 595.28) << c.what;
    }
}

TEST(Plan, SlotsOfEverySheet) {
    struct Sheet {
        int front_left, front_right, back_left, back_right;
    };
    struct Case {
        int pages, nslots;
        std::vector<Sheet> sheets;
    };
    const Case cases[] = {
        {1, 4, {{blank, 1, blank, blank}}},
        {2, 4, {{blank, 1, 2, blank}}},
        {3, 4, {{blank, 1, 2, 3}}},
        {4, 4, {{4, 1, 2, 3}}},
        {5, 8, {{blank, 1, 2, blank}, {blank, 3, 4, 5}}},
        {8, 8, {{8, 1, 2, 7}, {6, 3, 4, 5}}},
        {9, 12, {{blank, 1, 2, blank}, {blank, 3, 4, 9}, {8, 5, 6, 7}}},
    };
    for (const auto& c : cases) {
        qf::doc d = doc_with_pages(c.pages);
        qf::booklet_plan plan;
        ASSERT_EQ(qf::make_plan(d, "out.pdf", 1, plan), 1);
        EXPECT_EQ(plan.nslots, c.nslots) << c.pages;
        ASSERT_EQ(plan.nsheets, static_cast<std::int32_t>(c.sheets.size())) << c.pages;
        for (std::int32_t i = 0; i < plan.nsheets; ++i) {
            const qf::sheet_slots s = qf::slots_of_sheet(plan, c.pages, i);
            const Sheet& want = c.sheets[static_cast<std::size_t>(i)];
            const std::string at = std::to_string(c.pages) + " pages, sheet " + std::to_string(i);
            EXPECT_EQ(s.front_left, want.front_left) << at;
            EXPECT_EQ(s.front_right, want.front_right) << at;
            EXPECT_EQ(s.back_left, want.back_left) << at;
            EXPECT_EQ(s.back_right, want.back_right) << at;
        }
    }
}

TEST(Plan, FoldedSheetsReadInPageOrder) {
    // Reading the nested, folded sheets gives pages 1, 2, 3, ... each exactly once, followed
    // by the blank slots.
    for (int pages = 1; pages <= 41; ++pages) {
        qf::doc d = doc_with_pages(pages);
        qf::booklet_plan plan;
        ASSERT_EQ(qf::make_plan(d, "out.pdf", 0, plan), 1);
        ASSERT_EQ(plan.nslots % 4, 0);
        ASSERT_GE(plan.nslots, pages);
        ASSERT_LT(plan.nslots, pages + 4);
        ASSERT_EQ(plan.nsheets * 4, plan.nslots);
        // Booklet page k sits at reading position k - 1. The first half is the front right
        // and back left slot of each sheet, outer sheet first; the second half is the back
        // right and front left slot of each sheet, inner sheet first.
        std::vector<int> reading(static_cast<std::size_t>(plan.nslots), 0);
        for (std::int32_t i = 0; i < plan.nsheets; ++i) {
            const qf::sheet_slots s = qf::slots_of_sheet(plan, pages, i);
            const auto first = static_cast<std::size_t>(2 * i);
            const auto last = static_cast<std::size_t>(plan.nslots - 1 - 2 * i);
            reading[first] = s.front_right;
            reading[first + 1] = s.back_left;
            reading[last - 1] = s.back_right;
            reading[last] = s.front_left;
        }
        for (int k = 1; k <= plan.nslots; ++k)
            EXPECT_EQ(reading[static_cast<std::size_t>(k - 1)], k <= pages ? k : blank)
                << pages << " pages, booklet page " << k;
    }
}

TEST(Plan, SheetsOutsideThePlanAreBlank) {
    qf::doc d = doc_with_pages(8);
    qf::booklet_plan plan;
    ASSERT_EQ(qf::make_plan(d, "out.pdf", 0, plan), 1);
    for (std::int32_t i : {-1, 2, 3, INT32_MAX, INT32_MIN}) {
        const qf::sheet_slots s = qf::slots_of_sheet(plan, 8, i);
        EXPECT_EQ(s.front_left, blank) << i;
        EXPECT_EQ(s.front_right, blank) << i;
        EXPECT_EQ(s.back_left, blank) << i;
        EXPECT_EQ(s.back_right, blank) << i;
    }
}
