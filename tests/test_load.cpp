// Loading: reading the file, the trailers of the last cross-reference section, object
// discovery by scanning, stream measuring, removal of false headers, consolidation, and the
// choice of catalog and page tree root.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "error.h"
#include "load.h"
#include "objstm.h"
#include "testutil.h"

namespace {

// A text with named marks. "`name`" marks a position and is removed; "{name}" becomes that
// position and "{a-b}" the distance between two marks, each as ten zero-padded digits (which
// read as the same integer), so the layout does not depend on the numbers. "{end}" is the
// length of the whole text.
struct marked {
    std::string text;
    std::map<std::string, std::int32_t> marks;
    std::int32_t operator[](const std::string& name) const { return marks.at(name); }
};

marked mark(std::string_view tpl) {
    marked m;
    std::vector<std::pair<std::size_t, std::string>> holes;
    for (std::size_t i = 0; i < tpl.size();) {
        const char c = tpl[i];
        if (c == '`' || c == '{') {
            const std::size_t j = tpl.find(c == '`' ? '`' : '}', i + 1);
            const std::string name(tpl.substr(i + 1, j - i - 1));
            if (c == '`') {
                m.marks[name] = static_cast<std::int32_t>(m.text.size());
            } else {
                holes.emplace_back(m.text.size(), name);
                m.text.append(10, '0');
            }
            i = j + 1;
        } else {
            m.text += c;
            ++i;
        }
    }
    m.marks["end"] = static_cast<std::int32_t>(m.text.size());
    for (const auto& [pos, expr] : holes) {
        const std::size_t dash = expr.find('-');
        const long v = dash == std::string::npos
                           ? m[expr]
                           : static_cast<long>(m[expr.substr(0, dash)]) - m[expr.substr(dash + 1)];
        char digits[16];
        std::snprintf(digits, sizeof digits, "%010ld", v);
        m.text.replace(pos, 10, digits);
    }
    return m;
}

// A record holding exactly these bytes, so that a read past them is caught by the sanitizer.
qf::doc doc_of(std::string_view text) {
    qf::doc d;
    d.data = qft::to_vec(text);
    d.len = static_cast<std::int32_t>(d.data.size());
    return d;
}

std::vector<std::int32_t> nums_of(const qf::doc& d) {
    std::vector<std::int32_t> out;
    for (const qf::obj& o : d.objects) out.push_back(o.num);
    return out;
}

// The bytes an entry stands for: its text, or the input from its header to past "endobj".
std::string body_of(const qf::doc& d, const qf::obj& o) {
    if (o.in_objstm) return {reinterpret_cast<const char*>(o.text), std::size_t(o.text_len)};
    const std::int32_t end = o.obj_end > 0 && o.obj_end <= d.len ? o.obj_end : d.len;
    return {reinterpret_cast<const char*>(d.data.data()) + o.hdr_pos, std::size_t(end - o.hdr_pos)};
}

const std::string k_dash = "\xE2\x80\x94";

void expect_reset(const qf::doc& d) {
    EXPECT_TRUE(d.data.empty());
    EXPECT_EQ(d.len, 0);
    EXPECT_TRUE(d.objects.empty());
    EXPECT_TRUE(d.arena.empty());
    EXPECT_TRUE(d.pages.empty());
    EXPECT_EQ(d.trailer_root, -1);
    EXPECT_EQ(d.catalog, -1);
}

// ---- Reading the file ----

TEST(InputSize, EmptyAndTooLargeAreRefused) {
    struct Case {
        std::int64_t size;
        int result;
        const char* message;
    };
    const Case cases[] = {
        {-1, -1, "empty input file: in.pdf"}, // a failed size query
        {0, -1, "empty input file: in.pdf"},
        {1, 0, ""},
        {INT32_MAX, 0, ""},
        {std::int64_t(INT32_MAX) + 1, -1, "input file too large: in.pdf"},
        // Would wrap to 5 in 32 bits.
        {(std::int64_t(1) << 32) + 5, -1, "input file too large: in.pdf"},
    };
    for (const Case& c : cases) {
        qf::clear_error();
        EXPECT_EQ(qf::check_input_size(c.size, "in.pdf"), c.result) << c.size;
        EXPECT_STREQ(qf::last_error(), c.message) << c.size;
    }
}

TEST(DocLoad, FileMessagesNameThePath) {
    const std::string dir = qft::temp_dir();
    const std::string missing = dir + "/missing.pdf";
    const std::string empty = dir + "/empty.pdf";
    const std::string text = dir + "/letter.pdf";
    const std::string huge = dir + "/huge.pdf";
    const std::string huger = dir + "/huger.pdf";
    qft::write_file(empty, "");
    qft::write_file(text, "Dear reader, this is no PDF.\n");
    // Sparse files: their size costs no disk, and the size check comes before any allocation.
    qft::write_file(huge, "");
    qft::write_file(huger, "");
    ASSERT_EQ(truncate(huge.c_str(), off_t(1) << 31), 0);
    ASSERT_EQ(truncate(huger.c_str(), (off_t(1) << 32) + 100), 0);

    struct Case {
        const char* path;
        std::string message;
    };
    const Case cases[] = {
        {nullptr, "NULL path argument"},
        {missing.c_str(), "cannot open " + missing},
        {dir.c_str(), "cannot open " + dir},
        {empty.c_str(), "empty input file: " + empty},
        {text.c_str(), "no PDF objects found " + k_dash + " not a PDF: " + text},
        {huge.c_str(), "input file too large: " + huge},
        {huger.c_str(), "input file too large: " + huger},
    };
    for (const Case& c : cases) {
        qf::doc d = doc_of("stale contents");
        d.objects.resize(3);
        EXPECT_EQ(qf::doc_load(c.path, d), -1);
        EXPECT_EQ(std::string(qf::last_error()), c.message);
        expect_reset(d);
    }
}

TEST(DocLoad, ReadsAFileWhole) {
    const std::string path = qft::temp_dir() + "/three.pdf";
    qft::write_file(path, qft::simple_pdf(3));
    qf::doc d;
    ASSERT_EQ(qf::doc_load(path.c_str(), d), 0) << qf::last_error();
    EXPECT_EQ(d.len, static_cast<std::int32_t>(qft::simple_pdf(3).size()));
    EXPECT_EQ(d.pages.size(), 3u);
    qf::doc_free(d);
    qf::doc_free(d); // twice is harmless
    expect_reset(d);
}

TEST(DocLoadBytes, EmptyAndNullName) {
    qf::doc d;
    EXPECT_EQ(qf::doc_load_bytes({}, "mem.pdf", d), -1);
    EXPECT_STREQ(qf::last_error(), "empty input file: mem.pdf");
    EXPECT_EQ(qf::doc_load_bytes(qft::to_vec("1 0 obj 1 endobj"), nullptr, d), -1);
    EXPECT_STREQ(qf::last_error(), "NULL path argument");
    expect_reset(d);
}

// ---- Cross-reference section ----

struct XrefCase {
    const char* name;
    const char* tpl;
    std::int32_t root;
    std::int32_t encrypted;
};

const XrefCase k_xref_cases[] = {
    {"classic table",
     "%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\n`x`xref\n0 2\n0000000000 65535 f \n"
     "0000000009 00000 n \ntrailer\n<< /Size 2 /Root 1 0 R >>\nstartxref\n{x}\n%%EOF\n",
     1, 0},
    // An incremental update: the first section would give 3.
    {"the last startxref is used",
     "`a`xref\n0 1\ntrailer\n<< /Root 3 0 R >>\nstartxref\n{a}\n%%EOF\n"
     "`b`9 0 obj\n<< /Type /XRef /Root 5 0 R >>\nstream\nxx\nendstream\nendobj\n"
     "startxref\n{b}\n%%EOF\n",
     5, 0},
    {"offset 0", "xref\ntrailer\n<< /Root 3 0 R >>\nstartxref\n0", 3, 0},
    {"offset equal to the length", "xref\ntrailer\n<< /Root 3 0 R >>\nstartxref\n{end}", -1, 0},
    {"offset beyond the file", "xref\ntrailer\n<< /Root 3 0 R >>\nstartxref\n99999", -1, 0},
    {"negative offset", "xref\ntrailer\n<< /Root 3 0 R >>\nstartxref\n-4", -1, 0},
    {"unreadable offset", "xref\ntrailer\n<< /Root 3 0 R >>\nstartxref\nabc", -1, 0},
    {"no startxref", "xref\ntrailer\n<< /Root 3 0 R >>\n", -1, 0},
    {"white space before the table", "`w`\r\n  \nxref\ntrailer\n<< /Root 3 0 R >>\nstartxref\n{w}",
     3, 0},
    {"offset at neither table nor stream",
     "`x`junk xref\ntrailer\n<< /Root 3 0 R >>\nstartxref\n{x}", -1, 0},
    {"the later of two trailers wins",
     "`x`xref\ntrailer\n<< /Root 3 0 R >>\ntrailer\n<< /Root 4 0 R >>\nstartxref\n{x}", 4, 0},
    {"a later trailer without a readable /Root keeps the earlier value",
     "`x`xref\ntrailer\n<< /Root 3 0 R >>\ntrailer\n<< /Root /Catalog >>\nstartxref\n{x}", 3, 0},
    {"a second /Root in one trailer",
     "`x`xref\ntrailer\n<< /Root (none) /Root 6 0 R >>\nstartxref\n{x}", 6, 0},
    {"a /Root that wraps in 32 bits",
     "`x`xref\ntrailer\n<< /Root 4294967299 0 R >>\nstartxref\n{x}", 3, 0},
    {"/Root right before its value", "`x`xref\ntrailer\n<</Root[5 0 R]>>\nstartxref\n{x}", 5, 0},
    {"a trailer that is not a dictionary", "`x`xref\ntrailer\n/Root 3 0 R\nstartxref\n{x}", -1, 0},
    {"a trailer's dictionary ends at the next startxref",
     "`x`xref\ntrailer\n<< /Size 1 >>\nstartxref\n{x}\n%%EOF\n/Root 9 0 R /Encrypt 1 0 R\n", -1, 0},
    {"a trailer before the table is not read",
     "trailer\n<< /Root 2 0 R /Encrypt 1 0 R >>\n`x`xref\ntrailer\n<< /Size 1 >>\n"
     "startxref\n{x}\n",
     -1, 0},
    {"a trailer after the last startxref is read",
     "`x`xref\ntrailer\n<< /Root 3 0 R >>\nstartxref\n{x}\n%%EOF\n"
     "trailer\n<< /Root 4 0 R /Encrypt 8 0 R >>\n",
     4, 1},
    {"/Encrypt in a trailer", "`x`xref\ntrailer\n<< /Root 3 0 R /Encrypt 4 0 R >>\nstartxref\n{x}",
     3, 1},
    {"a damaged table does not matter",
     "`x`xref\n0 9\ngarbage here\n0000 n\ntrailer\n<< /Root 3 0 R >>\nstartxref\n{x}", 3, 0},
    {"cross-reference stream",
     "`x`7 0 obj\n<< /Type /XRef /Root 5 0 R >>\nstream\nxx\nendstream\nendobj\n"
     "startxref\n{x}",
     5, 0},
    {"cross-reference stream whose /Prev points at itself",
     "`x`7 0 obj\n<< /Type /XRef /Prev {x} /Root 5 0 R >>\nstream\nxx\nendstream\nendobj\n"
     "startxref\n{x}",
     5, 0},
    {"the newest stream's /Root wins",
     "`o`7 0 obj\n<< /Type /XRef /Root 5 0 R >>\nstream\nxx\nendstream\nendobj\n"
     "`n`8 0 obj\n<< /Type /XRef /Prev {o} /Root 7 0 R >>\nstream\nxx\nendstream\nendobj\n"
     "startxref\n{n}",
     7, 0},
    {"an older stream supplies a missing /Root",
     "`o`7 0 obj\n<< /Type /XRef /Root 5 0 R >>\nstream\nxx\nendstream\nendobj\n"
     "`n`8 0 obj\n<< /Type /XRef /Prev {o} >>\nstream\nxx\nendstream\nendobj\n"
     "startxref\n{n}",
     5, 0},
    {"/Encrypt in an older stream of the chain",
     "`o`7 0 obj\n<< /Type /XRef /Encrypt 2 0 R >>\nstream\nxx\nendstream\nendobj\n"
     "`n`8 0 obj\n<< /Type /XRef /Prev {o} /Root 7 0 R >>\nstream\nxx\nendstream\nendobj\n"
     "startxref\n{n}",
     7, 1},
    {"/Prev right before its value is not read",
     "`o`7 0 obj\n<< /Type /XRef /Root 5 0 R >>\nstream\nxx\nendstream\nendobj\n"
     "`n`8 0 obj\n<< /Type /XRef /Prev[{o}] >>\nstream\nxx\nendstream\nendobj\n"
     "startxref\n{n}",
     -1, 0},
    // The classic trailers are read as always: their /Root replaces the stream's.
    {"a chain that ends at a classic table",
     "`c`xref\ntrailer\n<< /Root 3 0 R >>\n"
     "`n`8 0 obj\n<< /Type /XRef /Prev {c} /Root 7 0 R >>\nstream\nxx\nendstream\nendobj\n"
     "startxref\n{n}",
     3, 0},
    {"keys in a stream's data are not read",
     "`x`7 0 obj\n<< /Type /XRef >>\nstream\n/Root 4 0 R /Encrypt 1 0 R\nendstream\nendobj\n"
     "startxref\n{x}",
     -1, 0},
    {"a stream object without a dictionary is read to the end",
     "`x`7 0 obj\n/Root 4 0 R\nendobj\nstartxref\n{x}", 4, 0},
    {"an offset at something other than a header", "`x`7 0 R\nstartxref\n{x}", -1, 0},
};

TEST(XrefSection, RootAndEncrypt) {
    for (const XrefCase& c : k_xref_cases) {
        const marked m = mark(c.tpl);
        qf::doc d = doc_of(m.text);
        qf::read_xref_section(d);
        EXPECT_EQ(d.trailer_root, c.root) << c.name;
        EXPECT_EQ(d.encrypted, c.encrypted) << c.name;
    }
}

// A chain of cross-reference streams is followed for 32 visits: an /Encrypt on the 32nd is
// seen, one on the 33rd is not.
TEST(XrefSection, ChainIsFollowedForThirtyTwoVisits) {
    for (int encrypt_at : {1, 32, 33}) {
        std::string tpl;
        const int streams = 33;
        for (int i = 1; i <= streams; ++i) {
            // Stream i is visited as number streams - i + 1: the newest comes last in the file.
            const int visit = streams - i + 1;
            tpl += "`s" + std::to_string(i) + "`" + std::to_string(i) + " 0 obj\n<< /Type /XRef";
            if (i > 1) tpl += " /Prev {s" + std::to_string(i - 1) + "}";
            if (visit == encrypt_at) tpl += " /Encrypt 99 0 R";
            tpl += " >>\nstream\nxx\nendstream\nendobj\n";
        }
        tpl += "startxref\n{s" + std::to_string(streams) + "}\n";
        const marked m = mark(tpl);
        qf::doc d = doc_of(m.text);
        qf::read_xref_section(d);
        EXPECT_EQ(d.encrypted, encrypt_at <= 32 ? 1 : 0) << encrypt_at;
    }
}

// ---- Object headers ----

struct Want {
    std::int32_t num;
    std::int32_t gen;
    const char* hdr;    // mark names
    const char* dict;   // "" for none
    const char* endobj; // "" for none
};

struct HeaderCase {
    const char* name;
    const char* tpl;
    std::vector<Want> want;
};

const HeaderCase k_header_cases[] = {
    {"header at position 0", "`h`1 0 obj\n(a)\n`e`endobj\n", {{1, 0, "h", "", "e"}}},
    {"no space between generation and obj", "1 0obj (a) endobj\n", {}},
    {"a letter before the number", "x1 0 obj (a) endobj\n", {}},
    {"a name before the number", "/Foo2 0 obj (a) endobj\n", {}},
    {"number 0", "0 0 obj (a) endobj\n", {}},
    {"missing generation", "7 obj (a) endobj\n", {}},
    {"obj followed by a letter", "1 0 objx (a) endobj\n", {}},
    {"a delimiter before the number", "(`h`5 0 obj (a) `e`endobj", {{5, 0, "h", "", "e"}}},
    {"vertical tab separates the numbers", "`h`7\v3\vobj (a) `e`endobj", {{7, 3, "h", "", "e"}}},
    {"generation kept as written", "`h`5 65535 obj (a) `e`endobj", {{5, 65535, "h", "", "e"}}},
    {"numbers wrap in 32 bits",
     "`h`4294967297 4294967295 obj (a) `e`endobj",
     {{1, -1, "h", "", "e"}}},
    {"a number that wraps to 0", "4294967296 0 obj (a) endobj", {}},
    {"a number that wraps below 0", "2147483648 0 obj (a) endobj", {}},
    {"dictionary object", "`h`3 0 obj `d`<< /A 1 >>\n`e`endobj", {{3, 0, "h", "d", "e"}}},
    {"dictionary right after obj", "`h`3 0 obj`d`<<>>`e`endobj", {{3, 0, "h", "d", "e"}}},
    {"two objects",
     "`h1`1 0 obj (a) `e1`endobj `h2`2 0 obj `d2`<< >> `e2`endobj",
     {{1, 0, "h1", "", "e1"}, {2, 0, "h2", "d2", "e2"}}},
    {"a body without endobj is dropped", "5 0 obj\n(a)\ntrailer\n<< >>", {}},
    {"a dictionary without endobj ends at trailer",
     "`h`5 0 obj\n`d`<< /A 1 >>\n`t`trailer\n<< >>\n",
     {{5, 0, "h", "d", "t"}}},
    {"a dictionary without endobj ends at the nearer of xref and trailer",
     "`h`5 0 obj\n`d`<< /A 1 >>\n`x`xref\n0 1\ntrailer\n<< >>\n",
     {{5, 0, "h", "d", "x"}}},
    {"a dictionary with nothing after it is dropped", "5 0 obj\n<< /A 1 >>\n", {}},
    {"the obj inside endobj is no header",
     "`h`2 0 obj 1 `e`endobj 3 0 endobj",
     {{2, 0, "h", "", "e"}}},
};

TEST(ScanHeaders, FindsHeadersAndBodies) {
    for (const HeaderCase& c : k_header_cases) {
        const marked m = mark(c.tpl);
        qf::doc d = doc_of(m.text);
        qf::scan_headers(d);
        ASSERT_EQ(d.objects.size(), c.want.size()) << c.name;
        for (std::size_t i = 0; i < c.want.size(); ++i) {
            const Want& w = c.want[i];
            const qf::obj& o = d.objects[i];
            EXPECT_EQ(o.num, w.num) << c.name;
            EXPECT_EQ(o.gen, w.gen) << c.name;
            EXPECT_EQ(o.hdr_pos, m[w.hdr]) << c.name;
            EXPECT_EQ(o.dict_start, *w.dict ? m[w.dict] : -1) << c.name;
            EXPECT_EQ(o.endobj_pos, *w.endobj ? m[w.endobj] : -1) << c.name;
            EXPECT_EQ(o.obj_end, *w.endobj ? m[w.endobj] + 6 : -1) << c.name;
            EXPECT_EQ(o.has_stream, 0) << c.name;
        }
    }
}

TEST(ScanHeaders, WhereStreamDataStarts) {
    struct Case {
        const char* name;
        const char* tpl;
    };
    const Case cases[] = {
        {"LF", "1 0 obj << >> `s`stream\n`d`abc\nendstream endobj"},
        {"CR LF", "1 0 obj << >> `s`stream\r\n`d`abc\nendstream endobj"},
        {"CR alone", "1 0 obj << >> `s`stream\r`d`abc\nendstream endobj"},
        {"space, tab, CR LF", "1 0 obj << >> `s`stream \t\r\n`d`abc\nendstream endobj"},
        {"space, LF", "1 0 obj << >> `s`stream \n`d`abc\nendstream endobj"},
        // Without an end-of-line the one byte after "stream" is taken as one.
        {"no end-of-line", "1 0 obj << >> `s`stream;`d`abc\nendstream endobj"},
        {"spaces, then data", "1 0 obj << >> `s`stream `d`  abc\nendstream endobj"},
        {"stream at the end of the file", "1 0 obj << >> `s`stream`d`"},
    };
    for (const Case& c : cases) {
        const marked m = mark(c.tpl);
        qf::doc d = doc_of(m.text);
        qf::scan_headers(d);
        ASSERT_EQ(d.objects.size(), 1u) << c.name;
        EXPECT_EQ(d.objects[0].has_stream, 1) << c.name;
        EXPECT_EQ(d.objects[0].stream_pos, m["s"]) << c.name;
        EXPECT_EQ(d.objects[0].data_start, m["d"]) << c.name;
        EXPECT_EQ(d.objects[0].endobj_pos, -1) << c.name; // found when measured
    }
}

// ---- Stream measuring ----

TEST(MeasureStreams, DataEnd) {
    struct Case {
        const char* name;
        std::string tpl; // marks: ds data start, de data end, eo endobj (optional)
        bool no_endstream;
    };
    const std::string hundred(100, 'x');
    const Case cases[] = {
        // The data holds "endstream" and "endobj"; a correct direct /Length still holds.
        {"a correct /Length is trusted",
         "1 0 obj\n<< /Length {de-ds} >>\nstream\n`ds`abc\nendstream endobj xyz`de`\nendstream\n"
         "`eo`endobj\n",
         false},
        {"/Length 100 before CR LF",
         "1 0 obj\n<< /Length 100 >>\nstream\n`ds`" + hundred + "`de`\r\nendstream\n`eo`endobj\n",
         false},
        {"/Length 99 is not followed by endstream: searched",
         "1 0 obj\n<< /Length 99 >>\nstream\n`ds`" + hundred + "`de`\r\nendstream\n`eo`endobj\n",
         false},
        {"a /Length past the end: searched",
         "1 0 obj\n<< /Length 99999 >>\nstream\n`ds`abc`de`\nendstream x\nendstream\n`eo`endobj\n",
         false},
        // data_start + /Length would overflow 32 bits.
        {"/Length 2147483647: searched",
         "1 0 obj\n<< /Length 2147483647 >>\nstream\n`ds`abc`de`\nendstream\n`eo`endobj\n", false},
        {"/Length 0: searched",
         "1 0 obj\n<< /Length 0 >>\nstream\n`ds`abc`de`\nendstream x\nendstream\n`eo`endobj\n",
         false},
        {"a /Length not followed by endstream: searched",
         "1 0 obj\n<< /Length 2 >>\nstream\n`ds`abc`de`\nendstream\n`eo`endobj\n", false},
        {"an indirect /Length defined later",
         "1 0 obj\n<< /Length 9 0 R >>\nstream\n`ds`abc\nendstream x`de`\nendstream\n`eo`endobj\n"
         "9 0 obj\n{de-ds}\nendobj\n",
         false},
        {"an indirect /Length naming a stream: searched",
         "1 0 obj\n<< /Length 2 0 R >>\nstream\n`ds`abc`de`\nendstream x\nendstream\n`eo`endobj\n"
         "2 0 obj\n<< /Length 1 >>\nstream\n5\nendstream\nendobj\n",
         false},
        {"an indirect /Length naming a missing object: searched",
         "1 0 obj\n<< /Length 7 0 R >>\nstream\n`ds`abc`de`\nendstream x\nendstream\n`eo`endobj\n",
         false},
        {"LF before endstream", "1 0 obj\n<< >>\nstream\n`ds`abc`de`\nendstream\n`eo`endobj",
         false},
        {"CR before endstream", "1 0 obj\n<< >>\nstream\n`ds`abc`de`\rendstream\n`eo`endobj",
         false},
        {"CR LF before endstream", "1 0 obj\n<< >>\nstream\n`ds`abc`de`\r\nendstream\n`eo`endobj",
         false},
        {"only one LF is stepped over",
         "1 0 obj\n<< >>\nstream\n`ds`abc\n`de`\nendstream\n`eo`endobj", false},
        {"no end-of-line before endstream",
         "1 0 obj\n<< >>\nstream\n`ds`abc `de`endstream\n`eo`endobj", false},
        // An empty stream ends at its own endstream, not at the next stream's.
        {"an empty stream",
         "1 0 obj\n<< /Length 0 >>\nstream\n`ds``de`endstream\n`eo`endobj\n"
         "2 0 obj\n<< /Length 3 >>\nstream\nabc\nendstream\nendobj\n",
         false},
        {"an empty stream after CR LF",
         "1 0 obj\n<< >>\nstream\r\n`ds``de`endstream\n`eo`endobj\n"
         "2 0 obj\n<< >>\nstream\nabc\nendstream\nendobj\n",
         false},
        {"no endstream at all", "1 0 obj\n<< >>\nstream\n`ds`abc endobj`de`", true},
    };
    for (const Case& c : cases) {
        const marked m = mark(c.tpl);
        qf::doc d = doc_of(m.text);
        qf::scan_headers(d);
        qf::measure_streams(d);
        ASSERT_FALSE(d.objects.empty()) << c.name;
        const qf::obj& o = d.objects[0];
        ASSERT_EQ(o.has_stream, 1) << c.name;
        EXPECT_EQ(o.data_start, m["ds"]) << c.name;
        EXPECT_EQ(o.data_end, m["de"]) << c.name;
        EXPECT_EQ(o.data_len, m["de"] - m["ds"]) << c.name;
        EXPECT_EQ(o.no_endstream, c.no_endstream ? 1 : 0) << c.name;
        const bool has_endobj = m.marks.count("eo") != 0;
        EXPECT_EQ(o.endobj_pos, has_endobj ? m["eo"] : -1) << c.name;
        EXPECT_EQ(o.obj_end, has_endobj ? m["eo"] + 6 : -1) << c.name;
    }
}

// ---- Removal of false entries ----

struct RemovalCase {
    const char* name;
    const char* tpl;
    std::vector<std::int32_t> nums; // the survivors, in table order
};

const RemovalCase k_removal_cases[] = {
    {"a header inside stream data",
     "1 0 obj\n<< /Length {e-s} >>\nstream\n`s`x\x9c 2 0 obj (x) endobj "
     "\x01`e`\nendstream\nendobj\n"
     "3 0 obj\n(y)\nendobj\n",
     {1, 3}},
    {"a header inside a stream that holds a whole stream object",
     "1 0 obj\n<< /Length {e-s} >>\nstream\n`s`2 0 obj\n<< /Length 3 >>\nstream\nabc\nendstream\n"
     "endobj\n4 0 obj (c) endobj`e`\nendstream\nendobj\n5 0 obj (d) endobj\n",
     {1, 5}},
    {"a stream without endobj after it",
     "1 0 obj (a) endobj\n2 0 obj\n<< /Length 3 >>\nstream\nabc\nendstream\n",
     {1}},
    {"a stream without endstream",
     "1 0 obj (a) endobj\n2 0 obj\n<< /Length 3 >>\nstream\nabc 3 0 obj (b) endobj\n",
     {1}},
    {"an empty stream does not swallow the next object",
     "1 0 obj\n<< /Length 0 >>\nstream\nendstream\nendobj\n"
     "2 0 obj\n<< /Length 3 >>\nstream\nabc\nendstream\nendobj\n3 0 obj (z) endobj\n",
     {1, 2, 3}},
    {"the survivors keep their file order",
     "5 0 obj (A) endobj\n1 0 obj\n<< /Length {e-s} >>\nstream\n`s`7 0 obj (fake) endobj`e`\n"
     "endstream\nendobj\n6 0 obj (B) endobj\n8 0 obj (C) endobj\n",
     {5, 1, 6, 8}},
};

TEST(RemoveFalseEntries, SortedRangesAndLinearFallbackAgree) {
    for (const RemovalCase& c : k_removal_cases) {
        const marked m = mark(c.tpl);
        for (bool linear : {false, true}) {
            qf::doc d = doc_of(m.text);
            qf::scan_headers(d);
            qf::measure_streams(d);
            if (linear)
                qf::remove_false_entries_linear(d);
            else
                qf::remove_false_entries(d);
            EXPECT_EQ(nums_of(d), c.nums) << c.name << (linear ? " (linear)" : "");
        }
    }
}

// ---- Consolidation ----

struct ConsolidationCase {
    const char* name;
    const char* tpl;
    std::map<std::int32_t, std::string> bodies; // every survivor and a part of its text
    std::int32_t highest;
};

const ConsolidationCase k_consolidation_cases[] = {
    {"the later definition wins",
     "1 0 obj (first) endobj\n1 0 obj (later) endobj\n",
     {{1, "(later)"}},
     1},
    // A removed false header must not change which definition is the later one.
    {"the later definition wins after a removal",
     "1 0 obj\n<< /Length {e-s} >>\nstream\n`s`9 0 obj (fake) endobj`e`\nendstream\nendobj\n"
     "5 0 obj (old) endobj\n5 0 obj (new) endobj\n",
     {{1, "/Length"}, {5, "(new)"}},
     5},
    {"numbers from 8388608 up are dropped",
     "8388607 0 obj (max) endobj\n8388608 0 obj (over) endobj\n2 0 obj (two) endobj\n",
     {{8388607, "(max)"}, {2, "(two)"}},
     8388607},
    {"an object stream is dropped, its objects kept",
     "1 0 obj\n<< /Type /ObjStm /N 2 /First 8 /Length {e-s} >>\nstream\n`s`3 0 4 8 (three) "
     "(four)`e`"
     "\nendstream\nendobj\n",
     {{3, "(three)"}, {4, "(four)"}},
     4},
    // An incremental update may store its new definition in an object stream.
    {"an object stream after the top-level object replaces it",
     "3 0 obj (top) endobj\n"
     "1 0 obj\n<< /Type /ObjStm /N 1 /First 4 /Length {e-s} >>\nstream\n`s`3 0 (packed)`e`\n"
     "endstream\nendobj\n",
     {{3, "(packed)"}},
     3},
    {"a top-level object after the object stream replaces it",
     "1 0 obj\n<< /Type /ObjStm /N 1 /First 4 /Length {e-s} >>\nstream\n`s`3 0 (packed)`e`\n"
     "endstream\nendobj\n3 0 obj (top) endobj\n",
     {{3, "(top)"}},
     3},
    {"of two object streams the later one's object wins",
     "1 0 obj\n<< /Type /ObjStm /N 1 /First 4 /Length {e1-s1} >>\nstream\n`s1`4 0 (one)`e1`\n"
     "endstream\nendobj\n"
     "2 0 obj\n<< /Type /ObjStm /N 1 /First 4 /Length {e2-s2} >>\nstream\n`s2`4 0 (two)`e2`\n"
     "endstream\nendobj\n",
     {{4, "(two)"}},
     4},
    {"a cross-reference stream stays",
     "7 0 obj\n<< /Type /XRef /Length 2 >>\nstream\nxx\nendstream\nendobj\n",
     {{7, "/XRef"}},
     7},
};

TEST(Consolidate, OneEntryPerNumber) {
    for (const ConsolidationCase& c : k_consolidation_cases) {
        const marked m = mark(c.tpl);
        qf::doc d = doc_of(m.text);
        qf::scan_objects(d);
        qf::unpack_object_streams(d);
        qf::consolidate_objects(d);
        EXPECT_EQ(d.objects.size(), c.bodies.size()) << c.name;
        EXPECT_EQ(d.highest, c.highest) << c.name;
        for (const auto& [num, part] : c.bodies) {
            const qf::obj* o = qf::find_obj(d, num);
            ASSERT_NE(o, nullptr) << c.name << ": " << num;
            EXPECT_NE(body_of(d, *o).find(part), std::string::npos)
                << c.name << ": " << num << " is " << body_of(d, *o);
        }
    }
}

TEST(Consolidate, KeepsFileOrderAndEmptyTableStaysEmpty) {
    qf::doc d =
        doc_of("3 0 obj (a) endobj 1 0 obj (b) endobj 3 0 obj (c) endobj 2 0 obj (d) endobj");
    qf::scan_objects(d);
    qf::consolidate_objects(d);
    EXPECT_EQ(nums_of(d), (std::vector<std::int32_t>{1, 3, 2}));

    qf::doc none = doc_of("no objects here");
    qf::scan_objects(none);
    qf::consolidate_objects(none);
    EXPECT_TRUE(none.objects.empty());
    EXPECT_EQ(none.highest, 0);
}

// ---- Catalog and page tree root ----

const std::string k_page = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>";

struct CatalogCase {
    const char* name;
    std::string pdf;
    std::string message; // "" for success
    std::int32_t catalog;
    std::size_t pages;
};

std::vector<CatalogCase> catalog_cases() {
    const std::string pages2 = "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>";
    const std::string no_trailer = "1 0 obj\n<< /Type /Pages /Kids [2 0 R] /Count 1 >>\nendobj\n"
                                   "2 0 obj\n<< /Type /Page /Parent 1 0 R >>\nendobj\n"
                                   "3 0 obj\n<< /Type /Catalog /Pages 1 0 R >>\nendobj\n";
    std::string headerless = qft::simple_pdf(2);
    headerless.erase(0, headerless.find('\n') + 1);
    return {
        {"a plain file", qft::simple_pdf(3), "", 1, 3},
        {"no trailer: the catalog is searched", no_trailer, "", 3, 1},
        {"a /Root naming a missing object: searched",
         qft::make_pdf({"<< /Type /Pages /Kids [2 0 R] >>", "<< /Type /Page /Parent 1 0 R >>",
                        "<< /Type /Catalog /Pages 1 0 R >>"},
                       9),
         "", 3, 1},
        {"the trailer's /Root comes before the search",
         qft::make_pdf({"<< /Type /Catalog /Pages 9 0 R >>", pages2, k_page, k_page,
                        "<< /Type /Catalog /Pages 2 0 R >>"},
                       5),
         "", 5, 2},
        {"no /Catalog anywhere: object 1",
         "1 0 obj << /Pages 2 0 R >> endobj\n2 0 obj << /Type /Pages /Kids [3 0 R] >> endobj\n"
         "3 0 obj << /Type /Page /Parent 2 0 R >> endobj\n",
         "", 1, 1},
        {"/Root naming the page tree",
         qft::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", pages2, k_page, k_page}, 2), "", 2, 2},
        {"/Root naming a page",
         qft::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", pages2, k_page, k_page}, 3), "", 3, 1},
        {"a second /Pages is used",
         qft::make_pdf({"<< /Type /Catalog /Pages /None /Pages 2 0 R >>", pages2, k_page, k_page}),
         "", 1, 2},
        {"garbage before the header", "\x00\xff garbage\n" + qft::simple_pdf(2), "", 1, 2},
        {"no header at all", headerless, "", 1, 2},
        {"no objects", "%PDF-1.4\nnothing here\n%%EOF\n",
         "no PDF objects found " + k_dash + " not a PDF: test.pdf", -1, 0},
        {"encrypted",
         qft::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", pages2, k_page, k_page}, 1,
                       " /Encrypt 9 0 R"),
         "encrypted PDFs are not supported: test.pdf", -1, 0},
        {"encrypted without objects: no objects is told first",
         "xref\ntrailer\n<< /Encrypt 1 0 R >>\nstartxref\n0\n",
         "no PDF objects found " + k_dash + " not a PDF: test.pdf", -1, 0},
        {"no catalog object", "2 0 obj (x) endobj\n", "catalog (obj 1) has no /Pages reference", 1,
         0},
        {"a catalog without /Pages", qft::make_pdf({"<< /Type /Catalog >>"}),
         "catalog (obj 1) has no /Pages reference", 1, 0},
        {"an inline /Pages",
         qft::make_pdf({"<< /Type /Catalog /Pages << /Kids [2 0 R] /Count 1 >> >>", k_page}),
         "catalog (obj 1) has no /Pages reference", 1, 0},
        {"/Pages 0 0 R", qft::make_pdf({"<< /Type /Catalog /Pages 0 0 R >>"}),
         "catalog (obj 1) has no /Pages reference", 1, 0},
        {"a catalog that is no dictionary", "1 0 obj [/Pages 2 0 R] endobj\n",
         "catalog (obj 1) has no /Pages reference", 1, 0},
        {"an inline page dictionary",
         qft::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>",
                        "<< /Type /Pages /Kids [<< /Type /Page >>] /Count 1 >>"}),
         "page tree uses inline page dictionaries in /Kids " + k_dash +
             " pages must be indirect objects",
         1, 0},
        {"a missing page tree", qft::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>"}),
         "could not resolve the page tree (obj 2 is not a /Pages or /Page object, or tree is "
         "broken)",
         1, 0},
        {"a page tree without pages",
         qft::make_pdf(
             {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>"}),
         "document has no pages", 1, 0},
    };
}

TEST(Catalog, ChoiceAndMessages) {
    for (const CatalogCase& c : catalog_cases()) {
        qf::doc d;
        qf::clear_error();
        const int r = qft::load(c.pdf, d);
        if (c.message.empty()) {
            ASSERT_EQ(r, 0) << c.name << ": " << qf::last_error();
            EXPECT_EQ(d.catalog, c.catalog) << c.name;
            EXPECT_EQ(d.pages.size(), c.pages) << c.name;
        } else {
            EXPECT_EQ(r, -1) << c.name;
            EXPECT_EQ(std::string(qf::last_error()), c.message) << c.name;
            expect_reset(d);
        }
    }
}

// The stage on its own: the catalog it settles on is kept even when the tree fails.
TEST(Catalog, StageSetsCatalog) {
    qf::doc d = doc_of(
        qft::make_pdf({"<< /Pages 3 0 R >>", "<< /Type /Catalog /Pages 3 0 R >>",
                       "<< /Type /Pages /Kids [4 0 R] >>", "<< /Type /Page /Parent 3 0 R >>"},
                      7));
    qf::read_xref_section(d);
    qf::scan_objects(d);
    qf::consolidate_objects(d);
    ASSERT_EQ(qf::resolve_catalog_and_pages(d, "x.pdf"), 0) << qf::last_error();
    EXPECT_EQ(d.catalog, 2); // the first entry that names /Catalog
    ASSERT_EQ(d.pages.size(), 1u);
    EXPECT_EQ(d.pages[0].obj_num, 4);
}

// ---- Whole files ----

std::string sample_path() {
    return std::string(QF_FIXTURE_DIR) + "/../../samples/sample.pdf";
}

// Page objects of a file as qpdf lists them ("page 1: 3 0 R"), or empty without qpdf.
std::vector<std::int32_t> qpdf_pages(const std::string& path) {
    std::vector<std::int32_t> out;
    std::string text;
    if (qft::run("qpdf --show-pages '" + path + "' 2>/dev/null", &text) != 0) return out;
    std::size_t at = 0;
    while ((at = text.find("page ", at)) != std::string::npos) {
        const std::size_t colon = text.find(": ", at);
        if (colon == std::string::npos) break;
        out.push_back(std::stoi(text.substr(colon + 2)));
        at = colon;
    }
    return out;
}

// The bundled sample and qpdf's rewrites of it (object streams with a cross-reference
// stream, linearized, uncompressed) give the same pages as qpdf finds.
TEST(WholeFile, PagesAgreeWithQpdf) {
    if (!qft::have_tool("qpdf")) GTEST_SKIP() << "qpdf is not installed";
    const std::string dir = qft::temp_dir();
    const std::vector<std::pair<std::string, std::string>> variants = {
        {"sample.pdf", ""},
        {"objstm.pdf", "--object-streams=generate"},
        {"linear.pdf", "--linearize"},
        {"qdf.pdf", "--qdf --object-streams=disable"},
    };
    for (const auto& [file, options] : variants) {
        std::string path = sample_path();
        if (!options.empty()) {
            path = dir + "/" + file;
            ASSERT_EQ(qft::run("qpdf " + options + " '" + sample_path() + "' '" + path + "'"), 0);
        }
        const std::vector<std::int32_t> want = qpdf_pages(path);
        ASSERT_FALSE(want.empty()) << file;
        qf::doc d;
        ASSERT_EQ(qf::doc_load(path.c_str(), d), 0) << file << ": " << qf::last_error();
        std::vector<std::int32_t> got;
        for (const qf::pageinfo& p : d.pages) got.push_back(p.obj_num);
        EXPECT_EQ(got, want) << file;
    }
}

// Input built to make a naive search quadratic still loads in a blink: every repeated search
// is answered from one pass over the file. A quadratic loader would need minutes here.
TEST(WholeFile, HostileInputStaysLinear) {
    struct Case {
        const char* name;
        std::string pdf;
    };
    std::vector<Case> cases;
    {
        // Dictionaries that all end at one endobj far away, and no /Catalog to find.
        std::string s;
        for (int i = 1; i <= 200000; ++i) s += std::to_string(i) + " 0 obj <<>>\n";
        s += "endobj\n";
        cases.push_back({"dictionary ranges that run to the end", s});
    }
    {
        // Trailers with no startxref between them: every one reads to the end.
        std::string s = mark("startxref\n{x}\n%%EOF\n`x`xref\n").text;
        for (int i = 0; i < 200000; ++i) s += "trailer\n<< /Size 1 >>\n";
        cases.push_back({"trailers without startxref", s});
    }
    {
        // Stream lengths that all end inside one long run of blanks, not followed by
        // "endstream": each is checked by skipping the blanks.
        const int count = 40000;
        const std::string before_data = " >>\nstream\n";
        const std::string tail = before_data + "x\nendstream\nendobj\n";
        auto head = [](int i) { return std::to_string(i) + " 0 obj\n<< /Length "; };
        std::vector<std::size_t> data_starts;
        std::size_t pos = 0;
        for (int i = 1; i <= count; ++i) {
            data_starts.push_back(pos + head(i).size() + 10 + before_data.size());
            pos += head(i).size() + 10 + tail.size();
        }
        const std::size_t blanks_start = pos;
        std::string s;
        for (int i = 1; i <= count; ++i) {
            char digits[16];
            std::snprintf(digits, sizeof digits, "%010zu",
                          blanks_start + 16 - data_starts[std::size_t(i - 1)]);
            s += head(i) + digits + tail;
        }
        s += std::string(8 << 20, ' ') + "x";
        cases.push_back({"stream lengths into one run of blanks", s});
    }
    {
        // Every stream's /Length names one object whose value stands after a long blank run.
        std::string s = "1 0 obj\n" + std::string(4 << 20, ' ') + "3\nendobj\n";
        for (int i = 2; i <= 20001; ++i)
            s +=
                std::to_string(i) + " 0 obj\n<< /Length 1 0 R >>\nstream\nabc\nendstream\nendobj\n";
        cases.push_back({"indirect lengths with a long blank run", s});
    }
    for (const Case& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        qf::doc d;
        qft::load(c.pdf, d);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, 30.0) << c.name;
    }
}

} // namespace

