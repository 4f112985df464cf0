// Content stream filters: which streams are decoded, what each decoding stage produces, and
// the filter entries carried into a form for streams that stay encoded.
#include <gtest/gtest.h>
#include <zlib.h>

#include <optional>
#include <string>
#include <vector>

#include "filters.h"
#include "testutil.h"

namespace {

using namespace std::string_literals;
using qft::bv;

std::string hex_encode(const std::string& plain) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : plain) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string ascii85_encode(const std::string& plain) {
    std::string out;
    for (std::size_t i = 0; i < plain.size(); i += 4) {
        std::size_t n = std::min<std::size_t>(4, plain.size() - i);
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 4; ++k)
            v = v << 8 | (k < n ? static_cast<unsigned char>(plain[i + k]) : 0u);
        char group[5];
        for (int k = 4; k >= 0; --k) {
            group[k] = static_cast<char>('!' + v % 85);
            v /= 85;
        }
        out.append(group, n + 1);
    }
    return out + "~>";
}

struct decoded {
    int result = 0;
    std::string bytes;
    bool owned = false;
    bool is_input = false; // data points at the bytes handed in
    std::string tail;
};

// Runs content_decode on a stream whose dictionary is `dict`, followed by the stream keyword
// as in a file: the dictionary ends where "stream" begins.
decoded decode(const std::string& dict, const std::string& data) {
    std::string text = dict + "\nstream\n";
    qf::streamout out;
    out.dict_tail = "stale"; // cleared on entry
    decoded r;
    r.result = content_decode(bv(text), 0, static_cast<std::int32_t>(dict.size() + 1),
                              reinterpret_cast<const std::uint8_t*>(data.data()),
                              static_cast<std::int32_t>(data.size()), out);
    r.bytes.assign(reinterpret_cast<const char*>(out.data), static_cast<std::size_t>(out.len));
    r.owned = out.owned;
    r.is_input = out.data == reinterpret_cast<const std::uint8_t*>(data.data());
    if (r.owned) {
        EXPECT_EQ(out.data, out.decoded.data());
    }
    r.tail = out.dict_tail;
    return r;
}

void expect_decoded(const decoded& r, const std::string& bytes) {
    EXPECT_EQ(r.result, 1);
    EXPECT_TRUE(r.owned);
    EXPECT_EQ(r.bytes, bytes);
    EXPECT_EQ(r.tail, "");
}

void expect_unchanged(const decoded& r, const std::string& input) {
    EXPECT_EQ(r.result, 1);
    EXPECT_FALSE(r.owned);
    EXPECT_TRUE(r.is_input || input.empty());
    EXPECT_EQ(r.bytes, input);
    EXPECT_EQ(r.tail, "");
}

void expect_carried(const decoded& r, const std::string& input, const std::string& tail) {
    EXPECT_EQ(r.result, 2);
    EXPECT_FALSE(r.owned);
    EXPECT_TRUE(r.is_input);
    EXPECT_EQ(r.bytes, input);
    EXPECT_EQ(r.tail, tail);
}

const std::string page_text = "BT /F1 12 Tf 72 720 Td (Hello) Tj ET\n";

// Streams that decode, one or more stages.
struct decode_case {
    const char* name;
    std::string dict;
    std::string data;
    std::string expected;
};

