// Documents made up for the benchmarks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qfb {

// A document of n pages that share one font, each with its own image-like stream, so that the
// carried objects grow with the page count.
inline std::vector<std::uint8_t> synthetic(int n) {
    std::string out = "%PDF-1.4\n";
    std::vector<long> offs;
    auto add = [&](const std::string& body) {
        offs.push_back(static_cast<long>(out.size()));
        out += std::to_string(offs.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    add("<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int i = 0; i < n; ++i) kids += std::to_string(4 + 3 * i) + " 0 R ";
    add("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(n) + " >>");
    add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    for (int i = 0; i < n; ++i) {
        const std::string content = "BT /F1 48 Tf 100 400 Td (" + std::to_string(i + 1) +
                                    ") Tj ET q 50 0 0 50 100 100 cm /Im1 Do Q";
        add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " +
            std::to_string(5 + 3 * i) +
            " 0 R /Resources << /Font << /F1 3 0 R >> /XObject << /Im1 " +
            std::to_string(6 + 3 * i) + " 0 R >> >> >>");
        add("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
            "\nendstream");
        add("<< /Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceGray "
            "/BitsPerComponent 8 /Length 4 >>\nstream\n\x10\x80\x80\x10\nendstream");
    }
    out += "trailer\n<< /Root 1 0 R >>\n%%EOF\n";
    return {out.begin(), out.end()};
}

} // namespace qfb
