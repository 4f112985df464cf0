// The classic exports write exactly the bytes they wrote before the imposition engine took
// over their layout: the SHA-256 of every fixture's booklet at every sheet size code, recorded
// then, in tests/fixtures/classic_outputs.txt.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "quirefold.h"
#include "testutil.h"

namespace {

std::string sha256_of(const std::string& path) {
    std::string out;
    if (qft::run("sha256sum " + path, &out) != 0) return "(sha256sum failed)";
    return out.substr(0, out.find(' '));
}

TEST(ClassicPinned, EveryFixtureGivesTheRecordedBytes) {
    const std::string root = std::string(QF_FIXTURE_DIR) + "/../..";
    std::ifstream list(std::string(QF_FIXTURE_DIR) + "/classic_outputs.txt");
    ASSERT_TRUE(list) << "classic_outputs.txt missing";
    const std::string out = qft::temp_dir() + "/booklet.pdf";
    int checked = 0;
    for (std::string line; std::getline(list, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        int code = 0;
        std::string file, hash;
        fields >> code >> file >> hash;
        SCOPED_TRACE(file + " at sheet code " + std::to_string(code));
        ASSERT_EQ(quirefold_create_sized((root + "/" + file).c_str(), out.c_str(), code), 1)
            << quirefold_last_error();
        EXPECT_EQ(sha256_of(out), hash);
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

} // namespace
