// The imposition interface through its C functions: options and their errors, results, memory
// input and output, concurrent calls, and booklets read back with real readers (pdftotext for
// which page stands where and which way up, pdftoppm at one pixel a point for the geometry).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "quirefold.h"
#include "quirefold_impose.h"
#include "render.h"
#include "testutil.h"

namespace {

// A document of `pages` pages of w × h points. Each page shows its label "P<n>" near its upper
// left corner, or, `filled`, is painted black all over (for measuring where it lands).
std::string labelled_pdf(int pages, double w, double h, bool filled = false) {
    std::vector<std::string> bodies;
    bodies.push_back("<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int i = 0; i < pages; ++i) kids += std::to_string(4 + 2 * i) + " 0 R ";
    bodies.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) +
                     " >>");
    bodies.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const std::string box = "0 0 " + std::to_string(w) + " " + std::to_string(h);
    for (int i = 0; i < pages; ++i) {
        bodies.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [" + box + "] /Contents " +
                         std::to_string(5 + 2 * i) +
                         " 0 R /Resources << /Font << /F1 3 0 R >> >> >>");
        const std::string content = filled ? box + " re f"
                                           : "BT /F1 36 Tf 40 " + std::to_string(h - 80) +
                                                 " Td (P" + std::to_string(i + 1) + ") Tj ET";
        bodies.push_back(qft::stream_body(content));
    }
    return qft::make_pdf(bodies);
}

// One call's result, released with the object.
struct call {
    quirefold_impose_result r;
    int status = -1;
    call() { quirefold_impose_result_init(&r); }
    ~call() { quirefold_impose_result_free(&r); }
    call(const call&) = delete;
    call& operator=(const call&) = delete;
};

quirefold_impose_options defaults() {
    quirefold_impose_options o;
    quirefold_impose_options_init(&o);
    return o;
}

void impose_file(call& c, const std::string& in, const char* out,
                 const quirefold_impose_options& o) {
    quirefold_impose_input input{in.c_str(), nullptr, 0, nullptr};
    c.status = quirefold_impose(&input, out, &o, &c.r);
}

// ---- options and failures ------------------------------------------------------------------

TEST(ImposeApi, BadOptionsNameTheFieldAndWriteNothing) {
    const std::string dir = qft::temp_dir();
    const std::string in = dir + "/in.pdf", out = dir + "/out.pdf";
    qft::write_file(in, labelled_pdf(5, 612, 792));
    struct bad_case {
        const char* what;
        void (*set)(quirefold_impose_options&);
        const char* option;
        const char* message;
    };
    const bad_case cases[] = {
        {"sheet", [](quirefold_impose_options& o) { o.sheet = "folio"; }, "sheet",
         "sheet: unknown sheet size \"folio\" (a3, a4, a5, b4, b5, letter, legal, tabloid, or "
         "WxH with pt, mm, cm or in)"},
        {"signature", [](quirefold_impose_options& o) { o.signature = -1; }, "signature",
         "signature: must be 0 (one signature) or a number of sheets (got -1)"},
        {"binding", [](quirefold_impose_options& o) { o.binding = 2; }, "binding",
         "binding: must be 0 (left) or 1 (right) (got 2)"},
        {"flip", [](quirefold_impose_options& o) { o.flip = -1; }, "flip",
         "flip: must be 0 (short edge) or 1 (long edge) (got -1)"},
        {"scale", [](quirefold_impose_options& o) { o.scale = 3; }, "scale",
         "scale: must be 0 (fit), 1 (shrink) or 2 (none) (got 3)"},
        {"annotations", [](quirefold_impose_options& o) { o.annotations = 2; }, "annotations",
         "annotations: must be 0 (print) or 1 (none) (got 2)"},
        {"negative margin", [](quirefold_impose_options& o) { o.margin = -1; }, "margin",
         "margin: must be a length from 0 to 14400 pt (got -1)"},
        {"gutter not a number", [](quirefold_impose_options& o) { o.gutter = NAN; }, "gutter",
         nullptr},
        {"huge creep", [](quirefold_impose_options& o) { o.creep = 1e9; }, "creep",
         "creep: must be a length from 0 to 14400 pt (got 1000000000)"},
        {"range syntax", [](quirefold_impose_options& o) { o.pages = "2-x"; }, "pages",
         "pages: bad page range \"2-x\""},
        {"range past the end", [](quirefold_impose_options& o) { o.pages = "3-6"; }, "pages",
         "pages: page 6 is outside the document (5 pages)"},
        {"margins leave no room", [](quirefold_impose_options& o) { o.margin = 306; }, "margin",
         "margin: margin 306 pt and gutter 0 pt leave no room for pages on a 792 x 612 pt "
         "sheet"},
        {"gutter leaves no room", [](quirefold_impose_options& o) { o.gutter = 792; }, "gutter",
         "gutter: margin 0 pt and gutter 792 pt leave no room for pages on a 792 x 612 pt sheet"},
        {"options size not set", [](quirefold_impose_options& o) { o.size = 0; }, "options",
         "options: size is not set (fill the record with quirefold_impose_options_init)"},
    };
    for (const bad_case& c : cases) {
        SCOPED_TRACE(c.what);
        quirefold_impose_options o = defaults();
        c.set(o);
        call k;
        impose_file(k, in, out.c_str(), o);
        EXPECT_EQ(k.status, QUIREFOLD_IMPOSE_BAD_OPTION);
        EXPECT_EQ(k.r.status, QUIREFOLD_IMPOSE_BAD_OPTION);
        EXPECT_STREQ(k.r.option, c.option);
        if (c.message) {
            EXPECT_STREQ(k.r.message, c.message);
        }
        EXPECT_EQ(std::string(k.r.message).rfind(std::string(c.option) + ": ", 0), 0u);
        EXPECT_FALSE(qft::file_exists(out));
        EXPECT_EQ(k.r.output, nullptr);
    }
}

