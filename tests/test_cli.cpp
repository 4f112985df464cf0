// The command-line tool: exit status, standard output and standard error of each invocation.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "quirefold.h"
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

const std::string usage = "usage: quirefold [OPTIONS] INPUT OUTPUT\n"
                          "       quirefold [OPTIONS] --replace-input FILE\n"
                          "       quirefold [OPTIONS] --plan INPUT\n"
                          "       quirefold --count INPUT\n";
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
    const std::string o = dir + "/o.pdf";
    const cli_case cases[] = {
        {"count", "--count " + sample, 0, "6\n", ""},
        {"booklet auto", sample + " " + dir + "/b1.pdf", 0,
         dir + "/b1.pdf: 6 pages on 2 sheets (4 sides), A4\n", ""},
        {"booklet a4", "--sheet a4 " + sample + " " + dir + "/b2.pdf", 0,
         dir + "/b2.pdf: 6 pages on 2 sheets (4 sides), A4\n", ""},
        {"booklet a3 short", "-s a3 " + sample + " " + dir + "/b3.pdf", 0,
         dir + "/b3.pdf: 6 pages on 2 sheets (4 sides), A3\n", ""},
        {"booklet letter =", "--sheet=letter " + sample + " " + dir + "/b4.pdf", 0,
         dir + "/b4.pdf: 6 pages on 2 sheets (4 sides), Letter\n", ""},
        {"custom sheet", "--sheet 11x17in " + sample + " " + dir + "/b5.pdf", 0,
         dir + "/b5.pdf: 6 pages on 2 sheets (4 sides), custom 1224.00 x 792.00 pt\n", ""},
        {"selection and signatures",
         "--pages 1-3 --signature 1 --cover " + sample + " " + dir + "/b6.pdf", 0,
         dir + "/b6.pdf: 3 pages on 1 sheet (2 sides), A4\n", ""},
        {"every layout option",
         "--binding right --flip long --margin 5mm --gutter=0.5cm "
         "--creep 1pt --scale shrink --fold-marks --annotations none " +
             sample + " " + dir + "/b7.pdf",
         0, dir + "/b7.pdf: 6 pages on 2 sheets (4 sides), A4\n", ""},
        {"scale none warns of cut pages",
         "--scale none --sheet a5 " + sample + " " + dir + "/b8.pdf", 0,
         dir + "/b8.pdf: 6 pages on 2 sheets (4 sides), A5\n",
         "quirefold: warning: 6 pages are larger than their slot and cut at its edges (first: "
         "page 1)\n"},
        {"plan", "--plan --pages 1 " + sample, 0, "{\"sheet\": {\"name\": \"A4\"*", ""},
        {"help", "--help", 0, usage + "*", ""},
        {"version", "--version", 0, "quirefold 0.2.0\n", ""},
        {"no arguments", "", 2, "", "quirefold: expected INPUT and OUTPUT\n" + usage},
        {"one argument", sample, 2, "", "quirefold: expected INPUT and OUTPUT\n" + usage},
        {"three arguments", "a b c", 2, "", "quirefold: expected INPUT and OUTPUT\n" + usage},
        {"unknown option", "--frobnicate a b", 2, "",
         "quirefold: unknown option: --frobnicate\n" + usage},
        {"old page count option", "-p " + sample, 2, "", "quirefold: unknown option: -p\n" + usage},
        {"unknown sheet", "--sheet folio " + sample + " " + o, 2, "",
         "quirefold: sheet: unknown sheet size \"folio\" (a3, a4, a5, b4, b5, letter, legal, "
         "tabloid, or WxH with pt, mm, cm or in)\n" +
             usage},
        {"sheet without value", "--sheet", 2, "",
         "quirefold: option needs a value: --sheet\n" + usage},
        {"count without input", "--count", 2, "", "quirefold: --count takes one INPUT\n" + usage},
        {"bad binding", "--binding up a b", 2, "",
         "quirefold: --binding takes left or right: up\n" + usage},
        {"bad flip", "--flip=wide a b", 2, "",
         "quirefold: --flip takes short or long: wide\n" + usage},
        {"bad scale", "--scale big a b", 2, "",
         "quirefold: --scale takes fit, shrink or none: big\n" + usage},
        {"bad annotations", "--annotations all a b", 2, "",
         "quirefold: --annotations takes print or none: all\n" + usage},
        {"bad length", "--margin 5furlongs a b", 2, "",
         "quirefold: --margin takes a length such as 12, 12pt, 5mm or 0.5in: 5furlongs\n" + usage},
        {"negative length", "--gutter -3 a b", 2, "",
         "quirefold: --gutter takes a length such as 12, 12pt, 5mm or 0.5in: -3\n" + usage},
        {"bad signature", "--signature two a b", 2, "",
         "quirefold: --signature takes a number of sheets: two\n" + usage},
        {"bad range", "--pages 1-x " + sample + " " + o, 2, "",
         "quirefold: pages: bad page range \"1-x\"\n" + usage},
        {"range past the end", "--pages 2-9 " + sample + " " + o, 2, "",
         "quirefold: pages: page 9 is outside the document (6 pages)\n" + usage},
        {"margins leave no room", "--margin 11in " + sample + " " + o, 2, "",
         "quirefold: margin: margin 792 pt and gutter 0 pt leave no room for pages on a 841.8900 "
         "x 595.2800 pt sheet\n" +
             usage},
        {"missing input", dir + "/none.pdf " + o, 1, "",
         "quirefold: cannot open " + dir + "/none.pdf: No such file or directory\n"},
        {"not a pdf", "--count " + junk, 1, "",
         "quirefold: no PDF objects found \xE2\x80\x94 not a PDF: " + junk + "\n"},
        {"unwritable output", sample + " " + dir + "/no/such/dir/o.pdf", 1, "",
         "quirefold: cannot write " + dir + "/no/such/dir/o.pdf: No such file or directory\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        outcome out = cli(c.args, dir);
        EXPECT_EQ(out.status, c.status);
        EXPECT_TRUE(matches(c.out, out.out)) << "stdout: " << out.out;
        EXPECT_EQ(out.err, c.err);
    }
    EXPECT_FALSE(qft::file_exists(o));
}

