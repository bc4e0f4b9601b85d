// The type of a file by its name and its first bytes, as shared-mime-info knows it.
#pragma once

#include <QMimeType>

#include <string_view>

namespace shell32 {

// inode/directory for a folder; for a file whose bytes cannot be read, the type its name gives.
[[nodiscard]] QMimeType FileTypeOf(std::u16string_view path);

} // namespace shell32
