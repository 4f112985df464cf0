/* quirefold imposition interface: booklets with options (signatures, right-to-left binding,
 * long-edge duplex, covers, page selection, sheet sizes, margins, gutter, creep, scaling, fold
 * marks), from a file or from memory, to a file or to memory, with a result record per call.
 *
 * Library: libquirefold_impose (pkg-config quirefold_impose; CMake quirefold::impose).
 * Every call runs synchronously on the caller's thread and keeps nothing between calls: there is
 * no process-wide state, so several threads may make booklets at once, each with its own
 * options and result records.
 *
 * Records are extensible: each begins with its size in bytes, which the _init call sets. A
 * library newer than the header a program was built with reads and writes only the fields that
 * the program's records hold.
 */
#ifndef QUIREFOLD_IMPOSE_H
#define QUIREFOLD_IMPOSE_H

#include <stddef.h>

#define QUIREFOLD_IMPOSE_VERSION "0.2.0"

#if defined(__GNUC__)
#define QUIREFOLD_IMPOSE_API __attribute__((visibility("default")))
#else
#define QUIREFOLD_IMPOSE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* binding */
#define QUIREFOLD_BINDING_LEFT 0  /* spine on the left: pages read left to right */
#define QUIREFOLD_BINDING_RIGHT 1 /* spine on the right: every side mirrored */
/* flip */
#define QUIREFOLD_FLIP_SHORT 0 /* duplex printers that flip on the short edge */
#define QUIREFOLD_FLIP_LONG 1  /* on the long edge: every back side turned 180 degrees */
/* scale */
#define QUIREFOLD_SCALE_FIT 0    /* scale up or down to fit the slot */
#define QUIREFOLD_SCALE_SHRINK 1 /* scale down to fit, never enlarge */
#define QUIREFOLD_SCALE_NONE 2   /* 100 %; what does not fit its slot is cut off */
/* annotations */
#define QUIREFOLD_ANNOTATIONS_PRINT 0 /* draw what a printer prints: filled form fields, stamps,
                                         comments with the Print flag, by their appearances */
#define QUIREFOLD_ANNOTATIONS_NONE 1  /* page content only */

typedef struct quirefold_impose_options {
    size_t size;       /* sizeof(quirefold_impose_options); set by _options_init */
    const char* sheet; /* NULL or "auto": the standard size nearest to the first page;
                          "a3", "a4", "a5", "b4", "b5", "letter", "legal", "tabloid", or
                          "WxH" with an optional unit pt, mm, cm or in ("300x200mm");
                          always laid out landscape */
    int signature;     /* sheets per signature; 0 (default): one signature of all sheets */
    int binding;       /* QUIREFOLD_BINDING_* */
    int flip;          /* QUIREFOLD_FLIP_* */
    int cover;         /* nonzero: the last page stays the back cover; blanks go before it */
    const char* pages; /* NULL or "": every page; else ranges such as "1-5,8,11-z", "z-1",
                          "r3-r1" (z and r1 are the last page), in the order given */
    double margin;     /* points of blank space at the sheet's outer edges */
    double gutter;     /* points of blank space between the two pages at the fold */
    double creep;      /* points: the innermost sheet of a signature moves toward the fold by
                          this much, the others in proportion, the outermost not at all */
    int scale;         /* QUIREFOLD_SCALE_* */
    int fold_marks;    /* nonzero: short marks at the top and bottom of the fold line */
    int compress;      /* nonzero (default): page content goes in as stored, never decoded,
                          and streams stored without compression are compressed; 0: content
                          written decoded and uncompressed, as the classic interface does */
    int annotations;   /* QUIREFOLD_ANNOTATIONS_*; a record from before this field gets PRINT */
} quirefold_impose_options;

/* The input: a file (path set) or bytes in memory (path NULL, data and size; `name`, when
 * set, stands for it in messages instead of "(input in memory)"). */
typedef struct quirefold_impose_input {
    const char* path;
    const void* data;
    size_t size;
    const char* name;
} quirefold_impose_input;

