// Page counts of files written by real producers (and hand-built structures that real files
// use), checked against qpdf, and every message of the reading side through the C exports.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "quirefold.h"
#include "testutil.h"

namespace {

struct count_case {
    const char* file = nullptr;
    int pages = 0;
    bool qpdf_reads = true; // qpdf cannot recover a file without any trailer
};

void PrintTo(const count_case& c, std::ostream* os) {
    *os << c.file;
}

// The expected counts are written here so that the test means something without qpdf; where
// qpdf is installed it must agree.
const std::vector<count_case> k_count_cases = {
    {"groff_gs.pdf", 5, true},
    {"groff_gs_objstm.pdf", 5, true},
    {"groff_gs_linearized.pdf", 5, true},
    {"groff_pdf.pdf", 3, true},
    {"images.pdf", 3, true},
    {"images_rotated_cropped.pdf", 1, true},
    {"incremental.pdf", 5, true},
    {"incremental_xrefstream.pdf", 3, true},
    {"incremental_objstm_update.pdf", 3, true},
    {"garbage_prefix.pdf", 3, true},
    {"no_xref.pdf", 2, false},
    {"nested_rotate.pdf", 7, true},
    {"rotate_page.pdf", 4, true},
    {"cropbox.pdf", 3, true},
    {"offset_boxes.pdf", 6, true},
    {"inherited_mediabox.pdf", 6, true},
    {"mixed_sizes.pdf", 6, true},
    {"contents_array.pdf", 4, true},
    {"resources.pdf", 6, true},
    {"lzw_content.pdf", 4, true},
    {"pages500.pdf", 500, true},
};

// qpdf's page count, or -1 when it cannot tell. Exit status 3 means it read the file with
// warnings (a damaged xref that it reconstructed), which still gives a count.
int qpdf_page_count(const std::string& path) {
    std::string out;
    int st = qft::run("qpdf --show-npages '" + path + "' 2>/dev/null", &out);
    if (st != 0 && st != 3) return -1;
    char* end = nullptr;
    long n = std::strtol(out.c_str(), &end, 10);
    return end == out.c_str() ? -1 : static_cast<int>(n);
}

class PageCount : public testing::TestWithParam<count_case> {};

TEST_P(PageCount, AgreesWithQpdf) {
    const count_case& c = GetParam();
    std::string path = qft::fixture(c.file);
    ASSERT_TRUE(qft::file_exists(path)) << path;

    if (qft::have_tool("qpdf")) {
        int theirs = qpdf_page_count(path);
        if (c.qpdf_reads)
            EXPECT_EQ(theirs, c.pages) << "qpdf disagrees with the expected count";
        else
            EXPECT_EQ(theirs, -1) << "qpdf now reads the file; mark it as readable";
    }

    quirefold_init();
    int ours = quirefold_page_count(path.c_str());
    EXPECT_EQ(ours, c.pages) << quirefold_last_error();
    ASSERT_NE(quirefold_last_error(), nullptr);
    EXPECT_STREQ(quirefold_last_error(), "");
}

std::string case_name(const testing::TestParamInfo<count_case>& info) {
    std::string s = info.param.file;
    s = s.substr(0, s.find('.'));
    for (char& ch : s)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return s;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, PageCount, testing::ValuesIn(k_count_cases), case_name);

// A success after a failure empties the message: the exports never leave a stale one.
TEST(PageCount, SuccessEmptiesTheMessageOfAnEarlierFailure) {
    EXPECT_EQ(quirefold_page_count("/nonexistent/quirefold/input.pdf"), -1);
    EXPECT_STRNE(quirefold_last_error(), "");
    EXPECT_EQ(quirefold_page_count(qft::fixture("groff_gs.pdf").c_str()), 5);
    ASSERT_NE(quirefold_last_error(), nullptr);
    EXPECT_STREQ(quirefold_last_error(), "");
}

// --- messages ------------------------------------------------------------------------------

const std::string k_dash = "\xE2\x80\x94"; // U+2014 EM DASH

// Documents that load as far as the catalog and page tree, then fail there.
std::string catalog_without_pages() {
    return qft::make_pdf({"<< /Type /Catalog /Outlines 2 0 R >>", "<< /Type /Outlines >>"});
}
std::string inline_kid() {
    return qft::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>",
                          "<< /Type /Pages /Kids [<< /Type /Page /MediaBox [0 0 612 792] >>] "
                          "/Count 1 >>"});
}
std::string tree_cycle() {
    return qft::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>",
                          "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                          "<< /Type /Pages /Parent 2 0 R /Kids [2 0 R] /Count 1 >>"});
}
std::string missing_kid() {
    return qft::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>",
                          "<< /Type /Pages /Kids [3 0 R 9 0 R] /Count 2 >>",
                          "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>"});
}
std::string pages_names_a_font() {
    return qft::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>",
                          "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"});
}
std::string no_pages() {
    return qft::make_pdf(
        {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>"});
}

enum class input_kind { null_path, missing, bytes, fixture };

struct message_case {
    const char* name;
    input_kind kind;
    std::string content; // the bytes to write, or the fixture's file name
    std::string message; // "%s" stands for the path
};

const std::vector<message_case>& message_cases() {
    static const std::vector<message_case> cases = {
        {"null_path", input_kind::null_path, "", "NULL path argument"},
        {"missing_file", input_kind::missing, "", "cannot open %s"},
        {"empty_file", input_kind::bytes, "", "empty input file: %s"},
        {"plain_text", input_kind::bytes, "This is a letter, not a PDF.\nobject endobj\n",
         "no PDF objects found " + k_dash + " not a PDF: %s"},
        {"pdf_header_only", input_kind::bytes, "%PDF-1.7\n%%EOF\n",
         "no PDF objects found " + k_dash + " not a PDF: %s"},
        {"encrypted_aes256", input_kind::fixture, "encrypted_aes256.pdf",
         "encrypted PDFs are not supported: %s"},
        {"encrypted_in_xref_stream", input_kind::fixture, "encrypted_rc4_objstm.pdf",
         "encrypted PDFs are not supported: %s"},
        {"catalog_without_pages", input_kind::bytes, catalog_without_pages(),
         "catalog (obj 1) has no /Pages reference"},
        {"inline_page_dictionary", input_kind::bytes, inline_kid(),
         "page tree uses inline page dictionaries in /Kids " + k_dash +
             " pages must be indirect objects"},
        {"tree_cycle", input_kind::bytes, tree_cycle(),
         "could not resolve the page tree (obj 2 is not a /Pages or /Page object, or tree is "
         "broken)"},
        {"missing_kid", input_kind::bytes, missing_kid(),
         "could not resolve the page tree (obj 2 is not a /Pages or /Page object, or tree is "
         "broken)"},
        {"pages_names_a_font", input_kind::bytes, pages_names_a_font(),
         "could not resolve the page tree (obj 2 is not a /Pages or /Page object, or tree is "
         "broken)"},
        {"no_pages", input_kind::bytes, no_pages(), "document has no pages"},
    };
    return cases;
}

std::string expand(const std::string& message, const std::string& path) {
    std::string out = message;
    auto at = out.find("%s");
    if (at != std::string::npos) out.replace(at, 2, path);
    return out;
}

// Every failure reaches the host byte for byte, from both the page count and the booklet
// export (which loads first), and the booklet export creates no output file.
TEST(ReadingMessages, ReachTheHostByteForByte) {
    std::string dir = qft::temp_dir();
    for (const message_case& c : message_cases()) {
        SCOPED_TRACE(c.name);
        std::string path;
        switch (c.kind) {
        case input_kind::null_path:
            break;
        case input_kind::missing:
            path = dir + "/" + c.name + ".pdf";
            break;
        case input_kind::bytes:
            path = dir + "/" + c.name + ".pdf";
            qft::write_file(path, c.content);
            break;
        case input_kind::fixture:
            path = qft::fixture(c.content);
            break;
        }
        const char* in = c.kind == input_kind::null_path ? nullptr : path.c_str();
        std::string want = expand(c.message, path);

        quirefold_init();
        EXPECT_EQ(quirefold_page_count(in), -1);
        ASSERT_NE(quirefold_last_error(), nullptr);
        EXPECT_EQ(std::string(quirefold_last_error()), want);

        std::string out = dir + "/" + c.name + ".booklet.pdf";
        quirefold_init();
        EXPECT_EQ(quirefold_create(in, out.c_str()), 0);
        EXPECT_EQ(std::string(quirefold_last_error()), want);
        EXPECT_FALSE(qft::file_exists(out));

        quirefold_init();
        EXPECT_EQ(quirefold_create_sized(in, out.c_str(), QUIREFOLD_SHEET_A3), 0);
        EXPECT_EQ(std::string(quirefold_last_error()), want);
        EXPECT_FALSE(qft::file_exists(out));
    }
}

// A null output path is caught before the input is even opened.
TEST(ReadingMessages, NullOutputPathIsCaughtFirst) {
    quirefold_init();
    EXPECT_EQ(quirefold_create("/nonexistent/quirefold/input.pdf", nullptr), 0);
    EXPECT_STREQ(quirefold_last_error(), "NULL path argument");
    EXPECT_EQ(quirefold_create_sized(nullptr, nullptr, 0), 0);
    EXPECT_STREQ(quirefold_last_error(), "NULL path argument");
}

// The message names the path exactly as the caller gave it, however it is spelled.
TEST(ReadingMessages, PathIsQuotedAsGiven) {
    std::string dir = qft::temp_dir();
    std::string odd = dir + "/./with space/../\xC3\xA9t\xC3\xA9.pdf"; // "été", UTF-8
    quirefold_init();
    EXPECT_EQ(quirefold_page_count(odd.c_str()), -1);
    EXPECT_EQ(std::string(quirefold_last_error()), "cannot open " + odd);
}

} // namespace
