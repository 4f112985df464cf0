// Last-error text and the bounded formatter.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "error.h"

TEST(Error, SetAndClear) {
    ASSERT_NE(qf::last_error(), nullptr);
    qf::set_error("document has no pages");
    EXPECT_TRUE(qf::error_is_set());
    EXPECT_STREQ(qf::last_error(), "document has no pages");
    qf::clear_error();
    EXPECT_FALSE(qf::error_is_set());
    ASSERT_NE(qf::last_error(), nullptr);
    EXPECT_STREQ(qf::last_error(), "");
}

TEST(Error, LaterMessageReplacesEarlierOne) {
    qf::set_error("cannot open %s", std::string(900, 'p').c_str());
    qf::set_error("close error on %s", "out.pdf");
    EXPECT_STREQ(qf::last_error(), "close error on out.pdf");
    qf::set_error("catalog (obj %ld) has no /Pages reference", static_cast<long>(-7));
    EXPECT_STREQ(qf::last_error(), "catalog (obj -7) has no /Pages reference");
}

TEST(Error, LongMessagesAreCutAt1023Bytes) {
    struct Case {
        std::size_t path_len;
        std::size_t stored;
    };
    const std::string prefix = "cannot open ";
    const Case cases[] = {
        {1023 - prefix.size() - 1, 1022}, // shorter: whole
        {1023 - prefix.size(), 1023},     // exactly 1023: whole
        {1024 - prefix.size(), 1023},     // one over: cut
        {5000, 1023},
    };
    for (const auto& c : cases) {
        std::string path(c.path_len, 'a');
        for (std::size_t i = 0; i < path.size(); i += 7) path[i] = static_cast<char>('0' + i % 10);
        const std::string full = prefix + path;
        qf::set_error("cannot open %s", path.c_str());
        const char* e = qf::last_error();
        ASSERT_EQ(std::strlen(e), c.stored) << c.path_len;
        EXPECT_EQ(std::string(e), full.substr(0, c.stored)) << c.path_len;
    }
    // A short message after a cut one leaves nothing of the long one behind.
    qf::set_error("out of memory");
    EXPECT_STREQ(qf::last_error(), "out of memory");
}

TEST(Error, MessagesKeepTheirBytes) {
    qf::set_error("no PDF objects found \xE2\x80\x94 not a PDF: %s", "x.pdf");
    EXPECT_STREQ(qf::last_error(), "no PDF objects found \xE2\x80\x94 not a PDF: x.pdf");
    qf::set_error("sheet_size must be 0 (A4), 1 (Letter) or 2 (A3) (got %d)", 3);
    EXPECT_STREQ(qf::last_error(), "sheet_size must be 0 (A4), 1 (Letter) or 2 (A3) (got 3)");
}

TEST(Error, ConversionsGiveTheSameText) {
    struct Case {
        std::string got, want;
    };
    const Case cases[] = {
        {qf::format("%ld", static_cast<long>(INT32_MIN)), "-2147483648"},
        {qf::format("%010ld", static_cast<long>(1234)), "0000001234"},
        {qf::format("%zu", std::size_t{4294967296}), "4294967296"},
        {qf::format("%.4f", 0.00005), "0.0001"},
        {qf::format("%.4f", -0.0000001), "-0.0000"},
        {qf::format("%d", -3), "-3"},
        {qf::format("%s", ""), ""},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(Error, FormatIsNeverCut) {
    const std::string long_text(5000, 'k');
    const std::string got = qf::format("<< %s >>", long_text.c_str());
    EXPECT_EQ(got, "<< " + long_text + " >>");
    EXPECT_EQ(got.size(), 5006u);
}