/* One slot of a sheet side as it stands on the printed sheet. */
typedef struct quirefold_impose_slot {
    int page;                   /* 1-based input page, 0 for a blank slot */
    double scale;               /* of the page's own size */
    double x, y, width, height; /* where the visible page lands, points from the lower left */
    int turn;                   /* 0, or 180 on the back side of a long-edge flip */
    int clipped;                /* nonzero when the page is cut at the edges of its slot */
} quirefold_impose_slot;

typedef struct quirefold_impose_side {
    quirefold_impose_slot left, right;
    int turned; /* nonzero: the side is laid out upside down (long-edge flip) */
} quirefold_impose_side;

typedef struct quirefold_impose_sheet {
    int signature;          /* 1-based */
    int sheet_in_signature; /* 1-based; 1 is the outermost */
    quirefold_impose_side front, back;
} quirefold_impose_sheet;

/* status */
#define QUIREFOLD_IMPOSE_OK 0
#define QUIREFOLD_IMPOSE_BAD_OPTION 1 /* an option's value is wrong; `option` names it */
#define QUIREFOLD_IMPOSE_FAILED 2     /* the input could not be read or the output written */

typedef struct quirefold_impose_result {
    size_t size;         /* sizeof(quirefold_impose_result); set by _result_init */
    int status;          /* QUIREFOLD_IMPOSE_* */
    const char* message; /* "" on success, else UTF-8 text saying why; never NULL after a call */
    const char* option;  /* with BAD_OPTION the option at fault ("margin", "pages"...), else "" */
    const char* sheet_name;           /* "A4", "Letter", ... or "custom" */
    double sheet_width, sheet_height; /* points, landscape */
    int input_pages;                  /* pages of the input document */
    int pages;                        /* pages placed (after selection) */
    int sheets, sides, blanks, signatures;
    int warning_count;
    const char* const* warnings;        /* warning_count texts */
    const quirefold_impose_sheet* plan; /* `sheets` records */
    const char* plan_json;              /* the plan as JSON text */
    const void* output;                 /* the booklet, when it was asked for in memory */
    size_t output_size;
    void* internal; /* storage behind the pointers above; do not touch */
} quirefold_impose_result;

/* Fills *options with the defaults (automatic sheet, one signature, left binding, short-edge
 * flip, no cover, every page, no margins, fit, no fold marks, compressed, annotations printed)
 * and sets its size. */
QUIREFOLD_IMPOSE_API void quirefold_impose_options_init(quirefold_impose_options* options);

/* Empties *result and sets its size. Call once before the first use of a result record. */
QUIREFOLD_IMPOSE_API void quirefold_impose_result_init(quirefold_impose_result* result);

/* Releases what a call stored in *result (texts, plan, output bytes) and empties it; the size
 * stays, so the record can be used again. */
QUIREFOLD_IMPOSE_API void quirefold_impose_result_free(quirefold_impose_result* result);

/* Makes the booklet of `input` with `options` (NULL: the defaults). With out_path it is
 * written to that file, which is created only when the whole booklet has been built; with
 * out_path NULL it is kept in result->output. Returns result->status: 0 on success. The result
 * holds the plan too. Free the result with quirefold_impose_result_free(). */
QUIREFOLD_IMPOSE_API int quirefold_impose(const quirefold_impose_input* input, const char* out_path,
                                          const quirefold_impose_options* options,
                                          quirefold_impose_result* result);

/* The plan alone: everything quirefold_impose() reports, nothing written or built. */
QUIREFOLD_IMPOSE_API int quirefold_impose_plan(const quirefold_impose_input* input,
                                               const quirefold_impose_options* options,
                                               quirefold_impose_result* result);

/* Reads a length such as "12", "12pt", "5mm", "0.5cm" or "0.25in" into points. 1 on success,
 * 0 for text that is no length (negative lengths included). */
QUIREFOLD_IMPOSE_API int quirefold_impose_parse_length(const char* text, double* points);

/* QUIREFOLD_IMPOSE_VERSION of the library. */
QUIREFOLD_IMPOSE_API const char* quirefold_impose_version(void);

#ifdef __cplusplus
}
#endif

#endif
