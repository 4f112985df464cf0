// Rendering PDF pages with poppler's pdftoppm and comparing the renderings, for the tests that
// check the booklets with real readers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qft {

// An 8-bit grey raster, rows top to bottom; 0 is black, 255 white.
struct gray_image {
    int w = 0;
    int h = 0;
    std::vector<std::uint8_t> px;

    std::uint8_t at(int x, int y) const {
        return px[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) +
                  static_cast<std::size_t>(x)];
    }
};

// Reads a binary PGM (P5, maxval 255) as pdftoppm -gray writes it.
bool read_pgm(const std::string& path, gray_image& img);

// Renders every page of `pdf` at `dpi` (fractions allowed) with pdftoppm -gray. With `cropbox` the
// crop box is rendered, as readers show a page; otherwise the media box. pdftoppm applies each
// page's /Rotate, so the images show the pages upright. `stderr_text` receives what pdftoppm
// printed on its error stream. first_page and last_page (1-based, 0 for the document's own ends)
// limit the pages rendered. False when pdftoppm fails or writes no page.
// With `hide_annotations` the pages are drawn without their annotations.
bool render_pdf(const std::string& pdf, double dpi, bool cropbox, std::vector<gray_image>& pages,
                std::string* stderr_text = nullptr, int first_page = 0, int last_page = 0,
                bool hide_annotations = false);

// The image turned clockwise by quarter_turns × 90 degrees.
gray_image turn_clockwise(const gray_image& img, int quarter_turns);

// A rectangle in pixel units; edges may fall between pixels.
struct rectf {
    double x = 0;
    double y = 0;
    double w = 0;
    double h = 0;
};

inline rectf whole(const gray_image& img) {
    return {0, 0, static_cast<double>(img.w), static_cast<double>(img.h)};
}

// The mean grey of each cell of a gw × gh grid laid over `r`, row by row; pixels cut by a cell
// edge count by the part of them inside the cell. Parts of `r` outside the image count white.
std::vector<double> grid_of(const gray_image& img, const rectf& r, int gw, int gh);

// Mean absolute difference of two grids of the same size, 0 to 255.
double grid_distance(const std::vector<double>& a, const std::vector<double>& b);

// The bounding box of the pixels darker than `threshold` whose centres lie inside `r`;
// w and h are 0 when there are none.
rectf ink_box(const gray_image& img, const rectf& r, int threshold);

// A page as pdfinfo reports it: the size of its visible (crop) box in points, before
// rotation, and its /Rotate normalised to 0, 90, 180 or 270.
struct page_geom {
    double w = 0;
    double h = 0;
    int rotate = 0;
};

// The geometry of every page of `pdf` from pdfinfo -f 1 -l N; false when pdfinfo fails.
bool pdfinfo_pages(const std::string& pdf, std::vector<page_geom>& pages);

} // namespace qft
