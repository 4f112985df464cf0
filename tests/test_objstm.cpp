// Object streams: decoding (stored or Flate, compressed here with zlib as the oracle), the
// header of object numbers and offsets, and the entries that reach the object table.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <zlib.h>

#include "error.h"
#include "load.h"
#include "objstm.h"
#include "testutil.h"

namespace {

std::string deflate(std::string_view s) {
    uLongf n = compressBound(static_cast<uLong>(s.size()));
    std::string out(n, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &n,
                        reinterpret_cast<const Bytef*>(s.data()), static_cast<uLong>(s.size()), 9),
              Z_OK);
    out.resize(n);
    return out;
}

// An object stream's body: its dictionary entries (without /Length) and the stored bytes.
std::string objstm_body(std::string_view stored, const std::string& entries) {
    return "<< " + entries + " /Length " + std::to_string(stored.size()) + " >>\nstream\n" +
           std::string(stored) + "\nendstream";
}

// The same holding `decoded`, compressed when asked.
std::string objstm(std::string_view decoded, const std::string& entries, bool compressed) {
    if (!compressed) return objstm_body(decoded, "/Type /ObjStm " + entries);
    return objstm_body(deflate(decoded), "/Type /ObjStm /Filter /FlateDecode " + entries);
}

qf::doc doc_of(const std::string& text) {
    qf::doc d;
    d.data = qft::to_vec(text);
    d.len = static_cast<std::int32_t>(d.data.size());
    return d;
}

using entries = std::vector<std::pair<std::int32_t, std::string>>;

// Scans a file of the given bodies (object i + 1 each) and unpacks its object streams.
qf::doc unpacked(const std::vector<std::string>& bodies) {
    qf::doc d = doc_of(qft::make_pdf(bodies));
    qf::scan_objects(d);
    qf::unpack_object_streams(d);
    return d;
}

// The entries taken from object streams: number and text.
entries packed_entries(const qf::doc& d) {
    entries out;
    for (const qf::obj& o : d.objects) {
        if (!o.in_objstm) continue;
        out.emplace_back(o.num, std::string(reinterpret_cast<const char*>(o.text),
                                            static_cast<std::size_t>(o.text_len)));
    }
    return out;
}

TEST(ObjectStreams, HeaderExampleStoredAndCompressed) {
    // /N 3 /First 14: 25 decoded bytes, objects at 14, 19 and 23 with lengths 5, 4 and 2.
    const std::string decoded = "10 0 11 5 12 9[1 2]true12";
    ASSERT_EQ(decoded.size(), 25u);
    for (bool compressed : {false, true}) {
        qf::doc d = unpacked({objstm(decoded, "/N 3 /First 14", compressed)});
        EXPECT_EQ(packed_entries(d), (entries{{10, "[1 2]"}, {11, "true"}, {12, "12"}}))
            << compressed;
        std::vector<const qf::obj*> got;
        for (const qf::obj& o : d.objects)
            if (o.in_objstm) got.push_back(&o);
        ASSERT_EQ(got.size(), 3u);
        const std::uint8_t* block = got[0]->text - 14;
        EXPECT_EQ(got[1]->text - block, 19);
        EXPECT_EQ(got[2]->text - block, 23);
        for (const qf::obj* o : got) {
            EXPECT_EQ(o->gen, 0);
            EXPECT_EQ(o->hdr_pos, -1);
            EXPECT_EQ(o->dict_start, -1);
            EXPECT_EQ(o->stream_pos, -1);
            EXPECT_EQ(o->data_start, -1);
            EXPECT_EQ(o->data_end, -1);
            EXPECT_EQ(o->endobj_pos, -1);
            EXPECT_EQ(o->obj_end, -1);
            EXPECT_EQ(o->data_len, -1);
            EXPECT_EQ(o->has_stream, 0);
            EXPECT_EQ(o->no_endstream, 0);
        }
    }
}

struct HeaderCase {
    const char* name;
    std::string decoded;
    std::string entries_text; // the dictionary's /N and /First
    entries want;
};

