#include "preview.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

std::string num(double v) {
    char t[32];
    std::snprintf(t, sizeof t, "%.1f", v);
    return t;
}

std::string escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Layout of the picture, in SVG user units.
constexpr double side_w = 240;    // one sheet side
constexpr double gap = 24;        // between front and back, and around groups
constexpr double label_w = 90;    // sheet labels at the left
constexpr double row_gap = 16;    // between sheets
constexpr double group_head = 28; // a signature's title

void slot_text(std::string& out, const quirefold_impose_slot& slot, double cx, double cy,
               double size, bool turned) {
    const std::string label = slot.page > 0 ? std::to_string(slot.page) : "blank";
    const std::string fill = slot.page > 0 ? "#000" : "#999";
    const double font = slot.page > 0 ? size : size * 0.45;
    out += "<text x=\"" + num(cx) + "\" y=\"" + num(cy) + "\" font-size=\"" + num(font) +
           "\" fill=\"" + fill + "\" text-anchor=\"middle\" dominant-baseline=\"central\"";
    if (turned) out += " transform=\"rotate(180 " + num(cx) + " " + num(cy) + ")\"";
    out += ">" + label + "</text>\n";
}

void side_box(std::string& out, const quirefold_impose_side& side, double x, double y, double h,
              const char* name) {
    out += "<g class=\"side\">\n";
    out += "<rect x=\"" + num(x) + "\" y=\"" + num(y) + "\" width=\"" + num(side_w) +
           "\" height=\"" + num(h) + "\" fill=\"" + (side.turned ? "#fff4e0" : "#fff") +
           "\" stroke=\"#000\"/>\n";
    out += "<line x1=\"" + num(x + side_w / 2) + "\" y1=\"" + num(y) + "\" x2=\"" +
           num(x + side_w / 2) + "\" y2=\"" + num(y + h) +
           "\" stroke=\"#666\" stroke-dasharray=\"4 3\"/>\n";
    const double cy = y + h / 2, size = std::min(h * 0.45, side_w * 0.2);
    slot_text(out, side.left, x + side_w / 4, cy, size, side.turned);
    slot_text(out, side.right, x + side_w * 3 / 4, cy, size, side.turned);
    std::string caption = name;
    if (side.turned) caption += " (turned 180\xC2\xB0)";
    out += "<text x=\"" + num(x + side_w / 2) + "\" y=\"" + num(y + h + 12) +
           "\" font-size=\"10\" text-anchor=\"middle\">" + escape(caption) + "</text>\n";
    out += "</g>\n";
}

} // namespace

std::string plan_svg(const quirefold_impose_result& r) {
    const double ratio = r.sheet_width > 0 ? r.sheet_height / r.sheet_width : 0.7;
    const double side_h = side_w * ratio;
    const double row_h = side_h + 14 + row_gap;
    const double width = label_w + 2 * side_w + 3 * gap;

    // Height: every sheet's row plus a title per signature.
    double height = 50;
    int last_signature = 0;
    for (int i = 0; i < r.sheets; ++i) {
        if (r.plan[i].signature != last_signature) height += group_head + gap;
        last_signature = r.plan[i].signature;
        height += row_h;
    }
    height += gap;

    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(width) + "\" height=\"" +
           num(height) + "\" viewBox=\"0 0 " + num(width) + " " + num(height) +
           "\" font-family=\"sans-serif\">\n";
    out += "<rect width=\"100%\" height=\"100%\" fill=\"#f4f4f4\"/>\n";
    const std::string title = std::to_string(r.pages) + " pages on " + std::to_string(r.sheets) +
                              " sheet" + (r.sheets == 1 ? "" : "s") + " (" + r.sheet_name + " " +
                              num(r.sheet_width) + " x " + num(r.sheet_height) + " pt), " +
                              std::to_string(r.signatures) + " signature" +
                              (r.signatures == 1 ? "" : "s");
    out += "<text x=\"" + num(gap) + "\" y=\"30\" font-size=\"16\">" + escape(title) + "</text>\n";

    double y = 50;
    int group = 0;
    double group_top = 0;
    auto close_group = [&]() {
        if (group == 0) return;
        out += "<rect x=\"" + num(gap / 2) + "\" y=\"" + num(group_top) + "\" width=\"" +
               num(width - gap) + "\" height=\"" + num(y - group_top) +
               "\" fill=\"none\" stroke=\"#36c\" rx=\"6\"/>\n</g>\n";
        y += gap;
    };
    for (int i = 0; i < r.sheets; ++i) {
        const quirefold_impose_sheet& sh = r.plan[i];
        if (sh.signature != group) {
            close_group();
            group = sh.signature;
            group_top = y;
            out += "<g class=\"signature\">\n<text x=\"" + num(gap) + "\" y=\"" + num(y + 20) +
                   "\" font-size=\"13\" fill=\"#36c\">Signature " + std::to_string(group) +
                   "</text>\n";
            y += group_head;
        }
        out += "<text x=\"" + num(gap) + "\" y=\"" + num(y + side_h / 2) +
               "\" font-size=\"12\">Sheet " + std::to_string(i + 1) + "</text>\n";
        side_box(out, sh.front, label_w + gap, y, side_h, "front");
        side_box(out, sh.back, label_w + 2 * gap + side_w, y, side_h, "back");
        y += row_h;
    }
    close_group();
    out += "</svg>\n";
    return out;
}