TEST(ImposeApi, FailuresReportTheirMessageWithTheSystemsReason) {
    const std::string dir = qft::temp_dir();
    const std::string in = dir + "/in.pdf";
    qft::write_file(in, labelled_pdf(2, 612, 792));
    const quirefold_impose_options o = defaults();
    {
        call k;
        impose_file(k, dir + "/missing.pdf", (dir + "/o.pdf").c_str(), o);
        EXPECT_EQ(k.status, QUIREFOLD_IMPOSE_FAILED);
        EXPECT_EQ(std::string(k.r.message),
                  "cannot open " + dir + "/missing.pdf: No such file or directory");
        EXPECT_STREQ(k.r.option, "");
    }
    {
        call k;
        const std::string out = dir + "/no/such/folder/o.pdf";
        impose_file(k, in, out.c_str(), o);
        EXPECT_EQ(k.status, QUIREFOLD_IMPOSE_FAILED);
        EXPECT_EQ(std::string(k.r.message), "cannot write " + out + ": No such file or directory");
    }
    {
        call k;
        impose_file(k, in, dir.c_str(), o);
        EXPECT_EQ(std::string(k.r.message), "cannot write " + dir + ": Is a directory");
    }
    {
        call k;
        const char junk[] = "hello";
        quirefold_impose_input input{nullptr, junk, 5, nullptr};
        EXPECT_EQ(quirefold_impose(&input, nullptr, &o, &k.r), QUIREFOLD_IMPOSE_FAILED);
        EXPECT_STREQ(k.r.message, "no PDF objects found \xE2\x80\x94 not a PDF: (input in memory)");
    }
    {
        call k;
        quirefold_impose_input input{nullptr, nullptr, 10, nullptr};
        EXPECT_EQ(quirefold_impose(&input, nullptr, &o, &k.r), QUIREFOLD_IMPOSE_BAD_OPTION);
        EXPECT_STREQ(k.r.option, "input");
        EXPECT_EQ(quirefold_impose(nullptr, nullptr, &o, &k.r), QUIREFOLD_IMPOSE_BAD_OPTION);
    }
    // No result record, or one that was never initialised: nothing can be reported.
    quirefold_impose_input input{in.c_str(), nullptr, 0, nullptr};
    EXPECT_EQ(quirefold_impose(&input, nullptr, &o, nullptr), QUIREFOLD_IMPOSE_BAD_OPTION);
    quirefold_impose_result small{};
    small.size = 8;
    EXPECT_EQ(quirefold_impose(&input, nullptr, &o, &small), QUIREFOLD_IMPOSE_BAD_OPTION);
    // The classic last-error text is not touched by any of this.
    quirefold_init();
    EXPECT_STREQ(quirefold_last_error(), "");
}

