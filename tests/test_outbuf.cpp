// Output byte buffer: first storage, doubling, the failed state, moves; the number rule.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "outbuf.h"

// A resize to an impossible size must come back as a failure rather than stop the program,
// also under the address sanitizer.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {

constexpr std::uint64_t mib = 1048576;

std::string content(const qf::buf& b) {
    return b.data ? std::string(reinterpret_cast<const char*>(b.data), b.len) : std::string();
}

void expect_failed_and_empty(const qf::buf& b) {
    EXPECT_TRUE(b.failed);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.len, 0u);
    EXPECT_EQ(b.cap, 0u);
}

} // namespace

TEST(Outbuf, ZeroByteAppendGivesAFreshBufferItsFirstStorage) {
    qf::buf b;
    EXPECT_EQ(b.data, nullptr);
    const char none = 'x';
    EXPECT_NE(qf::buf_bytes(b, &none, 0), nullptr);
    ASSERT_NE(b.data, nullptr);
    EXPECT_EQ(b.cap, mib);
    EXPECT_EQ(b.len, 0u);
    EXPECT_EQ(b.data[0], 0);
    EXPECT_FALSE(b.failed);
}

TEST(Outbuf, OwnerCanGiveTheFirstStorage) {
    qf::buf b;
    ASSERT_TRUE(qf::buf_reserve_first(b));
    EXPECT_EQ(b.cap, mib);
    EXPECT_EQ(b.len, 0u);
    EXPECT_EQ(b.data[0], 0);
    qf::buf_text(b, "abc");
    // A live buffer keeps its storage and content.
    std::uint8_t* before = b.data;
    ASSERT_TRUE(qf::buf_reserve_first(b));
    EXPECT_EQ(b.data, before);
    EXPECT_EQ(content(b), "abc");
}

TEST(Outbuf, ExactFitDoesNotResizeAndOneMoreByteDoubles) {
    qf::buf b;
    const std::string fill(mib - 1, 'a'); // len + n + 1 == cap
    ASSERT_NE(qf::buf_bytes(b, fill.data(), fill.size()), nullptr);
    EXPECT_EQ(b.cap, mib);
    EXPECT_EQ(b.len, mib - 1);
    EXPECT_EQ(b.data[b.len], 0);
    ASSERT_NE(qf::buf_text(b, "b"), nullptr);
    EXPECT_EQ(b.cap, 2 * mib);
    EXPECT_EQ(b.len, mib);
    EXPECT_EQ(b.data[mib - 1], 'b');
    EXPECT_EQ(b.data[mib - 2], 'a');
    EXPECT_EQ(b.data[mib], 0);
}

TEST(Outbuf, LargeAppendDoublesRepeatedlyInOneCall) {
    struct Case {
        std::uint64_t already, append, cap;
    };
    const Case cases[] = {
        {0, 3 * mib, 4 * mib},     // 1 MiB -> 4 MiB
        {0, 2 * mib - 1, 2 * mib}, // exact fit after one doubling
        {0, 2 * mib, 4 * mib},
        {10, 5 * mib, 8 * mib},
    };
    for (const auto& c : cases) {
        qf::buf b;
        ASSERT_TRUE(qf::buf_reserve_first(b));
        const std::string head(c.already, 'h');
        qf::buf_bytes(b, head.data(), head.size());
        const std::string big(c.append, 'z');
        ASSERT_NE(qf::buf_bytes(b, big.data(), big.size()), nullptr);
        EXPECT_EQ(b.cap, c.cap) << c.append;
        EXPECT_EQ(b.len, c.already + c.append);
        EXPECT_EQ(content(b), head + big);
        EXPECT_EQ(b.data[b.len], 0);
    }
}

TEST(Outbuf, ContentSurvivesGrowthAndStaysTerminated) {
    qf::buf b;
    std::string mirror;
    for (int i = 0; i < 3000; ++i) {
        const std::string piece =
            std::to_string(i) + std::string(static_cast<std::size_t>(i % 997), '.');
        qf::buf_text(b, piece);
        mirror += piece;
        ASSERT_EQ(b.len, mirror.size());
        ASSERT_EQ(b.data[b.len], 0);
        ASSERT_LT(b.len, b.cap);
    }
    EXPECT_EQ(content(b), mirror);
    // cap is 1 MiB times a power of two.
    std::uint64_t cap = b.cap;
    while (cap > mib && cap % 2 == 0) cap /= 2;
    EXPECT_EQ(cap, mib);
}

