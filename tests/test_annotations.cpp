// Annotations that print: which ones are read and how they are placed, and booklets of forms
// and comments checked with real readers against the input as it prints.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "annots.h"
#include "quirefold.h"
#include "quirefold_impose.h"
#include "render.h"
#include "testutil.h"

namespace {

// ---- reading -------------------------------------------------------------------------------

constexpr const char* appearance_10x10 = "<< /Type /XObject /Subtype /Form /BBox [0 0 10 10] >>";

// Catalog 1, pages 2, the page 3 with `annots` as its /Annots value, then the objects from
// number 4 on. Object 4 is always a 10 × 10 appearance stream.
qf::doc annotated_page(const std::string& annots, const std::vector<std::string>& more = {}) {
    std::vector<std::string> bodies = {
        "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Annots " + annots + " >>",
        qft::stream_body("0 0 10 10 re f", "/Type /XObject /Subtype /Form /BBox [0 0 10 10]")};
    bodies.insert(bodies.end(), more.begin(), more.end());
    qf::doc d;
    EXPECT_EQ(qft::load(qft::make_pdf(bodies), d), 0);
    return d;
}

qf::page_annotations read_page(const qf::doc& d) {
    const qf::obj* page = qf::find_obj(d, d.pages.at(0).obj_num);
    EXPECT_NE(page, nullptr);
    qf::annotation_memo memo;
    return page ? qf::printed_annotations(d, *page, memo) : qf::page_annotations{};
}

TEST(PrintedAnnotations, WhichOnesPrint) {
    struct which_case {
        const char* what;
        std::string annot; // one annotation dictionary, on the page's /Annots
        std::vector<std::string> more;
        std::size_t drawn;
        int unusable;
    };
    const std::string ap = " /Rect [10 10 60 60] /AP << /N 4 0 R >>";
    const which_case cases[] = {
        {"print flag", "<< /Subtype /FreeText /F 4" + ap + " >>", {}, 1, 0},
        {"print and other flags", "<< /Subtype /Stamp /F 28" + ap + " >>", {}, 1, 0},
        {"hidden", "<< /Subtype /FreeText /F 6" + ap + " >>", {}, 0, 0},
        {"no print flag", "<< /Subtype /FreeText /F 32" + ap + " >>", {}, 0, 0},
        {"no flags at all", "<< /Subtype /Square" + ap + " >>", {}, 0, 0},
        {"pop-up", "<< /Subtype /Popup /F 4" + ap + " >>", {}, 0, 0},
        {"link", "<< /Subtype /Link /F 4" + ap + " >>", {}, 0, 0},
        {"flags by reference", "<< /Subtype /Ink /F 5 0 R" + ap + " >>", {"4"}, 1, 0},
        {"no appearance", "<< /Subtype /FreeText /F 4 /Rect [0 0 9 9] >>", {}, 0, 1},
        {"no rectangle", "<< /Subtype /FreeText /F 4 /AP << /N 4 0 R >> >>", {}, 0, 1},
        {"empty rectangle",
         "<< /Subtype /FreeText /F 4 /Rect [5 5 5 9] /AP << /N 4 0 R >> >>",
         {},
         0,
         0},
        {"state that /AS names",
         "<< /Subtype /Widget /F 4 /Rect [0 0 9 9] /AS /On /AP << /N << /On 4 0 R >> >> >>",
         {},
         1,
         0},
        {"state without an appearance: nothing shows",
         "<< /Subtype /Widget /F 4 /Rect [0 0 9 9] /AS /Off /AP << /N << /On 4 0 R >> >> >>",
         {},
         0,
         0},
        {"states without /AS",
         "<< /Subtype /Widget /F 4 /Rect [0 0 9 9] /AP << /N << /On 4 0 R >> >> >>",
         {},
         0,
         1},
        {"appearance dictionary by reference",
         "<< /Subtype /Widget /F 4 /Rect [0 0 9 9] /AS /On /AP 5 0 R >>",
         {"<< /N << /On 4 0 R >> >>"},
         1,
         0},
        {"appearance that is no stream",
         "<< /Subtype /FreeText /F 4 /Rect [0 0 9 9] /AP << /N 5 0 R >> >>",
         {"<< /BBox [0 0 1 1] >>"},
         0,
         1},
        {"appearance without /BBox",
         "<< /Subtype /FreeText /F 4 /Rect [0 0 9 9] /AP << /N 5 0 R >> >>",
         {qft::stream_body("", "/Subtype /Form")},
         0,
         1},
        {"keys in strings and comments are no keys",
         "<< /Contents (/F 4) % /F 4\n /Subtype /FreeText" + ap + " >>",
         {},
         0,
         0},
    };
    for (const which_case& c : cases) {
        SCOPED_TRACE(c.what);
        const qf::doc d = annotated_page("[" + c.annot + "]", c.more);
        const qf::page_annotations got = read_page(d);
        EXPECT_EQ(got.drawn.size(), c.drawn);
        EXPECT_EQ(got.unusable, c.unusable);
    }
}

TEST(PrintedAnnotations, AnnotsByReferenceInOrder) {
    const std::string print = "/Subtype /FreeText /F 4 /AP << /N 4 0 R >>";
    const qf::doc d =
        annotated_page("5 0 R", {"[6 0 R << " + print + " /Rect [0 0 10 10] >> 7 0 R]",
                                 "<< " + print + " /Rect [0 0 20 20] >>",
                                 "<< " + print + " /Rect [0 0 30 30] >>"});
    const qf::page_annotations got = read_page(d);
    ASSERT_EQ(got.drawn.size(), 3u);
    EXPECT_DOUBLE_EQ(got.drawn[0].a, 2);
    EXPECT_DOUBLE_EQ(got.drawn[1].a, 1);
    EXPECT_DOUBLE_EQ(got.drawn[2].a, 3);
}

TEST(PrintedAnnotations, SharedArraysAndAnnotationsAreReadOncePerDocument) {
    // Two pages share one /Annots array that lists one annotation twice; a third page lists
    // it again on its own.
    const std::string page = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Annots ";
    std::vector<std::string> bodies = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>",
        page + "6 0 R >>",
        page + "6 0 R >>",
        page + "[7 0 R] >>",
        "[7 0 R 7 0 R]",
        "<< /Subtype /FreeText /F 4 /Rect [0 0 20 20] /AP << /N 8 0 R >> >>",
        qft::stream_body("", "/Subtype /Form /BBox [0 0 10 10]")};
    qf::doc d;
    ASSERT_EQ(qft::load(qft::make_pdf(bodies), d), 0);
    qf::annotation_memo memo;
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const qf::page_annotations got =
            qf::printed_annotations(d, *qf::find_obj(d, d.pages.at(i).obj_num), memo);
        ASSERT_EQ(got.drawn.size(), i < 2 ? 2u : 1u);
        EXPECT_EQ(got.drawn[0].appearance, 8);
        EXPECT_DOUBLE_EQ(got.drawn[0].a, 2);
    }
}

