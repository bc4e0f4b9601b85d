// Property sets of a storage: the FMTID-to-element-name mapping and the read-only
// IPropertyStorage over one section (IPropertySetStorage itself is StorageObject's).
#pragma once

#include "platform/include/win/propidl.h"

#include <string>

namespace ole32 {

// The element name of a property set: U+0005 and a well-known name, or the 26 base-32
// characters of the FMTID. FMTID_UserDefinedProperties lives in the DocumentSummaryInformation
// stream, as its second section.
[[nodiscard]] std::u16string PropertySetName(REFFMTID fmtid);

} // namespace ole32
