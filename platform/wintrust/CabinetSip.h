// The cabinet subject interface package. A signed cabinet reserves 20 bytes in its header
// (cbCFHeader 20, no reserve in folders or data blocks) that say where its signature lies: at the
// very end of the file. The digest covers the header without the fields signing changes (the
// reserved field after the signature, the cabinet's index in its set and the reserve sizes and
// signature position), then the optional cabinet names, the folder entries and everything after
// them up to the signature.
#pragma once

#include "platform/wintrust/Subject.h"

namespace wintrust {

// A file that begins with "MSCF".
[[nodiscard]] bool IsCabinet(const FileSource& file);
[[nodiscard]] std::unique_ptr<Subject> OpenCabinetSubject(const FileSource& file);

} // namespace wintrust