TEST(Outbuf, FailedBufferStaysFailedAndEmpty) {
    qf::buf b;
    b.failed = true;
    EXPECT_EQ(qf::buf_text(b, "abc"), nullptr);
    expect_failed_and_empty(b);
    EXPECT_FALSE(qf::buf_reserve_first(b));
    expect_failed_and_empty(b);
    qf::buf_format(b, "%d", 42);
    expect_failed_and_empty(b);
    // Releasing a failed buffer does nothing: it does not come back to life.
    qf::buf_release(b);
    expect_failed_and_empty(b);
    EXPECT_EQ(qf::buf_text(b, "abc"), nullptr);
    expect_failed_and_empty(b);
    EXPECT_EQ(qf::buf_take(b), nullptr);
    expect_failed_and_empty(b);
}

TEST(Outbuf, FailedResizeReleasesTheContent) {
    struct Case {
        const char* what;
        std::size_t n;
    };
    const Case cases[] = {
        {"storage larger than memory", std::size_t{1} << 60},
        {"length that would overflow", std::numeric_limits<std::size_t>::max() - 2},
    };
    for (const auto& c : cases) {
        qf::buf b;
        qf::buf_text(b, "earlier text");
        ASSERT_FALSE(b.failed);
        const char byte = 'q'; // never read: the append fails before copying
        EXPECT_EQ(qf::buf_bytes(b, &byte, c.n), nullptr) << c.what;
        expect_failed_and_empty(b);
        EXPECT_EQ(qf::buf_text(b, "later"), nullptr) << c.what;
        expect_failed_and_empty(b);
    }
}

TEST(Outbuf, ReleaseAndTake) {
    qf::buf b;
    qf::buf_text(b, "one");
    qf::buf_release(b);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.len, 0u);
    EXPECT_EQ(b.cap, 0u);
    EXPECT_FALSE(b.failed);
    qf::buf_release(b); // fresh: nothing to release
    // A released live buffer is fresh and can be used again.
    qf::buf_text(b, "two");
    EXPECT_EQ(content(b), "two");
    EXPECT_EQ(b.cap, mib);

    std::uint8_t* taken = qf::buf_take(b);
    ASSERT_NE(taken, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(taken), "two");
    std::free(taken);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.len, 0u);
    EXPECT_EQ(b.cap, 0u);

    qf::buf fresh;
    EXPECT_EQ(qf::buf_take(fresh), nullptr);
}

TEST(Outbuf, MovesHandTheStorageOver) {
    qf::buf a;
    qf::buf_text(a, "moved");
    qf::buf b(std::move(a));
    EXPECT_EQ(a.data, nullptr);
    EXPECT_EQ(a.len, 0u);
    EXPECT_EQ(a.cap, 0u);
    EXPECT_EQ(content(b), "moved");

    qf::buf c;
    qf::buf_text(c, "replaced");
    c = std::move(b);
    EXPECT_EQ(content(c), "moved");
    EXPECT_EQ(b.data, nullptr);

    qf::buf failed;
    failed.failed = true;
    c = std::move(failed);
    EXPECT_TRUE(c.failed);
    EXPECT_EQ(c.data, nullptr);
    EXPECT_FALSE(failed.failed);
}

TEST(Outbuf, FormatAppendsShortAndLongText) {
    qf::buf b;
    qf::buf_format(b, "%ld 0 obj\n", static_cast<long>(12));
    const std::string long_name(2000, 'n');
    qf::buf_format(b, "/%s %zu", long_name.c_str(), std::size_t{7});
    EXPECT_EQ(content(b), "12 0 obj\n/" + long_name + " 7");
    EXPECT_EQ(b.data[b.len], 0);
}

TEST(Outbuf, NumberRule) {
    struct Case {
        double v;
        const char* text;
    };
    const Case cases[] = {
        {612.0, "612"},
        {-3.0, "-3"},
        {-0.0, "0"},
        {0.0, "0"},
        {2147483647.0, "2147483647"},
        {-2147483648.0, "-2147483648"},
        {2147483648.0, "2147483648.0000"},
        {-2147483649.0, "-2147483649.0000"},
        {595.28, "595.2800"},
        {841.89, "841.8900"},
        {1190.55, "1190.5500"},
        {0.5, "0.5000"},
        {0.00005, "0.0001"},
        {0.00004, "0.0000"},
        {-0.0000001, "-0.0000"},
        {-297.5, "-297.5000"},
        {1e10, "10000000000.0000"},
    };
    for (const auto& c : cases) {
        char out[64];
        std::memset(out, 'X', sizeof out);
        qf::num_text(c.v, out);
        EXPECT_STREQ(out, c.text) << c.text;
        EXPECT_EQ(qf::num_str(c.v), c.text);
    }
}

TEST(Outbuf, NumberRuleCutsHugeValuesAt63Characters) {
    char out[64];
    std::memset(out, 'X', sizeof out);
    qf::num_text(1e70, out);
    EXPECT_EQ(std::strlen(out), 63u);
    EXPECT_EQ(std::string(out, 2), "10");
    qf::num_text(-1e58, out);
    EXPECT_EQ(std::strlen(out), 63u);
    EXPECT_EQ(out[0], '-');
}
