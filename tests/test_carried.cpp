// Carried objects: what the pages' resources reference, closed over further references,
// numbered after the sheet objects and written with their references rewritten.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "carried.h"
#include "error.h"
#include "renumber.h"
#include "resources.h"
#include "testutil.h"
#include "writer.h"

namespace {

using qft::bv;
using namespace std::string_literals;

// ---------------------------------------------------------------------------------------
// scan_refs

struct scan_case {
    std::string text;
    std::vector<std::int32_t> refs;
};

namespace {

// The written objects with the bytes between "stream" and "endstream" left out: the
// references a file holds stand outside stream data.
std::string without_stream_data(const std::string& out) {
    std::string kept;
    std::size_t from = 0;
    for (std::size_t s = out.find("stream\n"); s != std::string::npos;
         s = out.find("stream\n", from)) {
        kept.append(out, from, s - from);
        const std::size_t e = out.find("endstream", s);
        if (e == std::string::npos) return kept;
        from = e + 9;
    }
    return kept.append(out, from);
}

} // namespace

TEST(ScanRefs, FindsReferencesInOrder) {
    const scan_case cases[] = {
        {"5 0 R", {5}},
        {"5 R", {5}},
        {"5 0R", {5}},
        {"5R", {5}},
        {"<< /F1 5 0 R /F2 6 0 R /F3 5 0 R >>", {5, 6, 5}}, // repeats kept
        {"5\n0\nR", {5}},                                   // any PDF white space
        {"5\0000\t\fR"s, {5}},
        {"12 10 R", {12}}, // a two-digit generation belongs to the reference to 12
        {"6 123456 R", {6}},
        {"/Rotate 90", {}},
        {"5 /RGB 6 0 /Rotate", {}},
        {"5 0 RG 6 RGB", {}},
        {"5 0 R5 0 R", {5}}, // the first R runs into a digit; the second one stands alone
        {"/F1 5 0 R", {5}},  // the name's digit is read as a number, then rejected
        {"/F5 6 R", {5}},
        {"1 0 obj << /A 2 0 R >> endobj", {2}},
        {"(7 0 R) % 8 0 R\n9 0 R", {9}}, // strings and comments hold no references
        {"% (\n7 0 R", {7}},             // a comment ends at its line end
        {"(a(b)\\) 7 0 R) 8 0 R", {8}},  // nested and escaped parentheses stay in the string
        {"5 0 R (6 0 R", {5}},           // an unclosed string runs to the end
        {"4294967301 0 R", {5}},         // wraps in 32 bits
        {"5 0 0 R", {0}},
        {"[1 2 3", {}},
        {"5 0 ", {}},
        {"", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(qf::scan_refs(bv(c.text)), c.refs) << '"' << c.text << '"';
}

TEST(ScanRefs, NoCapOnReferencesInOneText) {
    std::string text;
    std::vector<std::int32_t> expected;
    for (int i = 1; i <= 3000; ++i) {
        text += std::to_string(i) + " 0 R ";
        expected.push_back(i);
    }
    EXPECT_EQ(qf::scan_refs(bv(text)), expected);
}

// Whatever the collector counts as a reference, the renumberer rewrites, and nothing else:
// otherwise an object is carried while the text that names it still names the old number.
TEST(ScanRefs, AgreesWithTheRenumberer) {
    const std::string texts[] = {
        "5\n0\nR",
        "5\r\n0\r\nR",
        "12 10 R",
        "5 0 R5 0 R 6 0 R",
        "/F5 6 R",
        "5 0 RG 6 0 R",
        "1 2 3 4 R",
        "4294967301 0 R",
        "5\0000 R"s, // NUL between the parts
        "(6 0 R)%7 0 R\n5 R",
        "5 00 R 5 R 5R",
        "[9 0 R/x 8 0R]",
    };
    for (const auto& text : texts) {
        std::vector<std::int32_t> found = qf::scan_refs(bv(text));
        ASSERT_FALSE(found.empty()) << text;
        qf::renumber_map m;
        std::map<std::int32_t, std::int32_t> assigned;
        for (std::int32_t n : found) {
            if (assigned.count(n)) continue;
            std::int32_t new_num = 1000 + static_cast<std::int32_t>(assigned.size());
            assigned[n] = new_num;
            qf::map_add(m, n, new_num);
        }
        std::vector<std::int32_t> expected;
        for (std::int32_t n : found) expected.push_back(assigned[n]);
        std::string out = qf::remap_res_n(bv(text), m);
        EXPECT_EQ(qf::scan_refs(bv(out)), expected) << '"' << text << "\" -> \"" << out << '"';
    }
}

// ---------------------------------------------------------------------------------------
// Documents

// Catalog 1, page tree node 2, a content stream 3 shared by the pages, the pages at numbers
// first_page, first_page + 1, ... with the given /Resources values (none when empty), and the
// given further objects.
std::string booklet_input(const std::vector<std::string>& page_resources,
                          const std::map<int, std::string>& objects, int first_page = 1000,
                          const std::string& pages_node_extra = "") {
    int count = static_cast<int>(page_resources.size());
    int highest = first_page + count - 1;
    if (!objects.empty()) highest = std::max(highest, objects.rbegin()->first);
    std::vector<std::string> bodies(static_cast<std::size_t>(highest));
    auto body = [&](int num) -> std::string& { return bodies[static_cast<std::size_t>(num - 1)]; };
    std::string kids;
    for (int i = 0; i < count; ++i) kids += std::to_string(first_page + i) + " 0 R ";
    body(1) = "<< /Type /Catalog /Pages 2 0 R >>";
    body(2) = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(count) +
              pages_node_extra + " >>";
    body(3) = qft::stream_body("0 0 m 100 100 l S");
    for (int i = 0; i < count; ++i) {
        std::string res = page_resources[static_cast<std::size_t>(i)];
        body(first_page + i) = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] "
                               "/Contents 3 0 R" +
                               (res.empty() ? "" : " /Resources " + res) + " >>";
    }
    for (const auto& [num, text] : objects) body(num) = text;
    return qft::make_pdf(bodies);
}

std::vector<std::int32_t> consecutive(std::int32_t first, std::size_t n) {
    std::vector<std::int32_t> v;
    for (std::size_t k = 0; k < n; ++k) v.push_back(first + static_cast<std::int32_t>(k));
    return v;
}

class Carried : public ::testing::Test {
  protected:
    qf::doc d;
    qf::renumber_map map;
    std::int32_t nsheets = 1;
    std::vector<std::int64_t> offs;

    ::testing::AssertionResult collect(const std::string& pdf, std::int32_t sheets = 1) {
        nsheets = sheets;
        if (qft::load(pdf, d) != 0)
            return ::testing::AssertionFailure() << "load failed: " << qf::last_error();
        if (qf::collect_carried(d, nsheets, map) != 0)
            return ::testing::AssertionFailure() << "collect failed: " << qf::last_error();
        return ::testing::AssertionSuccess();
    }

    // The map carries exactly these input numbers, in this order, numbered after the sheets.
    void expect_carried(const std::vector<std::int32_t>& old_nums) {
        EXPECT_EQ(map.old_nums, old_nums);
        EXPECT_EQ(map.new_nums, consecutive(10 * nsheets + 1, old_nums.size()));
    }

    std::string written() {
        offs.assign(static_cast<std::size_t>(10 * nsheets + 1) + map.old_nums.size(), -1);
        qf::buf out;
        qf::write_carried(d, out, offs, map);
        EXPECT_FALSE(out.failed);
        return out.data ? std::string(reinterpret_cast<const char*>(out.data), out.len)
                        : std::string();
    }

    // The page's resources as its form will carry them.
    std::string remapped_resources(std::size_t page) {
        const qf::pageinfo& pi = d.pages.at(page);
        auto res = qf::get_resources_inherited(d, qf::find_obj(d, pi.obj_num), pi.parent_num);
        if (!res) return "(none)";
        return qf::remap_res_n(bv(*res), map);
    }
};

TEST_F(Carried, DirectResourcesCarryNothing) {
    std::string direct = "<< /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> "
                         ">> /ProcSet [/PDF /Text] /ExtGState << /G0 << /LW 2 /CA 0.5 >> >> >>";
    ASSERT_TRUE(collect(booklet_input({direct, "", direct}, {})));
    expect_carried({});
    EXPECT_EQ(written(), "");
}

TEST_F(Carried, SharedFontCarriedOnce) {
    std::string res = "<< /Font << /F1 5 0 R >> >>";
    ASSERT_TRUE(collect(booklet_input({res, res}, {{5, "<< /Type /Font /Subtype /Type1 >>"}})));
    expect_carried({5});
    EXPECT_EQ(written(), "11 0 obj\n<< /Type /Font /Subtype /Type1 >>\nendobj\n");
    EXPECT_EQ(remapped_resources(0), "<< /Font << /F1 11 0 R >> >>");
    EXPECT_EQ(remapped_resources(1), "<< /Font << /F1 11 0 R >> >>");
}

TEST_F(Carried, ResourceReferencesInOrderOfFirstAppearance) {
    std::map<int, std::string> objs = {{5, "<< /Type /Font /N 5 >>"},
                                       {6, "<< /Type /Font /N 6 >>"},
                                       {7, "<< /Type /XObject /N 7 >>"}};
    ASSERT_TRUE(collect(booklet_input({"<< /Font << /F2 6 0 R /F1 5 0 R >> >>",
                                       "<< /Font << /F1 5 0 R >> /XObject << /X 7 0 R >> >>"},
                                      objs)));
    expect_carried({6, 5, 7});
}

TEST_F(Carried, ResourcesInheritedFromThePageTree) {
    ASSERT_TRUE(collect(booklet_input({"", ""}, {{5, "<< /Type /Font >>"}}, 1000,
                                      " /Resources << /Font << /F1 5 0 R >> >>")));
    expect_carried({5});
    EXPECT_EQ(remapped_resources(1), "<< /Font << /F1 11 0 R >> >>");
}

TEST_F(Carried, FontDescriptorAndFontFileCarriedInOrder) {
    std::map<int, std::string> objs = {
        {5, "<< /Type /Font /Subtype /Type1 /BaseFont /Demo /FontDescriptor 6 0 R >>"},
        {6, "<< /Type /FontDescriptor /FontName /Demo /FontFile 7 0 R >>"},
        {7, qft::stream_body("FONTDATA 5 0 R")}};
    ASSERT_TRUE(collect(booklet_input({"<< /Font << /F1 5 0 R >> >>"}, objs), 3));
    expect_carried({5, 6, 7});
    std::string
        header5 = "31 0 obj\n",
        body5 =
            "<< /Type /Font /Subtype /Type1 /BaseFont /Demo /FontDescriptor 32 0 R >>\nendobj\n";
    std::string header6 = "32 0 obj\n",
                body6 = "<< /Type /FontDescriptor /FontName /Demo /FontFile 33 0 R >>\nendobj\n";
    // The stream's data is copied as it stands, reference-like text included.
    std::string header7 = "33 0 obj\n",
                body7 = "<< /Length 14 >>\n\nstream\nFONTDATA 5 0 R\nendstream\nendobj\n";
    EXPECT_EQ(written(), header5 + body5 + header6 + body6 + header7 + body7);
    ASSERT_EQ(offs.size(), 34u);
    EXPECT_EQ(offs[31], 0);
    EXPECT_EQ(offs[32], static_cast<std::int64_t>((header5 + body5).size()));
    EXPECT_EQ(offs[33], static_cast<std::int64_t>((header5 + body5 + header6 + body6).size()));
    for (std::size_t i = 0; i < 31; ++i) EXPECT_EQ(offs[i], -1) << i; // sheets are not ours
}

TEST_F(Carried, StringsAndCommentsKeepTheirTextAndCarryNothing) {
    // A marked-content property list whose title quotes a reference, and a comment naming one:
    // neither is followed or rewritten; the real reference after them is.
    std::map<int, std::string> objs = {
        {5, "<< /Title (see 6 0 R \\) or (7 0 R)) % 7 0 R\n/Font 8 0 R >>"},
        {6, "<< /Never /Carried >>"},
        {7, "<< /Never /Carried >>"},
        {8, "<< /Type /Font /Subtype /Type1 /BaseFont /Demo >>"}};
    ASSERT_TRUE(collect(booklet_input({"<< /Properties << /MC0 5 0 R >> >>"}, objs), 3));
    expect_carried({5, 8});
    EXPECT_EQ(written(), "31 0 obj\n<< /Title (see 6 0 R \\) or (7 0 R)) % 7 0 R\n/Font 32 0 R "
                         ">>\nendobj\n32 0 obj\n<< /Type /Font /Subtype /Type1 /BaseFont /Demo "
                         ">>\nendobj\n");
}

TEST_F(Carried, ClosureIsBreadthFirst) {
    std::map<int, std::string> objs = {{5, "<< /A 7 0 R /B 8 0 R >>"},
                                       {6, "<< /C 9 0 R /Back 5 0 R >>"},
                                       {7, "<< /D 10 0 R >>"},
                                       {8, "<< /E 6 0 R >>"},
                                       {9, "<< /F 11 0 R >>"},
                                       {10, "<< >>"},
                                       {11, "<< >>"}};
    ASSERT_TRUE(collect(booklet_input({"<< /Font << /F1 5 0 R /F2 6 0 R >> >>"}, objs)));
    expect_carried({5, 6, 7, 8, 9, 10, 11});
}

TEST_F(Carried, SelfAndAncestorReferencesCarriedOnce) {
    std::map<int, std::string> objs = {{5, "<< /Self 5 0 R /Child 6 0 R >>"},
                                       {6, "<< /Parent 5 0 R /Me 6 0 R >>"}};
    ASSERT_TRUE(
        collect(booklet_input({"<< /Font << /F1 5 0 R >> /Pattern << /P 6 0 R >> >>"}, objs)));
    expect_carried({5, 6});
    EXPECT_EQ(written(), "11 0 obj\n<< /Self 11 0 R /Child 12 0 R >>\nendobj\n"
                         "12 0 obj\n<< /Parent 11 0 R /Me 12 0 R >>\nendobj\n");
}

TEST_F(Carried, LongChainCarriedToItsEnd) {
    // Figures nested far deeper than a handful of levels: every link is followed.
    std::map<int, std::string> objs;
    std::string expected;
    const int first = 5, last = 44;
    for (int n = first; n <= last; ++n) {
        std::string next = n < last ? " /Next " + std::to_string(n + 1) + " 0 R" : "";
        objs[n] = "<< /Level " + std::to_string(n - first) + next + " >>";
        std::string new_next = n < last ? " /Next " + std::to_string(n - first + 12) + " 0 R" : "";
        expected += std::to_string(n - first + 11) + " 0 obj\n<< /Level " +
                    std::to_string(n - first) + new_next + " >>\nendobj\n";
    }
    ASSERT_TRUE(collect(booklet_input({"<< /XObject << /Fig 5 0 R >> >>"}, objs)));
    expect_carried(consecutive(first, last - first + 1));
    EXPECT_EQ(written(), expected);
}

TEST_F(Carried, MissingNumbersWrittenAsEmptyObjects) {
    // 40 lies inside the object numbers but has no object, 5000 lies above them, 0 is never one.
    ASSERT_TRUE(
        collect(booklet_input({"<< /Font << /F1 40 0 R /F2 5000 0 R /F3 0 0 R /F4 5 0 R >> >>"},
                              {{5, "<< /Type /Font /Lost 41 0 R >>"}})));
    expect_carried({40, 5000, 0, 5, 41});
    EXPECT_EQ(written(), "11 0 obj\n\nendobj\n"
                         "12 0 obj\n\nendobj\n"
                         "13 0 obj\n\nendobj\n"
                         "14 0 obj\n<< /Type /Font /Lost 15 0 R >>\nendobj\n"
                         "15 0 obj\n\nendobj\n");
    EXPECT_EQ(remapped_resources(0),
              "<< /Font << /F1 11 0 R /F2 12 0 R /F3 13 0 R /F4 14 0 R >> >>");
}

TEST_F(Carried, MoreMissingNumbersThanTheDocumentHasObjects) {
    // Objects 1 to 5 only; the resources name 30 numbers above them. Each becomes an empty
    // object so that no reference of the output points at an unrelated sheet object.
    std::string res = "<< /XObject <<";
    std::vector<std::int32_t> expected;
    for (int n = 100; n < 130; ++n) {
        res += " /X" + std::to_string(n) + " " + std::to_string(n) + " 0 R";
        expected.push_back(n);
    }
    res += " >> /Font << /F1 5 0 R >> >>";
    expected.push_back(5);
    ASSERT_TRUE(collect(booklet_input({res}, {{5, "<< /Type /Font >>"}}, 4)));
    expect_carried(expected);
    std::string out = written();
    for (std::int32_t n : qf::scan_refs(bv(remapped_resources(0)))) {
        EXPECT_GE(n, 11);
        EXPECT_LE(n, 41);
    }
    EXPECT_NE(out.find("40 0 obj\n\nendobj\n41 0 obj\n<< /Type /Font >>\nendobj\n"),
              std::string::npos);
}

TEST_F(Carried, ManyReferencesFromOneObject) {
    std::map<int, std::string> objs;
    std::string array = "[";
    std::string expected_array = "[";
    std::vector<std::int32_t> expected = {5};
    for (int n = 6; n <= 305; ++n) {
        objs[n] = "<< /K " + std::to_string(n) + " >>";
        array += std::to_string(n) + " 0 R ";
        expected_array += std::to_string(n + 6) + " 0 R ";
        expected.push_back(n);
    }
    objs[5] = array + "]";
    ASSERT_TRUE(collect(booklet_input({"<< /Properties << /All 5 0 R >> >>"}, objs)));
    expect_carried(expected);
    std::string out = written();
    EXPECT_EQ(out.substr(0, out.find("\nendobj\n")), "11 0 obj\n" + expected_array + "]");
}

TEST_F(Carried, ImageStreamKeepsItsDataByteForByte) {
    std::string pixels;
    for (int i = 0; i < 48; ++i) pixels += static_cast<char>(i * 37);
    uLongf zlen = compressBound(pixels.size());
    std::string packed(zlen, '\0');
    ASSERT_EQ(compress(reinterpret_cast<Bytef*>(packed.data()), &zlen,
                       reinterpret_cast<const Bytef*>(pixels.data()), pixels.size()),
              Z_OK);
    packed.resize(zlen);
    std::string image_dict = "<< /Type /XObject /Subtype /Image /Width 4 /Height 4 /ColorSpace %CS "
                             "/BitsPerComponent 8 /Filter /FlateDecode /Length %LEN >>";
    auto dict_with = [&](const std::string& cs, const std::string& len) {
        std::string s = image_dict;
        s.replace(s.find("%CS"), 3, cs);
        s.replace(s.find("%LEN"), 4, len);
        return s;
    };
    std::string icc_data = "ICC 5 0 R 9 0 R profile";
    std::map<int, std::string> objs = {
        {5, dict_with("6 0 R", "7 0 R") + "\nstream\n" + packed + "\nendstream"},
        {6, "[/ICCBased 8 0 R]"},
        {7, std::to_string(packed.size())},
        {8, qft::stream_body(icc_data, "/N 3 /Alternate /DeviceRGB")},
        {9, "<< /NotCarried true >>"}};
    ASSERT_TRUE(collect(booklet_input({"<< /XObject << /Im1 5 0 R >> >>"}, objs)));
    expect_carried({5, 6, 7, 8});
    EXPECT_EQ(written(), "11 0 obj\n" + dict_with("12 0 R", "13 0 R") + "\n\nstream\n" + packed +
                             "\nendstream\nendobj\n"
                             "12 0 obj\n[/ICCBased 14 0 R]\nendobj\n"
                             "13 0 obj\n" +
                             std::to_string(packed.size()) +
                             "\nendobj\n"
                             "14 0 obj\n<< /Length 23 /N 3 /Alternate /DeviceRGB >>\n\nstream\n" +
                             icc_data + "\nendstream\nendobj\n");
}

TEST_F(Carried, NamesBeginningWithRNeverCompleteAReference) {
    std::map<int, std::string> objs = {
        {5, "<< /Rotate 90 /Alt 9 0 RGB /Turn 10 Rotate /CS /RGB >>"},
        {7, "<< /Wrong 7 >>"},
        {8, "<< /Wrong 8 >>"},
        {9, "<< /Wrong 9 >>"},
        {10, "<< /Wrong 10 >>"}};
    ASSERT_TRUE(
        collect(booklet_input({"<< /ColorSpace << /CS0 /RGB /CS1 [/Indexed /RGB 1 5 0 R] >> "
                               "/Properties << /P0 << /Rotate 90 /N 7 Rotate /M 8 0 RGB >> >> >>"},
                              objs)));
    expect_carried({5});
    EXPECT_EQ(written(), "11 0 obj\n" + objs[5] + "\nendobj\n");
}

TEST_F(Carried, ReferenceAcrossLineBreaksCarriedAndRenumbered) {
    std::map<int, std::string> objs = {{5, "<< /Type /Font /FontDescriptor 6\r\n0\nR >>"},
                                       {6, "<< /Type /FontDescriptor >>"}};
    ASSERT_TRUE(collect(booklet_input({"<< /Font << /F1 5 0\nR >> >>"}, objs)));
    expect_carried({5, 6});
    EXPECT_EQ(remapped_resources(0), "<< /Font << /F1 11 0 R >> >>");
    EXPECT_EQ(written(), "11 0 obj\n<< /Type /Font /FontDescriptor 12 0 R >>\nendobj\n"
                         "12 0 obj\n<< /Type /FontDescriptor >>\nendobj\n");
}

TEST_F(Carried, TwoDigitGenerationReferencesTheFirstNumber) {
    std::map<int, std::string> objs = {{10, "<< /Wrong true >>"}, {12, "<< /Type /Font >>"}};
    ASSERT_TRUE(collect(booklet_input({"<< /Font << /F1 12 10 R >> >>"}, objs)));
    expect_carried({12});
    EXPECT_EQ(remapped_resources(0), "<< /Font << /F1 11 0 R >> >>");
}

TEST_F(Carried, ObjectsFromAnObjectStreamWrittenFromTheirText) {
    std::string font = "<< /Type /Font /FontDescriptor 6 0 R >>";
    std::string descriptor = "<< /Type /FontDescriptor /FontFile 7 0 R >>";
    std::string offsets = "5 0 6 " + std::to_string(font.size() + 1) + " ";
    std::string packed = offsets + font + " " + descriptor;
    std::map<int, std::string> objs = {
        {7, qft::stream_body("FONT")},
        {20,
         qft::stream_body(packed, "/Type /ObjStm /N 2 /First " + std::to_string(offsets.size()))}};
    ASSERT_TRUE(collect(booklet_input({"<< /Font << /F1 5 0 R >> >>"}, objs)));
    expect_carried({5, 6, 7});
    // An object's text in the stream runs to the next one's offset, its separator included.
    EXPECT_EQ(written(), "11 0 obj\n<< /Type /Font /FontDescriptor 12 0 R >> \nendobj\n"
                         "12 0 obj\n<< /Type /FontDescriptor /FontFile 13 0 R >>\nendobj\n"
                         "13 0 obj\n<< /Length 4 >>\n\nstream\nFONT\nendstream\nendobj\n");
}

// ---------------------------------------------------------------------------------------
// Large documents

// Catalog 1, page tree 2, content 3, a font 4 shared by every page; then per page the page
// and its images, each image followed by its soft mask. Fills the numbers the map must carry.
std::string many_images(int pages, int images_per_page, std::vector<std::int32_t>& carried,
                        std::vector<std::vector<std::int32_t>>& page_images) {
    std::vector<std::string> bodies = {"<< /Type /Catalog /Pages 2 0 R >>", "",
                                       qft::stream_body("0 0 m 1 1 l S"),
                                       "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
    std::vector<std::int32_t> images, masks;
    std::string kids;
    for (int p = 0; p < pages; ++p) {
        auto page_num = static_cast<std::int32_t>(bodies.size() + 1);
        kids += std::to_string(page_num) + " 0 R ";
        bodies.emplace_back();
        std::string xobjects;
        page_images.emplace_back();
        for (int i = 0; i < images_per_page; ++i) {
            auto image = static_cast<std::int32_t>(bodies.size() + 1);
            xobjects += " /Im" + std::to_string(i) + " " + std::to_string(image) + " 0 R";
            bodies.push_back(qft::stream_body(std::string(1, static_cast<char>(image & 0xff)),
                                              "/Type /XObject /Subtype /Image /Width 1 /Height 1 "
                                              "/ColorSpace /DeviceGray /BitsPerComponent 8 "
                                              "/SMask " +
                                                  std::to_string(image + 1) + " 0 R"));
            bodies.push_back(qft::stream_body("\xff", "/Type /XObject /Subtype /Image /Width 1 "
                                                      "/Height 1 /ColorSpace /DeviceGray "
                                                      "/BitsPerComponent 8"));
            images.push_back(image);
            masks.push_back(image + 1);
            page_images.back().push_back(image);
        }
        bodies[static_cast<std::size_t>(page_num - 1)] =
            "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 3 0 R "
            "/Resources << /Font << /F1 4 0 R >> /XObject <<" +
            xobjects + " >> >> >>";
    }
    bodies[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>";
    carried = {4};
    carried.insert(carried.end(), images.begin(), images.end());
    carried.insert(carried.end(), masks.begin(), masks.end());
    return qft::make_pdf(bodies);
}

struct large_case {
    const char* name;
    int pages;
    int images_per_page;
};

void PrintTo(const large_case& c, std::ostream* os) {
    *os << c.name;
}

class CarriedLarge : public Carried, public ::testing::WithParamInterface<large_case> {};

TEST_P(CarriedLarge, EveryReferenceCarriedAndRenumbered) {
    std::vector<std::int32_t> expected;
    std::vector<std::vector<std::int32_t>> page_images;
    std::string pdf =
        many_images(GetParam().pages, GetParam().images_per_page, expected, page_images);
    ASSERT_TRUE(collect(pdf, (GetParam().pages + 3) / 4));
    ASSERT_GT(expected.size(), 2048u);
    expect_carried(expected);

    const std::int32_t first_new = 10 * nsheets + 1;
    const auto last_new = first_new + static_cast<std::int32_t>(expected.size()) - 1;
    std::string out = written();
    // Every reference of the carried bodies names a carried object of the output.
    std::vector<std::int32_t> refs = qf::scan_refs(bv(without_stream_data(out)));
    EXPECT_EQ(refs.size(), expected.size() / 2); // one soft mask per image
    for (std::int32_t n : refs) {
        ASSERT_GE(n, first_new);
        ASSERT_LE(n, last_new);
    }
    for (std::size_t k = 0; k < map.new_nums.size(); ++k) {
        auto m = static_cast<std::size_t>(map.new_nums[k]);
        ASSERT_LT(m, offs.size());
        EXPECT_EQ(out.substr(static_cast<std::size_t>(offs[m]), std::to_string(m).size() + 7),
                  std::to_string(m) + " 0 obj\n");
    }
    // Each page's form resources name the new numbers of that page's own images.
    for (std::size_t p = 0; p < d.pages.size(); p += d.pages.size() / 7 + 1) {
        std::string res = remapped_resources(p);
        std::vector<std::int32_t> want = {qf::map_lookup(map, 4)};
        for (std::int32_t image : page_images[p]) want.push_back(qf::map_lookup(map, image));
        EXPECT_EQ(qf::scan_refs(bv(res)), want) << "page " << p;
    }
}

// The whole booklet: no reference of the file, in the forms' resources or in the carried
// objects, may name a number the file does not define.
TEST_P(CarriedLarge, BookletHasNoDanglingReference) {
    std::vector<std::int32_t> expected;
    std::vector<std::vector<std::int32_t>> page_images;
    ASSERT_EQ(
        qft::load(many_images(GetParam().pages, GetParam().images_per_page, expected, page_images),
                  d),
        0)
        << qf::last_error();
    std::string path = qft::temp_dir() + "/booklet.pdf";
    ASSERT_EQ(qf::booklet_doc(d, path.c_str(), 0), 1) << qf::last_error();
    std::string out = qft::read_file(path);

    std::set<std::int32_t> defined;
    for (std::size_t at = out.find(" 0 obj\n"); at != std::string::npos;
         at = out.find(" 0 obj\n", at + 1)) {
        std::size_t from = out.rfind('\n', at) + 1;
        defined.insert(std::stoi(out.substr(from, at - from)));
    }
    const std::int32_t first_new = 10 * ((GetParam().pages + 3) / 4) + 1;
    for (std::size_t k = 0; k < expected.size(); ++k)
        ASSERT_TRUE(defined.count(first_new + static_cast<std::int32_t>(k))) << k;
    std::size_t refs = 0;
    for (std::int32_t n : qf::scan_refs(bv(without_stream_data(out)))) {
        ASSERT_TRUE(defined.count(n)) << n;
        ++refs;
    }
    EXPECT_GT(refs, expected.size());
    // Images and their masks are carried objects, never sheet objects of the same number.
    std::size_t named = 0;
    for (const std::string key : {"/Im", "/SMask "}) {
        for (std::size_t at = out.find(key); at != std::string::npos; at = out.find(key, at + 1)) {
            if (key == "/Im" && !std::isdigit(static_cast<unsigned char>(out[at + 3])))
                continue; // /Image
            std::size_t pos = out.find(' ', at + 1) + 1;
            std::int32_t num = 0;
            std::size_t end = 0;
            ASSERT_TRUE(qf::match_ref(bv(out), pos, num, end)) << out.substr(at, 30);
            EXPECT_GE(num, first_new) << out.substr(at, 30);
            ++named;
        }
    }
    EXPECT_EQ(named, expected.size() - 1);
    if (qft::have_tool("qpdf")) {
        std::string report;
        EXPECT_EQ(qft::run("qpdf --check " + path, &report, true), 0) << report;
    }
}

INSTANTIATE_TEST_SUITE_P(Documents, CarriedLarge,
                         ::testing::Values(large_case{"OneImagePerPageOver1100Pages", 1100, 1},
                                           large_case{"OnePageWith1100Images", 1, 1100},
                                           large_case{"FiftyPagesWith30ImagesEach", 50, 30}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
