// quirefold: command-line front end of the imposition library.
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "preview.h"
#include "quirefold_impose.h"

namespace {

const char* const usage_lines = "usage: quirefold [OPTIONS] INPUT OUTPUT\n"
                                "       quirefold [OPTIONS] --replace-input FILE\n"
                                "       quirefold [OPTIONS] --plan INPUT\n"
                                "       quirefold --count INPUT\n";

void print_help() {
    std::printf("%s", usage_lines);
    std::printf(
        "\nTurns a PDF into a print-ready saddle-stitch booklet: each side of a landscape sheet\n"
        "carries two pages, in the order that makes a booklet when the printed sheets are\n"
        "nested and folded. Print it double-sided, flipping on the short edge (or see --flip).\n\n"
        "Layout:\n"
        "  -s, --sheet SIZE     auto (default: the standard size nearest to the first page),\n"
        "                       a3, a4, a5, b4, b5, letter, legal, tabloid, or WxH[UNIT]\n"
        "                       such as 300x200mm; always landscape\n"
        "      --signature N    sheets per signature (0, the default: one signature)\n"
        "      --binding SIDE   left (default) or right (right-to-left reading)\n"
        "      --flip EDGE      short (default) or long: the duplex printer's flip edge\n"
        "      --cover          keep the last page as the back cover\n"
        "      --pages RANGES   pages in the order given: 1-5,8,11-z  z-1  r3-r1\n"
        "      --margin LEN     blank space at the sheet's outer edges\n"
        "      --gutter LEN     blank space between the two pages at the fold\n"
        "      --creep LEN      move the innermost sheet's pages toward the fold by LEN\n"
        "      --scale MODE     fit (default), shrink (never enlarge) or none (100 %%)\n"
        "      --fold-marks     short marks at the ends of the fold line\n"
        "      --no-compress    write page content decoded and uncompressed\n"
        "      --annotations WHAT  print (default): draw what a printer prints of the pages'\n"
        "                       annotations (filled form fields, stamps, comments); none\n"
        "  LEN is a number with an optional unit: pt (default), mm, cm or in.\n\n"
        "Input and output:\n"
        "  INPUT or OUTPUT - reads standard input or writes standard output (the summary\n"
        "  line then goes to standard error).\n"
        "      --replace-input FILE  write the booklet over FILE (safely: the old file stays\n"
        "                       until the booklet is complete)\n"
        "      --plan           print the plan as JSON and write no booklet\n"
        "      --preview FILE   also draw the plan as an SVG picture\n"
        "      --count          print the page count of INPUT\n"
        "  -h, --help           show this help\n"
        "  -V, --version        show the version\n");
}

int usage_error(const std::string& what, const char* arg = nullptr) {
    if (arg)
        std::fprintf(stderr, "quirefold: %s: %s\n", what.c_str(), arg);
    else
        std::fprintf(stderr, "quirefold: %s\n", what.c_str());
    std::fprintf(stderr, "%s", usage_lines);
    return 2;
}

// A word from a fixed list, by index; -1 when it is none of them.
int choice(const std::string& value, std::initializer_list<const char*> words) {
    int i = 0;
    for (const char* w : words) {
        if (value == w) return i;
        ++i;
    }
    return -1;
}

bool write_text_file(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
    f.close();
    return static_cast<bool>(f);
}

// All of standard input; false when reading fails.
bool read_stdin(std::vector<char>& data) {
    char chunk[65536];
    for (;;) {
        const std::size_t n = std::fread(chunk, 1, sizeof chunk, stdin);
        data.insert(data.end(), chunk, chunk + n);
        if (n < sizeof chunk) return !std::ferror(stdin);
    }
}

bool write_stdout(const void* data, std::size_t size) {
    return std::fwrite(data, 1, size, stdout) == size && std::fflush(stdout) == 0;
}

// Whether two paths name the same existing file (hard links, symbolic links, "./" and the like).
bool same_file(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

struct cli_args {
    quirefold_impose_options options{};
    std::string sheet, pages, preview, replace;
    bool plan = false, count = false;
    std::vector<std::string> positional;
};

// Parses the command line into `args`; returns -1 to go on, or an exit status.
int parse_args(int argc, char** argv, cli_args& args) {
    quirefold_impose_options_init(&args.options);
    static const char* const valued[] = {
        "--sheet",      "-s",       "--signature", "--binding", "--flip",    "--pages",
        "--margin",     "--gutter", "--creep",     "--scale",   "--preview", "--replace-input",
        "--annotations"};
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") {
            for (++i; i < argc; ++i) args.positional.push_back(argv[i]);
            break;
        }
        if (a == "-h" || a == "--help") {
            print_help();
            return 0;
        }
        if (a == "-V" || a == "--version") {
            std::printf("quirefold %s\n", quirefold_impose_version());
            return 0;
        }
        if (a == "--cover" || a == "--fold-marks" || a == "--plan" || a == "--count" ||
            a == "--no-compress") {
            if (a == "--cover") args.options.cover = 1;
            if (a == "--no-compress") args.options.compress = 0;
            if (a == "--fold-marks") args.options.fold_marks = 1;
            if (a == "--plan") args.plan = true;
            if (a == "--count") args.count = true;
            continue;
        }
        if (a.size() < 2 || a[0] != '-') {
            args.positional.push_back(a);
            continue;
        }
        // "--name VALUE" or "--name=VALUE"
        std::string name = a, value;
        bool has_value = false;
        if (const auto eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
            has_value = true;
        }
        bool known = false;
        for (const char* v : valued) known = known || name == v;
        if (!known) return usage_error("unknown option", a.c_str());
        if (!has_value) {
            if (i + 1 >= argc) return usage_error("option needs a value", name.c_str());
            value = argv[++i];
        }

        if (name == "--sheet" || name == "-s") {
            args.sheet = value;
        } else if (name == "--signature") {
            char* end = nullptr;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || n < 0 || n > 1000000)
                return usage_error("--signature takes a number of sheets", value.c_str());
            args.options.signature = static_cast<int>(n);
        } else if (name == "--binding") {
            const int c = choice(value, {"left", "right"});
            if (c < 0) return usage_error("--binding takes left or right", value.c_str());
            args.options.binding = c == 0 ? QUIREFOLD_BINDING_LEFT : QUIREFOLD_BINDING_RIGHT;
        } else if (name == "--flip") {
            const int c = choice(value, {"short", "long"});
            if (c < 0) return usage_error("--flip takes short or long", value.c_str());
            args.options.flip = c == 0 ? QUIREFOLD_FLIP_SHORT : QUIREFOLD_FLIP_LONG;
        } else if (name == "--scale") {
            const int c = choice(value, {"fit", "shrink", "none"});
            if (c < 0) return usage_error("--scale takes fit, shrink or none", value.c_str());
            args.options.scale = c == 0   ? QUIREFOLD_SCALE_FIT
                                 : c == 1 ? QUIREFOLD_SCALE_SHRINK
                                          : QUIREFOLD_SCALE_NONE;
        } else if (name == "--annotations") {
            const int c = choice(value, {"print", "none"});
            if (c < 0) return usage_error("--annotations takes print or none", value.c_str());
            args.options.annotations =
                c == 0 ? QUIREFOLD_ANNOTATIONS_PRINT : QUIREFOLD_ANNOTATIONS_NONE;
        } else if (name == "--pages") {
            args.pages = value;
        } else if (name == "--preview") {
            args.preview = value;
        } else if (name == "--replace-input") {
            args.replace = value;
        } else {
            double points = 0;
            if (!quirefold_impose_parse_length(value.c_str(), &points))
                return usage_error(name + " takes a length such as 12, 12pt, 5mm or 0.5in",
                                   value.c_str());
            (name == "--margin"   ? args.options.margin
             : name == "--gutter" ? args.options.gutter
                                  : args.options.creep) = points;
        }
    }
    if (!args.sheet.empty()) args.options.sheet = args.sheet.c_str();
    if (!args.pages.empty()) args.options.pages = args.pages.c_str();
    return -1;
}

