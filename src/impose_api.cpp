// The imposition interface: options records in, result records out, nothing kept between calls.
// Messages go to the call's own result (error_scope), never to the classic last-error text.
#include "quirefold_impose.h"

#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "doc.h"
#include "error.h"
#include "impose.h"
#include "load.h"
#include "outbuf.h"
#include "paper.h"
#include "plan_json.h"
#include "writer.h"

using namespace qf;

namespace {

// What a result's pointers point into.
struct result_store {
    std::string message, option, sheet_name, plan_json;
    std::vector<std::string> warnings;
    std::vector<const char*> warning_ptrs;
    std::vector<quirefold_impose_sheet> plan;
    buf output;
};

// The smallest records this library accepts: those of the first version of the header.
constexpr std::size_t options_v1_size = sizeof(quirefold_impose_options);
constexpr std::size_t result_v1_size = sizeof(quirefold_impose_result);

// An option's value is wrong: the message names it first.
struct option_error {
    const char* option = nullptr;
    std::string message;
};

bool length_ok(double v) {
    // A length beyond 200 inches is no paper size or margin anyone prints.
    return std::isfinite(v) && v >= 0 && v <= 14400;
}

bool check_options(const quirefold_impose_options* given, layout_options& opt, option_error& err) {
    quirefold_impose_options o;
    quirefold_impose_options_init(&o);
    if (given) {
        if (given->size < sizeof(std::size_t) || given->size > (std::size_t{1} << 20)) {
            err = {"options", "options: size is not set (fill the record with "
                              "quirefold_impose_options_init)"};
            return false;
        }
        std::memcpy(&o, given, given->size < options_v1_size ? given->size : options_v1_size);
    }
    auto bad = [&err](const char* option, std::string message) {
        err = {option, std::string(option) + ": " + message};
        return false;
    };

    opt = layout_options{};
    if (o.sheet && *o.sheet && std::strcmp(o.sheet, "auto") != 0) {
        std::optional<sheet_dims> sheet = parse_sheet(o.sheet);
        if (!sheet)
            return bad("sheet", format("unknown sheet size \"%s\" (a3, a4, a5, b4, b5, letter, "
                                       "legal, tabloid, or WxH with pt, mm, cm or in)",
                                       o.sheet));
        opt.sheet_from = sheet_choice::given;
        opt.sheet = *sheet;
    }
    // A signature of a million sheets is already far past any stitch or sewing.
    if (o.signature < 0 || o.signature > 1000000)
        return bad("signature",
                   format("must be 0 (one signature) or a number of sheets (got %d)", o.signature));
    opt.signature = o.signature;
    if (o.binding != QUIREFOLD_BINDING_LEFT && o.binding != QUIREFOLD_BINDING_RIGHT)
        return bad("binding", format("must be 0 (left) or 1 (right) (got %d)", o.binding));
    opt.binding = o.binding == QUIREFOLD_BINDING_RIGHT ? binding_edge::right : binding_edge::left;
    if (o.flip != QUIREFOLD_FLIP_SHORT && o.flip != QUIREFOLD_FLIP_LONG)
        return bad("flip", format("must be 0 (short edge) or 1 (long edge) (got %d)", o.flip));
    opt.flip = o.flip == QUIREFOLD_FLIP_LONG ? duplex_flip::long_edge : duplex_flip::short_edge;
    opt.cover = o.cover != 0;
    std::string why;
    if (!parse_page_ranges(o.pages ? o.pages : "", opt.pages, why)) return bad("pages", why);
    const struct {
        const char* name;
        double value;
        double* into;
    } lengths[] = {{"margin", o.margin, &opt.margin},
                   {"gutter", o.gutter, &opt.gutter},
                   {"creep", o.creep, &opt.creep}};
    for (const auto& len : lengths) {
        if (!length_ok(len.value))
            return bad(len.name, format("must be a length from 0 to 14400 pt (got %s)",
                                        num_str(len.value).c_str()));
        *len.into = len.value;
    }
    switch (o.scale) {
    case QUIREFOLD_SCALE_FIT:
        opt.scale = scale_mode::fit;
        break;
    case QUIREFOLD_SCALE_SHRINK:
        opt.scale = scale_mode::shrink;
        break;
    case QUIREFOLD_SCALE_NONE:
        opt.scale = scale_mode::none;
        break;
    default:
        return bad("scale", format("must be 0 (fit), 1 (shrink) or 2 (none) (got %d)", o.scale));
    }
    opt.fold_marks = o.fold_marks != 0;
    opt.compress = o.compress != 0;
    if (o.annotations != QUIREFOLD_ANNOTATIONS_PRINT && o.annotations != QUIREFOLD_ANNOTATIONS_NONE)
        return bad("annotations", format("must be 0 (print) or 1 (none) (got %d)", o.annotations));
    opt.annotations = o.annotations == QUIREFOLD_ANNOTATIONS_PRINT;
    return true;
}

quirefold_impose_slot slot_record(const slot_plan& s) {
    quirefold_impose_slot r{};
    r.page = s.page > 0 ? s.page : 0;
    if (r.page == 0) return r;
    r.scale = s.scale;
    r.x = s.box.x, r.y = s.box.y, r.width = s.box.w, r.height = s.box.h;
    r.turn = s.turn;
    r.clipped = s.clipped ? 1 : 0;
    return r;
}

quirefold_impose_side side_record(const side_plan& s) {
    return {slot_record(s.left), slot_record(s.right), s.turned ? 1 : 0};
}

void fill_plan(const impose_plan& plan, result_store& store, quirefold_impose_result& r) {
    store.sheet_name = plan.sheet.name;
    store.plan.reserve(plan.sheets.size());
    for (const sheet_plan& sh : plan.sheets)
        store.plan.push_back({sh.signature + 1, sh.sheet_in_signature + 1, side_record(sh.front),
                              side_record(sh.back)});
    store.plan_json = plan_json(plan);
    store.warnings = plan.warnings;
    for (const std::string& w : store.warnings) store.warning_ptrs.push_back(w.c_str());

    r.sheet_name = store.sheet_name.c_str();
    r.sheet_width = plan.sheet.w;
    r.sheet_height = plan.sheet.h;
    r.input_pages = plan.input_pages;
    r.pages = plan.placed_pages;
    r.sheets = static_cast<int>(plan.sheets.size());
    r.sides = 2 * r.sheets;
    r.blanks = plan.blanks;
    r.signatures = plan.signatures;
    r.warning_count = static_cast<int>(store.warning_ptrs.size());
    r.warnings = store.warning_ptrs.empty() ? nullptr : store.warning_ptrs.data();
    r.plan = store.plan.empty() ? nullptr : store.plan.data();
    r.plan_json = store.plan_json.c_str();
}

// Name of an input in messages.
const char* input_name(const quirefold_impose_input& in) {
    if (in.path) return in.path;
    return in.name ? in.name : "(input in memory)";
}

int run(const quirefold_impose_input* input, const char* out_path, bool make,
        const quirefold_impose_options* options, quirefold_impose_result* result) {
    if (!result || result->size < result_v1_size) return QUIREFOLD_IMPOSE_BAD_OPTION;
    quirefold_impose_result_free(result);
    quirefold_impose_result& r = *result;
    r.message = "";
    r.option = "";
    r.sheet_name = "";
    r.plan_json = "";

    result_store* store = nullptr;
    try {
        store = new result_store;
        r.internal = store;
    } catch (...) {
        r.status = QUIREFOLD_IMPOSE_FAILED;
        r.message = "out of memory";
        return r.status;
    }
    auto finish = [&](int status) {
        r.status = status;
        r.message = store->message.c_str();
        r.option = store->option.c_str();
        return status;
    };

    try {
        error_scope scope(store->message);
        layout_options opt;
        option_error bad;
        const bool input_ok = input && (input->path || input->data || input->size == 0);
        if (!input_ok) bad = {"input", "input: give a path, or data and its size"};
        if (!input_ok || !check_options(options, opt, bad)) {
            store->message = bad.message;
            store->option = bad.option;
            return finish(QUIREFOLD_IMPOSE_BAD_OPTION);
        }

        doc d;
        int loaded;
        if (input->path) {
            loaded = doc_load(input->path, d, true);
        } else {
            const auto* bytes_in = static_cast<const std::uint8_t*>(input->data);
            std::vector<std::uint8_t> copy;
            if (input->size > 0) copy.assign(bytes_in, bytes_in + input->size);
            loaded = doc_load_bytes(std::move(copy), input_name(*input), d);
        }
        if (loaded != 0) return finish(QUIREFOLD_IMPOSE_FAILED);

        impose_plan plan;
        const plan_status planned = plan_imposition(d, opt, plan);
        if (planned != plan_status::ok) {
            if (planned == plan_status::bad_option) store->option = plan.bad_option;
            return finish(planned == plan_status::bad_option ? QUIREFOLD_IMPOSE_BAD_OPTION
                                                             : QUIREFOLD_IMPOSE_FAILED);
        }
        fill_plan(plan, *store, r);
        if (make) {
            const char* name = out_path ? out_path : "(output in memory)";
            if (!build_booklet(d, plan, name, store->output))
                return finish(QUIREFOLD_IMPOSE_FAILED);
            if (out_path) {
                const bytes content(store->output.data,
                                    static_cast<std::size_t>(store->output.len));
                const int written = write_output(content, out_path, true);
                buf_release(store->output);
                if (!written) return finish(QUIREFOLD_IMPOSE_FAILED);
            } else {
                r.output = store->output.data;
                r.output_size = static_cast<std::size_t>(store->output.len);
            }
        }
        store->message.clear();
        return finish(QUIREFOLD_IMPOSE_OK);
    } catch (...) {
        // std::bad_alloc is the only exception the engine lets through.
        store->message = "out of memory";
        store->option.clear();
        return finish(QUIREFOLD_IMPOSE_FAILED);
    }
}

} // namespace

