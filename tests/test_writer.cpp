// The booklet file writer: object numbering, cross-reference table, trailer, and what happens
// to the output path when building or writing fails. Every produced file is parsed back here.
#include <gtest/gtest.h>

#include <csignal>
#include <regex>
#include <set>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "doc.h"
#include "error.h"
#include "load.h"
#include "testutil.h"
#include "writer.h"

namespace {

const std::string header_bytes = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
const std::string catalog_obj = "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";

// The cross-reference table and trailer of a produced file, read back.
struct xref_view {
    long size = 0;
    long startxref = -1;
    std::vector<long> offs; // by object number; -1 for a free entry
};

// Checks the fixed layout of the file's end (xref table of 20-byte lines, trailer, %%EOF) and
// that every in-use entry points at the first digit of its object's header line.
testing::AssertionResult read_xref(const std::string& f, xref_view& v) {
    const std::size_t trailer_at = f.rfind("trailer\n");
    if (trailer_at == std::string::npos) return testing::AssertionFailure() << "no trailer";
    static const std::regex trailer_re(
        "trailer\n<< /Size ([0-9]+) /Root 1 0 R >>\nstartxref ([0-9]+)\n%%EOF\n");
    std::smatch m;
    const std::string tail = f.substr(trailer_at);
    if (!std::regex_match(tail, m, trailer_re))
        return testing::AssertionFailure() << "trailer reads: " << tail;
    v.size = std::stol(m[1]);
    v.startxref = std::stol(m[2]);
    const auto at = static_cast<std::size_t>(v.startxref);
    const std::string table_head = "xref\n0 " + std::to_string(v.size) + "\n";
    if (at == 0 || f[at - 1] != '\n' || f.compare(at, table_head.size(), table_head) != 0)
        return testing::AssertionFailure() << "startxref " << v.startxref << " is not at xref";
    std::size_t line = at + table_head.size();
    if (line + 20 * static_cast<std::size_t>(v.size) != trailer_at)
        return testing::AssertionFailure() << "table is not " << v.size << " lines of 20 bytes";
    static const std::regex used_re("([0-9]{10}) 00000 n \n");
    const std::string free_line = "0000000000 65535 f \n";
    v.offs.assign(static_cast<std::size_t>(v.size), -1);
    for (long k = 0; k < v.size; ++k, line += 20) {
        const std::string entry = f.substr(line, 20);
        if (entry == free_line) continue;
        if (k == 0 || !std::regex_match(entry, m, used_re))
            return testing::AssertionFailure() << "entry " << k << " reads '" << entry << "'";
        const long off = std::stol(m[1]);
        const std::string obj_head = std::to_string(k) + " 0 obj\n";
        if (off <= 0 || static_cast<std::size_t>(off) >= f.size() ||
            f[static_cast<std::size_t>(off) - 1] != '\n' ||
            f.compare(static_cast<std::size_t>(off), obj_head.size(), obj_head) != 0)
            return testing::AssertionFailure() << "entry " << k << " points at " << off;
        v.offs[static_cast<std::size_t>(k)] = off;
    }
    // Every object written is in the table.
    static const std::regex any_obj("\n[0-9]+ 0 obj\n");
    auto n_objects =
        std::distance(std::sregex_iterator(f.begin(), f.end(), any_obj), std::sregex_iterator());
    long in_use = 0;
    for (long o : v.offs) in_use += o >= 0;
    if (n_objects != in_use)
        return testing::AssertionFailure() << n_objects << " objects, " << in_use << " entries";
    return testing::AssertionSuccess();
}

std::string object_text(const std::string& f, const xref_view& v, int num) {
    if (num <= 0 || num >= v.size || v.offs[static_cast<std::size_t>(num)] < 0) return "";
    const auto at = static_cast<std::size_t>(v.offs[static_cast<std::size_t>(num)]);
    return f.substr(at, f.find("endobj\n", at) + 7 - at);
}

struct booklet {
    int rc = 0;
    std::string error, path, file;
};

booklet make_booklet(const std::string& pdf, int sheet_size = 1) {
    booklet b;
    qf::doc d;
    if (qft::load(pdf, d) != 0) {
        b.error = std::string("load: ") + qf::last_error();
        return b;
    }
    b.path = qft::temp_dir() + "/out.pdf";
    b.rc = qf::booklet_doc(d, b.path.c_str(), sheet_size);
    b.error = qf::last_error();
    b.file = qft::read_file(b.path);
    return b;
}

void expect_tools_accept(const std::string& path, int pages) {
    std::string out;
    if (qft::have_tool("qpdf")) {
        EXPECT_EQ(qft::run("qpdf --check '" + path + "'", &out, true), 0) << out;
    }
    if (qft::have_tool("pdfinfo")) {
        ASSERT_EQ(qft::run("pdfinfo '" + path + "'", &out, true), 0) << out;
        EXPECT_TRUE(std::regex_search(out, std::regex("\nPages: +" + std::to_string(pages) + "\n")))
            << out;
    }
}

TEST(Writer, HeaderCatalogAndTrailerBytes) {
    booklet b = make_booklet(qft::simple_pdf(1));
    ASSERT_EQ(b.rc, 1) << b.error;
    EXPECT_EQ(b.error, "");
    ASSERT_EQ(b.file.compare(0, 15, header_bytes), 0);
    EXPECT_EQ(b.file.compare(15, catalog_obj.size(), catalog_obj), 0);
    xref_view v;
    ASSERT_TRUE(read_xref(b.file, v));
    EXPECT_EQ(v.offs[1], 15);
    const std::size_t xref_at = b.file.rfind("xref\n0 11\n0000000000 65535 f \n");
    ASSERT_NE(xref_at, std::string::npos);
    EXPECT_EQ(v.startxref, static_cast<long>(xref_at));
    EXPECT_EQ(b.file.substr(b.file.rfind("trailer")),
              "trailer\n<< /Size 11 /Root 1 0 R >>\nstartxref " + std::to_string(xref_at) +
                  "\n%%EOF\n");
    // No /Info, no /ID, one cross-reference section.
    EXPECT_EQ(b.file.find("/Info"), std::string::npos);
    EXPECT_EQ(b.file.find("/ID"), std::string::npos);
    EXPECT_EQ(b.file.find("xref\n"), xref_at);
}

TEST(Writer, NumberingOfSheetObjectsByPageCount) {
    struct {
        int pages;
        const char* kids;
        int count;
        long size;
        std::set<int> free_nums;
        std::vector<std::pair<int, int>> form_pages; // form object, input page it shows
    } cases[] = {
        {1, "3 0 R 7 0 R", 2, 11, {4, 8, 9}, {{5, 1}}},
        {4, "3 0 R 7 0 R", 2, 11, {}, {{4, 4}, {5, 1}, {8, 2}, {9, 3}}},
        {5,
         "3 0 R 7 0 R 13 0 R 17 0 R",
         4,
         21,
         {4, 9, 11, 12, 14},
         {{5, 1}, {8, 2}, {15, 3}, {18, 4}, {19, 5}}},
        {8,
         "3 0 R 7 0 R 13 0 R 17 0 R",
         4,
         21,
         {11, 12},
         {{4, 8}, {5, 1}, {8, 2}, {9, 7}, {14, 6}, {15, 3}, {18, 4}, {19, 5}}},
        {9,
         "3 0 R 7 0 R 13 0 R 17 0 R 23 0 R 27 0 R",
         6,
         31,
         {4, 9, 11, 12, 14, 21, 22},
         {{5, 1}, {8, 2}, {15, 3}, {18, 4}, {19, 9}, {24, 8}, {25, 5}, {28, 6}, {29, 7}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pages << " pages");
        booklet b = make_booklet(qft::simple_pdf(c.pages));
        ASSERT_EQ(b.rc, 1) << b.error;
        xref_view v;
        ASSERT_TRUE(read_xref(b.file, v));
        EXPECT_EQ(v.size, c.size);
        EXPECT_EQ(object_text(b.file, v, 2), std::string("2 0 obj\n<< /Type /Pages /Count ") +
                                                 std::to_string(c.count) + " /Kids [" + c.kids +
                                                 "]>>\nendobj\n");
        std::set<int> free_nums;
        for (int k = 1; k < v.size; ++k)
            if (v.offs[static_cast<std::size_t>(k)] < 0) free_nums.insert(k);
        EXPECT_EQ(free_nums, c.free_nums);

        std::set<int> forms_expected;
        for (const auto& [form, page] : c.form_pages) {
            forms_expected.insert(form);
            EXPECT_NE(object_text(b.file, v, form)
                          .find("% page " + std::to_string(page) + "\nendstream\nendobj\n"),
                      std::string::npos)
                << "form " << form;
        }
        // Each side's page object lists exactly its written forms and its own content.
        const int nsheets = c.count / 2;
        for (int side = 3; side < 10 * nsheets; side += (side % 10 == 3) ? 4 : 6) {
            const std::string page = object_text(b.file, v, side);
            std::string xobjects;
            if (forms_expected.count(side + 1))
                xobjects += "/FmL " + std::to_string(side + 1) + " 0 R";
            if (forms_expected.count(side + 2))
                xobjects += "/FmR " + std::to_string(side + 2) + " 0 R";
            EXPECT_EQ(page, std::to_string(side) +
                                " 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 792 612] "
                                "/Contents " +
                                std::to_string(side + 3) + " 0 R /Resources << /XObject << " +
                                xobjects + ">> >> >>\nendobj\n");
            // Page object, forms, content: in this order in the file.
            long last = v.offs[static_cast<std::size_t>(side)];
            for (int k = side + 1; k <= side + 3; ++k) {
                const long o = v.offs[static_cast<std::size_t>(k)];
                if (o < 0) continue;
                EXPECT_GT(o, last) << k;
                last = o;
            }
        }
        expect_tools_accept(b.path, 2 * ((c.pages + 3) / 4));
    }
}

TEST(Writer, CarriedObjectsFollowTheSheetsUnderNewNumbers) {
    const std::string font_file = std::string("\x00\x01\xFFraw font 8 0 R", 16);
    const std::string page_head = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] "
                                  "/Resources << /Font << /F1 6 0 R >> >> /Contents 5 0 R ";
    const std::string pdf = qft::make_pdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>",
        page_head + ">>",
        page_head + "/Rotate 90 >>",
        qft::stream_body("BT /F1 12 Tf (x) Tj ET"),
        "<< /Type /Font /Subtype /Type1 /FontDescriptor 7 0 R >>",
        "<< /Type /FontDescriptor /FontFile 8 0 R >>",
        qft::stream_body(font_file),
    });
    booklet b = make_booklet(pdf);
    ASSERT_EQ(b.rc, 1) << b.error;
    xref_view v;
    ASSERT_TRUE(read_xref(b.file, v));
    // One sheet; font, descriptor and font file become 11, 12 and 13, after the sheets.
    EXPECT_EQ(v.size, 14);
    for (int k : {4, 9}) EXPECT_EQ(v.offs[static_cast<std::size_t>(k)], -1) << k;
    for (int k = 10; k <= 13; ++k) {
        EXPECT_GE(v.offs[static_cast<std::size_t>(k)], 0) << k;
        EXPECT_GT(v.offs[static_cast<std::size_t>(k)], v.offs[static_cast<std::size_t>(k - 1)]);
    }
    EXPECT_EQ(object_text(b.file, v, 11),
              "11 0 obj\n<< /Type /Font /Subtype /Type1 /FontDescriptor 12 0 R >>\nendobj\n");
    EXPECT_EQ(object_text(b.file, v, 12),
              "12 0 obj\n<< /Type /FontDescriptor /FontFile 13 0 R >>\nendobj\n");
    const std::string stream = object_text(b.file, v, 13);
    EXPECT_NE(stream.find("stream\n" + font_file + "\nendstream\nendobj\n"), std::string::npos);
    // Both forms name the one carried font.
    for (int form : {5, 8})
        EXPECT_NE(object_text(b.file, v, form).find("/F1 11 0 R"), std::string::npos) << form;
    expect_tools_accept(b.path, 2);
}

