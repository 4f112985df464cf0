#include "plan_json.h"

#include "error.h"
#include "outbuf.h"

namespace qf {

namespace {

void page_value(std::string& out, const slot_plan& s) {
    out += s.page > 0 ? std::to_string(s.page) : "null";
}

void placement_value(std::string& out, const slot_plan& s) {
    if (s.page < 1) {
        out += "null";
        return;
    }
    out += "{\"scale\": " + num_str(s.scale) + ", \"x\": " + num_str(s.box.x) +
           ", \"y\": " + num_str(s.box.y) + ", \"width\": " + num_str(s.box.w) +
           ", \"height\": " + num_str(s.box.h) + ", \"turn\": " + std::to_string(s.turn) +
           ", \"clipped\": " + (s.clipped ? "true" : "false") + "}";
}

void side_value(std::string& out, const side_plan& side) {
    out += "{\"left\": ";
    page_value(out, side.left);
    out += ", \"right\": ";
    page_value(out, side.right);
    out += ", \"turned\": ";
    out += side.turned ? "true" : "false";
    out += ", \"placement\": {\"left\": ";
    placement_value(out, side.left);
    out += ", \"right\": ";
    placement_value(out, side.right);
    out += "}}";
}

// Sheet names are our own ASCII words; warnings are our own texts with ASCII quotes at most.
std::string json_string(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) {
            out += format("\\u%04x", static_cast<unsigned>(c));
            continue;
        }
        out += c;
    }
    return out + "\"";
}

} // namespace

std::string plan_json(const impose_plan& plan) {
    std::string out = "{\"sheet\": {\"name\": " + json_string(plan.sheet.name) +
                      ", \"width\": " + num_str(plan.sheet.w) +
                      ", \"height\": " + num_str(plan.sheet.h) + "}";
    out += ", \"input_pages\": " + std::to_string(plan.input_pages);
    out += ", \"pages\": " + std::to_string(plan.placed_pages);
    out += ", \"signatures\": " + std::to_string(plan.signatures);
    out += ", \"blanks\": " + std::to_string(plan.blanks);
    out += ", \"warnings\": [";
    for (std::size_t i = 0; i < plan.warnings.size(); ++i)
        out += (i ? ", " : "") + json_string(plan.warnings[i]);
    out += "], \"sheets\": [";
    for (std::size_t i = 0; i < plan.sheets.size(); ++i) {
        const sheet_plan& sh = plan.sheets[i];
        out += i ? ",\n  " : "\n  ";
        out += "{\"signature\": " + std::to_string(sh.signature + 1) +
               ", \"sheet_in_signature\": " + std::to_string(sh.sheet_in_signature + 1) +
               ", \"front\": ";
        side_value(out, sh.front);
        out += ", \"back\": ";
        side_value(out, sh.back);
        out += "}";
    }
    out += plan.sheets.empty() ? "]}\n" : "\n]}\n";
    return out;
}

} // namespace qf