TEST(ImposeApi, ResultCountsMemoryOutputAndPlanAgree) {
    const std::string dir = qft::temp_dir();
    const std::string in = dir + "/in.pdf", out = dir + "/out.pdf";
    const std::string pdf = labelled_pdf(11, 612, 792);
    qft::write_file(in, pdf);
    quirefold_impose_options o = defaults();
    o.signature = 2;
    o.pages = "r2-1";
    o.sheet = "a3";

    call to_file;
    impose_file(to_file, in, out.c_str(), o);
    ASSERT_EQ(to_file.status, QUIREFOLD_IMPOSE_OK) << to_file.r.message;
    EXPECT_STREQ(to_file.r.message, "");
    EXPECT_STREQ(to_file.r.sheet_name, "A3");
    EXPECT_DOUBLE_EQ(to_file.r.sheet_width, 1190.55);
    EXPECT_EQ(to_file.r.input_pages, 11);
    EXPECT_EQ(to_file.r.pages, 10);
    EXPECT_EQ(to_file.r.sheets, 3);
    EXPECT_EQ(to_file.r.sides, 6);
    EXPECT_EQ(to_file.r.blanks, 2);
    EXPECT_EQ(to_file.r.signatures, 2);
    EXPECT_EQ(to_file.r.warning_count, 0);
    EXPECT_EQ(to_file.r.output, nullptr);
    ASSERT_NE(to_file.r.plan, nullptr);
    // Pages 10 down to 1; signature 1 holds booklet pages 1-8 (input 10-3), signature 2 the rest.
    EXPECT_EQ(to_file.r.plan[0].front.left.page, 3);
    EXPECT_EQ(to_file.r.plan[0].front.right.page, 10);
    EXPECT_EQ(to_file.r.plan[2].signature, 2);
    EXPECT_EQ(to_file.r.plan[2].front.left.page, 0);
    EXPECT_EQ(to_file.r.plan[2].front.right.page, 2);

    call in_memory;
    quirefold_impose_input input{nullptr, pdf.data(), pdf.size(), nullptr};
    ASSERT_EQ(quirefold_impose(&input, nullptr, &o, &in_memory.r), QUIREFOLD_IMPOSE_OK);
    const std::string file_bytes = qft::read_file(out);
    ASSERT_EQ(in_memory.r.output_size, file_bytes.size());
    EXPECT_EQ(std::memcmp(in_memory.r.output, file_bytes.data(), file_bytes.size()), 0);

    call planned;
    const std::string other = dir + "/never.pdf";
    quirefold_impose_input by_path{in.c_str(), nullptr, 0, nullptr};
    ASSERT_EQ(quirefold_impose_plan(&by_path, &o, &planned.r), QUIREFOLD_IMPOSE_OK);
    EXPECT_STREQ(planned.r.plan_json, to_file.r.plan_json);
    EXPECT_EQ(planned.r.output, nullptr);
    EXPECT_EQ(planned.r.sheets, 3);

    // A record used again holds only the new call's results.
    quirefold_impose_options bad = o;
    bad.flip = 9;
    EXPECT_EQ(quirefold_impose_plan(&by_path, &bad, &planned.r), QUIREFOLD_IMPOSE_BAD_OPTION);
    EXPECT_EQ(planned.r.sheets, 0);
    EXPECT_EQ(planned.r.plan, nullptr);
    quirefold_impose_result_free(&planned.r);
    quirefold_impose_result_free(&planned.r); // twice is harmless
}

TEST(ImposeApi, UncompressedWithAClassicSheetWritesTheClassicBytes) {
    const std::string dir = qft::temp_dir();
    for (const char* name : {"groff_gs.pdf", "rotate_page.pdf", "offset_boxes.pdf", "images.pdf",
                             "contents_array.pdf"}) {
        SCOPED_TRACE(name);
        const std::string in = qft::fixture(name);
        for (int code = 0; code <= 2; ++code) {
            const std::string classic = dir + "/classic.pdf", layout = dir + "/layout.pdf";
            ASSERT_EQ(quirefold_create_sized(in.c_str(), classic.c_str(), code), 1);
            quirefold_impose_options o = defaults();
            o.sheet = code == 0 ? "a4" : code == 1 ? "letter" : "a3";
            o.compress = 0;
            call k;
            impose_file(k, in, layout.c_str(), o);
            ASSERT_EQ(k.status, QUIREFOLD_IMPOSE_OK) << k.r.message;
            EXPECT_EQ(qft::read_file(classic), qft::read_file(layout)) << "sheet code " << code;
        }
        call k;
        quirefold_impose_input input{in.c_str(), nullptr, 0, nullptr};
        EXPECT_EQ(quirefold_impose_plan(&input, nullptr, &k.r), QUIREFOLD_IMPOSE_OK);
    }
}

