// Page form XObjects: the header with box, matrix, length, filter and resources, and the three
// ways a page's /Contents is carried (one stream, an array joined, a stream inside the page).
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "error.h"
#include "form.h"
#include "renumber.h"
#include "testutil.h"

namespace {

using namespace std::string_literals;
using qft::stream_body;

// Catalog 1, page tree 2, one page 3 with `page_keys`; `more` become objects 4, 5, ...
std::string one_page_pdf(const std::string& page_keys, const std::vector<std::string>& more = {}) {
    std::vector<std::string> bodies = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] " + page_keys + " >>",
    };
    bodies.insert(bodies.end(), more.begin(), more.end());
    return qft::make_pdf(bodies);
}

struct form_result {
    std::optional<std::string> body;
    std::string error;
};

// The form of the page at `index` of a loaded document, with the given rotation.
form_result build_form(const qf::doc& d, std::size_t index, std::int32_t rotate = 0,
                       const qf::renumber_map& map = {}, std::int32_t page_number = 1) {
    form_result r;
    if (index >= d.pages.size()) {
        ADD_FAILURE() << "no page " << index;
        return r;
    }
    qf::pageinfo pi = d.pages[index];
    pi.rotate = rotate;
    const qf::obj* page = qf::find_obj(d, pi.obj_num);
    if (!page) {
        ADD_FAILURE() << "page object missing";
        return r;
    }
    qf::clear_error();
    auto body = qf::build_form_xobject(d, *page, pi, map, page_number);
    if (body) r.body = std::string(body->begin(), body->end());
    r.error = qf::last_error();
    return r;
}

form_result load_and_build(const std::string& pdf, std::int32_t rotate = 0,
                           const qf::renumber_map& map = {}, std::int32_t page_number = 1) {
    qf::doc d;
    if (qft::load(pdf, d) != 0) {
        ADD_FAILURE() << "load failed: " << qf::last_error();
        return {};
    }
    return build_form(d, 0, rotate, map, page_number);
}

// Splits a form body into its dictionary text (from "<<" through " >> stream\n") and content.
struct form_parts {
    std::string header;
    std::string content;
};

form_parts split(const std::string& body) {
    form_parts p;
    const std::string open = " >> stream\n";
    const std::string close = "\nendstream";
    auto h = body.find(open);
    EXPECT_NE(h, std::string::npos) << body;
    EXPECT_GE(body.size(), close.size());
    if (h == std::string::npos || body.size() < h + open.size() + close.size()) return p;
    EXPECT_EQ(body.substr(body.size() - close.size()), close);
    p.header = body.substr(0, h + open.size());
    p.content = body.substr(h + open.size(), body.size() - close.size() - (h + open.size()));
    return p;
}

std::string header_for(const std::string& content, const std::string& tail = "") {
    return "<< /Type /XObject /Subtype /Form /BBox [0 0 612 792] /Length " +
           std::to_string(content.size()) + tail + " >> stream\n";
}

TEST(FormXObject, PageWithoutContents) {
    form_result r = load_and_build(one_page_pdf(""));
    ASSERT_TRUE(r.body);
    EXPECT_EQ(*r.body, "<< /Type /XObject /Subtype /Form /BBox [0 0 612 792] /Length 0 >> stream\n"
                       "\nendstream");
}

TEST(FormXObject, MatrixByRotation) {
    qf::doc d;
    ASSERT_EQ(qft::load(one_page_pdf(""), d), 0);
    struct rotation_case {
        std::int32_t rotate;
        std::string matrix; // empty: none
    };
    const rotation_case cases[] = {
        {0, ""},
        {45, ""},
        {90, " /Matrix [0 -1 1 0 0 612]"},
        {180, " /Matrix [-1 0 0 -1 612 792]"},
        {270, " /Matrix [0 1 -1 0 792 0]"},
        {450, " /Matrix [0 -1 1 0 0 612]"},
        {-90, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rotate);
        form_result r = build_form(d, 0, c.rotate);
        ASSERT_TRUE(r.body);
        EXPECT_EQ(*r.body, "<< /Type /XObject /Subtype /Form /BBox [0 0 612 792]" + c.matrix +
                               " /Length 0 >> stream\n\nendstream");
    }
}

struct matrix {
    double a, b, c, d, e, f;
};

std::optional<matrix> matrix_of(const std::string& body) {
    auto at = body.find("/Matrix [");
    if (at == std::string::npos) return std::nullopt;
    matrix m{};
    if (std::sscanf(body.c_str() + at, "/Matrix [%lf %lf %lf %lf %lf %lf]", &m.a, &m.b, &m.c, &m.d,
                    &m.e, &m.f) != 6)
        return std::nullopt;
    return m;
}