TEST(PrintedAnnotations, AppearanceFittedToItsRectangle) {
    struct fit_case {
        const char* what;
        std::string form_keys; // /BBox and /Matrix of the appearance
        std::string rect;
        double a, d, e, f;
    };
    const fit_case cases[] = {
        {"same size", "/BBox [0 0 50 20]", "[100 200 150 220]", 1, 1, 100, 200},
        {"scaled and moved", "/BBox [10 10 110 60]", "[0 0 50 25]", 0.5, 0.5, -5, -5},
        {"corners in any order", "/BBox [110 60 10 10]", "[50 25 0 0]", 0.5, 0.5, -5, -5},
        // Turned a quarter by its /Matrix: the box spans x -50..0 and y 0..100.
        {"turned by its matrix", "/BBox [0 0 100 50] /Matrix [0 1 -1 0 0 0]", "[200 300 250 400]",
         1, 1, 250, 300},
        {"matrix that moves", "/BBox [0 0 10 10] /Matrix [1 0 0 1 5 7]", "[0 0 20 20]", 2, 2, -10,
         -14},
    };
    for (const fit_case& c : cases) {
        SCOPED_TRACE(c.what);
        const qf::doc d = annotated_page("[<< /Subtype /FreeText /F 4 /Rect " + c.rect +
                                             " /AP << /N 5 0 R >> >>]",
                                         {qft::stream_body("", "/Subtype /Form " + c.form_keys)});
        const qf::page_annotations got = read_page(d);
        ASSERT_EQ(got.drawn.size(), 1u);
        const qf::printed_annotation& p = got.drawn[0];
        EXPECT_EQ(p.appearance, 5);
        EXPECT_NEAR(p.a, c.a, 1e-9);
        EXPECT_NEAR(p.b, 0, 1e-9);
        EXPECT_NEAR(p.c, 0, 1e-9);
        EXPECT_NEAR(p.d, c.d, 1e-9);
        EXPECT_NEAR(p.e, c.e, 1e-9);
        EXPECT_NEAR(p.f, c.f, 1e-9);
    }
}

