// Loading a PDF file into a doc: file reading, trailers, object discovery, object streams,
// catalog and page tree.
#pragma once

#include <cstdint>
#include <vector>

#include "doc.h"

namespace qf {

// 0 when loaded (at least one page), -1 after setting a message. `d` is reset first. With
// `with_reason` the system's reason follows "cannot open <path>" after ": ".
int doc_load(const char* path, doc& d, bool with_reason = false);

// The same from bytes already in memory; `name` stands for the path in messages.
int doc_load_bytes(std::vector<std::uint8_t> bytes_in, const char* name, doc& d);

// Stages, exposed for tests. Each works on d.data / d.len and d.objects.
void read_xref_section(doc& d);   // trailer_root, encrypted
void scan_objects(doc& d);        // headers, stream measuring, removal of false entries
void consolidate_objects(doc& d); // one entry per number; sets highest; rebuilds index
int resolve_catalog_and_pages(doc& d, const char* name); // 0 or -1 with a message

// 0 when a file of `size` bytes can be loaded; else -1 with "empty input file: %s" (below 1,
// also a failed size query as -1) or "input file too large: %s" (positions are 32-bit).
int check_input_size(std::int64_t size, const char* name);

// The three steps of scan_objects, in order, for tests.
void scan_headers(doc& d);         // every "N G obj" with the shape of its body
void measure_streams(doc& d);      // data_start..data_end and endobj of every stream entry
void remove_false_entries(doc& d); // streams without endobj, headers inside stream data
// The same removal without working memory (quadratic); used when that memory is lacking.
void remove_false_entries_linear(doc& d);

} // namespace qf
