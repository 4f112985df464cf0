// The DEFLATE codec against zlib in one run, on real content streams: every Flate-encoded
// content stream of the PDFs named on the command line (default: the test fixtures), decoded
// by our inflater and by zlib's, and the decoded content encoded by our encoder and by zlib at
// levels 1 and 6. Then, per document, the whole compact booklet (load, plan, write, in memory)
// against `qpdf IN OUT` (a plain rewrite, run as a command, so its start-up counts too), with
// the sizes. Not part of the test suite.
//
//   bench_codec [FILE.pdf ...]
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "deflate.h"
#include "doc.h"
#include "inflate.h"
#include "lex.h"
#include "load.h"
#include "quirefold_impose.h"

namespace {

using byte_vec = std::vector<std::uint8_t>;
using clock_type = std::chrono::steady_clock;

struct stream_pair {
    byte_vec packed, plain;
};

// The Flate-encoded content streams of a document, with their decoded bytes.
void collect_streams(const std::string& path, std::vector<stream_pair>& out) {
    qf::doc d;
    if (qf::doc_load(path.c_str(), d) != 0) {
        std::fprintf(stderr, "skipped %s\n", path.c_str());
        return;
    }
    for (const qf::obj& o : d.objects) {
        if (!o.has_stream || o.in_objstm || o.data_end <= o.data_start) continue;
        const qf::dict_range r = qf::dict_range_of(d, o);
        if (!r.ok || qf::find_name(r.buf, r.from, r.to, "FlateDecode") < 0) continue;
        // Content streams: no /Subtype (images, forms, fonts have one), no /Length1 (fonts).
        if (qf::find_name(r.buf, r.from, r.to, "Subtype") >= 0 ||
            qf::find_name(r.buf, r.from, r.to, "Length1") >= 0 ||
            qf::find_name(r.buf, r.from, r.to, "DecodeParms") >= 0 ||
            qf::find_name(r.buf, r.from, r.to, "Type") >= 0)
            continue;
        static byte_vec scratch(64u << 20);
        stream_pair p;
        p.packed.assign(d.data.begin() + o.data_start, d.data.begin() + o.data_end);
        uLongf n = scratch.size();
        if (uncompress(scratch.data(), &n, p.packed.data(), p.packed.size()) != Z_OK) continue;
        p.plain.assign(scratch.begin(), scratch.begin() + static_cast<long>(n));
        out.push_back(std::move(p));
    }
}

template <class F> double seconds_per_run(F&& f) {
    int runs = 0;
    const auto start = clock_type::now();
    double elapsed = 0;
    do {
        f();
        ++runs;
        elapsed = std::chrono::duration<double>(clock_type::now() - start).count();
    } while (elapsed < 1.0);
    return elapsed / runs;
}

byte_vec zlib_level(const byte_vec& in, int level) {
    uLongf n = compressBound(in.size());
    byte_vec out(n);
    compress2(out.data(), &n, in.data(), in.size(), level);
    out.resize(n);
    return out;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) files.push_back(argv[i]);
    if (files.empty())
        for (const char* name :
             {"groff_gs.pdf", "pages500.pdf", "groff_pdf.pdf", "contents_array.pdf"})
            files.push_back(std::string(QF_BENCH_FIXTURES) + "/" + name);

    std::vector<stream_pair> streams;
    for (const std::string& f : files) collect_streams(f, streams);
    std::uint64_t plain_total = 0, packed_total = 0;
    for (const stream_pair& s : streams) {
        plain_total += s.plain.size();
        packed_total += s.packed.size();
    }
    std::printf("%zu content streams, %llu bytes decoded, %llu encoded\n", streams.size(),
                static_cast<unsigned long long>(plain_total),
                static_cast<unsigned long long>(packed_total));
    if (streams.empty()) return 1;

    byte_vec out(64u << 20);
    bool ok = true;
    const double ours_in = seconds_per_run([&] {
        for (const stream_pair& s : streams) {
            std::uint64_t n = 0;
            ok = ok &&
                 qf::inflate_decompress(s.packed.data(), s.packed.size(), out.data(),
                                        s.plain.size(), &n) == 0 &&
                 n == s.plain.size();
        }
    });
    const double zlib_in = seconds_per_run([&] {
        for (const stream_pair& s : streams) {
            uLongf n = s.plain.size();
            uncompress(out.data(), &n, s.packed.data(), s.packed.size());
        }
    });
    std::printf("inflate: ours %.0f MB/s, zlib %.0f MB/s (ours/zlib speed %.2f)%s\n",
                plain_total / ours_in / 1e6, plain_total / zlib_in / 1e6, zlib_in / ours_in,
                ok ? "" : "  DECODING MISMATCH");

    std::uint64_t ours_size = 0, z1_size = 0, z6_size = 0;
    const double ours_out = seconds_per_run([&] {
        ours_size = 0;
        for (const stream_pair& s : streams) {
            byte_vec packed;
            qf::deflate_compress(qf::bytes(s.plain.data(), s.plain.size()), packed);
            ours_size += packed.size();
        }
    });
    const double z1_out = seconds_per_run([&] {
        z1_size = 0;
        for (const stream_pair& s : streams) z1_size += zlib_level(s.plain, 1).size();
    });
    const double z6_out = seconds_per_run([&] {
        z6_size = 0;
        for (const stream_pair& s : streams) z6_size += zlib_level(s.plain, 6).size();
    });
    std::printf("deflate: ours %llu bytes at %.1f MB/s; zlib -1 %llu bytes at %.1f MB/s; "
                "zlib -6 %llu bytes at %.1f MB/s (ours/zlib-6 size %.3f, speed %.2f)\n",
                static_cast<unsigned long long>(ours_size), plain_total / ours_out / 1e6,
                static_cast<unsigned long long>(z1_size), plain_total / z1_out / 1e6,
                static_cast<unsigned long long>(z6_size), plain_total / z6_out / 1e6,
                static_cast<double>(ours_size) / static_cast<double>(z6_size), z6_out / ours_out);

    std::printf("\n%-40s %10s %10s %10s %10s %8s\n", "document", "input", "booklet", "ours ms",
                "qpdf ms", "ratio");
    for (const std::string& f : files) {
        std::ifstream in(f, std::ios::binary);
        const byte_vec pdf{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        std::size_t booklet = 0;
        const double ours = seconds_per_run([&] {
            quirefold_impose_input input{nullptr, pdf.data(), pdf.size(), nullptr};
            quirefold_impose_result r;
            quirefold_impose_result_init(&r);
            if (quirefold_impose(&input, nullptr, nullptr, &r) == QUIREFOLD_IMPOSE_OK)
                booklet = r.output_size;
            quirefold_impose_result_free(&r);
        });
        const std::string command = "qpdf '" + f + "' /tmp/bench_codec_qpdf.pdf";
        const double qpdf = seconds_per_run([&] {
            if (std::system(command.c_str()) != 0) ok = false;
        });
        const std::size_t slash = f.rfind('/');
        std::printf("%-40s %10zu %10zu %10.2f %10.2f %8.2f\n",
                    f.substr(slash == std::string::npos ? 0 : slash + 1).c_str(), pdf.size(),
                    booklet, ours * 1e3, qpdf * 1e3, ours / qpdf);
    }
    std::remove("/tmp/bench_codec_qpdf.pdf");
    return ok ? 0 : 1;
}