// Reports a failed call: a bad option is a usage error (2), anything else a failed job (1).
int report_failure(const quirefold_impose_result& r) {
    if (r.status == QUIREFOLD_IMPOSE_BAD_OPTION) return usage_error(r.message);
    std::fprintf(stderr, "quirefold: %s\n", r.message);
    return 1;
}

std::string sheet_label(const quirefold_impose_result& r) {
    if (std::strcmp(r.sheet_name, "custom") != 0) return r.sheet_name;
    char t[96];
    std::snprintf(t, sizeof t, "custom %.2f x %.2f pt", r.sheet_width, r.sheet_height);
    return t;
}

} // namespace

int main(int argc, char** argv) {
    // A reader that goes away early shows as a failed write, not as a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    cli_args args;
    if (int status = parse_args(argc, argv, args); status >= 0) return status;

    const bool one_input = args.count || args.plan;
    if (args.count && args.plan) return usage_error("--count and --plan do not go together");
    if (!args.replace.empty()) {
        if (one_input || !args.positional.empty())
            return usage_error("--replace-input takes no INPUT or OUTPUT of its own");
        args.positional = {args.replace, args.replace};
    } else if (one_input && args.positional.size() != 1) {
        return usage_error(args.count ? "--count takes one INPUT" : "--plan takes one INPUT");
    } else if (!one_input && args.positional.size() != 2) {
        return usage_error("expected INPUT and OUTPUT");
    }
    const std::string& in_name = args.positional[0];
    const bool make = !one_input;
    const bool to_stdout = make && args.positional[1] == "-";
    if (make && args.replace.empty() && in_name != "-" && !to_stdout &&
        same_file(in_name, args.positional[1]))
        return usage_error("OUTPUT is the same file as INPUT; to write the booklet over it, use "
                           "--replace-input " +
                           in_name);

    quirefold_impose_input input{};
    std::vector<char> piped;
    if (in_name == "-") {
        if (!read_stdin(piped)) {
            std::fprintf(stderr, "quirefold: read error on standard input: %s\n",
                         std::strerror(errno));
            return 1;
        }
        input.data = piped.data();
        input.size = piped.size();
        input.name = "standard input";
    } else {
        input.path = in_name.c_str();
    }
    quirefold_impose_result result;
    quirefold_impose_result_init(&result);
    const char* out = make && !to_stdout ? args.positional[1].c_str() : nullptr;
    const int status = make ? quirefold_impose(&input, out, &args.options, &result)
                            : quirefold_impose_plan(&input, &args.options, &result);
    int exit_status = 0;
    if (status != QUIREFOLD_IMPOSE_OK) {
        exit_status = report_failure(result);
    } else {
        for (int i = 0; i < result.warning_count; ++i)
            std::fprintf(stderr, "quirefold: warning: %s\n", result.warnings[i]);
        if (to_stdout && !write_stdout(result.output, result.output_size)) {
            std::fprintf(stderr, "quirefold: cannot write standard output: %s\n",
                         std::strerror(errno));
            exit_status = 1;
        }
        if (!args.preview.empty() && !args.count &&
            !write_text_file(args.preview, plan_svg(result))) {
            std::fprintf(stderr, "quirefold: cannot write %s: %s\n", args.preview.c_str(),
                         std::strerror(errno));
            exit_status = 1;
        }
        if (exit_status != 0) {
            // Nothing more to report.
        } else if (args.count) {
            std::printf("%d\n", result.input_pages);
        } else if (args.plan) {
            std::fputs(result.plan_json, stdout);
        } else {
            std::fprintf(to_stdout ? stderr : stdout,
                         "%s: %d page%s on %d sheet%s (%d sides), %s\n",
                         to_stdout ? "standard output" : out, result.pages,
                         result.pages == 1 ? "" : "s", result.sheets, result.sheets == 1 ? "" : "s",
                         result.sides, sheet_label(result).c_str());
        }
    }
    quirefold_impose_result_free(&result);
    return exit_status;
}
