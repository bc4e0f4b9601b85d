#include "support/OptionalFunctions.h"

#include "platform/include/win/winbase.h"

namespace OptionalFunctions {

namespace {

template <typename F>
F Lookup(LPCWSTR moduleName, LPCSTR functionName)
{
    HMODULE module = GetModuleHandleW(moduleName);
    if (!module)
        module = LoadLibraryW(moduleName);
    return module ? reinterpret_cast<F>(GetProcAddress(module, functionName)) : nullptr;
}

} // namespace

decltype(&::ImageEnumerateCertificates) ImageEnumerateCertificates =
    Lookup<decltype(&::ImageEnumerateCertificates)>(u"IMAGEHLP.DLL", "ImageEnumerateCertificates");
decltype(&::ImageGetCertificateData) ImageGetCertificateData =
    Lookup<decltype(&::ImageGetCertificateData)>(u"IMAGEHLP.DLL", "ImageGetCertificateData");

} // namespace OptionalFunctions
