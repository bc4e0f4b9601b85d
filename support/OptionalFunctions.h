// Optional platform functions, bound by name once at program start. A slot stays null when its
// library or export is missing; callers test it before use.
#pragma once

#include "platform/include/win/imagehlp.h"

namespace OptionalFunctions {

extern decltype(&::ImageEnumerateCertificates) ImageEnumerateCertificates;
extern decltype(&::ImageGetCertificateData) ImageGetCertificateData;

} // namespace OptionalFunctions