const std::vector<HeaderCase>& header_cases() {
    static const std::vector<HeaderCase> cases = {
        {"a pair of length 0 is skipped, the others count",
         "1 0 2 0 3 4 truefalse",
         "/N 3 /First 12",
         {{2, "true"}, {3, "false"}}},
        {"a pair whose offset goes back is skipped",
         "1 5 2 0 3 4 truefalse",
         "/N 3 /First 12",
         {{2, "true"}, {3, "false"}}},
        {"object number 0 is skipped", "0 0 5 3 (a)(b)", "/N 2 /First 8", {{5, "(b)"}}},
        {"signs are read", "+7 +0 (x)", "/N 1 /First 6", {{7, "(x)"}}},
        {"/N 0", "7 0 (x)", "/N 0 /First 4", {}},
        {"no /N", "7 0 (x)", "/First 4", {}},
        {"/N 100001", "7 0 (x)", "/N 100001 /First 4", {}},
        {"the first /N above 0 counts", "7 0 (x)", "/N 0 /N 1 /First 4", {{7, "(x)"}}},
        {"no /First", "7 0 (x)", "/N 1", {}},
        {"the first /First of 0 or more counts",
         "7 0 (x)",
         "/N 1 /First -3 /First 4",
         {{7, "(x)"}}},
        {"/First beyond the decoded data", "7 0 (x)", "/N 1 /First 8", {}},
        {"/First at the end of the decoded data", "7 0 ", "/N 1 /First 4", {}},
        {"a negative number in the header", "7 -1 (x)", "/N 1 /First 5", {}},
        {"a header shorter than /N pairs", "7 0 (x)", "/N 2 /First 4", {}},
        {"a text longer than the data is cut at its end",
         "3 0 4 50 (abc)",
         "/N 2 /First 9",
         {{3, "(abc)"}}},
        // First + offset would overflow 32 bits.
        {"offsets near the 32-bit limit", "3 2147483000 4 2147483647 (abc)", "/N 2 /First 26", {}},
        {"an object number that wraps in 32 bits",
         "4294967303 0 (x)",
         "/N 1 /First 13",
         {{7, "(x)"}}},
        {"a text that starts beyond the data is dropped",
         "3 0 4 50 5 60 (abc)",
         "/N 3 /First 14",
         {{3, "(abc)"}}},
    };
    return cases;
}

TEST(ObjectStreams, HeaderPairs) {
    for (const HeaderCase& c : header_cases()) {
        for (bool compressed : {false, true}) {
            qf::doc d = unpacked({objstm(c.decoded, c.entries_text, compressed)});
            EXPECT_EQ(packed_entries(d), c.want) << c.name << (compressed ? " (Flate)" : "");
        }
    }
}

TEST(ObjectStreams, WhichStreamsAreUnpacked) {
    struct Case {
        const char* name;
        std::string body;
        entries want;
    };
    const Case cases[] = {
        {"no /Filter: read as stored",
         objstm_body("7 0 (x)", "/Type /ObjStm /N 1 /First 4"),
         {{7, "(x)"}}},
        // Only Flate is undone; other filters leave the stored bytes to be read as they are.
        {"another filter is not undone",
         objstm_body("7 0 (x)", "/Type /ObjStm /Filter /ASCIIHexDecode /N 1 /First 4"),
         {{7, "(x)"}}},
        {"the name ObjStm anywhere in the dictionary",
         objstm_body("7 0 (x)", "/Type /Foo /Kind /ObjStm /N 1 /First 4"),
         {{7, "(x)"}}},
        {"a stream that is no object stream",
         objstm_body("7 0 (x)", "/Type /XObject /N 1 /First 4"),
         {}},
        {"corrupt compressed data",
         objstm_body("not zlib at all", "/Type /ObjStm /Filter /FlateDecode /N 1 /First 4"),
         {}},
        {"a dictionary object naming ObjStm has no stream",
         "<< /Type /ObjStm /N 1 /First 4 >>",
         {}},
    };
    for (const Case& c : cases) {
        qf::doc d = unpacked({c.body});
        EXPECT_EQ(packed_entries(d), c.want) << c.name;
    }
}

// Text that compresses far better than eight to one needs the retries with more room.
TEST(ObjectStreams, DecodingRetriesWithMoreRoom) {
    const std::string big(500000, ' ');
    const std::string text3 = "(" + big + ")";
    const std::string header = "3 0 4 " + std::to_string(text3.size()) + " ";
    const std::string decoded = header + text3 + "(four)";
    const std::string stored = deflate(decoded);
    ASSERT_LT(stored.size() * 8 + 64, decoded.size());
    qf::doc d = unpacked({objstm(decoded, "/N 2 /First " + std::to_string(header.size()), true)});
    EXPECT_EQ(packed_entries(d), (entries{{3, text3}, {4, "(four)"}}));
}

