// Objects stored inside object streams (/Type /ObjStm).
#pragma once

#include "doc.h"

namespace qf {

// Decodes every object stream into an arena block and appends one entry per contained object.
void unpack_object_streams(doc& d);

} // namespace qf
