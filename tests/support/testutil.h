// Helpers shared by the tests: byte strings, temporary files, hand-made PDFs, commands.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "doc.h"
#include "quirefold_impose.h"

namespace qft {

inline qf::bytes bv(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}
inline std::vector<std::uint8_t> to_vec(std::string_view s) {
    return {s.begin(), s.end()};
}

std::string fixture(const std::string& name); // path under tests/fixtures
std::string read_file(const std::string& path);
void write_file(const std::string& path, std::string_view content);
bool file_exists(const std::string& path);
// A fresh, empty directory under /tmp, removed when the test program ends.
std::string temp_dir();

// Runs a shell command; returns the exit status and fills `output` with stdout (and stderr
// when merge_stderr).
int run(const std::string& cmd, std::string* output = nullptr, bool merge_stderr = false);
bool have_tool(const std::string& name);

// A classic PDF built from object bodies: bodies[i] becomes object i + 1 ("N 0 obj\n" body
// "\nendobj\n"), followed by a correct xref table and a trailer with /Root root_num.
// An empty body skips that number (free entry).
std::string make_pdf(const std::vector<std::string>& bodies, int root_num = 1,
                     const std::string& trailer_extra = "");

// A stream object body: "<< /Length n extra >>\nstream\n" data "\nendstream".
std::string stream_body(std::string_view data, const std::string& extra = "");

// A minimal document with n pages of the given MediaBox, each with a one-line content stream.
std::string simple_pdf(int pages, const std::string& mediabox = "0 0 612 792");

// Loads bytes through the whole loader; returns doc_load's result.
int load(std::string_view pdf, qf::doc& d);

// One object of a hand-made document; `packed` puts it in an object stream's text instead of
// the file.
struct body {
    std::string text;
    bool packed = false;
    body(const char* t, bool p = false) : text(t), packed(p) {}
    body(std::string t, bool p = false) : text(std::move(t)), packed(p) {}
};

// A doc whose object table is set up the way the loader records it, so that later stages are
// tested on their own. bodies[i] is object i + 1; an empty text leaves that number out.
qf::doc make_doc(const std::vector<body>& bodies);

// What a call of the imposition interface from a file to a file gave.
struct imposed {
    int status = -1;
    std::string message;
    std::vector<std::string> warnings;
    std::vector<quirefold_impose_sheet> plan;
};
imposed impose_file(const std::string& in, const std::string& out,
                    const quirefold_impose_options& options);

// zlib-wrapped DEFLATE data of `plain` (zlib serves the tests as an oracle only).
std::string zlib_compress(const std::string& plain);

} // namespace qft