TEST(Writer, SheetSizeSetsEveryPageObjectsMediaBox) {
    struct {
        int code;
        const char* mediabox;
    } cases[] = {{0, "[0 0 841.8900 595.2800]"},
                 {1, "[0 0 792 612]"},
                 {2, "[0 0 1190.5500 841.8900]"},
                 {-1, "[0 0 841.8900 595.2800]"}}; // portrait first page: A4
    for (const auto& c : cases) {
        booklet b = make_booklet(qft::simple_pdf(5), c.code);
        ASSERT_EQ(b.rc, 1) << b.error;
        xref_view v;
        ASSERT_TRUE(read_xref(b.file, v));
        for (int side : {3, 7, 13, 17})
            EXPECT_NE(object_text(b.file, v, side).find(std::string("/MediaBox ") + c.mediabox),
                      std::string::npos)
                << c.code << " side " << side;
    }
}

// Eight pages; page 5 sits on the last side built (second sheet, back, right slot).
std::string eight_pages_with_bad_page_5() {
    std::vector<std::string> bodies = {"<< /Type /Catalog /Pages 2 0 R >>",
                                       "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R 7 0 R 8 0 "
                                       "R 9 0 R 10 0 R] /Count 8 >>"};
    for (int p = 1; p <= 8; ++p)
        bodies.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " +
                         std::string(p == 5 ? "[12 0 R]" : "11 0 R") + " >>");
    bodies.push_back(qft::stream_body("0 0 m 10 10 l S"));
    bodies.push_back(qft::stream_body("abc", "/Filter /LZWDecode"));
    return qft::make_pdf(bodies);
}