extern "C" {

QUIREFOLD_IMPOSE_API void quirefold_impose_options_init(quirefold_impose_options* options) {
    if (!options) return;
    std::memset(options, 0, sizeof *options);
    options->size = sizeof *options;
    options->binding = QUIREFOLD_BINDING_LEFT;
    options->flip = QUIREFOLD_FLIP_SHORT;
    options->scale = QUIREFOLD_SCALE_FIT;
    options->compress = 1;
    options->annotations = QUIREFOLD_ANNOTATIONS_PRINT;
}

QUIREFOLD_IMPOSE_API void quirefold_impose_result_init(quirefold_impose_result* result) {
    if (!result) return;
    std::memset(result, 0, sizeof *result);
    result->size = sizeof *result;
    result->message = "";
    result->option = "";
    result->sheet_name = "";
    result->plan_json = "";
}

QUIREFOLD_IMPOSE_API void quirefold_impose_result_free(quirefold_impose_result* result) {
    if (!result || result->size < result_v1_size) return;
    delete static_cast<result_store*>(result->internal);
    const std::size_t size = result->size;
    quirefold_impose_result_init(result);
    result->size = size;
}

QUIREFOLD_IMPOSE_API int quirefold_impose(const quirefold_impose_input* input, const char* out_path,
                                          const quirefold_impose_options* options,
                                          quirefold_impose_result* result) {
    return run(input, out_path, true, options, result);
}

QUIREFOLD_IMPOSE_API int quirefold_impose_plan(const quirefold_impose_input* input,
                                               const quirefold_impose_options* options,
                                               quirefold_impose_result* result) {
    return run(input, nullptr, false, options, result);
}

QUIREFOLD_IMPOSE_API int quirefold_impose_parse_length(const char* text, double* points) {
    if (!text || !points) return 0;
    const std::optional<double> v = parse_length(text);
    if (!v) return 0;
    *points = *v;
    return 1;
}

QUIREFOLD_IMPOSE_API const char* quirefold_impose_version(void) {
    return QUIREFOLD_IMPOSE_VERSION;
}

} // extern "C"
