#include "render.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "testutil.h"

namespace qft {

namespace {

// Skips white space and comments of a PGM header.
void skip_header_space(const std::string& s, std::size_t& i) {
    while (i < s.size()) {
        if (s[i] == '#') {
            while (i < s.size() && s[i] != '\n') ++i;
        } else if (std::isspace(static_cast<unsigned char>(s[i]))) {
            ++i;
        } else {
            break;
        }
    }
}

bool header_number(const std::string& s, std::size_t& i, long& value) {
    skip_header_space(s, i);
    std::size_t start = i;
    value = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && value < 1000000) {
        value = value * 10 + (s[i] - '0');
        ++i;
    }
    return i > start;
}

std::string shell_quoted(const std::string& s) {
    return "'" + s + "'";
}

} // namespace

bool read_pgm(const std::string& path, gray_image& img) {
    std::string s = read_file(path);
    if (s.size() < 2 || s[0] != 'P' || s[1] != '5') return false;
    std::size_t i = 2;
    long w = 0, h = 0, maxval = 0;
    if (!header_number(s, i, w) || !header_number(s, i, h) || !header_number(s, i, maxval))
        return false;
    if (w <= 0 || h <= 0 || maxval != 255 || i >= s.size()) return false;
    ++i; // the single white-space byte that ends the header
    std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    if (s.size() - i < n) return false;
    img.w = static_cast<int>(w);
    img.h = static_cast<int>(h);
    img.px.assign(s.begin() + static_cast<std::ptrdiff_t>(i),
                  s.begin() + static_cast<std::ptrdiff_t>(i + n));
    return true;
}

bool render_pdf(const std::string& pdf, double dpi, bool cropbox, std::vector<gray_image>& pages,
                std::string* stderr_text, int first_page, int last_page, bool hide_annotations) {
    pages.clear();
    std::string dir = temp_dir();
    std::string err_path = dir + "/stderr.txt";
    char resolution[32];
    std::snprintf(resolution, sizeof resolution, "%.4f", dpi);
    std::string cmd = std::string("pdftoppm -gray -r ") + resolution + (cropbox ? " -cropbox" : "");
    if (first_page > 0) cmd += " -f " + std::to_string(first_page);
    if (last_page > 0) cmd += " -l " + std::to_string(last_page);
    if (hide_annotations) cmd += " -hide-annotations";
    cmd +=
        " " + shell_quoted(pdf) + " " + shell_quoted(dir + "/p") + " 2>" + shell_quoted(err_path);
    int st = run(cmd);
    if (stderr_text) *stderr_text = read_file(err_path);
    if (st != 0) return false;
    // pdftoppm names the pages p-1.pgm, p-01.pgm, ... depending on the page count.
    std::map<long, std::string> by_number;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        if (name.size() < 7 || name.compare(0, 2, "p-") != 0 ||
            name.compare(name.size() - 4, 4, ".pgm") != 0)
            continue;
        by_number[std::strtol(name.c_str() + 2, nullptr, 10)] = entry.path().string();
    }
    for (const auto& [number, path] : by_number) {
        gray_image img;
        if (!read_pgm(path, img)) return false;
        pages.push_back(std::move(img));
        std::filesystem::remove(path);
    }
    std::filesystem::remove_all(dir);
    return !pages.empty();
}

gray_image turn_clockwise(const gray_image& img, int quarter_turns) {
    int q = ((quarter_turns % 4) + 4) % 4;
    if (q == 0) return img;
    gray_image out;
    out.w = q == 2 ? img.w : img.h;
    out.h = q == 2 ? img.h : img.w;
    out.px.resize(img.px.size());
    for (int y = 0; y < out.h; ++y) {
        for (int x = 0; x < out.w; ++x) {
            int sx = 0, sy = 0;
            if (q == 1) { // the source's left column becomes the top row
                sx = y;
                sy = img.h - 1 - x;
            } else if (q == 2) {
                sx = img.w - 1 - x;
                sy = img.h - 1 - y;
            } else {
                sx = img.w - 1 - y;
                sy = x;
            }
            out.px[static_cast<std::size_t>(y) * static_cast<std::size_t>(out.w) +
                   static_cast<std::size_t>(x)] = img.at(sx, sy);
        }
    }
    return out;
}

