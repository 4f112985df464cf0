// The six exported functions. No exception leaves them: a failed allocation anywhere below
// is reported as "out of memory".
#include "quirefold.h"

#include <new>

#include "doc.h"
#include "error.h"
#include "load.h"
#include "writer.h"

using namespace qf;

extern "C" {

QUIREFOLD_API int quirefold_init(void) {
    clear_error();
    return 1;
}

QUIREFOLD_API void quirefold_cleanup(void) {
    clear_error();
}

QUIREFOLD_API const char* quirefold_last_error(void) {
    return last_error();
}

QUIREFOLD_API int quirefold_create_sized(const char* in_path, const char* out_path,
                                         int sheet_size) {
    if (!in_path || !out_path) {
        set_error("NULL path argument");
        return 0;
    }
    try {
        doc d;
        if (doc_load(in_path, d) != 0) return 0;
        int ok = booklet_doc(d, out_path, sheet_size);
        doc_free(d);
        if (!ok) return 0;
        clear_error();
        return 1;
    } catch (...) {
        set_error("out of memory");
        return 0;
    }
}

QUIREFOLD_API int quirefold_create(const char* in_path, const char* out_path) {
    return quirefold_create_sized(in_path, out_path, -1);
}

QUIREFOLD_API int quirefold_page_count(const char* in_path) {
    if (!in_path) {
        set_error("NULL path argument");
        return -1;
    }
    try {
        doc d;
        if (doc_load(in_path, d) != 0) return -1;
        auto n = static_cast<int>(d.pages.size());
        doc_free(d);
        clear_error();
        return n;
    } catch (...) {
        set_error("out of memory");
        return -1;
    }
}

} // extern "C"