// An object text of more than 1 MiB is skipped; its neighbour is still taken.
TEST(ObjectStreams, OverlongTextIsSkipped) {
    for (std::size_t size : {std::size_t(1048576), std::size_t(1048577)}) {
        const std::string text3 = "(" + std::string(size - 2, 'a') + ")";
        const std::string header = "3 0 4 " + std::to_string(size) + " ";
        const std::string decoded = header + text3 + "(four)";
        qf::doc d =
            unpacked({objstm(decoded, "/N 2 /First " + std::to_string(header.size()), true)});
        entries want{{4, "(four)"}};
        if (size <= 1048576) want.insert(want.begin(), {3, text3});
        EXPECT_EQ(packed_entries(d), want) << size;
    }
}

// Whole documents whose catalog and page tree live in object streams.
TEST(ObjectStreams, DocumentsLoadThroughThem) {
    const std::string packed_tree =
        "1 0 2 33 3 98 "
        "<< /Type /Catalog /Pages 2 0 R >>"
        "<< /Type /Pages /Kids [3 0 R] /Count 1 /MediaBox [0 0 300 400] >>"
        "<< /Type /Page /Parent 2 0 R >>";
    const std::string first = "/N 3 /First 14";
    ASSERT_EQ(packed_tree.find("<<"), 14u);
    ASSERT_EQ(packed_tree.find("<< /Type /Pages"), 14u + 33);
    ASSERT_EQ(packed_tree.find("<< /Type /Page "), 14u + 98);

    struct Case {
        const char* name;
        std::string pdf;
        std::int32_t catalog;
    };
    // No trailer: the catalog is found by searching the packed texts.
    const std::string no_trailer =
        "%PDF-1.5\n9 0 obj\n" + objstm(packed_tree, first, true) + "\nendobj\n";
    const Case cases[] = {
        {"trailer /Root into an object stream",
         qft::make_pdf({"", "", "", "", "", "", "", "", objstm(packed_tree, first, true)}, 1), 1},
        {"catalog searched in an object stream", no_trailer, 1},
        // A corrupt object stream costs only its own objects.
        {"a corrupt object stream beside a readable document",
         qft::make_pdf({"<< /Type /Catalog /Pages 2 0 R >>",
                        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] >>",
                        objstm_body("\x78\x9c garbage", "/Type /ObjStm /Filter /FlateDecode "
                                                        "/N 1 /First 4")}),
         1},
    };
    for (const Case& c : cases) {
        qf::doc d;
        ASSERT_EQ(qft::load(c.pdf, d), 0) << c.name << ": " << qf::last_error();
        EXPECT_EQ(d.catalog, c.catalog) << c.name;
        ASSERT_EQ(d.pages.size(), 1u) << c.name;
        EXPECT_EQ(d.pages[0].obj_num, 3) << c.name;
        EXPECT_EQ(d.pages[0].x1, 300) << c.name;
        EXPECT_EQ(d.pages[0].y1, 400) << c.name;
    }
}

} // namespace

// Decoding has a budget per call: an object stream that would take more than is left is not
// unpacked, and the load then fails with a message instead of going on for minutes. Within
// the budget it is unpacked, and what it took is gone from the budget.
TEST(ObjectStreams, DecodingBudget) {
    const std::string text3 = "(" + std::string(200000, 'b') + ")";
    const std::string header = "3 0 4 " + std::to_string(text3.size()) + " ";
    const std::string decoded = header + text3 + "(four)";
    for (const std::uint64_t budget : {std::uint64_t{1} << 20, std::uint64_t{100000}}) {
        SCOPED_TRACE(budget);
        qf::doc d = doc_of(
            qft::make_pdf({objstm(decoded, "/N 2 /First " + std::to_string(header.size()), true)}));
        qf::scan_objects(d);
        d.decode_budget = budget;
        qf::unpack_object_streams(d);
        const bool fits = budget >= decoded.size();
        EXPECT_EQ(d.budget_exceeded, !fits);
        EXPECT_EQ(packed_entries(d).size(), fits ? 2u : 0u);
        if (fits) {
            EXPECT_EQ(d.decode_budget, budget - decoded.size());
        }
    }
}