// An encrypted file that lost its trailer (and with it /Encrypt) is still refused: its
// encryption dictionary is among the objects the scan finds. Unencrypted files with look-alike
// keys in other places are not.
TEST(LoadEncryption, RefusedWithoutTheTrailer) {
    for (const char* name : {"encrypted_aes256.pdf", "encrypted_rc4_objstm.pdf"}) {
        SCOPED_TRACE(name);
        const std::string whole = qft::read_file(qft::fixture(name));
        // Cut before the classic trailer, or before the cross-reference stream object.
        std::size_t cut = whole.find("trailer");
        if (const std::size_t x = whole.find("/XRef"); x < cut)
            cut = whole.rfind("obj", x) == std::string::npos
                      ? x
                      : whole.rfind('\n', whole.rfind("obj", x)) + 1;
        ASSERT_NE(cut, std::string::npos);
        const std::string truncated = whole.substr(0, cut);
        ASSERT_EQ(truncated.find("/Encrypt"), std::string::npos) << "the cut keeps /Encrypt";
        qf::doc d;
        EXPECT_EQ(qft::load(truncated, d), -1);
        EXPECT_STREQ(qf::last_error(), "encrypted PDFs are not supported: test.pdf");
    }
    const struct {
        const char* what;
        std::string dict;
    } plain[] = {
        {"a font named Standard", "<< /Type /Font /Subtype /Type1 /BaseFont /Standard /O 1 >>"},
        {"password keys without the handler", "<< /Filter /FlateDecode /O (x) /U (y) >>"},
        {"handler name nested deeper", "<< /Info << /Filter /Standard /O (x) /U (y) >> >>"},
    };
    for (const auto& p : plain) {
        SCOPED_TRACE(p.what);
        const std::string pdf = qft::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>",
                                               "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                               "<< /Type /Page /Parent 2 0 R >>", p.dict});
        qf::doc d;
        EXPECT_EQ(qft::load(pdf, d), 0) << qf::last_error();
    }
}