TEST(FormXObject, TurnedBoxLandsWhereTheSheetExpectsIt) {
    // A box whose lower-left corner is not the origin.
    qf::doc d;
    ASSERT_EQ(qft::load(one_page_pdf(""), d), 0);
    d.pages[0].x0 = 10;
    d.pages[0].y0 = 20;
    d.pages[0].x1 = 110;
    d.pages[0].y1 = 220;
    struct landing {
        std::int32_t rotate;
        double x_lo, x_hi, y_lo, y_hi;
    };
    const landing cases[] = {
        {90, 20, 220, 0, 100},
        {180, 0, 100, 0, 200},
        {270, 0, 200, 10, 110},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rotate);
        form_result r = build_form(d, 0, c.rotate);
        ASSERT_TRUE(r.body);
        EXPECT_NE(r.body->find("/BBox [10 20 110 220] /Matrix ["), std::string::npos);
        auto m = matrix_of(*r.body);
        ASSERT_TRUE(m);
        double xs[4], ys[4];
        const double corners[4][2] = {{10, 20}, {110, 20}, {10, 220}, {110, 220}};
        for (int k = 0; k < 4; ++k) {
            xs[k] = m->a * corners[k][0] + m->c * corners[k][1] + m->e;
            ys[k] = m->b * corners[k][0] + m->d * corners[k][1] + m->f;
        }
        EXPECT_DOUBLE_EQ(*std::min_element(xs, xs + 4), c.x_lo);
        EXPECT_DOUBLE_EQ(*std::max_element(xs, xs + 4), c.x_hi);
        EXPECT_DOUBLE_EQ(*std::min_element(ys, ys + 4), c.y_lo);
        EXPECT_DOUBLE_EQ(*std::max_element(ys, ys + 4), c.y_hi);
    }
    form_result upright = build_form(d, 0, 0);
    ASSERT_TRUE(upright.body);
    EXPECT_EQ(split(*upright.body).header,
              "<< /Type /XObject /Subtype /Form /BBox [10 20 110 220] /Length 0 >> stream\n");
}

TEST(FormXObject, FractionalBoxNumbers) {
    qf::doc d;
    ASSERT_EQ(qft::load(one_page_pdf(""), d), 0);
    d.pages[0].x1 = 595.28;
    d.pages[0].y1 = 841.89;
    form_result r = build_form(d, 0, 90);
    ASSERT_TRUE(r.body);
    EXPECT_EQ(split(*r.body).header, "<< /Type /XObject /Subtype /Form /BBox [0 0 595.2800 "
                                     "841.8900] /Matrix [0 -1 1 0 0 595.2800] /Length 0 >> "
                                     "stream\n");
}

// Pages whose content is carried, with the bytes and filter entries expected in the form.
struct content_case {
    const char* name;
    std::string pdf;
    std::string content;
    std::string filter_tail;
};

std::string objstm_body(const std::string& numbers_and_offsets, const std::string& objects) {
    return stream_body(numbers_and_offsets + objects,
                       "/Type /ObjStm /N 1 /First " + std::to_string(numbers_and_offsets.size()));
}

