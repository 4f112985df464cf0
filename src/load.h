// Loading a PDF file into a doc: file reading, trailers, object discovery, object streams,
// catalog and page tree.
#pragma once

#include <cstdint>
#include <vector>

#include "doc.h"

namespace qf {

// 0 when loaded (at least one page), -1 after setting a message. `d` is reset first.
int doc_load(const char* path, doc& d);

// The same from bytes already in memory; `name` stands for the path in messages.
int doc_load_bytes(std::vector<std::uint8_t> bytes_in, const char* name, doc& d);

// Stages, exposed for tests. Each works on d.data / d.len and d.objects.
void read_xref_section(doc& d);   // trailer_root, encrypted
void scan_objects(doc& d);        // headers, stream measuring, removal of false entries
void consolidate_objects(doc& d); // one entry per number; sets highest; rebuilds index
int resolve_catalog_and_pages(doc& d, const char* name); // 0 or -1 with a message

} // namespace qf
