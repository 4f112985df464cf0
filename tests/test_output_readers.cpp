// Booklets of real-world fixtures checked with real readers: qpdf finds nothing to complain
// about, pdfinfo sees the right number of sheet sides at the right size, pdftoppm renders every
// side silently, and each slot of each side shows the right input page, upright, scaled to fit
// its half of the sheet and centred there.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "quirefold.h"
#include "render.h"
#include "testutil.h"

namespace {

struct sheet {
    double w;
    double h;
    const char* pdfinfo_size; // as pdfinfo prints it after "Page size:"
};

// Indexed by the sheet size code.
constexpr sheet k_sheets[] = {
    {841.89, 595.28, "841.89 x 595.28 pts"},  // A4
    {792, 612, "792 x 612 pts"},              // Letter
    {1190.55, 841.89, "1190.55 x 841.89 pts"} // A3
};

struct booklet_case {
    const char* file = nullptr;
    int sheet_size = QUIREFOLD_SHEET_AUTO;
    int pages = 0;
};

void PrintTo(const booklet_case& c, std::ostream* os) {
    *os << c.file << " " << c.sheet_size;
}

// Each sheet size code and the automatic choice appear; together the files cover producers'
// fonts and images, object streams, every rotation given on the page and inherited, crop boxes,
// boxes off the origin, an inherited MediaBox, mixed page sizes, /Contents arrays, inherited
// resources, and content in a filter that is carried still encoded.
const std::vector<booklet_case> k_cases = {
    {"groff_gs.pdf", QUIREFOLD_SHEET_AUTO, 5},
    {"groff_gs_objstm.pdf", QUIREFOLD_SHEET_LETTER, 5},
    {"groff_gs_linearized.pdf", QUIREFOLD_SHEET_A3, 5},
    {"groff_pdf.pdf", QUIREFOLD_SHEET_AUTO, 3},
    {"images.pdf", QUIREFOLD_SHEET_AUTO, 3},
    {"images_rotated_cropped.pdf", QUIREFOLD_SHEET_AUTO, 1},
    {"rotate_page.pdf", QUIREFOLD_SHEET_AUTO, 4},
    {"nested_rotate.pdf", QUIREFOLD_SHEET_LETTER, 7},
    {"cropbox.pdf", QUIREFOLD_SHEET_AUTO, 3},
    {"offset_boxes.pdf", QUIREFOLD_SHEET_A3, 6},
    {"inherited_mediabox.pdf", QUIREFOLD_SHEET_AUTO, 6},
    {"mixed_sizes.pdf", QUIREFOLD_SHEET_AUTO, 6},
    {"contents_array.pdf", QUIREFOLD_SHEET_LETTER, 4},
    {"resources.pdf", QUIREFOLD_SHEET_AUTO, 6},
    {"lzw_content.pdf", QUIREFOLD_SHEET_AUTO, 4},
    {"incremental.pdf", QUIREFOLD_SHEET_AUTO, 5},
    {"incremental_xrefstream.pdf", QUIREFOLD_SHEET_A4, 3},
    {"garbage_prefix.pdf", QUIREFOLD_SHEET_AUTO, 3},
};

bool have_readers() {
    return qft::have_tool("qpdf") && qft::have_tool("pdfinfo") && qft::have_tool("pdftoppm");
}

std::string shell_quoted(const std::string& s) {
    return "'" + s + "'";
}

// The sheet a booklet of `input` is printed on: the code given, or the automatic choice,
// Letter when the first page's visible box is at least as wide as it is high and A4 otherwise
// (its rotation plays no part).
const sheet& sheet_for(int code, const std::vector<qft::page_geom>& input) {
    if (code >= 0) return k_sheets[code];
    return input.at(0).w >= input.at(0).h ? k_sheets[QUIREFOLD_SHEET_LETTER]
                                          : k_sheets[QUIREFOLD_SHEET_A4];
}

int sides_for(int pages) {
    return 2 * ((pages + 3) / 4);
}

// Booklet order: with nslots = pages rounded up to a multiple of 4, sheet i's front holds
// (nslots - 2i, 2i + 1) and its back (2i + 2, nslots - 2i - 1); numbers above the page count
// are blank slots (0).
struct side_slots {
    int left;
    int right;
};
side_slots slots_of_side(int pages, int side) {
    int nslots = (pages + 3) / 4 * 4;
    int i = side / 2;
    side_slots s = side % 2 == 0 ? side_slots{nslots - 2 * i, 2 * i + 1}
                                 : side_slots{2 * i + 2, nslots - 2 * i - 1};
    if (s.left > pages) s.left = 0;
    if (s.right > pages) s.right = 0;
    return s;
}

std::string make_booklet(const booklet_case& c, const std::string& dir) {
    std::string out = dir + "/booklet.pdf";
    quirefold_init();
    int ok = quirefold_create_sized(qft::fixture(c.file).c_str(), out.c_str(), c.sheet_size);
    EXPECT_EQ(ok, 1) << quirefold_last_error();
    EXPECT_STREQ(quirefold_last_error(), "");
    return ok == 1 ? out : std::string();
}

// The fonts pdffonts lists, one line per font object with its name, type, encoding and
// whether it is embedded, subset and has a ToUnicode map (the object ID column left out),
// sorted. Empty on failure.
std::vector<std::string> fonts_of(const std::string& pdf) {
    std::string out;
    std::vector<std::string> fonts;
    if (qft::run("pdffonts " + shell_quoted(pdf) + " 2>/dev/null", &out) != 0) return fonts;
    std::size_t at = 0;
    for (int line = 0; at < out.size(); ++line) {
        std::size_t end = out.find('\n', at);
        if (end == std::string::npos) end = out.size();
        if (line >= 2) fonts.push_back(out.substr(at, std::min<std::size_t>(end - at, 83)));
        at = end + 1;
    }
    std::sort(fonts.begin(), fonts.end());
    return fonts;
}

class Booklet : public testing::TestWithParam<booklet_case> {
  protected:
    void SetUp() override {
        if (!have_readers()) GTEST_SKIP() << "qpdf, pdfinfo or pdftoppm is not installed";
    }
};

// qpdf --check, pdfinfo and pdftoppm accept the booklet without a word of complaint.
TEST_P(Booklet, ReadersAcceptIt) {
    const booklet_case& c = GetParam();
    std::vector<qft::page_geom> input;
    ASSERT_TRUE(qft::pdfinfo_pages(qft::fixture(c.file), input));
    ASSERT_EQ(static_cast<int>(input.size()), c.pages);
    const sheet& sh = sheet_for(c.sheet_size, input);

    std::string dir = qft::temp_dir();
    std::string out = make_booklet(c, dir);
    ASSERT_FALSE(out.empty());

    std::string check;
    int st = qft::run("qpdf --check " + shell_quoted(out), &check, true);
    EXPECT_EQ(st, 0) << check;
    EXPECT_NE(check.find("No syntax or stream encoding errors found"), std::string::npos) << check;
    EXPECT_EQ(check.find("WARNING"), std::string::npos) << check;

    std::string info;
    ASSERT_EQ(qft::run("pdfinfo " + shell_quoted(out), &info, true), 0) << info;
    EXPECT_NE(info.find("Pages:           " + std::to_string(sides_for(c.pages)) + "\n"),
              std::string::npos)
        << info;
    EXPECT_NE(info.find(std::string("Page size:       ") + sh.pdfinfo_size), std::string::npos)
        << info;
    EXPECT_EQ(info.find("Syntax"), std::string::npos) << info;

    std::vector<qft::page_geom> sides;
    ASSERT_TRUE(qft::pdfinfo_pages(out, sides));
    ASSERT_EQ(static_cast<int>(sides.size()), sides_for(c.pages));
    for (const qft::page_geom& g : sides) {
        EXPECT_NEAR(g.w, sh.w, 0.006);
        EXPECT_NEAR(g.h, sh.h, 0.006);
        EXPECT_EQ(g.rotate, 0);
    }

    // Every font of the input is carried once, however many pages use it, and keeps its
    // embedding.
    if (qft::have_tool("pdffonts")) {
        EXPECT_EQ(fonts_of(out), fonts_of(qft::fixture(c.file)));
    }

    std::vector<qft::gray_image> rendered;
    std::string err;
    EXPECT_TRUE(qft::render_pdf(out, 12, false, rendered, &err));
    EXPECT_EQ(err, "");
    EXPECT_EQ(static_cast<int>(rendered.size()), sides_for(c.pages));

    // Two more readers, where installed, draw every side without a complaint.
    if (qft::have_tool("gs")) {
        std::string said;
        EXPECT_EQ(qft::run("gs -q -dNOPAUSE -dBATCH -dSAFER -dPDFSTOPONERROR -sDEVICE=nullpage " +
                               shell_quoted(out),
                           &said, true),
                  0)
            << said;
        EXPECT_EQ(said, "") << said;
    }
    if (qft::have_tool("mutool")) {
        std::string said;
        EXPECT_EQ(
            qft::run("mutool draw -q -r 10 -F pgm -o /dev/null " + shell_quoted(out), &said, true),
            0)
            << said;
        // Debian's build says once that it lacks colour management; nothing else may be said.
        std::string complaints;
        std::istringstream lines(said);
        for (std::string line; std::getline(lines, line);)
            if (line != "warning: ICC support is not available") complaints += line + "\n";
        EXPECT_EQ(complaints, "");
    }
}

// --- placement ------------------------------------------------------------------------------

constexpr double k_side_dpi = 40;      // sheet sides are rendered at this resolution
constexpr double k_candidate_dpi = 60; // and the input pages for the candidate grids at this
constexpr int k_grid = 20;             // cells per side of the comparison grid
constexpr int k_ink = 230;             // darker than this counts as ink, faint text included
constexpr double k_margin = 0.65;      // the right page must be at least this much closer

// The input pages that a slot may show, each in the four quarter turns and reduced to a
// coarse grid: candidate (page, turn) is what a slot would look like if it held that page
// turned that way.
struct input_pages {
    std::string path;
    std::vector<int> numbers;               // page number in the input, by candidate
    std::vector<qft::page_geom> geom;       // by candidate
    std::vector<std::vector<double>> grids; // [candidate * 4 + turn]
};

// `numbers` empty: every page of the input.
input_pages load_input(const std::string& path, std::vector<int> numbers = {}) {
    input_pages in;
    in.path = path;
    std::vector<qft::page_geom> all;
    EXPECT_TRUE(qft::pdfinfo_pages(path, all)) << path;
    if (numbers.empty())
        for (int n = 1; n <= static_cast<int>(all.size()); ++n) numbers.push_back(n);
    for (int n : numbers) {
        std::vector<qft::gray_image> one;
        if (n < 1 || n > static_cast<int>(all.size()) ||
            !qft::render_pdf(path, k_candidate_dpi, true, one, nullptr, n, n) || one.size() != 1) {
            ADD_FAILURE() << "cannot render page " << n << " of " << path;
            return in;
        }
        in.numbers.push_back(n);
        in.geom.push_back(all[static_cast<std::size_t>(n - 1)]);
        for (int turn = 0; turn < 4; ++turn) {
            qft::gray_image t = qft::turn_clockwise(one[0], turn);
            in.grids.push_back(qft::grid_of(t, qft::whole(t), k_grid, k_grid));
        }
    }
    return in;
}

// Where a page lands in its half of the sheet, in points from the sheet's top-left corner:
// turned upright, scaled uniformly to the largest size that fits the half, centred in it.
qft::rectf expected_place(const qft::page_geom& g, const sheet& sh, int slot) {
    bool quarter = g.rotate == 90 || g.rotate == 270;
    double w = quarter ? g.h : g.w, h = quarter ? g.w : g.h;
    double half = sh.w / 2;
    double s = std::min(half / w, sh.h / h);
    return {slot * half + (half - w * s) / 2, (sh.h - h * s) / 2, w * s, h * s};
}

qft::rectf to_pixels(const qft::rectf& r, const qft::gray_image& side, const sheet& sh) {
    double sx = side.w / sh.w, sy = side.h / sh.h;
    return {r.x * sx, r.y * sy, r.w * sx, r.h * sy};
}

std::string describe(const qft::rectf& r) {
    char text[128];
    std::snprintf(text, sizeof text, "[x %.1f y %.1f w %.1f h %.1f]", r.x, r.y, r.w, r.h);
    return text;
}

// Checks one slot of a rendered side. `which` is the candidate (1-based) the slot must show,
// 0 for a blank slot.
void check_slot(const qft::gray_image& side, const sheet& sh, int slot, int which,
                const input_pages& in) {
    int page = which > 0 ? in.numbers[static_cast<std::size_t>(which - 1)] : 0;
    SCOPED_TRACE(std::string(slot == 0 ? "left" : "right") + " slot, page " + std::to_string(page));
    // The half of the sheet, less the pixel columns at its sides: the column at the fold may
    // take a little of the other slot's page.
    qft::rectf half_px = to_pixels({slot * sh.w / 2, 0, sh.w / 2, sh.h}, side, sh);
    qft::rectf inner{half_px.x + 1.5, half_px.y, half_px.w - 3, half_px.h};

    if (which == 0) {
        qft::rectf ink = qft::ink_box(side, inner, 250);
        EXPECT_EQ(ink.w, 0) << "a blank slot shows something at " << describe(ink);
        return;
    }

    // The page rendered at the size it has on the sheet: the reference for this slot.
    const qft::page_geom& g = in.geom[static_cast<std::size_t>(which - 1)];
    qft::rectf place_pt = expected_place(g, sh, slot);
    qft::rectf place = to_pixels(place_pt, side, sh);
    bool quarter = g.rotate == 90 || g.rotate == 270;
    double scale = place_pt.w / (quarter ? g.h : g.w);
    std::vector<qft::gray_image> one;
    ASSERT_TRUE(qft::render_pdf(in.path, k_side_dpi * scale, true, one, nullptr, page, page));
    ASSERT_EQ(one.size(), 1u);
    const qft::gray_image& own = one[0];

    // The right page in the right turn matches clearly better than every other page and turn.
    std::vector<double> shown = qft::grid_of(side, place, k_grid, k_grid);
    double want = qft::grid_distance(shown, qft::grid_of(own, qft::whole(own), k_grid, k_grid));
    double best_other = qft::grid_distance(shown, std::vector<double>(shown.size(), 255.0));
    std::string best_other_name = "a blank slot";
    for (std::size_t i = 0; i < in.grids.size(); ++i) {
        if (i == static_cast<std::size_t>(which - 1) * 4) continue;
        double d = qft::grid_distance(shown, in.grids[i]);
        if (d < best_other) {
            best_other = d;
            best_other_name = "page " + std::to_string(in.numbers[i / 4]) + " turned " +
                              std::to_string(i % 4 * 90);
        }
    }
    EXPECT_LT(want, 12.0) << "the slot does not look like page " << page;
    EXPECT_LT(want, best_other * k_margin) << "page " << page << " upright is at " << want << ", "
                                           << best_other_name << " at " << best_other;

    // Scaled to fit and centred: the ink of the slot's half lies where the page's own ink
    // lands when the page is fitted into its place.
    qft::rectf own_ink = qft::ink_box(own, qft::whole(own), k_ink);
    ASSERT_GT(own_ink.w, 0) << "the input page has no ink";
    double left = std::max(inner.x, place.x + own_ink.x / own.w * place.w);
    double right = std::min(inner.x + inner.w, place.x + (own_ink.x + own_ink.w) / own.w * place.w);
    qft::rectf want_ink{left, place.y + own_ink.y / own.h * place.h, right - left,
                        own_ink.h / own.h * place.h};
    qft::rectf got_ink = qft::ink_box(side, inner, k_ink);
    double tol_x = 1.5 + 0.01 * place.w, tol_y = 1.5 + 0.01 * place.h;
    std::string both = "expected ink at " + describe(want_ink) + ", found " + describe(got_ink);
    EXPECT_NEAR(got_ink.x, want_ink.x, tol_x) << both;
    EXPECT_NEAR(got_ink.y, want_ink.y, tol_y) << both;
    EXPECT_NEAR(got_ink.x + got_ink.w, want_ink.x + want_ink.w, tol_x) << both;
    EXPECT_NEAR(got_ink.y + got_ink.h, want_ink.y + want_ink.h, tol_y) << both;
}

TEST_P(Booklet, EverySlotShowsItsPageUprightFittedAndCentred) {
    const booklet_case& c = GetParam();
    input_pages in = load_input(qft::fixture(c.file));
    ASSERT_EQ(static_cast<int>(in.numbers.size()), c.pages);
    const sheet& sh = sheet_for(c.sheet_size, in.geom);

    std::string out = make_booklet(c, qft::temp_dir());
    ASSERT_FALSE(out.empty());
    std::vector<qft::gray_image> sides;
    ASSERT_TRUE(qft::render_pdf(out, k_side_dpi, false, sides));
    ASSERT_EQ(static_cast<int>(sides.size()), sides_for(c.pages));

    for (int s = 0; s < static_cast<int>(sides.size()); ++s) {
        SCOPED_TRACE("sheet " + std::to_string(s / 2) + (s % 2 == 0 ? " front" : " back"));
        side_slots slots = slots_of_side(c.pages, s);
        check_slot(sides[s], sh, 0, slots.left, in);
        check_slot(sides[s], sh, 1, slots.right, in);
    }
}

std::string case_name(const testing::TestParamInfo<booklet_case>& info) {
    std::string s = info.param.file;
    s = s.substr(0, s.find('.'));
    for (char& ch : s)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return s;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Booklet, testing::ValuesIn(k_cases), case_name);

// The booklet order itself, which the placement test relies on.
TEST(BookletOrder, SlotsOfSides) {
    struct row {
        int pages;
        int side;
        side_slots want;
    };
    const row rows[] = {
        {1, 0, {0, 1}}, {1, 1, {0, 0}}, {4, 0, {4, 1}}, {4, 1, {2, 3}}, {5, 0, {0, 1}},
        {5, 1, {2, 0}}, {5, 2, {0, 3}}, {5, 3, {4, 5}}, {8, 2, {6, 3}}, {8, 3, {4, 5}},
    };
    for (const row& r : rows) {
        side_slots got = slots_of_side(r.pages, r.side);
        EXPECT_EQ(got.left, r.want.left) << r.pages << " pages, side " << r.side;
        EXPECT_EQ(got.right, r.want.right) << r.pages << " pages, side " << r.side;
    }
}

// The library's own output as input: its sides are pages whose content paints form XObjects
// with resources of their own, which must travel along into the second booklet.
TEST(BookletOfABooklet, EverySlotShowsItsSide) {
    if (!have_readers()) GTEST_SKIP() << "qpdf, pdfinfo or pdftoppm is not installed";
    std::string dir = qft::temp_dir();
    std::string first = dir + "/first.pdf", second = dir + "/second.pdf";
    quirefold_init();
    ASSERT_EQ(quirefold_create(qft::fixture("resources.pdf").c_str(), first.c_str()), 1)
        << quirefold_last_error();
    ASSERT_EQ(quirefold_create_sized(first.c_str(), second.c_str(), QUIREFOLD_SHEET_A3), 1)
        << quirefold_last_error();
    std::string check;
    EXPECT_EQ(qft::run("qpdf --check " + shell_quoted(second), &check, true), 0) << check;

    input_pages in = load_input(first);
    ASSERT_EQ(in.numbers.size(), 4u); // six pages make two sheets, four sides
    std::vector<qft::gray_image> sides;
    std::string err;
    ASSERT_TRUE(qft::render_pdf(second, k_side_dpi, false, sides, &err));
    EXPECT_EQ(err, "");
    ASSERT_EQ(sides.size(), 2u);
    for (int s = 0; s < 2; ++s) {
        side_slots slots = slots_of_side(4, s);
        check_slot(sides[s], k_sheets[QUIREFOLD_SHEET_A3], 0, slots.left, in);
        check_slot(sides[s], k_sheets[QUIREFOLD_SHEET_A3], 1, slots.right, in);
    }
}

// poppler cannot open a file without any cross-reference data or trailer; its booklet, made
// from the objects found by scanning, is a sound file that it reads.
TEST(NoCrossReference, BookletIsReadable) {
    if (!have_readers()) GTEST_SKIP() << "qpdf, pdfinfo or pdftoppm is not installed";
    std::string in = qft::fixture("no_xref.pdf");
    std::string out = qft::temp_dir() + "/booklet.pdf";
    quirefold_init();
    ASSERT_EQ(quirefold_create(in.c_str(), out.c_str()), 1) << quirefold_last_error();
    std::string check;
    EXPECT_EQ(qft::run("qpdf --check " + shell_quoted(out), &check, true), 0) << check;
    std::vector<qft::gray_image> sides;
    std::string err;
    ASSERT_TRUE(qft::render_pdf(out, k_side_dpi, false, sides, &err));
    EXPECT_EQ(err, "");
    ASSERT_EQ(sides.size(), 2u);
    // Two Letter pages on an A4 sheet: the front holds page 1 on the right, the back page 2
    // on the left; the other two slots are blank.
    const sheet& sh = k_sheets[QUIREFOLD_SHEET_A4];
    for (int s = 0; s < 2; ++s)
        for (int slot = 0; slot < 2; ++slot) {
            bool filled = (s == 0 && slot == 1) || (s == 1 && slot == 0);
            qft::rectf half = to_pixels({slot * sh.w / 2, 0, sh.w / 2, sh.h}, sides[s], sh);
            EXPECT_EQ(qft::ink_box(sides[s], half, 250).w > 0, filled) << s << " " << slot;
        }
}

// A 500-page document: the booklet is sound and its outer sheet holds pages 500, 1, 2 and 499.
// The time it takes is recorded as a property of the test (create_ms).
TEST(LargeDocument, FiveHundredPages) {
    if (!have_readers()) GTEST_SKIP() << "qpdf, pdfinfo or pdftoppm is not installed";
    std::string in = qft::fixture("pages500.pdf");
    std::string out = qft::temp_dir() + "/booklet.pdf";
    auto start = std::chrono::steady_clock::now();
    quirefold_init();
    ASSERT_EQ(quirefold_create(in.c_str(), out.c_str()), 1) << quirefold_last_error();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start)
                  .count();
    RecordProperty("create_ms", static_cast<int>(ms));
    std::printf("booklet of 500 pages written in %lld ms\n", static_cast<long long>(ms));

    std::string check;
    EXPECT_EQ(qft::run("qpdf --check " + shell_quoted(out), &check, true), 0) << check;
    std::vector<qft::page_geom> sides;
    ASSERT_TRUE(qft::pdfinfo_pages(out, sides));
    EXPECT_EQ(sides.size(), 250u);

    // Only pages 1, 2, 499 and 500 are candidates here, which is enough to tell them apart.
    input_pages cand = load_input(in, {1, 2, 499, 500});
    ASSERT_EQ(cand.numbers.size(), 4u);
    std::vector<qft::gray_image> outer;
    ASSERT_TRUE(qft::render_pdf(out, k_side_dpi, false, outer, nullptr, 1, 2));
    ASSERT_EQ(outer.size(), 2u);
    const sheet& sh = k_sheets[QUIREFOLD_SHEET_A4];
    check_slot(outer[0], sh, 0, 4, cand); // 500
    check_slot(outer[0], sh, 1, 1, cand); // 1
    check_slot(outer[1], sh, 0, 2, cand); // 2
    check_slot(outer[1], sh, 1, 3, cand); // 499
}

} // namespace
