/* quirefold: turn a PDF into a print-ready saddle-stitch booklet.
 *
 * Every function runs synchronously on the caller's thread. The library keeps one piece of
 * state between calls, the text of the last error; it is not guarded, so call the library from
 * one thread at a time. Paths are byte strings handed to the C library's fopen() unchanged.
 */
#ifndef QUIREFOLD_H
#define QUIREFOLD_H

#define QUIREFOLD_VERSION_MAJOR 0
#define QUIREFOLD_VERSION_MINOR 2
#define QUIREFOLD_VERSION_PATCH 0
#define QUIREFOLD_VERSION "0.2.0"

#if defined(__GNUC__)
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

/* Empties the last-error text. Always returns 1. Calling it is optional: the library needs no
 * initialisation. */
QUIREFOLD_API int quirefold_init(void);

/* Empties the last-error text. Calling it is optional; the library holds no resources. */
QUIREFOLD_API void quirefold_cleanup(void);

/* The message of the last failed call, as UTF-8 text, or "" after a success (and before any
 * call). Never NULL. The text belongs to the library and stays valid until the next call that
 * sets or empties it. */
QUIREFOLD_API const char* quirefold_last_error(void);

/* Writes a booklet of in_path to out_path with the automatic sheet size.
 * Same as quirefold_create_sized(in_path, out_path, QUIREFOLD_SHEET_AUTO). */
QUIREFOLD_API int quirefold_create(const char* in_path, const char* out_path);

/* Writes a booklet of the PDF at in_path to out_path on sheets of the given size:
 * QUIREFOLD_SHEET_A4 (0), _LETTER (1), _A3 (2), or any negative code for the automatic choice.
 * The output is built wholly in memory before the file is created, so a failure before the
 * write leaves an existing out_path untouched; out_path may name in_path.
 * Returns 1 on success (the last-error text is then ""), 0 on failure with the reason in
 * quirefold_last_error(), one of:
 *   every message of quirefold_page_count(), then
 *   "sheet_size must be 0 (A4), 1 (Letter) or 2 (A3) (got <n>)"  (checked after loading)
 *   "page <n>: content stream cannot be carried (unsupported /Filter)"
 *   "page <n>: array /Contents mixes an unsupported filter"
 *   "page <n>: inline content stream cannot be carried (unsupported /Filter)"
 *   "output file too large (2 GiB or more): <out_path>"
 *   "cannot write <out_path>", "short write to <out_path>", "close error on <out_path>"
 *   "failed to build output", "failed to build output (damaged page tree or content)" */
QUIREFOLD_API int quirefold_create_sized(const char* in_path, const char* out_path, int sheet_size);

/* A call decodes at most 4 GiB (or 64 times the input's size, if larger) of object streams
 * and page content; past that it fails with
 *   "the input decodes to more than <n> bytes, the limit for one call: <path>" or
 *   "page <n>: content decodes to more than <n> bytes, the limit for one call". */

/* Returns the number of pages of the PDF at in_path, or -1 with the reason in
 * quirefold_last_error(), one of:
 *   "NULL path argument", "cannot open <path>", "empty input file: <path>",
 *   "read error on <path>", "input file too large: <path>" (2 GiB or more),
 *   "no PDF objects found \u2014 not a PDF: <path>", "encrypted PDFs are not supported: <path>",
 *   "catalog (obj <n>) has no /Pages reference",
 *   "page tree uses inline page dictionaries in /Kids \u2014 pages must be indirect objects",
 *   "could not resolve the page tree (obj <n> is not a /Pages or /Page object, or tree is
 *   broken)", "document has no pages", "out of memory".
 * (\u2014 is the em dash, UTF-8 bytes E2 80 94.) */
QUIREFOLD_API int quirefold_page_count(const char* in_path);

#ifdef __cplusplus
}
#endif

#endif