TEST(Writer, FailureBeforeTheWriteLeavesTheOutputPathUntouched) {
    struct {
        const char* what;
        std::string pdf;
        int sheet_size;
        bool break_page_5; // point page 5's record at a number no object has
        const char* message;
    } cases[] = {
        {"sheet size out of range", qft::simple_pdf(2), 3, false,
         "sheet_size must be 0 (A4), 1 (Letter) or 2 (A3) (got 3)"},
        {"last side fails with its own message", eight_pages_with_bad_page_5(), 1, false,
         "page 5: array /Contents mixes an unsupported filter"},
        {"last side fails without a message", qft::simple_pdf(8), 1, true,
         "failed to build output (damaged page tree or content)"},
    };
    for (const auto& c : cases)
        for (bool existing : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.what << (existing ? ", existing file" : ""));
            qf::doc d;
            ASSERT_EQ(qft::load(c.pdf, d), 0) << qf::last_error();
            if (c.break_page_5) d.pages[4].obj_num = 999;
            const std::string out = qft::temp_dir() + "/out.pdf";
            if (existing) qft::write_file(out, "keep these bytes\n");
            qf::set_error("stale message from an earlier call");
            EXPECT_EQ(qf::booklet_doc(d, out.c_str(), c.sheet_size), 0);
            EXPECT_STREQ(qf::last_error(), c.message);
            if (existing)
                EXPECT_EQ(qft::read_file(out), "keep these bytes\n");
            else
                EXPECT_FALSE(qft::file_exists(out));
        }
}

