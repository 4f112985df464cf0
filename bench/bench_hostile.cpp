// Time and peak memory of hostile inputs, each run in a child process of its own so that its
// peak resident size is its own: unclosed object headers at two sizes (the times should differ
// by the size ratio), a long unknown filter name behind run-length stages, object streams that
// inflate to 1 GiB, object streams of garbage, one content stream decoding to 1.1 GB shared by
// 50 pages (classic and compact booklets). Not part of the test suite.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "doc.h"
#include "error.h"
#include "load.h"
#include "quirefold_impose.h"
#include "writer.h"

namespace {

using byte_vec = std::vector<std::uint8_t>;

std::string zlib_of(const std::string& plain, int level) {
    uLongf n = compressBound(plain.size());
    std::string out(n, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &n,
              reinterpret_cast<const Bytef*>(plain.data()), plain.size(), level);
    out.resize(n);
    return out;
}

// A classic file of the given object bodies (object i + 1), with a cross-reference table.
std::string pdf_of(const std::vector<std::string>& bodies) {
    std::string out = "%PDF-1.5\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        offsets.push_back(out.size());
        out += std::to_string(i + 1) + " 0 obj\n" + bodies[i] + "\nendobj\n";
    }
    const std::size_t xref = out.size();
    out += "xref\n0 " + std::to_string(bodies.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t off : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
        out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(bodies.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return out;
}

std::string stream_obj(const std::string& data, const std::string& extra) {
    return "<< /Length " + std::to_string(data.size()) + " " + extra + " >>\nstream\n" + data +
           "\nendstream";
}

std::string unclosed_headers(int n) {
    std::string s = "%PDF-1.4\n";
    for (int i = 1; i <= n; ++i) s += std::to_string(i) + " 0 obj <<\n";
    return s;
}

// Every header opens a dictionary and then a string that never closes, so that each later
// header stands inside the strings of the ones before it.
std::string headers_in_strings(int n) {
    std::string s = "%PDF-1.4\n";
    for (int i = 1; i <= n; ++i) s += std::to_string(i) + " 0 obj <<(\n";
    return s;
}

std::string long_filter_name() {
    // Three run-length stages, each 128-fold, then a name longer than any filter's.
    std::string data;
    for (int i = 0; i < 2600 / 2; ++i) data += "\x81\x81";
    const std::string name = "/" + std::string(40, 'Q');
    return pdf_of({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                   "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>",
                   stream_obj(data, "/Filter [/RL /RL /RL " + name + "]")});
}

std::string objstm_bombs(bool garbage) {
    std::vector<std::string> bodies = {"<< /Type /Catalog /Pages 2 0 R >>",
                                       "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                       "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>"};
    const int count = garbage ? 20 : 3;
    for (int k = 0; k < count; ++k) {
        std::string packed;
        if (garbage) {
            packed = "\x78\x9c";
            for (int i = 0; i < 200000; ++i) packed += static_cast<char>((i * 7919 + k) % 251);
        } else {
            const std::string header = std::to_string(100 + k) + " 0 ";
            std::string plain = header + "<< /Filler (x) >>";
            plain.resize(std::size_t{1} << 30, ' ');
            packed = zlib_of(plain, 1);
        }
        bodies.push_back(stream_obj(packed, "/Type /ObjStm /N 1 /First " +
                                                std::to_string(std::to_string(100 + k).size() + 3) +
                                                " /Filter /FlateDecode"));
    }
    return pdf_of(bodies);
}

std::string shared_content_bomb() {
    const std::string plain(1100u << 20, ' ');
    std::vector<std::string> bodies = {"<< /Type /Catalog /Pages 2 0 R >>"};
    std::string kids;
    for (int i = 0; i < 50; ++i) kids += std::to_string(4 + i) + " 0 R ";
    bodies.push_back("<< /Type /Pages /Kids [" + kids + "] /Count 50 >>");
    bodies.push_back(stream_obj(zlib_of(plain, 9), "/Filter /FlateDecode"));
    for (int i = 0; i < 50; ++i)
        bodies.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 3 0 R >>");
    return pdf_of(bodies);
}

// Runs `work` in a child; prints wall time, the child's peak resident size and what it said.
void measure(const char* name, const std::function<std::string()>& work) {
    const auto start = std::chrono::steady_clock::now();
    int fds[2];
    if (pipe(fds) != 0) return;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        const std::string said = work();
        if (write(fds[1], said.data(), said.size()) < 0) _exit(2);
        _exit(0);
    }
    close(fds[1]);
    char said[512] = {};
    const ssize_t got = read(fds[0], said, sizeof said - 1);
    close(fds[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-40s %8.2f s %10ld KB peak  %s\n", name, seconds, usage.ru_maxrss,
                got > 0 ? said : "(no answer)");
}

std::string classic_booklet(const std::string& pdf) {
    qf::doc d;
    if (qf::doc_load_bytes(byte_vec(pdf.begin(), pdf.end()), "hostile.pdf", d) != 0)
        return std::string("load: ") + qf::last_error();
    if (!qf::booklet_doc(d, "/dev/null", 0)) return std::string("booklet: ") + qf::last_error();
    return "booklet written";
}

std::string compact_booklet(const std::string& pdf) {
    quirefold_impose_input input{nullptr, pdf.data(), pdf.size(), nullptr};
    quirefold_impose_result r;
    quirefold_impose_result_init(&r);
    quirefold_impose(&input, nullptr, nullptr, &r);
    std::string said = r.status == QUIREFOLD_IMPOSE_OK
                           ? "booklet of " + std::to_string(r.output_size) + " bytes"
                           : std::string(r.message);
    quirefold_impose_result_free(&r);
    return said;
}

} // namespace

int main() {
    std::printf("%-40s %10s %15s  %s\n", "case", "time", "memory", "result");
    for (int n : {20000, 80000}) {
        const std::string pdf = unclosed_headers(n);
        measure(("unclosed headers x " + std::to_string(n)).c_str(),
                [&pdf] { return classic_booklet(pdf); });
    }
    for (int n : {20000, 80000}) {
        const std::string pdf = headers_in_strings(n);
        measure(("headers in unclosed strings x " + std::to_string(n)).c_str(),
                [&pdf] { return classic_booklet(pdf); });
    }
    {
        const std::string pdf = long_filter_name();
        measure("long filter name after 3 run-length", [&pdf] { return classic_booklet(pdf); });
    }
    // Inputs are made before the child starts, so that their making is not measured.
    const std::string bombs = objstm_bombs(false);
    measure("3 object streams of 1 GiB", [&bombs] { return classic_booklet(bombs); });
    const std::string garbage = objstm_bombs(true);
    measure("20 object streams of garbage", [&garbage] { return classic_booklet(garbage); });
    const std::string shared = shared_content_bomb();
    measure("1.1 GB content shared by 50 pages", [&shared] { return classic_booklet(shared); });
    measure("  the same, compact booklet", [&shared] { return compact_booklet(shared); });
    return 0;
}
