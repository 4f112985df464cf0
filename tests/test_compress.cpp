// Compact booklets: page content carried as stored, plain streams compressed with our encoder.
// The compressed booklet of every fixture must draw exactly what the uncompressed one draws,
// pass qpdf's checks, and be no larger than its input; the encoder's streams must decode with
// zlib and with our inflater.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "carried.h"
#include "deflate.h"
#include "inflate.h"
#include "quirefold_impose.h"
#include "render.h"
#include "testutil.h"

namespace {

using byte_vec = std::vector<std::uint8_t>;

byte_vec zlib_inflate(const byte_vec& packed, std::size_t size) {
    byte_vec out(size + 1);
    uLongf n = out.size();
    if (uncompress(out.data(), &n, packed.data(), packed.size()) != Z_OK) return {};
    out.resize(n);
    return out;
}

TEST(Deflate, RoundTripsThroughZlibAndOurInflater) {
    std::mt19937 rng(7);
    std::vector<std::pair<std::string, byte_vec>> inputs;
    inputs.push_back({"empty", {}});
    inputs.push_back({"one byte", {'q'}});
    inputs.push_back({"three bytes", {'a', 'b', 'c'}});
    byte_vec text;
    while (text.size() < 300000) {
        const std::string line = "BT /F1 " + std::to_string(rng() % 20) + " Tf " +
                                 std::to_string(rng() % 600) + " " + std::to_string(rng() % 800) +
                                 " Td (word " + std::to_string(rng() % 1000) + ") Tj ET\n";
        text.insert(text.end(), line.begin(), line.end());
    }
    inputs.push_back({"content-like text", text});
    byte_vec random(100000);
    for (auto& b : random) b = static_cast<std::uint8_t>(rng());
    inputs.push_back({"random (stored blocks)", random});
    inputs.push_back({"one byte repeated", byte_vec(200000, 'z')});
    byte_vec period(70000);
    for (std::size_t i = 0; i < period.size(); ++i) period[i] = static_cast<std::uint8_t>(i % 7);
    inputs.push_back({"short period", period});
    byte_vec far(0);
    for (int k = 0; k < 3; ++k) far.insert(far.end(), random.begin(), random.begin() + 40000);
    inputs.push_back({"repeats beyond the window", far});

    for (const auto& [name, in] : inputs) {
        SCOPED_TRACE(name);
        byte_vec packed;
        qf::deflate_compress(qf::bytes(in.data(), in.size()), packed);
        ASSERT_GE(packed.size(), 6u);
        EXPECT_EQ((packed[0] * 256 + packed[1]) % 31, 0) << "zlib header check bits";
        EXPECT_EQ(zlib_inflate(packed, in.size()), in);
        byte_vec ours(in.size() + 16);
        std::uint64_t n = 0;
        EXPECT_EQ(
            qf::inflate_decompress(packed.data(), packed.size(), ours.data(), ours.size(), &n), 0);
        ours.resize(n);
        EXPECT_EQ(ours, in);
        // Never much worse than storing, and close to zlib's default level on text.
        EXPECT_LE(packed.size(), in.size() + in.size() / 1000 + 16);
        if (name == "content-like text") {
            uLongf z = compressBound(in.size());
            byte_vec zbuf(z);
            compress2(zbuf.data(), &z, in.data(), in.size(), 6);
            EXPECT_LE(static_cast<double>(packed.size()), 1.10 * static_cast<double>(z));
        }
    }
}

TEST(FlateDictionary, AddsTheFilterAndSetsTheTopLevelLength) {
    struct dict_case {
        const char* what;
        std::string dict;
        std::string want; // empty: keeps its bytes
    };
    const dict_case cases[] = {
        {"direct length", "<< /Length 120 /Subtype /Image >>",
         "<< /Filter /FlateDecode /Length 77 /Subtype /Image >>"},
        {"indirect length", "<</Length 9 0 R/N 3>>", "<< /Filter /FlateDecode/Length 77/N 3>>"},
        {"Length1 of a font is not the length", "<< /Length1 500 /Length 900 >>",
         "<< /Filter /FlateDecode /Length1 500 /Length 77 >>"},
        {"nested length and a string", "<< /A << /Length 5 >> /T (/Length 3) /Length 40 >>",
         "<< /Filter /FlateDecode /A << /Length 5 >> /T (/Length 3) /Length 77 >>"},
        {"comment", "<< % /Length 1\n/Length 40 >>",
         "<< /Filter /FlateDecode % /Length 1\n/Length 77 >>"},
        {"already filtered", "<< /Length 40 /Filter /DCTDecode >>", ""},
        {"filter array", "<< /Filter [/AHx] /Length 40 >>", ""},
        {"decode parameters without a filter", "<< /Length 40 /DecodeParms << /K -1 >> >>", ""},
        {"external file", "<< /Length 0 /F (data.bin) >>", ""},
        {"no length", "<< /Subtype /Image >>", ""},
        {"not a dictionary", "[1 2 3]", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<std::string> got = qf::flate_dictionary(c.dict, 77);
        if (c.want.empty())
            EXPECT_FALSE(got.has_value()) << *got;
        else
            EXPECT_EQ(got.value_or("(kept)"), c.want);
    }
}

// The booklet of `in` on `sheet`, compressed or not, at `out`; its status.
int make(const std::string& in, const std::string& out, bool compress, const char* sheet) {
    quirefold_impose_options o;
    quirefold_impose_options_init(&o);
    o.compress = compress ? 1 : 0;
    o.sheet = sheet;
    return qft::impose_file(in, out, o).status;
}

// Every fixture: the compressed booklet draws what the uncompressed one draws, pixel for
// pixel, is clean for qpdf and is no larger than the input; together the booklets are smaller
// than the inputs. Sizes are printed for the record.
TEST(CompressedBooklets, DrawTheSameAndAreNoLargerThanTheirInputs) {
    if (!qft::have_tool("qpdf") || !qft::have_tool("pdftoppm")) GTEST_SKIP() << "no qpdf/poppler";
    const std::string dir = qft::temp_dir();
    const char* const names[] = {"groff_gs.pdf",
                                 "groff_gs_objstm.pdf",
                                 "groff_pdf.pdf",
                                 "images.pdf",
                                 "images_rotated_cropped.pdf",
                                 "rotate_page.pdf",
                                 "contents_array.pdf",
                                 "resources.pdf",
                                 "lzw_content.pdf",
                                 "incremental.pdf",
                                 "pages500.pdf",
                                 "mixed_sizes.pdf"};
    std::uint64_t inputs = 0, compressed = 0, plain = 0;
    for (const char* name : names) {
        SCOPED_TRACE(name);
        const std::string in = qft::fixture(name);
        const std::string small_path = dir + "/small.pdf", big_path = dir + "/big.pdf";
        ASSERT_EQ(make(in, small_path, true, "a4"), QUIREFOLD_IMPOSE_OK);
        ASSERT_EQ(make(in, big_path, false, "a4"), QUIREFOLD_IMPOSE_OK);
        std::string check;
        EXPECT_EQ(qft::run("qpdf --check " + small_path, &check, true), 0) << check;

        const std::uint64_t in_size = qft::read_file(in).size();
        const std::uint64_t small_size = qft::read_file(small_path).size();
        const std::uint64_t big_size = qft::read_file(big_path).size();
        inputs += in_size;
        compressed += small_size;
        plain += big_size;
        std::printf("  %-28s input %8llu  compressed %8llu  uncompressed %8llu\n", name,
                    static_cast<unsigned long long>(in_size),
                    static_cast<unsigned long long>(small_size),
                    static_cast<unsigned long long>(big_size));
        EXPECT_LE(small_size, big_size);

        std::vector<qft::gray_image> a, b;
        ASSERT_TRUE(qft::render_pdf(small_path, 24, false, a, nullptr, 1, 4));
        ASSERT_TRUE(qft::render_pdf(big_path, 24, false, b, nullptr, 1, 4));
        ASSERT_EQ(a.size(), b.size());
        for (std::size_t i = 0; i < a.size(); ++i) {
            EXPECT_EQ(a[i].px, b[i].px) << "side " << i + 1 << " draws differently";
        }
    }
    std::printf("  total: inputs %llu, compressed booklets %llu, uncompressed %llu\n",
                static_cast<unsigned long long>(inputs),
                static_cast<unsigned long long>(compressed),
                static_cast<unsigned long long>(plain));
    EXPECT_LE(compressed, inputs);
}

} // namespace