TEST(ContentDecode, DecodesKnownFilters) {
    const decode_case cases[] = {
        {"flate", "<< /Length 99 /Filter /FlateDecode >>", qft::zlib_compress(page_text),
         page_text},
        {"flate short name", "<</Filter/Fl>>", qft::zlib_compress(page_text), page_text},
        {"flate single array", "<< /Filter [/FlateDecode] >>", qft::zlib_compress(page_text),
         page_text},
        {"hex odd digit", "<< /Filter /ASCIIHexDecode >>", "414>", "\x41\x40"},
        {"hex white space and case", "<< /Filter /AHx >>", "4a 4B\n\t4c\r\x0b", "JKL"},
        {"hex ignores what follows >", "<< /Filter /AHx >>", "41>zz", "A"},
        {"hex without >", "<< /Filter /AHx >>", "4142", "AB"},
        {"ascii85 groups", "<< /Filter /ASCII85Decode >>", "87cURD_*#4DfTZ)+T~>", "Hello, World!"},
        {"ascii85 z", "<< /Filter /A85 >>", "z~>", std::string(4, '\0')},
        {"ascii85 z then partial group", "<< /Filter /A85 >>", "z@:E^~>",
         std::string(4, '\0') + "abc"},
        {"ascii85 two digits left", "<< /Filter /A85 >>", "!!", std::string(1, '\0')},
        {"ascii85 white space, no >", "<< /Filter /A85 >>", "87cU\nRD_*#\t4DfTZ)+T~",
         "Hello, World!"},
        {"ascii85 ignores what follows ~", "<< /Filter /A85 >>", "z~xyz", std::string(4, '\0')},
        {"run length repeat", "<< /Filter /RunLengthDecode >>", "\xFE\x41\x80", "AAA"},
        {"run length literal cut short", "<< /Filter /RL >>", "\x02\x41\x42", "AB"},
        {"run length literal then end", "<< /Filter /RL >>", "\x01XY\x80ZZZ", "XY"},
        {"run length repeat without byte", "<< /Filter /RL >>", "\x00Q\x81"s, "Q"},
        {"ascii85 then flate", "<< /Filter [/ASCII85Decode /FlateDecode] >>",
         ascii85_encode(qft::zlib_compress(page_text)), page_text},
        {"array with spaces, later keys not filters",
         "<< /Filter [ /AHx  /FlateDecode ] /Length 12 /Name /RL /A85 1 >>",
         hex_encode(qft::zlib_compress(page_text)), page_text},
        {"array names without spaces", "<</Filter[/AHx/RL]>>", hex_encode("\xFE\x41\x80"), "AAA"},
        {"hex decoding to nothing", "<< /Filter /AHx >>", ">", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expect_decoded(decode(c.dict, c.data), c.expected);
    }
}

// A name longer than any filter's, or a ninth stage, cannot be undone: the stream is carried
// as it is with its whole /Filter, never decoded by the stages we know and written without the
// one we do not (which would change what it draws).
TEST(ContentDecode, UndecodableChainsAreCarriedWithTheirFilter) {
    const std::string long_name = "/ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
    std::string nine;
    for (int i = 0; i < 9; ++i) nine += " /AHx";
    std::string eight_times_hex = "A";
    for (int i = 0; i < 8; ++i) eight_times_hex = hex_encode(eight_times_hex);
    const struct {
        const char* name;
        std::string dict, data, tail;
    } cases[] = {
        {"long name", "<< /Filter " + long_name + " >>", "hello", " /Filter " + long_name},
        {"long name in array", "<< /Filter [" + long_name + " /AHx] >>", "41",
         " /Filter [" + long_name + " /AHx]"},
        {"long name after run-length stages", "<< /Filter [/RL /RL /RL " + long_name + "] >>",
         "\x81\x41", " /Filter [/RL /RL /RL " + long_name + "]"},
        {"array of a long name only", "<< /Filter [" + long_name + "] >>", "hello",
         " /Filter [" + long_name + "]"},
        {"nine stages", "<< /Filter [" + nine + " ] >>", eight_times_hex,
         " /Filter [" + nine + " ]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expect_carried(decode(c.dict, c.data), c.data, c.tail);
    }
    // Eight stages are still undone.
    std::string eight;
    for (int i = 0; i < 8; ++i) eight += " /AHx";
    expect_decoded(decode("<< /Filter [" + eight + " ] >>", eight_times_hex), "A");
}

TEST(ContentDecode, FlateNeedingLargerBuffers) {
    // Both compress far better than 6:1, so the first buffer is too small and is grown; the
    // zeros come close to the densest expansion DEFLATE allows.
    std::string mostly_q(3 << 20, 'q');
    for (std::size_t i = 0; i < mostly_q.size(); i += 4099) mostly_q[i] = 'Q';
    const std::string zeros(8 << 20, '\0');
    const std::string* plains[] = {&mostly_q, &zeros};
    for (const std::string* plain : plains) {
        std::string packed = qft::zlib_compress(*plain);
        ASSERT_LT(packed.size() * 6 + 4096, plain->size());
        expect_decoded(decode("<< /Filter /FlateDecode >>", packed), *plain);
    }
}

TEST(ContentDecode, MalformedFlateGivesBytesBeforeTheFault) {
    // A stored block "hello", then a final block of the reserved type 3.
    std::string data = "\x78\x01\x00\x05\x00\xFA\xFF"s + "hello" + "\x07";
    expect_decoded(decode("<< /Filter /FlateDecode >>", data), "hello");
}

TEST(ContentDecode, NothingToDecode) {
    const decode_case cases[] = {
        {"no filter", "<< /Length 5 >>", "hello", ""},
        {"indirect filter", "<< /Filter 7 0 R >>", "hello", ""},
        {"null filter", "<< /Filter null >>", "hello", ""},
        {"filter at dictionary end", "<< /Filter>>", "hello", ""},
        {"empty array", "<< /Filter [ ] >>", "hello", ""},
        {"array without names", "<< /Filter [1 2] >>", "hello", ""},
        {"control byte before value", "<< /Filter \x01/AHx >>", "hello", ""},
        {"Filter key only as a prefix", "<< /Filters /AHx >>", "hello", ""},
        {"empty stream with filter", "<< /Filter /FlateDecode >>", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expect_unchanged(decode(c.dict, c.data), c.data);
    }
}

TEST(ContentDecode, NoDictionaryOrNoData) {
    const std::string text = "<< /Filter /AHx >>";
    const std::string data = "4142";
    qf::streamout out;
    EXPECT_EQ(qf::content_decode(bv(text), -1, 18,
                                 reinterpret_cast<const std::uint8_t*>(data.data()), 4, out),
              1);
    EXPECT_FALSE(out.owned);
    EXPECT_EQ(out.len, 4);
    EXPECT_EQ(qf::content_decode(bv(text), 0, 18,
                                 reinterpret_cast<const std::uint8_t*>(data.data()), -3, out),
              1);
    EXPECT_EQ(out.len, 0);
    EXPECT_FALSE(out.owned);
    // A dictionary end beyond the text is held to the text.
    EXPECT_EQ(qf::content_decode(bv(text), 0, 1000,
                                 reinterpret_cast<const std::uint8_t*>(data.data()), 4, out),
              1);
    EXPECT_TRUE(out.owned);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data), 2), "AB");
}