std::vector<double> grid_of(const gray_image& img, const rectf& r, int gw, int gh) {
    std::vector<double> cells(static_cast<std::size_t>(gw) * static_cast<std::size_t>(gh), 255.0);
    double cw = r.w / gw, ch = r.h / gh;
    for (int gy = 0; gy < gh; ++gy) {
        for (int gx = 0; gx < gw; ++gx) {
            double x0 = r.x + gx * cw, x1 = x0 + cw;
            double y0 = r.y + gy * ch, y1 = y0 + ch;
            double sum = 0, area = 0;
            for (int y = static_cast<int>(std::floor(y0)); y < static_cast<int>(std::ceil(y1));
                 ++y) {
                double fy = std::min<double>(y + 1, y1) - std::max<double>(y, y0);
                if (fy <= 0) continue;
                for (int x = static_cast<int>(std::floor(x0)); x < static_cast<int>(std::ceil(x1));
                     ++x) {
                    double fx = std::min<double>(x + 1, x1) - std::max<double>(x, x0);
                    if (fx <= 0) continue;
                    bool inside = x >= 0 && y >= 0 && x < img.w && y < img.h;
                    sum += fx * fy * (inside ? img.at(x, y) : 255);
                    area += fx * fy;
                }
            }
            if (area > 0)
                cells[static_cast<std::size_t>(gy) * static_cast<std::size_t>(gw) +
                      static_cast<std::size_t>(gx)] = sum / area;
        }
    }
    return cells;
}

double grid_distance(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size() || a.empty()) return 255.0;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) sum += std::fabs(a[i] - b[i]);
    return sum / static_cast<double>(a.size());
}

rectf ink_box(const gray_image& img, const rectf& r, int threshold) {
    int x_from = std::max(0, static_cast<int>(std::ceil(r.x - 0.5)));
    int y_from = std::max(0, static_cast<int>(std::ceil(r.y - 0.5)));
    int x_to = std::min(img.w, static_cast<int>(std::ceil(r.x + r.w - 0.5)));
    int y_to = std::min(img.h, static_cast<int>(std::ceil(r.y + r.h - 0.5)));
    int min_x = img.w, min_y = img.h, max_x = -1, max_y = -1;
    for (int y = y_from; y < y_to; ++y) {
        for (int x = x_from; x < x_to; ++x) {
            if (img.at(x, y) >= threshold) continue;
            min_x = std::min(min_x, x);
            max_x = std::max(max_x, x);
            min_y = std::min(min_y, y);
            max_y = std::max(max_y, y);
        }
    }
    if (max_x < 0) return {};
    return {static_cast<double>(min_x), static_cast<double>(min_y),
            static_cast<double>(max_x - min_x + 1), static_cast<double>(max_y - min_y + 1)};
}

bool pdfinfo_pages(const std::string& pdf, std::vector<page_geom>& pages) {
    pages.clear();
    std::string out;
    // pdfinfo stops at the last page when -l names a later one.
    if (run("pdfinfo -f 1 -l 1000000 " + shell_quoted(pdf) + " 2>/dev/null", &out) != 0)
        return false;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        int number = 0;
        double w = 0, h = 0;
        int rot = 0;
        if (std::sscanf(line.c_str(), "Page %d size: %lf x %lf", &number, &w, &h) == 3) {
            if (number != static_cast<int>(pages.size()) + 1) return false;
            pages.push_back({w, h, 0});
        } else if (std::sscanf(line.c_str(), "Page %d rot: %d", &number, &rot) == 2) {
            if (pages.empty() || number != static_cast<int>(pages.size())) return false;
            pages.back().rotate = ((rot % 360) + 360) % 360;
        }
    }
    return !pages.empty();
}

} // namespace qft