// Several threads make booklets and fail at once; each call keeps its own messages.
TEST(ImposeApi, ConcurrentCallsKeepTheirOwnResults) {
    const std::string dir = qft::temp_dir();
    const std::string pdf = labelled_pdf(9, 612, 792);
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                call k;
                quirefold_impose_options o = defaults();
                const std::string missing = dir + "/missing-" + std::to_string(t) + ".pdf";
                quirefold_impose_input input{nullptr, pdf.data(), pdf.size(), nullptr};
                if (t == 1) input = {missing.c_str(), nullptr, 0, nullptr};
                if (t == 2) o.pages = "12";
                if (t == 3) o.signature = 1 + i % 3;
                quirefold_impose(&input, nullptr, &o, &k.r);
                bool ok;
                switch (t) {
                case 1:
                    ok = std::string(k.r.message) ==
                         "cannot open " + missing + ": No such file or directory";
                    break;
                case 2:
                    ok = std::string(k.r.message) ==
                         "pages: page 12 is outside the document (9 pages)";
                    break;
                default:
                    ok = k.r.status == QUIREFOLD_IMPOSE_OK && k.r.output_size > 0 &&
                         k.r.sheets == 3 &&
                         k.r.signatures == (t == 3 ? (3 + i % 3) / (1 + i % 3) : 1);
                }
                if (!ok) ++failures[static_cast<std::size_t>(t)];
            }
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(failures, (std::vector<int>{0, 0, 0, 0}));
}

// ---- read back with pdftotext --------------------------------------------------------------

struct word_at {
    std::string text;
    double x_min, y_min; // top-left origin, as pdftotext reports
};

// The number in `attr="…"` after `from` in `text`; NAN when missing.
double attribute(const std::string& text, std::size_t from, const std::string& attr) {
    const std::size_t at = text.find(attr + "=\"", from);
    if (at == std::string::npos) return NAN;
    return std::strtod(text.c_str() + at + attr.size() + 2, nullptr);
}

// Words of every page of a PDF, with the page size, from pdftotext -bbox.
bool words_of(const std::string& pdf, std::vector<std::vector<word_at>>& pages, double& w,
              double& h) {
    std::string xml;
    if (qft::run("pdftotext -bbox " + pdf + " -", &xml) != 0) return false;
    for (std::size_t page = xml.find("<page "); page != std::string::npos;
         page = xml.find("<page ", page + 1)) {
        w = attribute(xml, page, "width");
        h = attribute(xml, page, "height");
        pages.emplace_back();
        const std::size_t end = xml.find("</page>", page);
        for (std::size_t word = xml.find("<word ", page); word < end;
             word = xml.find("<word ", word + 1)) {
            const std::size_t text_at = xml.find('>', word) + 1;
            const std::string text = xml.substr(text_at, xml.find('<', text_at) - text_at);
            pages.back().push_back(
                {text, attribute(xml, word, "xMin"), attribute(xml, word, "yMin")});
        }
    }
    return true;
}

// What a reader finds in one half of a side: the page label there and whether it stands
// upright (its label near the top) or upside down.
struct seen_slot {
    int page = 0; // 0: nothing
    int turn = 0;
    bool operator==(const seen_slot&) const = default;
};

std::ostream& operator<<(std::ostream& os, const seen_slot& s) {
    return os << "P" << s.page << (s.turn ? " upside down" : "");
}

