// The resources of 16-bit new executables (NE: Windows 3.x, OS/2 1.x), read by range like the PE
// reader: the resource table that follows the NE header, and the bytes of one resource.
#pragma once

#include "platform/common/FileSource.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace ne {

// The bytes of the first resource of an integer type and id, when it is no larger than maxSize;
// nullopt when the file is no NE image, has no such resource, or its resource table or the
// resource lies (partly) outside the file.
[[nodiscard]] std::optional<std::vector<uint8_t>> ReadResource(const FileSource& file, uint16_t type, uint16_t id,
                                                                size_t maxSize);

} // namespace ne