// A form that asks readers to make its fields' appearances, with text fields that have none.
std::string form_without_appearances(bool need_appearances) {
    const std::string widget = "/Subtype /Widget /F 4 ";
    return qft::make_pdf(
        {"<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [5 0 R 9 0 R 7 0 R 8 0 R] "
         "/NeedAppearances " +
             std::string(need_appearances ? "true" : "false") + " /DA (/Helv 0 Tf 0 g) >> >>",
         "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 400 400] /Annots [5 0 R 6 0 R 7 0 R 8 0 "
         "R] >>",
         "",
         "<< /FT /Tx " + widget +
             "/Rect [50 300 300 324] /V (Grace Hopper) /DA (/Helv 12 Tf 0 0 1 rg) >>",
         // A widget whose field, its parent, holds the type and the value (UTF-16).
         "<< " + widget + "/Parent 9 0 R /Rect [50 250 300 270] >>",
         "<< /FT /Tx " + widget + "/Ff 8192 /Rect [50 200 300 220] /V (secret) >>",
         "<< /FT /Tx " + widget +
             "/Ff 4096 /Rect [50 50 300 150] /V (First line\\nSecond \\(line\\)) /DA (/Helv 10 Tf) "
             ">>",
         "<< /FT /Tx /V <FEFF0043006F0062006F006C00202013> /Kids [6 0 R] >>"});
}

TEST(PrintedAnnotations, TextFieldValuesDrawnWhereTheFormAsksForAppearances) {
    qf::doc d;
    ASSERT_EQ(qft::load(form_without_appearances(true), d), 0);
    const qf::page_annotations got = read_page(d);
    EXPECT_EQ(got.unusable, 0);
    ASSERT_EQ(got.drawn.size(), 4u);
    struct want {
        std::vector<std::string> lines;
        double size;
        std::string colour;
    };
    const want wants[] = {{{"Grace Hopper"}, 12, "0 0 1 rg"},
                          {{"Cobol \x96"}, 12, "0 g"}, // auto: 20 points high
                          {{"******"}, 12, "0 g"},     // a password, as readers echo it
                          {{"First line", "Second (line)"}, 10, ""}};
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got.drawn[i].appearance, 0);
        EXPECT_EQ(got.drawn[i].made.lines, wants[i].lines);
        EXPECT_DOUBLE_EQ(got.drawn[i].made.font_size, wants[i].size);
        EXPECT_EQ(got.drawn[i].made.colour, wants[i].colour);
    }
    // Without the form's request the fields have no appearance to draw.
    qf::doc plain;
    ASSERT_EQ(qft::load(form_without_appearances(false), plain), 0);
    const qf::page_annotations none = read_page(plain);
    EXPECT_TRUE(none.drawn.empty());
    EXPECT_EQ(none.unusable, 4);
}

