// The page tree walk: document order, parents, inherited rotation and boxes, broken trees.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "error.h"
#include "load.h"
#include "pagetree.h"
#include "testutil.h"

namespace {

struct walk {
    int result = 0;
    std::vector<qf::pageinfo> pages;
};

walk walk_tree(const qf::doc& d, std::int32_t root, const qf::inherited_attrs& inh = {}) {
    std::vector<std::uint8_t> visited(static_cast<std::size_t>(d.highest) + 1, 0);
    walk w;
    w.result = qf::resolve_pages(d, root, w.pages, visited, inh, 0);
    return w;
}

// Root /Pages (1) -> /Pages (2) -> /Page (3); objects 4 and 5 hold whatever a case refers
// to, 5 from an object stream.
qf::doc three_level_tree(const std::string& root, const std::string& mid, const std::string& page,
                         const std::string& obj4 = "", const std::string& obj5 = "") {
    return qft::make_doc({"<< /Type /Pages /Kids [2 0 R] /Count 1 " + root + " >>",
                          "<< /Type /Pages /Parent 1 0 R /Kids [3 0 R] /Count 1 " + mid + " >>",
                          "<< /Type /Page /Parent 2 0 R " + page + " >>", obj4,
                          qft::body(obj5, true)});
}

struct box_case {
    const char* name;
    std::string root, mid, page, obj4, obj5;
    qf::box want;
};

TEST(PageBox, OwnInheritedClippedAndDefault) {
    const std::vector<box_case> cases = {
        {"own media box", "", "", "/MediaBox [0 0 612 792]", "", "", {0, 0, 612, 792}},
        {"no box anywhere", "", "", "", "", "", {0, 0, 595, 842}},
        {"decimals", "", "", "/MediaBox [0 0 612.5 792.25]", "", "", {0, 0, 612.5, 792.25}},
        {"five numbers stop after four",
         "",
         "",
         "/MediaBox [0 0 612 792 5]",
         "",
         "",
         {0, 0, 612, 792}},
        {"no closing bracket", "", "", "/CropBox [0 0 500 600", "", "", {0, 0, 500, 600}},
        {"signs, lone point and stray token",
         "",
         "",
         "/MediaBox [+0 . x 612 +792]",
         "",
         "",
         {0, 0, 612, 792}},
        {"three numbers", "", "", "/MediaBox [0 0 612]", "", "", {0, 0, 595, 842}},
        {"zero width", "", "", "/MediaBox [0 0 0 792]", "", "", {0, 0, 595, 842}},
        {"number too long for a double",
         "",
         "",
         "/MediaBox [0 0 " + std::string(400, '9') + " 792]",
         "",
         "",
         {0, 0, 595, 842}},
        {"unusable crop box falls back to media box",
         "",
         "",
         "/CropBox [0 0 0 0] /MediaBox [0 0 612 792]",
         "",
         "",
         {0, 0, 612, 792}},
        {"negative coordinates",
         "",
         "",
         "/MediaBox [-10 -10 600 800]",
         "",
         "",
         {-10, -10, 600, 800}},
        {"corners in reverse order", "", "", "/MediaBox [612 792 0 0]", "", "", {0, 0, 612, 792}},
        {"corners mixed", "", "", "/MediaBox [600 -10 -10 800]", "", "", {-10, -10, 600, 800}},
        {"later occurrence after a nested unusable one",
         "",
         "",
         "/PieceInfo << /MediaBox 7 >> /MediaBox [0 0 300 400]",
         "",
         "",
         {0, 0, 300, 400}},
        {"crop box inside media box",
         "",
         "",
         "/MediaBox [0 0 612 792] /CropBox [36 36 576 756]",
         "",
         "",
         {36, 36, 576, 756}},
        {"crop box partly outside is clipped",
         "",
         "",
         "/MediaBox [0 0 612 792] /CropBox [-20 100 700 900]",
         "",
         "",
         {0, 100, 612, 792}},
        {"disjoint crop box gives media box",
         "",
         "",
         "/MediaBox [0 0 612 792] /CropBox [700 800 900 1000]",
         "",
         "",
         {0, 0, 612, 792}},
        {"crop box touching only an edge gives media box",
         "",
         "",
         "/MediaBox [0 0 612 792] /CropBox [612 0 700 792]",
         "",
         "",
         {0, 0, 612, 792}},
        {"crop box alone is used as it is",
         "",
         "",
         "/CropBox [10 -20 300 400]",
         "",
         "",
         {10, -20, 300, 400}},
        {"indirect media box", "", "", "/MediaBox 4 0 R", "[0 0 420 595]", "", {0, 0, 420, 595}},
        {"indirect box from an object stream",
         "",
         "",
         "/CropBox 5 0 R",
         "",
         "[ 0 0 300 300 ]",
         {0, 0, 300, 300}},
        {"indirect box naming a missing object",
         "",
         "",
         "/MediaBox 9 0 R",
         "",
         "",
         {0, 0, 595, 842}},
        {"indirect box naming a dictionary",
         "",
         "",
         "/MediaBox 4 0 R",
         "<< /A [0 0 1 1] >>",
         "",
         {0, 0, 595, 842}},
        {"reference without R is no box",
         "",
         "",
         "/MediaBox 4 0 /Foo",
         "[0 0 420 595]",
         "",
         {0, 0, 595, 842}},
        {"media box from the tree root",
         "/MediaBox [0 0 612 792]",
         "",
         "",
         "",
         "",
         {0, 0, 612, 792}},
        {"nearest ancestor wins",
         "/MediaBox [0 0 612 792]",
         "/MediaBox [0 0 842 1191]",
         "",
         "",
         "",
         {0, 0, 842, 1191}},
        {"own box wins over inherited",
         "/MediaBox [0 0 612 792]",
         "",
         "/MediaBox [0 0 100 200]",
         "",
         "",
         {0, 0, 100, 200}},
        {"unusable own box inherits",
         "",
         "/MediaBox [0 0 612 792]",
         "/MediaBox [0 0 0 0]",
         "",
         "",
         {0, 0, 612, 792}},
        {"indirect box on a /Pages node",
         "/MediaBox 4 0 R",
         "",
         "",
         "[0 0 420 595]",
         "",
         {0, 0, 420, 595}},
        {"inherited crop box clipped by own media box",
         "/CropBox [0 0 1000 1000]",
         "",
         "/MediaBox [0 0 612 792]",
         "",
         "",
         {0, 0, 612, 792}},
        {"own crop box clipped by inherited media box",
         "/MediaBox [0 0 612 792]",
         "",
         "/CropBox [50 50 700 700]",
         "",
         "",
         {50, 50, 612, 700}},
        {"crop and media inherited from different levels",
         "/MediaBox [0 0 612 792]",
         "/CropBox [18 18 594 774]",
         "",
         "",
         "",
         {18, 18, 594, 774}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const qf::doc d = three_level_tree(c.root, c.mid, c.page, c.obj4, c.obj5);
        const walk w = walk_tree(d, 1);
        ASSERT_EQ(w.result, 1);
        ASSERT_EQ(w.pages.size(), 1u);
        const qf::pageinfo& p = w.pages[0];
        EXPECT_DOUBLE_EQ(p.x0, c.want.x0);
        EXPECT_DOUBLE_EQ(p.y0, c.want.y0);
        EXPECT_DOUBLE_EQ(p.x1, c.want.x1);
        EXPECT_DOUBLE_EQ(p.y1, c.want.y1);
    }
}

// A written "-0" would otherwise reach the output as "-0".
TEST(PageBox, NegativeZeroBecomesZero) {
    const qf::doc d = three_level_tree("", "", "/MediaBox [-0 -0.0 612 792]");
    const walk w = walk_tree(d, 1);
    ASSERT_EQ(w.pages.size(), 1u);
    EXPECT_FALSE(std::signbit(w.pages[0].x0));
    EXPECT_FALSE(std::signbit(w.pages[0].y0));
}

// The box of a page that is the root itself comes from what the caller passes down.
TEST(PageBox, RootPageUsesPassedAttributes) {
    const qf::doc d = qft::make_doc({"<< /Type /Page >>"});
    qf::inherited_attrs inh;
    inh.media = qf::box{0, 0, 612, 792};
    inh.rotate = -90;
    const walk w = walk_tree(d, 1, inh);
    ASSERT_EQ(w.result, 1);
    ASSERT_EQ(w.pages.size(), 1u);
    EXPECT_EQ(w.pages[0].x1, 612);
    EXPECT_EQ(w.pages[0].y1, 792);
    EXPECT_EQ(w.pages[0].inherited_rotate, 270);
}

TEST(Rotate, OwnValueAsWritten) {
    const std::vector<std::pair<std::string, std::optional<std::int32_t>>> cases = {
        {"<< /Rotate 90 >>", 90},
        {"<< /Rotate 450 >>", 450},
        {"<< /Rotate -90 >>", -90},
        {"<< /Rotate -1 >>", -1},
        {"<< /Rotate 0 >>", 0},
        {"<< /Rotate/Foo >>", std::nullopt},
        {"<< /Rotate - 90 >>", std::nullopt},
        {"<< /Rotation 90 >>", std::nullopt},
        {"<< /Type /Page >>", std::nullopt},
    };
    for (const auto& [text, want] : cases) {
        SCOPED_TRACE(text);
        const qf::doc d = qft::make_doc({qft::body(text), qft::body(text, true)});
        EXPECT_EQ(qf::obj_rotate_own(d, d.objects[0]), want);
        EXPECT_EQ(qf::obj_rotate_own(d, d.objects[1]), want);
    }
    // An entry without a dictionary has no /Rotate of its own.
    const qf::doc d = qft::make_doc({"[/Rotate 90]"});
    EXPECT_EQ(qf::obj_rotate_own(d, d.objects[0]), std::nullopt);
}

TEST(Rotate, InheritedThroughTheTree) {
    struct rot_case {
        const char* name;
        std::string root, mid, page;
        std::int32_t want;
    };
    const std::vector<rot_case> cases = {
        {"none", "", "", "", 0},
        {"from the root", "/Rotate 90", "", "", 90},
        {"reduced", "/Rotate 450", "", "", 90},
        {"negative on the root", "/Rotate -90", "", "", 270},
        {"negative on a node overrides the root", "/Rotate 90", "/Rotate -90", "", 270},
        {"own zero on a node overrides the root", "/Rotate 180", "/Rotate 0", "", 0},
        {"unreadable value passes on the inherited one", "/Rotate 180", "/Rotate /X", "", 180},
        {"not a multiple of 90", "/Rotate 45", "", "", 45},
        {"minus one", "/Rotate -1", "", "", 359},
        {"the page's own value is not inherited", "", "", "/Rotate 90", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const qf::doc d = three_level_tree(c.root, c.mid, c.page);
        const walk w = walk_tree(d, 1);
        ASSERT_EQ(w.pages.size(), 1u);
        EXPECT_EQ(w.pages[0].inherited_rotate, c.want);
    }
}

struct tree_case {
    const char* name;
    std::vector<qft::body> bodies;
    std::int32_t root;
    int result;
    std::vector<std::pair<std::int32_t, std::int32_t>> pages; // (obj_num, parent_num)
};

TEST(PageTree, ShapesAndBrokenTrees) {
    const char* page = "<< /Type /Page >>";
    const std::vector<tree_case> cases = {
        {"root is a page", {page}, 1, 1, {{1, -1}}},
        {"depth first, kids in order",
         {"<< /Type /Pages /Kids [2 0 R 5 0 R] >>", "<< /Type /Pages /Kids [3 0 R 4 0 R] >>", page,
          page, page},
         1,
         3,
         {{3, 2}, {4, 2}, {5, 1}}},
        {"a page listed twice",
         {"<< /Type /Pages /Kids [3 0 R 3 0 R] >>", "", page},
         1,
         2,
         {{3, 1}, {3, 1}}},
        {"references written tightly",
         {"<< /Type /Pages /Kids[2 0R\r\n3 0 R] >>", page, page},
         1,
         2,
         {{2, 1}, {3, 1}}},
        {"object 0 is skipped",
         {"<< /Type /Pages /Kids [0 0 R 4 0 R] >>", "", "", page},
         1,
         1,
         {{4, 1}}},
        {"a second number is the generation, not a kid",
         {"<< /Type /Pages /Kids [2 3] >>", page, page},
         1,
         1,
         {{2, 1}}},
        {"stray bytes and a hex string",
         {"<< /Type /Pages /Kids [<ab> 2 0 R x] >>", page},
         1,
         1,
         {{2, 1}}},
        {"/Kids inside a nested dictionary, then the real one",
         {"<< /Type /Pages /Info << /Kids null >> /Kids [2 0 R] >>", page},
         1,
         1,
         {{2, 1}}},
        {"kids without pages next to pages",
         {"<< /Type /Pages /Kids [2 0 R 3 0 R] >>", "<< /Type /Pages /Kids [] >>", page},
         1,
         1,
         {{3, 1}}},
        {"nodes and pages from object streams",
         {qft::body("<< /Type /Pages /Kids [2 0 R] >>", true),
          qft::body("<< /Type /Pages /Kids [3 0 R] >>", true), qft::body(page, true)},
         1,
         1,
         {{3, 2}}},
        {"empty kids", {"<< /Type /Pages /Kids [ ] >>"}, 1, 0, {}},
        {"no kids", {"<< /Type /Pages /Count 0 >>"}, 1, 0, {}},
        {"kids not an array", {"<< /Type /Pages /Kids 2 0 R >>", "[3 0 R]", page}, 1, 0, {}},
        {"a /Pages node reached twice",
         {"<< /Type /Pages /Kids [2 0 R 2 0 R] >>", "<< /Type /Pages /Kids [3 0 R] >>", page},
         1,
         -1,
         {{3, 2}}},
        {"cycle",
         {"<< /Type /Pages /Kids [2 0 R] >>", "<< /Type /Pages /Kids [1 0 R] >>"},
         1,
         -1,
         {}},
        {"node lists itself", {"<< /Type /Pages /Kids [1 0 R] >>"}, 1, -1, {}},
        {"inline page dictionary in the root",
         {"<< /Type /Pages /Kids [<< /Type /Page >>] >>"},
         1,
         -2,
         {}},
        {"inline page dictionary deeper down",
         {"<< /Type /Pages /Kids [2 0 R] >>", "<< /Type /Pages /Kids [<< /Type /Page >>] >>"},
         1,
         -1,
         {}},
        {"missing kid", {"<< /Type /Pages /Kids [2 0 R 7 0 R] >>", page}, 1, -1, {{2, 1}}},
        {"kid that is neither page nor node",
         {"<< /Type /Pages /Kids [2 0 R] >>", "<< /Type /Catalog >>"},
         1,
         -1,
         {}},
        {"missing root", {page}, 5, -1, {}},
        {"root that is a catalog", {"<< /Type /Catalog /Pages 2 0 R >>", page}, 1, -1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const qf::doc d = qft::make_doc(c.bodies);
        const walk w = walk_tree(d, c.root);
        EXPECT_EQ(w.result, c.result);
        std::vector<std::pair<std::int32_t, std::int32_t>> got;
        for (const auto& p : w.pages) got.emplace_back(p.obj_num, p.parent_num);
        EXPECT_EQ(got, c.pages);
    }
}

// More kids than the 4096 every list has room for: the list grows with the node's size.
TEST(PageTree, LongKidsArrayKeepsEveryKid) {
    std::string kids;
    for (int i = 0; i < 5000; ++i) kids += "2 0 R ";
    const qf::doc d =
        qft::make_doc({"<< /Type /Pages /Kids [" + kids + "] >>", "<< /Type /Page >>"});
    const walk w = walk_tree(d, 1);
    EXPECT_EQ(w.result, 5000);
    EXPECT_EQ(w.pages.size(), 5000u);
}

// A chain of `levels` /Pages nodes, each listing the next, with one page at the bottom. The
// root carries a rotation and a box that must reach the page.
qf::doc chain(int levels) {
    std::vector<qft::body> bodies;
    for (int i = 1; i <= levels; ++i) {
        std::string b = "<< /Type /Pages /Kids [" + std::to_string(i + 1) + " 0 R]";
        if (i > 1) b += " /Parent " + std::to_string(i - 1) + " 0 R";
        if (i == 1) b += " /Rotate 90 /MediaBox [0 0 612 792]";
        bodies.emplace_back(b + " >>");
    }
    bodies.emplace_back("<< /Type /Page /Parent " + std::to_string(levels) + " 0 R >>");
    return qft::make_doc(bodies);
}

TEST(PageTree, NestingLimit) {
    for (int levels : {1, 200, 256}) {
        SCOPED_TRACE(levels);
        const qf::doc d = chain(levels);
        const walk w = walk_tree(d, 1);
        ASSERT_EQ(w.result, 1);
        ASSERT_EQ(w.pages.size(), 1u);
        EXPECT_EQ(w.pages[0].obj_num, levels + 1);
        EXPECT_EQ(w.pages[0].parent_num, levels);
        EXPECT_EQ(w.pages[0].inherited_rotate, 90);
        EXPECT_EQ(w.pages[0].x1, 612);
    }
    for (int levels : {257, 100000}) {
        SCOPED_TRACE(levels);
        const qf::doc d = chain(levels);
        EXPECT_EQ(walk_tree(d, 1).result, -1);
    }
}

// Through the whole loader: a tree whose only box stands on its root, as TeX's PDF drivers
// write it, and the messages for trees that cannot be used.
TEST(PageTreeLoad, WholeDocuments) {
    {
        qf::doc d;
        const std::string pdf = qft::make_pdf(
            {"<< /Type /Catalog /Pages 2 0 R >>",
             "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /MediaBox [0 0 612 792] >>",
             "<< /Type /Page /Parent 2 0 R >>", "<< /Type /Page /Parent 2 0 R >>"});
        ASSERT_EQ(qft::load(pdf, d), 0) << qf::last_error();
        ASSERT_EQ(d.pages.size(), 2u);
        for (const auto& p : d.pages) {
            EXPECT_EQ(p.x1, 612);
            EXPECT_EQ(p.y1, 792);
            EXPECT_EQ(p.parent_num, 2);
        }
        qf::doc_free(d);
    }
    const std::vector<std::pair<std::vector<std::string>, std::string>> failures = {
        {{"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [<< /Type /Page >>] >>"},
         "page tree uses inline page dictionaries in /Kids \xE2\x80\x94 pages must be indirect "
         "objects"},
        {{"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] >>"},
         "document has no pages"},
        {{"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] >>",
          "<< /Type /Pages /Kids [2 0 R] >>"},
         "could not resolve the page tree (obj 2 is not a /Pages or /Page object, or tree is "
         "broken)"},
    };
    for (const auto& [bodies, message] : failures) {
        SCOPED_TRACE(message);
        qf::doc d;
        EXPECT_EQ(qft::load(qft::make_pdf(bodies), d), -1);
        EXPECT_STREQ(qf::last_error(), message.c_str());
        qf::doc_free(d);
    }
}

TEST(PageTreeLoad, DeepTreeIsRefused) {
    std::vector<std::string> bodies = {"<< /Type /Catalog /Pages 2 0 R >>"};
    for (int i = 2; i <= 301; ++i)
        bodies.push_back("<< /Type /Pages /Kids [" + std::to_string(i + 1) + " 0 R] >>");
    bodies.push_back("<< /Type /Page >>");
    qf::doc d;
    EXPECT_EQ(qft::load(qft::make_pdf(bodies), d), -1);
    EXPECT_STREQ(qf::last_error(), "could not resolve the page tree (obj 2 is not a /Pages or "
                                   "/Page object, or tree is broken)");
    qf::doc_free(d);
}

} // namespace