TEST(ImposeReaders, EveryLabelStandsInTheHalfAndTheWayThePlanSays) {
    if (!qft::have_tool("pdftotext") || !qft::have_tool("qpdf")) GTEST_SKIP() << "no poppler/qpdf";
    const std::string dir = qft::temp_dir();
    const std::string in = dir + "/labels.pdf";
    qft::write_file(in, labelled_pdf(13, 612, 792));
    struct layout_case {
        const char* what;
        int signature, binding, flip, cover;
        const char* pages;
    };
    const layout_case cases[] = {
        {"default", 0, 0, 0, 0, nullptr},
        {"right binding", 0, 1, 0, 0, nullptr},
        {"long flip", 0, 0, 1, 0, nullptr},
        {"right binding, long flip", 0, 1, 1, 0, nullptr},
        {"signatures of 2 with a cover", 2, 0, 0, 1, nullptr},
        {"signatures of 1, right, long, reversed selection", 1, 1, 1, 0, "z-1"},
        {"selection with repeats", 3, 0, 1, 1, "1-3,r1,5,5"},
    };
    for (const layout_case& c : cases) {
        SCOPED_TRACE(c.what);
        quirefold_impose_options o = defaults();
        o.signature = c.signature;
        o.binding = c.binding;
        o.flip = c.flip;
        o.cover = c.cover;
        o.pages = c.pages;
        const std::string out = dir + "/booklet.pdf";
        call k;
        impose_file(k, in, out.c_str(), o);
        ASSERT_EQ(k.status, QUIREFOLD_IMPOSE_OK) << k.r.message;

        std::string check;
        EXPECT_EQ(qft::run("qpdf --check " + out, &check, true), 0) << check;
        std::vector<std::vector<word_at>> pages;
        double w = 0, h = 0;
        ASSERT_TRUE(words_of(out, pages, w, h));
        ASSERT_EQ(pages.size(), static_cast<std::size_t>(k.r.sides));
        EXPECT_NEAR(w, 792, 0.01);
        EXPECT_NEAR(h, 612, 0.01);
        for (int side = 0; side < k.r.sides; ++side) {
            const quirefold_impose_sheet& sheet = k.r.plan[side / 2];
            const quirefold_impose_side& planned = side % 2 ? sheet.back : sheet.front;
            seen_slot want[2] = {{planned.left.page, planned.left.turn},
                                 {planned.right.page, planned.right.turn}};
            seen_slot got[2];
            for (const word_at& word : pages[static_cast<std::size_t>(side)]) {
                ASSERT_EQ(word.text[0], 'P');
                const int half = word.x_min < w / 2 ? 0 : 1;
                EXPECT_EQ(got[half].page, 0) << "two labels in one half";
                got[half] = {std::stoi(word.text.substr(1)), word.y_min < h / 2 ? 0 : 180};
            }
            EXPECT_EQ(got[0], want[0]) << "side " << side + 1 << ", left";
            EXPECT_EQ(got[1], want[1]) << "side " << side + 1 << ", right";
        }
    }
}

// ---- geometry on rendered output -----------------------------------------------------------

// Renders a booklet at 72 dpi (a pixel a point) and returns the ink of each half of each side.
struct rendered_side {
    qft::rectf left, right;
    qft::gray_image img;
};

std::vector<rendered_side> render_halves(const std::string& pdf) {
    std::vector<qft::gray_image> pages;
    std::string err;
    EXPECT_TRUE(qft::render_pdf(pdf, 72, false, pages, &err)) << err;
    std::vector<rendered_side> out;
    for (qft::gray_image& img : pages) {
        const double half = img.w / 2.0;
        rendered_side s;
        s.left = qft::ink_box(img, {0, 0, half, static_cast<double>(img.h)}, 128);
        s.right = qft::ink_box(img, {half, 0, half, static_cast<double>(img.h)}, 128);
        s.img = std::move(img);
        out.push_back(std::move(s));
    }
    return out;
}

// The ink of a slot against where it should be, in points from the sheet's top left.
void expect_box(const qft::rectf& ink, double x, double y, double w, double h, const char* what) {
    SCOPED_TRACE(what);
    constexpr double px = 1.5; // edges fall between pixels
    EXPECT_NEAR(ink.x, x, px);
    EXPECT_NEAR(ink.y, y, px);
    EXPECT_NEAR(ink.w, w, px);
    EXPECT_NEAR(ink.h, h, px);
}

struct booklet_run {
    std::string path;
    std::vector<rendered_side> sides;
};