TEST(PrintedAnnotations, ButtonMarksMadeWhereTheFormAsksForAppearances) {
    struct button_case {
        const char* what;
        std::string widget; // keys of a /FT /Btn widget with the Print flag
        std::size_t drawn;
        std::vector<std::string> lines;
        std::string border;
    };
    const button_case cases[] = {
        {"check box on", "/AS /Yes", 1, {"4"}, ""},
        {"its own caption and border",
         "/AS /Yes /MK << /CA (8) /BC [1 0 0] /BG [1] >>",
         1,
         {"8"},
         "1 0 0 RG"},
        {"on by the field's value", "/V /On", 1, {"4"}, ""},
        {"radio button", "/Ff 32768 /AS /1", 1, {"l"}, ""},
        {"off: its frame only", "/AS /Off /MK << /BC [0 0 0 1] >>", 1, {}, "0 0 0 1 K"},
        {"off without a frame: nothing", "/AS /Off", 0, {}, ""},
        {"push button: not made", "/Ff 65536", 0, {}, ""},
        {"an empty state dictionary is no appearance",
         "/AS /Yes /AP << /N << /Yes << >> >> >>",
         1,
         {"4"},
         ""},
    };
    for (const button_case& c : cases) {
        SCOPED_TRACE(c.what);
        qf::doc d;
        ASSERT_EQ(
            qft::load(
                qft::make_pdf(
                    {"<< /Type /Catalog /Pages 2 0 R /AcroForm << /NeedAppearances true >> >>",
                     "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                     "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Annots [<< "
                     "/Subtype /Widget /FT /Btn /F 4 /Rect [10 10 30 30] " +
                         c.widget + " >>] >>"}),
                d),
            0);
        const qf::page_annotations got = read_page(d);
        ASSERT_EQ(got.drawn.size(), c.drawn);
        if (c.drawn == 0) continue;
        EXPECT_EQ(got.drawn[0].made.lines, c.lines);
        EXPECT_EQ(got.drawn[0].made.border, c.border);
        EXPECT_EQ(got.drawn[0].made.symbol, !c.lines.empty());
    }
}

// ---- booklets read back --------------------------------------------------------------------

using booklet = qft::imposed;

booklet impose(const std::string& in, const std::string& out, int annotations, int compress = 1,
               const char* sheet = nullptr) {
    quirefold_impose_options o;
    quirefold_impose_options_init(&o);
    o.annotations = annotations;
    o.compress = compress;
    o.sheet = sheet;
    return qft::impose_file(in, out, o);
}

bool have_readers() {
    return qft::have_tool("qpdf") && qft::have_tool("pdftoppm") && qft::have_tool("pdftotext");
}

// The planned slots of side s (0: first front, 1: its back, ...).
std::vector<quirefold_impose_slot> slots_of(const booklet& b, std::size_t s) {
    const quirefold_impose_side& side = s % 2 ? b.plan[s / 2].back : b.plan[s / 2].front;
    return {side.left, side.right};
}

// The largest difference of grey between a cell of one grid and the same cell of the other.
double largest_cell_difference(const std::vector<double>& a, const std::vector<double>& b) {
    double largest = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        largest = std::max(largest, std::abs(a[i] - b[i]));
    return largest;
}

// How far each slot of a booklet is from the reference rendering of its page: the largest
// difference of mean grey between the cells of 24 × 32 grids over both, 0 to 255. Cells are
// large enough to forgive rendering at two resolutions, small enough that one filled field or
// one comment changes a cell.
std::vector<double> slot_distances(const std::string& booklet_pdf, const booklet& b,
                                   const std::vector<qft::gray_image>& reference) {
    constexpr double dpi = 60;
    std::vector<qft::gray_image> sides;
    EXPECT_TRUE(qft::render_pdf(booklet_pdf, dpi, false, sides));
    std::vector<double> distances;
    for (std::size_t s = 0; s < sides.size(); ++s) {
        for (const quirefold_impose_slot& sl : slots_of(b, s)) {
            if (sl.page == 0) continue;
            const double k = dpi / 72;
            const qft::rectf at{sl.x * k, sides[s].h - (sl.y + sl.height) * k, sl.width * k,
                                sl.height * k};
            const qft::gray_image& want = reference.at(static_cast<std::size_t>(sl.page) - 1);
            distances.push_back(largest_cell_difference(
                qft::grid_of(sides[s], at, 24, 32), qft::grid_of(want, qft::whole(want), 24, 32)));
        }
    }
    return distances;
}

struct annotated_fixture {
    const char* file;
    // The form asks readers to make its appearances: poppler makes them as it renders the
    // input, where qpdf has none to flatten.
    bool made_by_reader;
};

// The input as it prints (printable annotations flattened into the pages, the rest hidden),
// or with no annotations at all.
std::vector<qft::gray_image> reference_pages(const annotated_fixture& f, bool printed) {
    const std::string in = qft::fixture(f.file);
    std::string source = in;
    if (printed && !f.made_by_reader) {
        source = qft::temp_dir() + "/flattened.pdf";
        EXPECT_EQ(qft::run("qpdf --flatten-annotations=print " + in + " " + source), 0);
    }
    std::vector<qft::gray_image> pages;
    const bool hide = !(printed && f.made_by_reader);
    EXPECT_TRUE(qft::render_pdf(source, 100, true, pages, nullptr, 0, 0, hide));
    return pages;
}

class AnnotatedFixture : public ::testing::TestWithParam<annotated_fixture> {};

TEST_P(AnnotatedFixture, EverySlotShowsItsPageAsItPrints) {
    if (!have_readers()) GTEST_SKIP() << "qpdf or poppler is not installed";
    const std::string in = qft::fixture(GetParam().file);
    const std::string dir = qft::temp_dir();
    const std::vector<qft::gray_image> printed = reference_pages(GetParam(), true);
    const std::vector<qft::gray_image> bare = reference_pages(GetParam(), false);
    for (int annotations : {QUIREFOLD_ANNOTATIONS_PRINT, QUIREFOLD_ANNOTATIONS_NONE}) {
        for (int compress : {1, 0}) {
            SCOPED_TRACE(
                std::string(annotations == QUIREFOLD_ANNOTATIONS_PRINT ? "print" : "none") +
                (compress ? ", compressed" : ", uncompressed"));
            const std::string out = dir + "/booklet.pdf";
            const booklet b = impose(in, out, annotations, compress);
            ASSERT_EQ(b.status, QUIREFOLD_IMPOSE_OK) << b.message;
            EXPECT_TRUE(b.warnings.empty()) << b.warnings.front();
            std::string check;
            EXPECT_EQ(qft::run("qpdf --check " + out, &check, true), 0) << check;
            const auto& want = annotations == QUIREFOLD_ANNOTATIONS_PRINT ? printed : bare;
            const auto& other = annotations == QUIREFOLD_ANNOTATIONS_PRINT ? bare : printed;
            const std::vector<double> near = slot_distances(out, b, want);
            const std::vector<double> far = slot_distances(out, b, other);
            ASSERT_EQ(near.size(), printed.size());
            double worst = 0, best_other = 0;
            for (std::size_t i = 0; i < near.size(); ++i) {
                EXPECT_LT(near[i], 24) << "slot " << i;
                worst = std::max(worst, near[i]);
                best_other = std::max(best_other, far[i]);
            }
            // The pages differ by their annotations, and the renderings tell them apart.
            EXPECT_GT(best_other, 30);
            EXPECT_GT(best_other, worst + 15) << "closest " << worst;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, AnnotatedFixture,
                         ::testing::Values(annotated_fixture{"annot_form.pdf", false},
                                           annotated_fixture{"annot_comments.pdf", false},
                                           annotated_fixture{"annot_needappearances.pdf", true}),
                         [](const auto& info) {
                             std::string s = info.param.file;
                             return s.substr(0, s.find('.'));
                         });

// Words pdftotext finds on each side, with the half they stand in (0 left, 1 right).
std::vector<std::vector<std::pair<std::string, int>>> words_by_side(const std::string& pdf) {
    std::string xml;
    EXPECT_EQ(qft::run("pdftotext -bbox " + pdf + " -", &xml), 0);
    std::vector<std::vector<std::pair<std::string, int>>> sides;
    const std::regex page_re("<page width=\"([0-9.]+)\"");
    const std::regex word_re("<word xMin=\"([0-9.]+)\"[^>]*>([^<]*)</word>");
    double width = 0;
    std::istringstream lines(xml);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_search(line, m, page_re)) {
            width = std::stod(m[1]);
            sides.emplace_back();
        } else if (std::regex_search(line, m, word_re) && !sides.empty()) {
            sides.back().emplace_back(m[2], std::stod(m[1]) < width / 2 ? 0 : 1);
        }
    }
    return sides;
}

TEST(AnnotatedBooklet, FieldValuesStandInTheirPagesSlotAndNothingElsePrints) {
    if (!have_readers()) GTEST_SKIP() << "qpdf or poppler is not installed";
    struct text_case {
        const char* file;
        std::vector<std::pair<std::string, int>> printed; // word and the page it is on
        std::vector<std::string> not_printed;
    };
    const text_case cases[] = {
        {"annot_form.pdf", {{"Lovelace", 1}, {"Analytical", 1}, {"City", 2}}, {"Hidden", "Screen"}},
        {"annot_comments.pdf",
         {{"Printed", 1}, {"DRAFT", 1}, {"Turned", 3}},
         {"Hidden", "Screen", "Sticky"}},
        {"annot_needappearances.pdf", {{"Katherine", 1}, {"Orbit", 1}}, {}},
    };
    const std::string dir = qft::temp_dir();
    for (const text_case& c : cases) {
        SCOPED_TRACE(c.file);
        for (int annotations : {QUIREFOLD_ANNOTATIONS_PRINT, QUIREFOLD_ANNOTATIONS_NONE}) {
            const std::string out = dir + "/booklet.pdf";
            const booklet b = impose(qft::fixture(c.file), out, annotations);
            ASSERT_EQ(b.status, QUIREFOLD_IMPOSE_OK) << b.message;
            const auto sides = words_by_side(out);
            for (const auto& [word, page] : c.printed) {
                int found = 0;
                for (std::size_t s = 0; s < sides.size(); ++s)
                    for (const auto& [text, half] : sides[s]) {
                        if (text != word) continue;
                        ++found;
                        EXPECT_EQ(slots_of(b, s)[static_cast<std::size_t>(half)].page, page)
                            << word;
                    }
                EXPECT_EQ(found, annotations == QUIREFOLD_ANNOTATIONS_PRINT ? 1 : 0) << word;
            }
            for (const std::string& word : c.not_printed)
                for (const auto& side : sides)
                    for (const auto& [text, half] : side) EXPECT_NE(text, word);
        }
    }
}

TEST(AnnotatedBooklet, MadeAppearancesReadBack) {
    if (!have_readers()) GTEST_SKIP() << "qpdf or poppler is not installed";
    const std::string dir = qft::temp_dir();
    const std::string in = dir + "/form.pdf", out = dir + "/booklet.pdf";
    qft::write_file(in, form_without_appearances(true));
    const booklet b = impose(in, out, QUIREFOLD_ANNOTATIONS_PRINT);
    ASSERT_EQ(b.status, QUIREFOLD_IMPOSE_OK) << b.message;
    std::string check;
    EXPECT_EQ(qft::run("qpdf --check " + out, &check, true), 0) << check;
    std::string text;
    ASSERT_EQ(qft::run("pdftotext -layout " + out + " -", &text), 0);
    for (const char* word : {"Grace Hopper", "Cobol", "First line", "Second (line)"})
        EXPECT_NE(text.find(word), std::string::npos) << word << " in " << text;
    EXPECT_EQ(text.find("secret"), std::string::npos);
    EXPECT_NE(text.find("******"), std::string::npos);
    // The multi-line field's lines stand one above the other, the first on top.
    EXPECT_LT(text.find("First line"), text.find("Second (line)"));
}

TEST(AnnotatedBooklet, APagePlacedTwiceSharesItsOwnForm) {
    if (!have_readers()) GTEST_SKIP() << "qpdf or poppler is not installed";
    const std::string out = qft::temp_dir() + "/booklet.pdf";
    quirefold_impose_options o;
    quirefold_impose_options_init(&o);
    o.pages = "1,1,2,1";
    o.compress = 0;
    const booklet b = qft::impose_file(qft::fixture("annot_form.pdf"), out, o);
    ASSERT_EQ(b.status, QUIREFOLD_IMPOSE_OK) << b.message;
    std::string check;
    EXPECT_EQ(qft::run("qpdf --check " + out, &check, true), 0) << check;
    // Every object is written once.
    const std::string text = qft::read_file(out);
    const std::regex header("\n([0-9]+) 0 obj\n");
    std::set<std::string> numbers;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), header);
         it != std::sregex_iterator(); ++it)
        EXPECT_TRUE(numbers.insert((*it)[1]).second) << "object " << (*it)[1] << " written twice";
    std::string words;
    ASSERT_EQ(qft::run("pdftotext " + out + " -", &words), 0);
    std::size_t found = 0;
    for (std::size_t at = words.find("Lovelace"); at != std::string::npos;
         at = words.find("Lovelace", at + 1))
        ++found;
    EXPECT_EQ(found, 3u);
}