// Streams that stay encoded, with the filter entries the form's dictionary gets.
struct carry_case {
    const char* name;
    std::string dict;
    std::string data;
    std::string tail;
};

TEST(ContentDecode, CarriesWhatItCannotUndo) {
    const std::string truncated = qft::zlib_compress(page_text).substr(0, 12);
    const carry_case cases[] = {
        {"unknown name", "<< /Length 5 /Filter /LZWDecode >>", "abcde", " /Filter /LZWDecode"},
        {"unknown name with DP",
         "<< /Filter /LZWDecode /DP << /Predictor 2 /Columns 3 >> /Length 5 >>", "abcde",
         " /Filter /LZWDecode /DecodeParms << /Predictor 2 /Columns 3 >>"},
        {"parameters copied byte for byte",
         "<</Filter/CCITTFaxDecode/DecodeParms<</K -1/Columns 1728<</X 1>>>>>>", "abcde",
         " /Filter /CCITTFaxDecode /DecodeParms <</K -1/Columns 1728<</X 1>>>>"},
        {"parameters array", "<< /Filter [/AHx /DCTDecode] /DecodeParms [null << /Q 1 >>] >>", "41",
         " /Filter [/AHx /DCTDecode] /DecodeParms [null << /Q 1 >>]"},
        {"unknown stage after a known one", "<< /Filter [/AHx /LZWDecode] >>", "4142",
         " /Filter [/AHx /LZWDecode]"},
        // Two bytes that five run-length stages would grow past the stage limit: the unknown
        // last name is seen before any stage runs, so nothing is decoded only to be dropped.
        {"unknown stage after expanding ones", "<< /Filter [/RL /RL /RL /RL /RL /LZWDecode] >>",
         "\x81\x81", " /Filter [/RL /RL /RL /RL /RL /LZWDecode]"},
        {"names are case-sensitive", "<< /Filter /flatedecode >>", qft::zlib_compress("x"),
         " /Filter /flatedecode"},
        {"hex with g", "<< /Filter /AHx >>", "41g2>", " /Filter /AHx"},
        {"hex with NUL", "<< /Filter /AHx >>",
         "41\0"
         "42"s,
         " /Filter /AHx"},
        {"ascii85 single digit left", "<< /Filter /A85 >>", "87cUR!~>", " /Filter /A85"},
        {"ascii85 z inside a group", "<< /Filter /A85 >>", "87z~>", " /Filter /A85"},
        {"ascii85 digit out of range", "<< /Filter /A85 >>", "87cUv~>", " /Filter /A85"},
        {"flate truncated", "<< /Filter /FlateDecode >>", truncated, " /Filter /FlateDecode"},
        {"flate preset dictionary", "<< /Filter /Fl >>", "\x78\x20\x01\x02", " /Filter /Fl"},
        {"flate wrong method", "<< /Filter /Fl >>", "\x79\x9c\x01\x02", " /Filter /Fl"},
        {"parameters reference gives its number", "<< /Filter /JBIG2Decode /DecodeParms 9 0 R >>",
         "abc", " /Filter /JBIG2Decode /DecodeParms 9"},
        {"parameters without a value", "<< /Filter /JPXDecode /DecodeParms>>", "abc",
         " /Filter /JPXDecode"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expect_carried(decode(c.dict, c.data), c.data, c.tail);
    }
}

TEST(ContentDecode, CannotBeCarriedWhenFilterTextCannotBeCopied) {
    // The array never closes inside the dictionary.
    decoded r = decode("<< /Filter [/LZWDecode >>", "abc");
    EXPECT_EQ(r.result, -1);
    EXPECT_FALSE(r.owned);
    EXPECT_TRUE(r.is_input);
    EXPECT_EQ(r.tail, "");
}

TEST(ContentDecode, PngPredictor) {
    // Two rows of four columns: tag None, then tag Up adding 1 to each byte above.
    const std::string rows = "\x00"
                             "ABCD"
                             "\x02\x01\x01\x01\x01"s;
    const std::string packed = qft::zlib_compress(rows);
    struct predictor_case {
        const char* name;
        std::string parms;
        std::string expected;
    };
    const predictor_case cases[] = {
        {"reversed", "/DecodeParms << /Predictor 12 /Columns 4 >>", "ABCDBCDE"},
        {"under DP", "/DP <</Columns 4/Predictor 15>>", "ABCDBCDE"},
        {"in an array", "/DecodeParms [<< /Predictor 12 /Columns 4 >>]", rows},
        {"without Columns", "/DecodeParms << /Predictor 12 >>", rows},
        {"TIFF predictor", "/DecodeParms << /Predictor 2 /Columns 4 >>", rows},
        {"without Predictor", "/DecodeParms << /Columns 4 >>", rows},
        {"Columns not below the length", "/DecodeParms << /Predictor 12 /Columns 10 >>", rows},
        {"Columns zero", "/DecodeParms << /Predictor 12 /Columns 0 >>", rows},
        {"parameters by reference", "/DecodeParms 8 0 R", rows},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expect_decoded(decode("<< /Filter /FlateDecode " + c.parms + " >>", packed), c.expected);
    }
}

TEST(ContentDecode, PngPredictorBadTagKeepsLength) {
    // The second row's tag 5 stops the reversal after the first row; the length stays 10.
    const std::string rows = "\x00"
                             "ABCD"
                             "\x05\x01\x01\x01\x01"s;
    decoded r = decode("<< /Filter /Fl /DecodeParms << /Predictor 10 /Columns 4 >> >>",
                       qft::zlib_compress(rows));
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.bytes.size(), 10u);
    EXPECT_EQ(r.bytes.substr(0, 5), std::string("ABCD\x05"));
}

