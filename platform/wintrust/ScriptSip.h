// The PowerShell subject interface package: scripts, modules, data files and their XML kin
// (.ps1 .psm1 .psd1 .ps1xml .psc1 .cdxml). The signature is a block of comment lines at the end,
// Base64 between "SIG # Begin signature block" and "SIG # End signature block" ("# ..." lines, or
// "<!-- ... -->" in the XML files). The digest covers the text before the line break that opens
// the block, as UTF-16LE: a file that begins with the UTF-16LE byte-order mark is hashed as it
// is, any other is read as UTF-8 (a byte that is not gives U+FFFD) and hashed converted.
//
// Text after the block is not covered by the signature, so a file that carries any is not what
// was signed.
#pragma once

#include "platform/wintrust/Subject.h"

#include <string_view>

namespace wintrust {

[[nodiscard]] bool IsScriptExtension(std::u16string_view extension);
[[nodiscard]] std::unique_ptr<Subject> OpenScriptSubject(const FileSource& file, std::u16string_view extension);

} // namespace wintrust