TEST(AnnotatedBooklet, SharedAppearanceIsCarriedOnce) {
    // The check boxes of both pages of the form share their appearance streams.
    const std::string out = qft::temp_dir() + "/booklet.pdf";
    ASSERT_EQ(impose(qft::fixture("annot_form.pdf"), out, QUIREFOLD_ANNOTATIONS_PRINT, 0).status,
              QUIREFOLD_IMPOSE_OK);
    const std::string text = qft::read_file(out);
    // The forms that draw each page and its annotations name their appearance streams.
    const std::regex drawing("/XObject << /Pg [0-9]+ 0 R((?: /A[0-9]+ [0-9]+ 0 R)+) >>");
    const std::regex named("/A[0-9]+ ([0-9]+) 0 R");
    std::vector<std::set<std::string>> per_page;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), drawing);
         it != std::sregex_iterator(); ++it) {
        const std::string list = (*it)[1];
        per_page.emplace_back();
        for (auto n = std::sregex_iterator(list.begin(), list.end(), named);
             n != std::sregex_iterator(); ++n)
            per_page.back().insert((*n)[1]);
    }
    ASSERT_EQ(per_page.size(), 2u);
    std::vector<std::string> shared;
    for (const std::string& n : per_page[0])
        if (per_page[1].count(n)) shared.push_back(n);
    ASSERT_EQ(shared.size(), 1u);
    // Written once.
    const std::string header = "\n" + shared[0] + " 0 obj\n";
    EXPECT_NE(text.find(header), std::string::npos);
    EXPECT_EQ(text.find(header, text.find(header) + 1), std::string::npos);
}