booklet_run make_and_render(const std::string& dir, const std::string& input_pdf,
                            const quirefold_impose_options& o, const char* name) {
    booklet_run b;
    const std::string in = dir + "/" + name + "-in.pdf";
    b.path = dir + "/" + name + ".pdf";
    qft::write_file(in, input_pdf);
    call k;
    impose_file(k, in, b.path.c_str(), o);
    EXPECT_EQ(k.status, QUIREFOLD_IMPOSE_OK) << k.r.message;
    std::string check;
    EXPECT_EQ(qft::run("qpdf --check " + b.path, &check, true), 0) << check;
    b.sides = render_halves(b.path);
    return b;
}

TEST(ImposeGeometry, MarginsAndGutterLeaveTheirSpaceBlank) {
    if (!qft::have_tool("pdftoppm")) GTEST_SKIP() << "no pdftoppm";
    const std::string dir = qft::temp_dir();
    quirefold_impose_options o = defaults();
    o.sheet = "792x612";
    o.margin = 36;
    o.gutter = 48;
    // Letter pages on a Letter sheet: each half less margins and half the gutter is 336 wide
    // and 540 high, so a 612 x 792 page is limited by its width (336/612 < 540/792).
    const booklet_run b = make_and_render(dir, labelled_pdf(4, 612, 792, true), o, "margins");
    ASSERT_EQ(b.sides.size(), 2u);
    const double s = 336.0 / 612, w = 336, h = 792 * s, y = (612 - h) / 2;
    for (const rendered_side& side : b.sides) {
        expect_box(side.left, 36, y, w, h, "left: from the margin to the gutter");
        expect_box(side.right, 396 + 24, y, w, h, "right: from the gutter to the margin");
    }
}

TEST(ImposeGeometry, CreepMovesInnerSheetsTowardTheFold) {
    if (!qft::have_tool("pdftoppm")) GTEST_SKIP() << "no pdftoppm";
    const std::string dir = qft::temp_dir();
    quirefold_impose_options o = defaults();
    o.sheet = "a4";
    o.signature = 3;
    o.creep = 12;
    // 300 x 600 pages are limited by the sheet's height (595.28), so there is room to move.
    const booklet_run b = make_and_render(dir, labelled_pdf(12, 300, 600, true), o, "creep");
    ASSERT_EQ(b.sides.size(), 6u);
    const double s = 595.28 / 600, w = 300 * s, half = 841.89 / 2;
    const double left_x = (half - w) / 2, right_x = half + left_x;
    for (int sheet = 0; sheet < 3; ++sheet) {
        const double move = 12.0 * sheet / 2; // 0, 6, 12
        for (int side = 0; side < 2; ++side) {
            const rendered_side& r = b.sides[static_cast<std::size_t>(2 * sheet + side)];
            SCOPED_TRACE(testing::Message() << "sheet " << sheet << ", side " << side);
            expect_box(r.left, left_x + move, 0, w, 595.28, "left moves right");
            expect_box(r.right, right_x - move, 0, w, 595.28, "right moves left");
        }
    }
}

TEST(ImposeGeometry, ScaleModesOfSmallAndLargePages) {
    if (!qft::have_tool("pdftoppm")) GTEST_SKIP() << "no pdftoppm";
    const std::string dir = qft::temp_dir();
    const double half = 841.89 / 2, sheet_h = 595.28;
    struct scale_case {
        const char* what;
        int scale;
        double page_w, page_h;
        double w, h; // expected ink
    };
    const scale_case cases[] = {
        {"fit enlarges a small page", QUIREFOLD_SCALE_FIT, 200, 100, half, half / 2},
        {"shrink keeps a small page", QUIREFOLD_SCALE_SHRINK, 200, 100, 200, 100},
        {"none keeps a small page", QUIREFOLD_SCALE_NONE, 200, 100, 200, 100},
        {"shrink reduces a large page", QUIREFOLD_SCALE_SHRINK, 1000, 1400, half, half * 1.4},
        {"none cuts a large page at its half", QUIREFOLD_SCALE_NONE, 1000, 1400, half, sheet_h},
    };
    for (const scale_case& c : cases) {
        SCOPED_TRACE(c.what);
        quirefold_impose_options o = defaults();
        o.sheet = "a4";
        o.scale = c.scale;
        const booklet_run b =
            make_and_render(dir, labelled_pdf(2, c.page_w, c.page_h, true), o, "scale");
        ASSERT_EQ(b.sides.size(), 2u);
        // Page 1 stands in the right half of the front, page 2 in the left half of the back.
        expect_box(b.sides[0].right, half + (half - c.w) / 2, (sheet_h - c.h) / 2, c.w, c.h,
                   "front right");
        expect_box(b.sides[1].left, (half - c.w) / 2, (sheet_h - c.h) / 2, c.w, c.h, "back left");
        EXPECT_EQ(b.sides[0].left.w, 0) << "blank slot";
    }
}

