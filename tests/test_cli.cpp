// The command-line tool: exit status, standard output and standard error of each invocation.
#include <gtest/gtest.h>

#include <string>

#include "testutil.h"

namespace {

struct outcome {
    int status;
    std::string out, err;
};

outcome cli(const std::string& args, const std::string& dir) {
    std::string err_file = dir + "/stderr.txt";
    outcome o;
    o.status = qft::run(std::string(QF_CLI_PATH) + " " + args + " 2>" + err_file, &o.out);
    o.err = qft::read_file(err_file);
    return o;
}

const std::string usage = "usage: quirefold [--sheet auto|a4|letter|a3] INPUT OUTPUT\n"
                          "       quirefold --pages INPUT\n";
const std::string sample = std::string(QF_FIXTURE_DIR) + "/../../samples/sample.pdf";

struct cli_case {
    const char* name;
    std::string args;
    int status;
    std::string out; // exact, or a prefix when it ends in "*"
    std::string err;
};

bool matches(const std::string& want, const std::string& got) {
    if (!want.empty() && want.back() == '*')
        return got.rfind(want.substr(0, want.size() - 1), 0) == 0;
    return want == got;
}

} // namespace

TEST(Cli, Invocations) {
    std::string dir = qft::temp_dir();
    std::string junk = dir + "/junk.txt";
    qft::write_file(junk, "not a pdf at all\n");
    const cli_case cases[] = {
        {"pages", "--pages " + sample, 0, "6\n", ""},
        {"pages short", "-p " + sample, 0, "6\n", ""},
        {"booklet auto", sample + " " + dir + "/b1.pdf", 0,
         dir + "/b1.pdf: 6 pages on 2 sheets (4 sides), A4\n", ""},
        {"booklet a4", "--sheet a4 " + sample + " " + dir + "/b2.pdf", 0,
         dir + "/b2.pdf: 6 pages on 2 sheets (4 sides), A4\n", ""},
        {"booklet a3 short", "-s a3 " + sample + " " + dir + "/b3.pdf", 0,
         dir + "/b3.pdf: 6 pages on 2 sheets (4 sides), A3\n", ""},
        {"booklet letter =", "--sheet=letter " + sample + " " + dir + "/b4.pdf", 0,
         dir + "/b4.pdf: 6 pages on 2 sheets (4 sides), Letter\n", ""},
        {"help", "--help", 0, usage + "*", ""},
        {"version", "--version", 0, "quirefold 0.1.0\n", ""},
        {"no arguments", "", 2, "", "quirefold: expected INPUT and OUTPUT\n" + usage},
        {"one argument", sample, 2, "", "quirefold: expected INPUT and OUTPUT\n" + usage},
        {"three arguments", "a b c", 2, "", "quirefold: expected INPUT and OUTPUT\n" + usage},
        {"unknown option", "--frobnicate a b", 2, "",
         "quirefold: unknown option: --frobnicate\n" + usage},
        {"unknown sheet", "--sheet tabloid a b", 2, "",
         "quirefold: unknown sheet size: tabloid\n" + usage},
        {"sheet without value", "--sheet", 2, "",
         "quirefold: option needs a value: --sheet\n" + usage},
        {"pages without input", "--pages", 2, "", "quirefold: --pages takes one INPUT\n" + usage},
        {"missing input", dir + "/none.pdf " + dir + "/o.pdf", 1, "",
         "quirefold: cannot open " + dir + "/none.pdf\n"},
        {"not a pdf", "--pages " + junk, 1, "",
         "quirefold: no PDF objects found \xE2\x80\x94 not a PDF: " + junk + "\n"},
        {"unwritable output", sample + " " + dir + "/no/such/dir/o.pdf", 1, "",
         "quirefold: cannot write " + dir + "/no/such/dir/o.pdf\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        outcome o = cli(c.args, dir);
        EXPECT_EQ(o.status, c.status);
        EXPECT_TRUE(matches(c.out, o.out)) << "stdout: " << o.out;
        EXPECT_EQ(o.err, c.err);
    }
    EXPECT_FALSE(qft::file_exists(dir + "/o.pdf"));
}
