// The C interface: argument checks, last-error behaviour.
#include <gtest/gtest.h>

#include <string>

#include "quirefold.h"
#include "testutil.h"

TEST(Exports, InitAndCleanupEmptyTheError) {
    EXPECT_EQ(quirefold_page_count(nullptr), -1);
    EXPECT_STREQ(quirefold_last_error(), "NULL path argument");
    EXPECT_EQ(quirefold_init(), 1);
    EXPECT_STREQ(quirefold_last_error(), "");
    EXPECT_EQ(quirefold_create(nullptr, "x.pdf"), 0);
    quirefold_cleanup();
    EXPECT_STREQ(quirefold_last_error(), "");
    EXPECT_EQ(quirefold_init(), 1);
}

TEST(Exports, NullPathsAreRejectedBeforeAnythingIsOpened) {
    std::string dir = qft::temp_dir();
    std::string out = dir + "/out.pdf";
    EXPECT_EQ(quirefold_create(nullptr, out.c_str()), 0);
    EXPECT_STREQ(quirefold_last_error(), "NULL path argument");
    EXPECT_EQ(quirefold_create_sized("/nonexistent/in.pdf", nullptr, 0), 0);
    EXPECT_STREQ(quirefold_last_error(), "NULL path argument");
    EXPECT_FALSE(qft::file_exists(out));
}

TEST(Exports, LastErrorIsNeverNull) {
    quirefold_init();
    ASSERT_NE(quirefold_last_error(), nullptr);
    quirefold_page_count("/nonexistent/file.pdf");
    ASSERT_NE(quirefold_last_error(), nullptr);
    EXPECT_STREQ(quirefold_last_error(), "cannot open /nonexistent/file.pdf");
}
