#include "testutil.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <sstream>
#include <unistd.h>

#include <cstring>
#include <zlib.h>

#include "load.h"

namespace qft {

std::string fixture(const std::string& name) {
    return std::string(QF_FIXTURE_DIR) + "/" + name;
}

std::string read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void write_file(const std::string& path, std::string_view content) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(content.data(), static_cast<std::streamsize>(content.size()));
}

bool file_exists(const std::string& path) {
    return std::filesystem::exists(path);
}

namespace {

// The folders the tests made, removed when the test program ends (unless QF_KEEP_TEMP is set,
// for looking at what a failing test wrote).
struct temp_folders {
    std::mutex lock;
    std::vector<std::filesystem::path> made;
    ~temp_folders() {
        if (std::getenv("QF_KEEP_TEMP")) return;
        std::error_code ignored;
        for (const auto& p : made) std::filesystem::remove_all(p, ignored);
    }
};
temp_folders& folders() {
    static temp_folders f;
    return f;
}

} // namespace

std::string temp_dir() {
    static std::atomic<int> counter{0};
    auto base = std::filesystem::temp_directory_path() /
                ("qftest-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(base);
    std::filesystem::create_directories(base);
    temp_folders& f = folders();
    std::lock_guard<std::mutex> guard(f.lock);
    f.made.push_back(base);
    return base.string();
}

int run(const std::string& cmd, std::string* output, bool merge_stderr) {
    std::string full = cmd + (merge_stderr ? " 2>&1" : "");
    FILE* p = popen(full.c_str(), "r");
    if (!p) return -1;
    std::string out;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, p)) > 0) out.append(chunk, n);
    int st = pclose(p);
    if (output) *output = out;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

bool have_tool(const std::string& name) {
    return run("command -v " + name + " >/dev/null 2>&1") == 0;
}

std::string make_pdf(const std::vector<std::string>& bodies, int root_num,
                     const std::string& trailer_extra) {
    std::string out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::vector<long> offs(bodies.size() + 1, -1);
    for (size_t i = 0; i < bodies.size(); ++i) {
        if (bodies[i].empty()) continue;
        offs[i + 1] = static_cast<long>(out.size());
        out += std::to_string(i + 1) + " 0 obj\n" + bodies[i] + "\nendobj\n";
    }
    long xref = static_cast<long>(out.size());
    out += "xref\n0 " + std::to_string(bodies.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t i = 1; i <= bodies.size(); ++i) {
        char line[32];
        if (offs[i] >= 0)
            std::snprintf(line, sizeof line, "%010ld 00000 n \n", offs[i]);
        else
            std::snprintf(line, sizeof line, "0000000000 65535 f \n");
        out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(bodies.size() + 1) + " /Root " +
           std::to_string(root_num) + " 0 R" + trailer_extra + " >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return out;
}

std::string stream_body(std::string_view data, const std::string& extra) {
    return "<< /Length " + std::to_string(data.size()) + (extra.empty() ? "" : " " + extra) +
           " >>\nstream\n" + std::string(data) + "\nendstream";
}

std::string simple_pdf(int pages, const std::string& mediabox) {
    // 1 catalog, 2 pages, then per page: page object, content stream.
    std::vector<std::string> bodies;
    bodies.push_back("<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int i = 0; i < pages; ++i) kids += std::to_string(3 + 2 * i) + " 0 R ";
    bodies.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) +
                     " >>");
    for (int i = 0; i < pages; ++i) {
        bodies.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [" + mediabox + "] /Contents " +
                         std::to_string(4 + 2 * i) + " 0 R >>");
        bodies.push_back(stream_body("0 0 m 10 10 l S % page " + std::to_string(i + 1)));
    }
    return make_pdf(bodies);
}

int load(std::string_view pdf, qf::doc& d) {
    return qf::doc_load_bytes(to_vec(pdf), "test.pdf", d);
}

qf::doc make_doc(const std::vector<body>& bodies) {
    qf::doc d;
    std::string file = "%PDF-1.4\n";
    std::vector<qf::obj> objs;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        const std::string& t = bodies[i].text;
        if (t.empty()) continue;
        qf::obj o;
        o.num = static_cast<std::int32_t>(i + 1);
        if (bodies[i].packed) {
            std::uint8_t* block = qf::arena_alloc(d, t.size());
            std::memcpy(block, t.data(), t.size());
            o.in_objstm = 1;
            o.text = block;
            o.text_len = static_cast<std::int32_t>(t.size());
        } else {
            o.hdr_pos = static_cast<std::int32_t>(file.size());
            file += std::to_string(o.num) + " 0 obj\n";
            if (t[0] == '<') o.dict_start = static_cast<std::int32_t>(file.size());
            file += t + "\n";
            o.endobj_pos = static_cast<std::int32_t>(file.size());
            o.obj_end = o.endobj_pos + 6;
            file += "endobj\n";
        }
        objs.push_back(o);
        d.highest = o.num;
    }
    d.data.assign(file.begin(), file.end());
    d.len = static_cast<std::int32_t>(file.size());
    d.objects = std::move(objs);
    qf::index_objects(d);
    return d;
}

std::string zlib_compress(const std::string& plain) {
    uLongf cap = compressBound(static_cast<uLong>(plain.size()));
    std::string out(cap, '\0');
    int r = compress2(reinterpret_cast<Bytef*>(out.data()), &cap,
                      reinterpret_cast<const Bytef*>(plain.data()),
                      static_cast<uLong>(plain.size()), 9);
    if (r != Z_OK) ADD_FAILURE() << "compress2 failed: " << r;
    out.resize(cap);
    return out;
}

imposed impose_file(const std::string& in, const std::string& out,
                    const quirefold_impose_options& options) {
    quirefold_impose_input input{in.c_str(), nullptr, 0, nullptr};
    quirefold_impose_result r;
    quirefold_impose_result_init(&r);
    imposed got;
    got.status = quirefold_impose(&input, out.c_str(), &options, &r);
    got.message = r.message ? r.message : "";
    for (int i = 0; i < r.warning_count; ++i) got.warnings.emplace_back(r.warnings[i]);
    if (r.plan) got.plan.assign(r.plan, r.plan + r.sheets);
    quirefold_impose_result_free(&r);
    return got;
}

} // namespace qft
