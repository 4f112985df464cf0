/* quirefold: turn a PDF into a print-ready saddle-stitch booklet.
 *
 * Every function runs synchronously on the caller's thread. The library keeps one piece of
 * state between calls, the text of the last error; it is not guarded, so call the library from
 * one thread at a time. Paths are byte strings handed to the C library's fopen() unchanged.
 */
#ifndef QUIREFOLD_H
#define QUIREFOLD_H

#define QUIREFOLD_VERSION_MAJOR 0
#define QUIREFOLD_VERSION_MINOR 1
#define QUIREFOLD_VERSION_PATCH 0
#define QUIREFOLD_VERSION "0.1.0"

#if defined(_WIN32)
#define QUIREFOLD_API __declspec(dllimport)
#elif defined(__GNUC__)
#define QUIREFOLD_API __attribute__((visibility("default")))
#else
#define QUIREFOLD_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Sheet size codes for quirefold_create_sized(). Any negative code chooses automatically:
 * Letter when the first page is landscape or square, A4 otherwise. */
#define QUIREFOLD_SHEET_AUTO (-1)
#define QUIREFOLD_SHEET_A4 0
#define QUIREFOLD_SHEET_LETTER 1
#define QUIREFOLD_SHEET_A3 2

/* Empties the last-error text. Always returns 1; calling it is optional. */
QUIREFOLD_API int quirefold_init(void);

/* Empties the last-error text. Calling it is optional. */
QUIREFOLD_API void quirefold_cleanup(void);

/* The message of the last failed call as UTF-8 text, or "" after a success. Never NULL. The
 * text belongs to the library and stays valid until the next call that sets or empties it. */
QUIREFOLD_API const char* quirefold_last_error(void);

/* Writes a booklet of in_path to out_path with the automatic sheet size.
 * Same as quirefold_create_sized(in_path, out_path, QUIREFOLD_SHEET_AUTO). */
QUIREFOLD_API int quirefold_create(const char* in_path, const char* out_path);

/* Writes a booklet of in_path to out_path on sheets of the given size (0 A4, 1 Letter, 2 A3,
 * negative automatic). Returns 1 on success, 0 on failure with the reason in
 * quirefold_last_error(): "NULL path argument", "cannot open <path>", "empty input file: <path>",
 * "no PDF objects found — not a PDF: <path>", "encrypted PDFs are not supported: <path>",
 * "document has no pages", "sheet_size must be 0 (A4), 1 (Letter) or 2 (A3) (got <n>)",
 * "cannot write <path>" and the other page-tree and content messages. The output file is
 * created only once the whole booklet has been built in memory; out_path may name the input. */
QUIREFOLD_API int quirefold_create_sized(const char* in_path, const char* out_path, int sheet_size);

/* Returns the number of pages of in_path, or -1 with the reason in quirefold_last_error(). */
QUIREFOLD_API int quirefold_page_count(const char* in_path);

#ifdef __cplusplus
}
#endif

#endif
