// Sheet sides: placement of a turned page in its half of the sheet, and the page object, forms
// and content stream that one side appends to the output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "doc.h"
#include "error.h"
#include "form.h"
#include "outbuf.h"
#include "pagetree.h"
#include "renumber.h"
#include "side.h"
#include "testutil.h"

namespace {

constexpr double letter_w = 792, letter_h = 612;
constexpr double a4_w = 841.89, a4_h = 595.28;

std::string text_of(const qf::buf& b) {
    return b.data ? std::string(reinterpret_cast<const char*>(b.data), b.len) : std::string();
}

qf::pageinfo page_box(double x0, double y0, double x1, double y1, int rotate) {
    qf::pageinfo pi;
    pi.x0 = x0, pi.y0 = y0, pi.x1 = x1, pi.y1 = y1;
    pi.rotate = rotate;
    return pi;
}

// A side of the classic layout: pages fitted to the two halves of the sheet (blank: -1).
std::int32_t classic_side(const qf::doc& d, qf::buf& out, std::vector<std::int64_t>& xref_offs,
                          double w, double h, qf::side_numbers nums, std::int32_t left_page,
                          std::int32_t right_page, const qf::renumber_map& map) {
    qf::side_plan side;
    side.left.page = left_page;
    side.right.page = right_page;
    for (qf::slot_plan* sl : {&side.left, &side.right}) {
        if (sl->page < 1 || static_cast<std::uint64_t>(sl->page) > d.pages.size()) continue;
        const qf::placement p =
            qf::slot_geometry(w, h, qf::effective_pageinfo(d, sl->page), sl == &side.right);
        sl->a = p.s, sl->d = p.s, sl->e = p.tx, sl->f = p.ty;
    }
    return qf::emit_side(d, out, xref_offs, qf::side_style{w, h, 0}, nums, side, map);
}

std::string placed_line(double w, double h, const qf::pageinfo& pi, bool right) {
    qf::placement p = qf::slot_geometry(w, h, pi, right);
    qf::buf b;
    qf::place_form(b, right ? "FmR" : "FmL", p.s, p.tx, p.ty);
    return text_of(b);
}

struct line_case {
    const char* what;
    double w, h;
    qf::pageinfo pi;
    bool right;
    const char* line;
};

TEST(SlotGeometry, PlacementLinesOfPagesAtTheOrigin) {
    const line_case cases[] = {
        {"portrait on Letter, left", letter_w, letter_h, page_box(0, 0, 612, 792, 0), false,
         "q 0.6471 0 0 0.6471 0 49.7647 cm /FmL Do Q\n"},
        {"portrait on Letter, right", letter_w, letter_h, page_box(0, 0, 612, 792, 0), true,
         "q 0.6471 0 0 0.6471 396 49.7647 cm /FmR Do Q\n"},
        {"A4 landscape on A4", a4_w, a4_h, page_box(0, 0, 841.89, 595.28, 0), false,
         "q 0.5000 0 0 0.5000 0 148.8200 cm /FmL Do Q\n"},
        {"landscape turned by 90", a4_w, a4_h, page_box(0, 0, 842, 595, 90), false,
         "q 0.7070 0 0 0.7070 0.1449 0 cm /FmL Do Q\n"},
        {"landscape turned by 270", a4_w, a4_h, page_box(0, 0, 842, 595, 270), false,
         "q 0.7070 0 0 0.7070 0.1449 0 cm /FmL Do Q\n"},
        {"half turn keeps the upright size", letter_w, letter_h, page_box(0, 0, 612, 792, 180),
         false, "q 0.6471 0 0 0.6471 0 49.7647 cm /FmL Do Q\n"},
        {"45 degrees is drawn unturned", letter_w, letter_h, page_box(0, 0, 612, 792, 45), false,
         "q 0.6471 0 0 0.6471 0 49.7647 cm /FmL Do Q\n"},
        {"a small page is enlarged", letter_w, letter_h, page_box(0, 0, 100, 100, 0), false,
         "q 3.9600 0 0 3.9600 0 108 cm /FmL Do Q\n"},
        {"a wide page is limited by the half's width", letter_w, letter_h,
         page_box(0, 0, 792, 100, 0), true, "q 0.5000 0 0 0.5000 396 281 cm /FmR Do Q\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(placed_line(c.w, c.h, c.pi, c.right), c.line) << c.what;
}

TEST(SlotGeometry, RightSlotDiffersOnlyByHalfTheSheetWidth) {
    const qf::pageinfo boxes[] = {page_box(0, 0, 612, 792, 0), page_box(0, 0, 842, 595, 90),
                                  page_box(18, 36, 594, 756, 0), page_box(10, 20, 300, 500, 270)};
    for (const auto& pi : boxes) {
        qf::placement l = qf::slot_geometry(a4_w, a4_h, pi, false);
        qf::placement r = qf::slot_geometry(a4_w, a4_h, pi, true);
        EXPECT_EQ(r.s, l.s);
        EXPECT_EQ(r.ty, l.ty);
        EXPECT_EQ(r.tx, l.tx + a4_w * 0.5);
    }
}

// Where the form's /Matrix sends a point of the page box.
void turn(const qf::pageinfo& pi, double x, double y, double& ox, double& oy) {
    switch (pi.rotate) {
    case 90:
        ox = y, oy = pi.x1 - x;
        break;
    case 180:
        ox = pi.x1 - x, oy = pi.y1 - y;
        break;
    case 270:
        ox = pi.y1 - y, oy = x;
        break;
    default:
        ox = x, oy = y;
    }
}

TEST(SlotGeometry, BoxesAwayFromTheOriginLandCentredInsideTheirHalf) {
    const double boxes[][4] = {
        {100, 50, 400, 450},  // crop box inside a larger media box
        {18, 36, 594, 756},   // margins cut off a Letter page
        {200, 0, 1000, 300},  // wide strip, offset in x only
        {0, 300, 400, 700},   // offset in y only
        {0, 0, 612, 792},     // at the origin, for comparison
        {5.5, 7.25, 9.5, 11}, // tiny
    };
    const int rotations[] = {0, 90, 180, 270, 45};
    const double sheets[][2] = {{letter_w, letter_h}, {a4_w, a4_h}, {1190.55, 841.89}};
    const double eps = 1e-6;
    for (const auto& sheet : sheets)
        for (const auto& bx : boxes)
            for (int r : rotations)
                for (bool right : {false, true}) {
                    const double w = sheet[0], h = sheet[1], half = w * 0.5;
                    qf::pageinfo pi = page_box(bx[0], bx[1], bx[2], bx[3], r);
                    qf::placement p = qf::slot_geometry(w, h, pi, right);
                    double lo_x = INFINITY, hi_x = -INFINITY, lo_y = INFINITY, hi_y = -INFINITY;
                    for (double x : {pi.x0, pi.x1})
                        for (double y : {pi.y0, pi.y1}) {
                            double tx, ty;
                            turn(pi, x, y, tx, ty);
                            const double px = p.s * tx + p.tx, py = p.s * ty + p.ty;
                            lo_x = std::min(lo_x, px), hi_x = std::max(hi_x, px);
                            lo_y = std::min(lo_y, py), hi_y = std::max(hi_y, py);
                        }
                    const double slot_x = right ? half : 0;
                    SCOPED_TRACE(testing::Message()
                                 << "box " << bx[0] << " " << bx[1] << " " << bx[2] << " " << bx[3]
                                 << " rotate " << r << (right ? " right" : " left") << " sheet "
                                 << w);
                    EXPECT_GE(lo_x, slot_x - eps);
                    EXPECT_LE(hi_x, slot_x + half + eps);
                    EXPECT_GE(lo_y, -eps);
                    EXPECT_LE(hi_y, h + eps);
                    EXPECT_NEAR((lo_x + hi_x) * 0.5, slot_x + half * 0.5, eps);
                    EXPECT_NEAR((lo_y + hi_y) * 0.5, h * 0.5, eps);
                    // Largest uniform scale: it fills the half in one direction.
                    EXPECT_TRUE(std::fabs((hi_x - lo_x) - half) < eps ||
                                std::fabs((hi_y - lo_y) - h) < eps);
                }
}

TEST(SlotGeometry, BoxWithoutExtentGivesFiniteOperands) {
    qf::placement p = qf::slot_geometry(letter_w, letter_h, page_box(5, 5, 5, 5, 0), false);
    EXPECT_TRUE(std::isfinite(p.s) && std::isfinite(p.tx) && std::isfinite(p.ty));
}

TEST(PlaceForm, NumbersFollowTheOutputNumberRule) {
    qf::buf b;
    qf::place_form(b, "FmL", 1, -0.5, 2147483648.0);
    qf::place_form(b, "FmR", 0.25, 396, -12);
    EXPECT_EQ(text_of(b), "q 1 0 0 1 -0.5000 2147483648.0000 cm /FmL Do Q\n"
                          "q 0.2500 0 0 0.2500 396 -12 cm /FmR Do Q\n");
}

// ---- emit_side -------------------------------------------------------------------------------

constexpr const char* prefix = "PREFIX\n";

struct side_run {
    qf::buf out;
    std::vector<std::int64_t> offs = std::vector<std::int64_t>(24, -1);
    std::int32_t result = 0;

    side_run() { qf::buf_text(out, prefix); }
    std::string text() const { return text_of(out); }
    // The object whose header line the offset table records.
    std::string object(std::int32_t num) const {
        std::string t = text();
        auto at = static_cast<std::size_t>(offs[static_cast<std::size_t>(num)]);
        return t.substr(at, t.find("endobj\n", at) + 7 - at);
    }
};

side_run emit(const qf::doc& d, std::int32_t left, std::int32_t right,
              const qf::renumber_map& map = {}, double w = letter_w, double h = letter_h) {
    side_run r;
    r.result = classic_side(d, r.out, r.offs, w, h, qf::side_numbers{3, 4, 5, 6}, left, right, map);
    return r;
}

// The form body that the form builder makes for a page with the given effective rotation.
std::string form_of(const qf::doc& d, std::int32_t page, std::int32_t rotate,
                    const qf::renumber_map& map = {}) {
    qf::pageinfo pi = d.pages[static_cast<std::size_t>(page) - 1];
    pi.rotate = rotate;
    auto f = qf::build_form_xobject(d, *qf::find_obj(d, pi.obj_num), pi, map, page);
    return f ? std::string(f->begin(), f->end()) : "(no form)";
}

TEST(EmitSide, BlankSideIsAPageWithoutFormsAndABlankContent) {
    qf::doc d;
    ASSERT_EQ(qft::load(qft::simple_pdf(2), d), 0) << qf::last_error();
    side_run r = emit(d, -1, 0);
    EXPECT_EQ(r.result, 3);
    EXPECT_EQ(r.text(), std::string(prefix) +
                            "3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 792 612] "
                            "/Contents 6 0 R /Resources << /XObject << >> >> >>\nendobj\n"
                            "6 0 obj\n<< /Length 14 >>\nstream\n% blank sheet\nendstream\n"
                            "endobj\n");
    EXPECT_EQ(r.offs[3], 7);
    EXPECT_EQ(r.text().compare(static_cast<std::size_t>(r.offs[6]), 8, "6 0 obj\n"), 0);
    EXPECT_EQ(r.offs[4], -1);
    EXPECT_EQ(r.offs[5], -1);
}

TEST(EmitSide, FullSideWritesPageLeftFormRightFormContentInThatOrder) {
    qf::doc d;
    ASSERT_EQ(qft::load(qft::simple_pdf(2, "0 0 841.89 595.28"), d), 0) << qf::last_error();
    side_run r = emit(d, 2, 1, {}, a4_w, a4_h);
    ASSERT_EQ(r.result, 3) << qf::last_error();
    const std::string left_line = "q 0.5000 0 0 0.5000 0 148.8200 cm /FmL Do Q\n";
    const std::string right_line = "q 0.5000 0 0 0.5000 420.9450 148.8200 cm /FmR Do Q\n";
    const std::string content = left_line + right_line;
    EXPECT_EQ(r.text(),
              std::string(prefix) +
                  "3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 841.8900 595.2800] "
                  "/Contents 6 0 R /Resources << /XObject << /FmL 4 0 R/FmR 5 0 R>> >> >>\n"
                  "endobj\n" +
                  "4 0 obj\n" + form_of(d, 2, 0) + "\nendobj\n" + "5 0 obj\n" + form_of(d, 1, 0) +
                  "\nendobj\n" + "6 0 obj\n<< /Length " + std::to_string(content.size()) +
                  " >>\nstream\n" + content + "endstream\nendobj\n");
    // The left slot shows page 2, the right slot page 1.
    EXPECT_NE(r.object(4).find("% page 2"), std::string::npos);
    EXPECT_NE(r.object(5).find("% page 1"), std::string::npos);
    for (int num : {3, 4, 5, 6})
        EXPECT_EQ(r.object(num).rfind(std::to_string(num) + " 0 obj\n", 0), 0u) << num;
    EXPECT_LT(r.offs[3], r.offs[4]);
    EXPECT_LT(r.offs[4], r.offs[5]);
    EXPECT_LT(r.offs[5], r.offs[6]);
}

TEST(EmitSide, OnlyFilledSlotsGetFormsAndPlacementLines) {
    struct {
        std::int32_t left, right;
        const char* xobjects;
        bool left_form, right_form;
        const char* content;
    } cases[] = {
        {1, -1, "<< /FmL 4 0 R>>", true, false, "q 0.6471 0 0 0.6471 0 49.7647 cm /FmL Do Q\n"},
        {-1, 1, "<< /FmR 5 0 R>>", false, true, "q 0.6471 0 0 0.6471 396 49.7647 cm /FmR Do Q\n"},
        {0, 2, "<< /FmR 5 0 R>>", false, true, "q 0.6471 0 0 0.6471 396 49.7647 cm /FmR Do Q\n"},
        {-1, -1, "<< >>", false, false, "% blank sheet\n"},
    };
    qf::doc d;
    ASSERT_EQ(qft::load(qft::simple_pdf(2), d), 0) << qf::last_error();
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "left " << c.left << " right " << c.right);
        side_run r = emit(d, c.left, c.right);
        ASSERT_EQ(r.result, 3);
        EXPECT_NE(r.object(3).find(std::string("/XObject ") + c.xobjects + " >> >>\nendobj\n"),
                  std::string::npos);
        EXPECT_EQ(r.offs[4] >= 0, c.left_form);
        EXPECT_EQ(r.offs[5] >= 0, c.right_form);
        EXPECT_EQ(r.text().find("4 0 obj") != std::string::npos, c.left_form);
        EXPECT_EQ(r.text().find("5 0 obj") != std::string::npos, c.right_form);
        const std::string body = std::string("<< /Length ") +
                                 std::to_string(std::string(c.content).size()) + " >>\nstream\n" +
                                 c.content + "endstream\nendobj\n";
        EXPECT_EQ(r.object(6), "6 0 obj\n" + body);
        // The content stream is the last object of the side.
        EXPECT_EQ(r.text().size(), static_cast<std::size_t>(r.offs[6]) + 8 + body.size());
    }
}

TEST(EmitSide, EffectiveRotationTurnsTheFormAndThePlacement) {
    // Pages 1-3 hang from the root; pages 4 and 5 from a node with /Rotate 270.
    const std::string page = "<< /Type /Page /MediaBox [0 0 842 595] /Contents 9 0 R";
    const std::string pdf = qft::make_pdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R] /Count 5 >>",
        page + " /Parent 2 0 R /Rotate 90 >>",
        page + " /Parent 2 0 R /Rotate 450 >>",
        page + " /Parent 2 0 R /Rotate 45 >>",
        "<< /Type /Pages /Parent 2 0 R /Kids [7 0 R 8 0 R] /Count 2 /Rotate 270 >>",
        page + " /Parent 6 0 R >>",
        page + " /Parent 6 0 R /Rotate 0 >>",
        qft::stream_body("0 0 m 842 595 l S"),
    });
    qf::doc d;
    ASSERT_EQ(qft::load(pdf, d), 0) << qf::last_error();
    ASSERT_EQ(d.pages.size(), 5u);
    const std::string turned = "q 0.7070 0 0 0.7070 0.1449 0 cm /FmL Do Q\n";
    const std::string unturned = placed_line(a4_w, a4_h, page_box(0, 0, 842, 595, 0), false);
    struct {
        std::int32_t page;
        std::int32_t rotate;
        const char* matrix; // null: no /Matrix
        const std::string& line;
    } cases[] = {
        {1, 90, "/Matrix [0 -1 1 0 0 842]", turned},
        {2, 90, "/Matrix [0 -1 1 0 0 842]", turned}, // 450 turns as 90
        {3, 45, nullptr, unturned},
        {4, 270, "/Matrix [0 1 -1 0 595 0]", turned}, // inherited from its /Pages node
        {5, 0, nullptr, unturned},                    // its own 0 wins over the inherited 270
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "page " << c.page);
        side_run r = emit(d, c.page, -1, {}, a4_w, a4_h);
        ASSERT_EQ(r.result, 3) << qf::last_error();
        const std::string form = r.object(4);
        EXPECT_EQ(form, "4 0 obj\n" + form_of(d, c.page, c.rotate) + "\nendobj\n");
        if (c.matrix)
            EXPECT_NE(form.find(c.matrix), std::string::npos) << form;
        else
            EXPECT_EQ(form.find("/Matrix"), std::string::npos) << form;
        EXPECT_NE(r.object(6).find("stream\n" + c.line + "endstream"), std::string::npos);
    }
    // The page list keeps its records as loaded.
    for (const auto& pi : d.pages) EXPECT_EQ(pi.rotate, 0);
}