// The SVG preview: one rectangle per sheet side, signatures grouped, turned sides upside down.
TEST(Cli, PreviewDrawsThePlan) {
    const std::string dir = qft::temp_dir();
    const std::string svg = dir + "/plan.svg";
    outcome o = cli("--plan --signature 1 --flip long --preview " + svg + " " + sample, dir);
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string text = qft::read_file(svg);
    auto count = [&text](const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos;
             at = text.find(what, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(text.rfind("<?xml", 0), 0u);
    EXPECT_NE(text.find("</svg>"), std::string::npos);
    EXPECT_EQ(count("<g class=\"side\">"), 4u);      // 2 sheets, front and back
    EXPECT_EQ(count("<g class=\"signature\">"), 2u); // a sheet per signature
    EXPECT_NE(text.find(">Signature 2<"), std::string::npos);
    // Each turned back side draws its two labels upside down.
    EXPECT_EQ(count("transform=\"rotate(180 "), 4u);
    EXPECT_NE(text.find("6 pages on 2 sheets"), std::string::npos);

    outcome bad = cli("--preview " + dir + "/no/dir/p.svg " + sample + " " + dir + "/b.pdf", dir);
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err,
              "quirefold: cannot write " + dir + "/no/dir/p.svg: No such file or directory\n");
}

// Pipes both ways, the same file given twice under other names, and writing over the input.
// Every command runs under a time limit, so that a hang fails instead of stopping the tests.
TEST(Cli, PipesSameFileAndReplaceInput) {
    const std::string dir = qft::temp_dir();
    const std::string cli_path = QF_CLI_PATH;
    const std::string doc = dir + "/doc.pdf";
    qft::write_file(doc, qft::read_file(sample));
    const std::string original = qft::read_file(doc);
    ASSERT_EQ(symlink("doc.pdf", (dir + "/link.pdf").c_str()), 0);
    ASSERT_EQ(link(doc.c_str(), (dir + "/hard.pdf").c_str()), 0);
    ASSERT_EQ(qft::run(cli_path + " " + doc + " " + dir + "/reference.pdf"), 0);
    const std::string reference = qft::read_file(dir + "/reference.pdf");
    const std::string same_file_error =
        "quirefold: OUTPUT is the same file as INPUT; to write the booklet over it, use "
        "--replace-input " +
        doc + "\n" + usage;

    struct pipe_case {
        const char* name;
        std::string command; // run by the shell in `dir`, with a time limit
        int status;
        std::string err;
        std::string result_file; // compared with the reference booklet when set
    };
    const pipe_case cases[] = {
        {"stdin to stdout", "cat " + doc + " | " + cli_path + " - - | cat > piped.pdf", 0,
         "standard output: 6 pages on 2 sheets (4 sides), A4\n", "piped.pdf"},
        {"stdin to a file", cli_path + " - from-stdin.pdf < " + doc, 0, "", "from-stdin.pdf"},
        {"a file to stdout", cli_path + " " + doc + " - > to-stdout.pdf", 0,
         "standard output: 6 pages on 2 sheets (4 sides), A4\n", "to-stdout.pdf"},
        {"plan from stdin", cli_path + " --plan - < " + doc + " > plan.json", 0, "", ""},
        {"count from stdin", cli_path + " --count - < " + doc, 0, "", ""},
        {"empty stdin", cli_path + " - out.pdf < /dev/null", 1,
         "quirefold: empty input file: standard input\n", ""},
        {"not a pdf on stdin", "echo hello | " + cli_path + " - out.pdf", 1,
         "quirefold: no PDF objects found \xE2\x80\x94 not a PDF: standard input\n", ""},
        {"reader gone", cli_path + " " + doc + " - | head -c 10 > /dev/null", 0, "*", ""},
        {"same path", cli_path + " " + doc + " " + doc, 2, same_file_error, ""},
        {"./ prefix", cli_path + " " + doc + " " + dir + "/./doc.pdf", 2, same_file_error, ""},
        {"symbolic link", cli_path + " " + doc + " link.pdf", 2, same_file_error, ""},
        {"hard link", cli_path + " " + doc + " hard.pdf", 2, same_file_error, ""},
        {"replace with an output too", cli_path + " --replace-input " + doc + " x.pdf", 2,
         "quirefold: --replace-input takes no INPUT or OUTPUT of its own\n" + usage, ""},
        {"replace a missing file", cli_path + " --replace-input none.pdf", 1,
         "quirefold: cannot open none.pdf: No such file or directory\n", ""},
        {"output folder missing", cli_path + " " + doc + " no/dir/x.pdf", 1,
         "quirefold: cannot write no/dir/x.pdf: No such file or directory\n", ""},
        {"input is a folder", cli_path + " " + dir + " x.pdf", 1,
         "quirefold: cannot open " + dir + ": Is a directory\n", ""},
    };
    for (const pipe_case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string err_file = dir + "/err.txt";
        std::string out;
        const int status =
            qft::run("cd " + dir + " && timeout 60 sh -c '" + c.command + "' 2>" + err_file, &out);
        EXPECT_EQ(status, c.status) << "(124 is the time limit)";
        const std::string err = qft::read_file(err_file);
        if (c.err != "*") {
            EXPECT_EQ(err, c.err);
        }
        if (!c.result_file.empty()) {
            EXPECT_EQ(qft::read_file(dir + "/" + c.result_file), reference);
        }
        EXPECT_EQ(qft::read_file(doc), original) << "the input must not change";
    }
    EXPECT_FALSE(qft::file_exists(dir + "/out.pdf"));
    EXPECT_FALSE(qft::file_exists(dir + "/x.pdf"));

    // Written over: the booklet replaces the file, which keeps its mode; nothing else is left.
    ASSERT_EQ(chmod(doc.c_str(), 0604), 0);
    outcome replaced = cli("--replace-input " + doc, dir);
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(replaced.out, doc + ": 6 pages on 2 sheets (4 sides), A4\n");
    EXPECT_EQ(qft::read_file(doc), reference);
    struct stat st;
    ASSERT_EQ(stat(doc.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(qft::read_file(dir + "/hard.pdf"), original) << "another name keeps the old file";
    // A failed replacement (a bad option) leaves the file as it was.
    outcome bad = cli("--pages 40 --replace-input " + doc, dir);
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(qft::read_file(doc), reference);
    std::string listing;
    qft::run("ls -A " + dir, &listing);
    EXPECT_EQ(listing.find(".tmp"), std::string::npos) << listing;
}

// With --no-compress and the classic layout the tool writes exactly the classic booklet; by
// default it writes a compact one.
TEST(Cli, NoCompressWritesTheClassicBytes) {
    const std::string dir = qft::temp_dir();
    for (const auto& [sheet, code] :
         {std::pair{"a4", 0}, std::pair{"letter", 1}, std::pair{"a3", 2}}) {
        SCOPED_TRACE(sheet);
        const std::string classic = dir + "/classic.pdf", tool = dir + "/tool.pdf";
        ASSERT_EQ(quirefold_create_sized(sample.c_str(), classic.c_str(), code), 1);
        outcome o =
            cli(std::string("--no-compress --sheet ") + sheet + " " + sample + " " + tool, dir);
        ASSERT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(qft::read_file(tool), qft::read_file(classic));
        outcome compact = cli(std::string("--sheet ") + sheet + " " + sample + " " + tool, dir);
        ASSERT_EQ(compact.status, 0) << compact.err;
        EXPECT_LT(qft::read_file(tool).size(), qft::read_file(classic).size());
    }
}