std::vector<content_case> content_cases() {
    const std::string a = "0 0 m 100 100 l S";
    const std::string b = "BT /F1 9 Tf (b) Tj ET";
    const std::string lzw = "\x80\x0b\x60\x50\x22\x0c\x0c\x85\x01"s;
    return {
        {"single stream", one_page_pdf("/Contents 4 0 R", {stream_body(a)}), a, ""},
        {"single flate stream decoded",
         one_page_pdf("/Contents 4 0 R",
                      {stream_body(qft::zlib_compress(a), "/Filter /FlateDecode")}),
         a, ""},
        {"single stream carried encoded keeps its filter",
         one_page_pdf("/Contents 4 0 R",
                      {stream_body(lzw, "/Filter /LZWDecode /DecodeParms << /EarlyChange 0 >>")}),
         lzw, " /Filter /LZWDecode /DecodeParms << /EarlyChange 0 >>"},
        // Filter entries given by reference are read through the reference, and copied into
        // the form as values: the input's numbers mean nothing in the output.
        {"filter given by reference decodes",
         one_page_pdf("/Contents 4 0 R",
                      {stream_body(qft::zlib_compress(a), "/Filter 5 0 R"), "/FlateDecode"}),
         a, ""},
        {"filter and parameters given by reference are carried as values",
         one_page_pdf("/Contents 4 0 R", {stream_body(lzw, "/Filter 5 0 R /DecodeParms 6 0 R"),
                                          "[/LZWDecode]", "<< /EarlyChange 0 >>"}),
         lzw, " /Filter [/LZWDecode] /DecodeParms << /EarlyChange 0 >>"},
        {"parameters in an object stream",
         one_page_pdf("/Contents 4 0 R",
                      {stream_body(lzw, "/Filter /LZWDecode /DecodeParms 12 0 R"),
                       objstm_body("12 0\n", "<< /EarlyChange 0 >>")}),
         lzw, " /Filter /LZWDecode /DecodeParms << /EarlyChange 0 >>"},
        {"array joined with line feeds",
         one_page_pdf("/Contents [4 0 R 5 0 R]",
                      {stream_body(a), stream_body(qft::zlib_compress(b), "/Filter /Fl")}),
         a + "\n" + b + "\n", ""},
        {"array without spaces",
         one_page_pdf("/Contents[4 0 R 5 0 R]", {stream_body(a), stream_body(b)}),
         a + "\n" + b + "\n", ""},
        {"array passes over missing, zero and non-stream references",
         one_page_pdf("/Contents [4 0 R 99 0 R 0 0 R 6 0 R 5 0 R]",
                      {stream_body(a), stream_body(b), "<< /Not /AStream >>"}),
         a + "\n" + b + "\n", ""},
        {"array without usable references", one_page_pdf("/Contents [99 0 R 4 0 R]", {"[1 2]"}), "",
         ""},
        {"empty array", one_page_pdf("/Contents []"), "", ""},
        {"reference to an array object",
         one_page_pdf("/Contents 6 0 R", {stream_body(a), stream_body(b), "[4 0 R 5 0 R]"}),
         a + "\n" + b + "\n", ""},
        {"reference to an array in an object stream",
         one_page_pdf("/Contents 12 0 R",
                      {stream_body(a), stream_body(b), objstm_body("12 0\n", "[4 0 R\n5 0 R]")}),
         a + "\n" + b + "\n", ""},
        {"reference to a non-stream dictionary", one_page_pdf("/Contents 4 0 R", {"<< /A 1 >>"}),
         "", ""},
        {"reference to a number object", one_page_pdf("/Contents 4 0 R", {"42"}), "", ""},
        {"reference to a missing object", one_page_pdf("/Contents 9 0 R"), "", ""},
        {"reference to object 0", one_page_pdf("/Contents 0 0 R"), "", ""},
        {"null contents", one_page_pdf("/Contents null", {stream_body(a)}), "", ""},
        {"string contents", one_page_pdf("/Contents (4 0 R)", {stream_body(a)}), "", ""},
        {"inline stream, CR LF",
         one_page_pdf("/Contents << /Length 5 >> stream\r\nHELLO\nendstream"), "HELLO", ""},
        {"inline stream, LF", one_page_pdf("/Contents << /Length 5 >> stream\nHELLO\nendstream"),
         "HELLO", ""},
        {"inline stream, space", one_page_pdf("/Contents << /Length 5 >> stream HELLO endstream"),
         "HELLO", ""},
        {"inline stream, CR alone",
         one_page_pdf("/Contents << /Length 5 >> stream\rHELLO endstream"), "HELLO", ""},
        {"inline stream decoded",
         one_page_pdf("/Contents << /Length 11 /Filter /AHx >> stream\n48454C4C4F>\nendstream"),
         "HELLO", ""},
        {"inline stream carried encoded",
         one_page_pdf("/Contents << /Length 5 /Filter /JBIG2Decode >> stream\nHELLO\nendstream"),
         "HELLO", " /Filter /JBIG2Decode"},
        {"inline stream, indirect length",
         one_page_pdf("/Contents << /Length 4 0 R >> stream\nHELLO\nendstream", {"3"}), "HEL", ""},
        {"inline stream, length object is a stream",
         one_page_pdf("/Contents << /Length 4 0 R >> stream\nHELLO\nendstream", {stream_body("3")}),
         "", ""},
        {"inline stream, length past the range",
         one_page_pdf("/Contents << /Length 500 >> stream\nHELLO\nendstream"), "", ""},
        {"inline stream, huge length",
         one_page_pdf("/Contents << /Length 2147483647 >> stream\nHELLO\nendstream"), "", ""},
        {"inline stream, negative length",
         one_page_pdf("/Contents << /Length -5 >> stream\nHELLO\nendstream"), "", ""},
        {"inline dictionary without stream", one_page_pdf("/Contents << /Length 5 >>"), "", ""},
    };
}

TEST(FormXObject, CarriesContents) {
    for (const auto& c : content_cases()) {
        SCOPED_TRACE(c.name);
        form_result r = load_and_build(c.pdf);
        ASSERT_TRUE(r.body) << r.error;
        form_parts p = split(*r.body);
        EXPECT_EQ(p.header, header_for(c.content, c.filter_tail));
        EXPECT_EQ(p.content, c.content);
    }
}

