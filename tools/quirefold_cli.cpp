// quirefold: command-line front end of the library.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "quirefold.h"

namespace {

const char* const usage_line = "usage: quirefold [--sheet auto|a4|letter|a3] INPUT OUTPUT\n"
                               "       quirefold --pages INPUT\n";

void print_help() {
    std::printf("%s", usage_line);
    std::printf("\nTurns a PDF into a print-ready saddle-stitch booklet: each side of a landscape\n"
                "sheet carries two pages, in the order that makes a booklet when the printed\n"
                "sheets are nested and folded.\n\n"
                "  -s, --sheet SIZE   sheet size: auto (default), a4, letter or a3\n"
                "  -p, --pages        print the page count of INPUT\n"
                "  -h, --help         show this help\n"
                "  -V, --version      show the version\n");
}

int usage_error(const char* what, const char* arg) {
    if (arg)
        std::fprintf(stderr, "quirefold: %s: %s\n", what, arg);
    else
        std::fprintf(stderr, "quirefold: %s\n", what);
    std::fprintf(stderr, "%s", usage_line);
    return 2;
}

int sheet_code(const std::string& name) {
    if (name == "auto") return QUIREFOLD_SHEET_AUTO;
    if (name == "a4" || name == "A4") return QUIREFOLD_SHEET_A4;
    if (name == "letter" || name == "Letter") return QUIREFOLD_SHEET_LETTER;
    if (name == "a3" || name == "A3") return QUIREFOLD_SHEET_A3;
    return -100;
}

// The sheet size a booklet was written on, read back from its first side's /MediaBox, which
// follows the catalog and the page tree near the start of the file.
const char* sheet_name_of(const char* path) {
    std::ifstream f(path, std::ios::binary);
    std::string text(std::size_t{4} << 20, '\0');
    f.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(f.gcount()));
    auto at = text.find("/MediaBox [0 0 ");
    if (at == std::string::npos) return "unknown size";
    std::string w = text.substr(at + 15, text.find(' ', at + 15) - (at + 15));
    if (w == "841.8900") return "A4";
    if (w == "792") return "Letter";
    if (w == "1190.5500") return "A3";
    return "unknown size";
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> positional;
    int sheet = QUIREFOLD_SHEET_AUTO;
    bool pages_mode = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") {
            for (++i; i < argc; ++i) positional.push_back(argv[i]);
            break;
        }
        if (a == "-h" || a == "--help") {
            print_help();
            return 0;
        }
        if (a == "-V" || a == "--version") {
            std::printf("quirefold %s\n", QUIREFOLD_VERSION);
            return 0;
        }
        if (a == "-p" || a == "--pages") {
            pages_mode = true;
            continue;
        }
        std::string value;
        bool is_sheet = false;
        if (a == "-s" || a == "--sheet") {
            if (i + 1 >= argc) return usage_error("option needs a value", a.c_str());
            value = argv[++i];
            is_sheet = true;
        } else if (a.rfind("--sheet=", 0) == 0) {
            value = a.substr(8);
            is_sheet = true;
        }
        if (is_sheet) {
            sheet = sheet_code(value);
            if (sheet == -100) return usage_error("unknown sheet size", value.c_str());
            continue;
        }
        if (a.size() > 1 && a[0] == '-') return usage_error("unknown option", a.c_str());
        positional.push_back(a);
    }

    if (pages_mode) {
        if (positional.size() != 1) return usage_error("--pages takes one INPUT", nullptr);
        int n = quirefold_page_count(positional[0].c_str());
        if (n < 0) {
            std::fprintf(stderr, "quirefold: %s\n", quirefold_last_error());
            return 1;
        }
        std::printf("%d\n", n);
        return 0;
    }
    if (positional.size() != 2) return usage_error("expected INPUT and OUTPUT", nullptr);
    const char* in = positional[0].c_str();
    const char* out = positional[1].c_str();
    int pages = quirefold_page_count(in);
    if (pages < 0) {
        std::fprintf(stderr, "quirefold: %s\n", quirefold_last_error());
        return 1;
    }
    if (!quirefold_create_sized(in, out, sheet)) {
        std::fprintf(stderr, "quirefold: %s\n", quirefold_last_error());
        return 1;
    }
    int sheets = (pages + 3) / 4;
    std::printf("%s: %d page%s on %d sheet%s (%d sides), %s\n", out, pages, pages == 1 ? "" : "s",
                sheets, sheets == 1 ? "" : "s", 2 * sheets, sheet_name_of(out));
    return 0;
}