TEST(ImposeGeometry, CustomSheetsAndFoldMarks) {
    if (!qft::have_tool("pdftoppm") || !qft::have_tool("pdfinfo")) GTEST_SKIP() << "no poppler";
    const std::string dir = qft::temp_dir();
    quirefold_impose_options o = defaults();
    o.sheet = "200x300mm"; // laid out landscape: 300 x 200 mm
    o.margin = 20;
    o.gutter = 20;
    o.fold_marks = 1;
    const booklet_run b = make_and_render(dir, labelled_pdf(4, 100, 100, true), o, "custom");
    std::vector<qft::page_geom> geom;
    ASSERT_TRUE(qft::pdfinfo_pages(b.path, geom));
    ASSERT_EQ(geom.size(), 2u);
    const double w = 300 * 72 / 25.4, h = 200 * 72 / 25.4;
    EXPECT_NEAR(geom[0].w, w, 0.01);
    EXPECT_NEAR(geom[0].h, h, 0.01);
    for (const rendered_side& side : b.sides) {
        // Square pages fitted to the width of their half inside the margin and the gutter.
        const double size = w / 2 - 30;
        const qft::rectf left = qft::ink_box(side.img, {0, 0, w / 2 - 3, h}, 128);
        const qft::rectf right = qft::ink_box(side.img, {w / 2 + 3, 0, w / 2 - 3, h}, 128);
        expect_box(left, 20, (h - size) / 2, size, size, "left");
        expect_box(right, w / 2 + 10, (h - size) / 2, size, size, "right");
        // Fold marks: ink on the fold line in the top and bottom margins, none between.
        const qft::rectf top = qft::ink_box(side.img, {w / 2 - 2, 0, 4, 19}, 128);
        const qft::rectf bottom = qft::ink_box(side.img, {w / 2 - 2, h - 19, 4, 19}, 128);
        const qft::rectf middle = qft::ink_box(side.img, {w / 2 - 2, 19, 4, h - 38}, 128);
        EXPECT_GT(top.h, 10);
        EXPECT_GT(bottom.h, 10);
        EXPECT_EQ(middle.w, 0);
    }
}

TEST(ImposeGeometry, LongFlipTurnsTheBackHalfRound) {
    if (!qft::have_tool("pdftoppm")) GTEST_SKIP() << "no pdftoppm";
    const std::string dir = qft::temp_dir();
    quirefold_impose_options o = defaults();
    o.sheet = "a4";
    o.flip = QUIREFOLD_FLIP_LONG;
    o.margin = 30;
    o.gutter = 20;
    o.creep = 10;
    o.signature = 2;
    // Pages of 300 x 500 fit by height (535.28); four on two sheets of one signature.
    const booklet_run b = make_and_render(dir, labelled_pdf(8, 300, 500, true), o, "longflip");
    ASSERT_EQ(b.sides.size(), 4u);
    // Every side, turned or not, is symmetric about the fold and the middle, so a turned back
    // shows the same boxes as its front.
    for (std::size_t i = 0; i < b.sides.size(); i += 2) {
        SCOPED_TRACE(testing::Message() << "sheet " << i / 2);
        expect_box(b.sides[i + 1].left, b.sides[i].left.x, b.sides[i].left.y, b.sides[i].left.w,
                   b.sides[i].left.h, "back left as front left");
        expect_box(b.sides[i + 1].right, b.sides[i].right.x, b.sides[i].right.y, b.sides[i].right.w,
                   b.sides[i].right.h, "back right as front right");
    }
    // The inner sheet sits 10 pt nearer the fold.
    EXPECT_NEAR(b.sides[2].left.x - b.sides[0].left.x, 10, 1.5);
    EXPECT_NEAR(b.sides[0].right.x - b.sides[2].right.x, 10, 1.5);
}

} // namespace