TEST(Writer, WritingOverTheInputFileWorks) {
    const std::string path = qft::temp_dir() + "/book.pdf";
    qft::write_file(path, qft::simple_pdf(3));
    qf::doc d;
    ASSERT_EQ(qf::doc_load(path.c_str(), d), 0) << qf::last_error();
    ASSERT_EQ(qf::booklet_doc(d, path.c_str(), 1), 1) << qf::last_error();
    const std::string f = qft::read_file(path);
    xref_view v;
    ASSERT_TRUE(read_xref(f, v));
    EXPECT_EQ(f.compare(0, 15, header_bytes), 0);
    EXPECT_NE(object_text(f, v, 9).find("% page 3\nendstream"), std::string::npos);
    qf::doc again;
    ASSERT_EQ(qf::doc_load(path.c_str(), again), 0) << qf::last_error();
    EXPECT_EQ(again.pages.size(), 2u);
}

TEST(Writer, FileErrorsAreReportedWithThePath) {
    qf::doc d;
    ASSERT_EQ(qft::load(qft::simple_pdf(2), d), 0);
    const std::string missing = qft::temp_dir() + "/no/such/dir/out.pdf";
    EXPECT_EQ(qf::booklet_doc(d, missing.c_str(), 1), 0);
    EXPECT_EQ(std::string(qf::last_error()), "cannot write " + missing);
    EXPECT_FALSE(qft::file_exists(missing));
    if (access("/dev/full", W_OK) == 0) {
        EXPECT_EQ(qf::booklet_doc(d, "/dev/full", 1), 0);
        EXPECT_STREQ(qf::last_error(), "short write to /dev/full");
    }
}

TEST(Writer, SuccessEmptiesTheLastError) {
    qf::doc d;
    ASSERT_EQ(qft::load(qft::simple_pdf(2), d), 0);
    const std::string out = qft::temp_dir() + "/out.pdf";
    qft::write_file(out, std::string(100000, 'x')); // longer than the booklet: truncated
    qf::set_error("stale");
    ASSERT_EQ(qf::booklet_doc(d, out.c_str(), 1), 1);
    EXPECT_STREQ(qf::last_error(), "");
    xref_view v;
    EXPECT_TRUE(read_xref(qft::read_file(out), v));
}