TEST(ContentDecode, PredictorSkippedOnEmptyOutput) {
    decoded r = decode("<< /Filter /AHx /DecodeParms << /Predictor 12 /Columns 1 >> >>", ">");
    expect_decoded(r, "");
}

struct copy_case {
    const char* name;
    std::string text;
    std::int32_t start;
    std::int32_t end; // -1: the text's length
    std::optional<std::string> expected;
};

TEST(CopyValueText, Values) {
    const copy_case cases[] = {
        {"name", " /FlateDecode /X", 0, -1, "/FlateDecode"},
        {"name ends at slash", "/A85/Fl", 0, -1, "/A85"},
        {"name ends at >", "/A85>>", 0, -1, "/A85"},
        {"name ends at range end", "/FlateDecode", 0, 5, "/Flat"},
        {"white space skipped", "\0\t\r\n\x0c /N"s, 0, -1, "/N"},
        {"nested dictionary", "<< /A << /B 1 >> /C 2 >> /D", 0, -1, "<< /A << /B 1 >> /C 2 >>"},
        {"dictionary unclosed", "<< /A << /B 1 >>", 0, -1, std::nullopt},
        {"dictionary closing at the end", "<<>>", 0, 4, "<<>>"},
        {"dictionary closing past the end", "<<>>", 0, 3, std::nullopt},
        {"\">>\" inside a string", "<< /S (>>) >>", 0, -1, "<< /S (>>) >>"},
        {"array", "[/A85 /Fl] >>", 0, -1, "[/A85 /Fl]"},
        {"array not nested", "[[1] 2]", 0, -1, "[[1]"},
        {"array without ]", "[/A85 /Fl", 0, -1, std::nullopt},
        {"array ] as last byte", "[/A85 /Fl]", 0, -1, std::nullopt},
        {"reference gives its number", "12 0 R", 0, -1, "12"},
        {"number up to >", "12>>", 0, -1, "12"},
        {"value is >", ">>", 0, -1, std::nullopt},
        {"value is VT", "\x0b/A", 0, -1, std::nullopt},
        {"only white space", "   ", 0, -1, std::nullopt},
        {"start at end", "/A", 2, 2, std::nullopt},
        {"start past end", "/A", 3, 2, std::nullopt},
        {"end past the text", "/Name", 0, 1000, "/Name"},
        {"hex string as plain text", "<4142> /X", 0, -1, "<4142"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::int32_t end = c.end < 0 ? static_cast<std::int32_t>(c.text.size()) : c.end;
        EXPECT_EQ(qf::copy_value_text(bv(c.text), c.start, end), c.expected);
    }
}

} // namespace