TEST(FormXObject, ContentFailures) {
    const std::string uncopyable = "/Length 3 /Filter [/LZWDecode";
    struct failure_case {
        const char* name;
        std::string pdf;
        std::string error;
    };
    const failure_case cases[] = {
        {"array with an encoded stream",
         one_page_pdf("/Contents [4 0 R 5 0 R]",
                      {stream_body("abc"), stream_body("xyz", "/Filter /LZWDecode")}),
         "page 7: array /Contents mixes an unsupported filter"},
        {"array whose only stream is encoded",
         one_page_pdf("/Contents [4 0 R]", {stream_body("xyz", "/Filter /DCTDecode")}),
         "page 7: array /Contents mixes an unsupported filter"},
        {"array object with an encoded stream",
         one_page_pdf("/Contents 5 0 R", {stream_body("xyz", "/Filter /LZWDecode"), "[4 0 R]"}),
         "page 7: array /Contents mixes an unsupported filter"},
        {"array with a stream that cannot be carried",
         one_page_pdf("/Contents [4 0 R]", {stream_body("abc", uncopyable)}),
         "page 7: content stream cannot be carried (unsupported /Filter)"},
        {"single stream that cannot be carried",
         one_page_pdf("/Contents 4 0 R", {stream_body("abc", uncopyable)}),
         "page 7: content stream cannot be carried (unsupported /Filter)"},
        {"inline stream that cannot be carried",
         one_page_pdf("/Contents << " + uncopyable + " >> stream\nabc\nendstream"),
         "page 7: inline content stream cannot be carried (unsupported /Filter)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        form_result r = load_and_build(c.pdf, 0, {}, 7);
        EXPECT_FALSE(r.body);
        EXPECT_EQ(r.error, c.error);
    }
}

TEST(FormXObject, ResourcesFromTheGrandparentRenumbered) {
    // Catalog 1, root node 2 with the resources, node 3, page 4, content 5, font 6.
    const std::string pdf = qft::make_pdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 /Resources << /Font << /F1 6 0 R >> >> >>",
        "<< /Type /Pages /Parent 2 0 R /Kids [4 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 3 0 R /MediaBox [0 0 612 792] /Contents 5 0 R >>",
        stream_body("xyz", "/Filter /LZWDecode"),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    });
    qf::doc d;
    ASSERT_EQ(qft::load(pdf, d), 0);
    ASSERT_EQ(d.pages.size(), 1u);
    EXPECT_EQ(d.pages[0].parent_num, 3);
    qf::renumber_map map;
    qf::map_add(map, 6, 23);
    form_result r = build_form(d, 0, 0, map);
    ASSERT_TRUE(r.body);
    EXPECT_EQ(*r.body, "<< /Type /XObject /Subtype /Form /BBox [0 0 612 792] /Length 3 /Filter "
                       "/LZWDecode /Resources << /Font << /F1 23 0 R >> >> >> stream\n"
                       "xyz\nendstream");
}

TEST(FormXObject, PageInsideAnObjectStream) {
    // The page's own text lies in an object stream: its array, inline stream and resources
    // are read from there.
    const std::string a = "0 0 m 5 5 l S";
    struct objstm_case {
        const char* name;
        std::string contents;
        std::string content;
    };
    const objstm_case cases[] = {
        {"array", "/Contents [4 0 R 4 0 R]", a + "\n" + a + "\n"},
        {"inline stream", "/Contents << /Length 5 >> stream\nHELLO\nendstream", "HELLO"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string page = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] " +
                                 c.contents + " /Resources << /XObject << /X 5 0 R >> >> >>";
        const std::string pdf = qft::make_pdf({
            "<< /Type /Catalog /Pages 2 0 R >>",
            "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
            "",
            stream_body(a),
            stream_body("q Q"),
            objstm_body("3 0\n", page),
        });
        qf::doc d;
        ASSERT_EQ(qft::load(pdf, d), 0);
        const qf::obj* page_obj = qf::find_obj(d, 3);
        ASSERT_TRUE(page_obj && page_obj->in_objstm);
        qf::renumber_map map;
        qf::map_add(map, 5, 40);
        form_result r = build_form(d, 0, 0, map);
        ASSERT_TRUE(r.body) << r.error;
        form_parts p = split(*r.body);
        EXPECT_EQ(p.header, header_for(c.content, " /Resources << /XObject << /X 40 0 R >> >>"));
        EXPECT_EQ(p.content, c.content);
    }
}

} // namespace