TEST(AnnotatedBooklet, MissingAppearancesAreCountedInAWarningThatNamesThePages) {
    const std::string dir = qft::temp_dir();
    const std::string in = dir + "/in.pdf";
    const std::string no_ap = "<< /Subtype /FreeText /F 4 /Rect [0 0 50 50] >>";
    qft::write_file(in, qft::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>",
                                       "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>",
                                       "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] "
                                       "/Annots [" +
                                           no_ap + " " + no_ap + "] >>",
                                       "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>",
                                       "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] "
                                       "/Annots [" +
                                           no_ap + "] >>"}));
    booklet b = impose(in, dir + "/out.pdf", QUIREFOLD_ANNOTATIONS_PRINT);
    ASSERT_EQ(b.status, QUIREFOLD_IMPOSE_OK) << b.message;
    ASSERT_EQ(b.warnings.size(), 1u);
    EXPECT_EQ(b.warnings[0], "3 annotations that should print have no appearance to draw and are "
                             "left out (pages 1, 3)");
    // Nothing is said of annotations the booklet is not asked to draw.
    b = impose(in, dir + "/out.pdf", QUIREFOLD_ANNOTATIONS_NONE);
    EXPECT_TRUE(b.warnings.empty());
}

TEST(AnnotatedBooklet, ClassicExportsDrawNoAnnotations) {
    // The classic booklet of a form is the new interface's booklet without annotations,
    // uncompressed, on the classic sheet.
    const std::string dir = qft::temp_dir();
    for (const char* file : {"annot_form.pdf", "annot_comments.pdf"}) {
        SCOPED_TRACE(file);
        quirefold_init();
        ASSERT_EQ(quirefold_create(qft::fixture(file).c_str(), (dir + "/classic.pdf").c_str()), 1)
            << quirefold_last_error();
        ASSERT_EQ(impose(qft::fixture(file), dir + "/none.pdf", QUIREFOLD_ANNOTATIONS_NONE, 0, "a4")
                      .status,
                  QUIREFOLD_IMPOSE_OK);
        EXPECT_EQ(qft::read_file(dir + "/classic.pdf"), qft::read_file(dir + "/none.pdf"));
        ASSERT_EQ(
            impose(qft::fixture(file), dir + "/print.pdf", QUIREFOLD_ANNOTATIONS_PRINT, 0, "a4")
                .status,
            QUIREFOLD_IMPOSE_OK);
        EXPECT_NE(qft::read_file(dir + "/classic.pdf"), qft::read_file(dir + "/print.pdf"));
    }
}

} // namespace
