// The sections of ELF files (Linux executables and libraries), read by range: the program's own
// version resource travels in one of them, as a PE's travels in its resources.
#pragma once

#include "platform/common/FileSource.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace elf {

// The section Tessera's executables keep their version resource in.
inline constexpr std::string_view VersionSection = ".tessera.version";

// Whether the file begins as an ELF file does.
[[nodiscard]] bool IsElf(const FileSource& file);

// The bytes of the first section of that name, when it is no larger than maxSize; nullopt when
// the file is no little-endian ELF file, has no such section (or one without bytes in the file),
// or its section table or names lie outside the file.
[[nodiscard]] std::optional<std::vector<uint8_t>> ReadSection(const FileSource& file, std::string_view name,
                                                               size_t maxSize);

} // namespace elf