TEST(EmitSide, FormResourcesAreRenumberedThroughTheMap) {
    const std::string pdf = qft::make_pdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        "/Resources << /Font << /F1 5 0 R >> >> >>",
        qft::stream_body("BT /F1 12 Tf (x) Tj ET"),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    });
    qf::doc d;
    ASSERT_EQ(qft::load(pdf, d), 0) << qf::last_error();
    qf::renumber_map map;
    qf::map_add(map, 5, 11);
    side_run r = emit(d, -1, 1, map);
    ASSERT_EQ(r.result, 3) << qf::last_error();
    const std::string form = r.object(5);
    EXPECT_NE(form.find("/F1 11 0 R"), std::string::npos) << form;
    EXPECT_EQ(form.find("5 0 R"), std::string::npos) << form;
}

TEST(EmitSide, FailureAppendsNothing) {
    const std::string page = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents ";
    const std::string pdf = qft::make_pdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>",
        page + "5 0 R >>",
        page + "[6 0 R] >>", // a part that can only be carried encoded
        qft::stream_body("0 0 m 10 10 l S"),
        qft::stream_body("abc", "/Filter /LZWDecode"),
    });
    qf::doc d;
    ASSERT_EQ(qft::load(pdf, d), 0) << qf::last_error();

    struct {
        const char* what;
        std::int32_t left, right;
        qf::side_numbers nums;
        std::int32_t missing_page_obj; // page list entry pointed at a number with no object
        const char* message;           // null: none of its own
    } cases[] = {
        {"form of the right slot fails after the left one was built",
         1,
         2,
         {3, 4, 5, 6},
         0,
         "page 2: array /Contents mixes an unsupported filter"},
        {"form of the left slot fails",
         2,
         -1,
         {3, 4, 5, 6},
         0,
         "page 2: array /Contents mixes an unsupported filter"},
        {"page number beyond the page list", -1, 3, {3, 4, 5, 6}, 0, nullptr},
        {"page object missing from the table", 1, -1, {3, 4, 5, 6}, 99, nullptr},
        {"object number outside the offset table", 1, -1, {3, 4, 5, 24}, 0, nullptr},
        {"negative object number", -1, -1, {-3, 4, 5, 6}, 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        qf::doc copy;
        const qf::doc* use = &d;
        if (c.missing_page_obj) {
            ASSERT_EQ(qft::load(pdf, copy), 0);
            copy.pages[0].obj_num = c.missing_page_obj;
            use = &copy;
        }
        qf::clear_error();
        side_run r;
        r.result =
            classic_side(*use, r.out, r.offs, letter_w, letter_h, c.nums, c.left, c.right, {});
        EXPECT_EQ(r.result, -1);
        EXPECT_EQ(r.text(), prefix);
        EXPECT_TRUE(std::all_of(r.offs.begin(), r.offs.end(), [](auto o) { return o == -1; }));
        EXPECT_STREQ(qf::last_error(), c.message ? c.message : "");
    }
}

} // namespace
