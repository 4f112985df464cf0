// Output files are replaced whole or not at all: written beside the target, flushed, renamed.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "error.h"
#include "outfile.h"
#include "quirefold.h"
#include "testutil.h"

namespace {

std::vector<std::string> names_in(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

unsigned mode_of(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

bool is_link(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

int write(const std::string& path, const std::string& content, bool reason = false) {
    qf::clear_error();
    return qf::write_file_safely(qft::bv(content), path.c_str(), reason);
}

TEST(OutFile, ReplacesWholeKeepsModeAndFollowsLinks) {
    const std::string dir = qft::temp_dir();
    // A new file.
    ASSERT_EQ(write(dir + "/new.pdf", "new"), 1) << qf::last_error();
    EXPECT_EQ(qft::read_file(dir + "/new.pdf"), "new");
    // An existing file with its own permissions.
    qft::write_file(dir + "/old.pdf", "old content that is longer");
    ASSERT_EQ(chmod((dir + "/old.pdf").c_str(), 0640), 0);
    ASSERT_EQ(write(dir + "/old.pdf", "replaced"), 1);
    EXPECT_EQ(qft::read_file(dir + "/old.pdf"), "replaced");
    EXPECT_EQ(mode_of(dir + "/old.pdf"), 0640u);
    // A symbolic link: its target is replaced, the link stays.
    ASSERT_EQ(symlink("old.pdf", (dir + "/link.pdf").c_str()), 0);
    ASSERT_EQ(write(dir + "/link.pdf", "through the link"), 1);
    EXPECT_TRUE(is_link(dir + "/link.pdf"));
    EXPECT_EQ(qft::read_file(dir + "/old.pdf"), "through the link");
    // A relative path.
    const std::string here = qft::temp_dir();
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(here.c_str()), 0);
    EXPECT_EQ(write("plain.pdf", "relative"), 1);
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(qft::read_file(here + "/plain.pdf"), "relative");
    // Nothing else is left in the folders.
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"link.pdf", "new.pdf", "old.pdf"}));
    EXPECT_EQ(names_in(here), (std::vector<std::string>{"plain.pdf"}));
    // Devices are written in place.
    EXPECT_EQ(write("/dev/null", "gone"), 1);
}

TEST(OutFile, FailuresLeaveNoTemporaryFile) {
    const std::string dir = qft::temp_dir();
    const std::string missing = dir + "/no/such/folder/x.pdf";
    EXPECT_EQ(write(missing, "x"), 0);
    EXPECT_EQ(std::string(qf::last_error()), "cannot write " + missing);
    EXPECT_EQ(write(missing, "x", true), 0);
    EXPECT_EQ(std::string(qf::last_error()),
              "cannot write " + missing + ": No such file or directory");
    EXPECT_EQ(write(dir, "x", true), 0);
    EXPECT_EQ(std::string(qf::last_error()), "cannot write " + dir + ": Is a directory");
    if (access("/dev/full", W_OK) == 0) {
        EXPECT_EQ(write("/dev/full", "x"), 0);
        EXPECT_STREQ(qf::last_error(), "short write to /dev/full");
    }
    EXPECT_TRUE(names_in(dir).empty());
}

// On a full disk the document written over stays whole: the classic call writing a booklet
// over its own input, and a booklet over an existing output.
TEST(OutFile, FullDiskKeepsTheInputAndTheOldOutput) {
    const std::string dir = qft::temp_dir() + "/small";
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    if (qft::run("mount -t tmpfs -o size=40k tmpfs " + dir + " 2>/dev/null") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and mount rights)";
    struct unmount_at_end {
        std::string dir;
        ~unmount_at_end() { qft::run("umount " + dir); }
    } unmount{dir};
    const std::string doc = dir + "/doc.pdf", old_output = dir + "/booklet.pdf";
    // A document of 26 KB whose booklet (40 KB) does not fit in what is left.
    std::string pdf = qft::simple_pdf(120);
    qft::write_file(doc, pdf);
    qft::write_file(old_output, "an older booklet");

    EXPECT_EQ(quirefold_create(doc.c_str(), doc.c_str()), 0);
    EXPECT_EQ(std::string(quirefold_last_error()), "short write to " + doc);
    EXPECT_EQ(qft::read_file(doc), pdf);
    EXPECT_EQ(quirefold_create(doc.c_str(), old_output.c_str()), 0);
    EXPECT_EQ(qft::read_file(old_output), "an older booklet");
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"booklet.pdf", "doc.pdf"}));

    // With room again, the same call succeeds.
    ASSERT_EQ(unlink(old_output.c_str()), 0);
    const std::string small = qft::simple_pdf(2);
    qft::write_file(doc, small);
    EXPECT_EQ(quirefold_create(doc.c_str(), doc.c_str()), 1) << quirefold_last_error();
    EXPECT_EQ(quirefold_page_count(doc.c_str()), 2);
}

} // namespace