TEST(WriteOutput, SizeLimitIsTwoGibibytes) {
    qf::clear_error();
    EXPECT_TRUE(qf::output_size_ok(qf::output_len_limit - 1, "big.pdf"));
    EXPECT_STREQ(qf::last_error(), "");
    for (std::uint64_t len :
         {qf::output_len_limit, qf::output_len_limit * 2 + 1, std::uint64_t{UINT64_MAX}}) {
        qf::clear_error();
        EXPECT_FALSE(qf::output_size_ok(len, "big.pdf")) << len;
        EXPECT_STREQ(qf::last_error(), "output file too large (2 GiB or more): big.pdf");
    }
}

// Lowers the file size limit for the test's duration, so that a faulty writer fails fast
// instead of filling the disk.
struct file_size_cap {
    rlimit saved{};
    void (*saved_handler)(int) = nullptr;
    explicit file_size_cap(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved);
        saved_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~file_size_cap() {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, saved_handler);
    }
};

TEST(WriteOutput, TooLargeOutputIsRefusedBeforeTheFileIsOpened) {
    const std::size_t len = static_cast<std::size_t>(qf::output_len_limit);
    void* region =
        mmap(nullptr, len, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(region, MAP_FAILED);
    const std::string out = qft::temp_dir() + "/big.pdf";
    qft::write_file(out, "keep these bytes\n");
    {
        file_size_cap cap(1 << 20);
        EXPECT_EQ(
            qf::write_output(qf::bytes(static_cast<const std::uint8_t*>(region), len), out.c_str()),
            0);
    }
    munmap(region, len);
    EXPECT_EQ(std::string(qf::last_error()), "output file too large (2 GiB or more): " + out);
    EXPECT_EQ(qft::read_file(out), "keep these bytes\n");
}

TEST(WriteOutput, EmptyOutputIsAFailedBuildAndWritesNothing) {
    const std::string out = qft::temp_dir() + "/out.pdf";
    EXPECT_EQ(qf::write_output(qf::bytes(), out.c_str()), 0);
    EXPECT_STREQ(qf::last_error(), "failed to build output");
    EXPECT_FALSE(qft::file_exists(out));
}

TEST(WriteOutput, ReplacesAnExistingFileExactly) {
    const std::string out = qft::temp_dir() + "/out.pdf";
    qft::write_file(out, std::string(5000, 'x'));
    const std::string content("%PDF-1.4\n\0binary\xFF", 18);
    ASSERT_EQ(qf::write_output(qft::bv(content), out.c_str()), 1) << qf::last_error();
    EXPECT_EQ(qft::read_file(out), content);
}

} // namespace

// A content stream shared by many pages is decoded once per call: the decoded bytes are taken
// from the call's budget once. Past the budget the booklet fails with its own message.
TEST(Writer, SharedContentIsDecodedOnceWithinTheBudget) {
    std::string content;
    while (content.size() < 300000) content += "0 0 m 100 100 l S\n";
    std::vector<std::string> bodies = {"<< /Type /Catalog /Pages 2 0 R >>"};
    std::string kids;
    for (int i = 0; i < 10; ++i) kids += std::to_string(4 + i) + " 0 R ";
    bodies.push_back("<< /Type /Pages /Kids [" + kids + "] /Count 10 >>");
    bodies.push_back(qft::stream_body(qft::zlib_compress(content), "/Filter /FlateDecode"));
    for (int i = 0; i < 10; ++i)
        bodies.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 3 0 R >>");
    const std::string pdf = qft::make_pdf(bodies);
    const std::string out = qft::temp_dir() + "/shared.pdf";
    {
        qf::doc d;
        ASSERT_EQ(qft::load(pdf, d), 0) << qf::last_error();
        d.decode_budget = 2 * content.size(); // room for one decoding, not for ten
        EXPECT_EQ(qf::booklet_doc(d, out.c_str(), 0), 1) << qf::last_error();
        EXPECT_EQ(d.decode_budget, content.size());
    }
    {
        qf::doc d;
        ASSERT_EQ(qft::load(pdf, d), 0);
        d.decode_budget = content.size() - 1;
        EXPECT_EQ(qf::booklet_doc(d, out.c_str(), 0), 0);
        EXPECT_STREQ(
            qf::last_error(),
            "page 1: content decodes to more than 4294967296 bytes, the limit for one call");
    }
}
