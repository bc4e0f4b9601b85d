// imagehlp: the attribute-certificate table of a portable executable, read through the
// caller's file handle with pread so that the handle's file position is left alone.
#include "platform/include/win/imagehlp.h"

#include "platform/common/FileSource.h"
#include "platform/common/PeImage.h"
#include "platform/include/win/winbase.h"
#include "platform/kernel32/Handles.h"

#include <optional>
#include <vector>

namespace {

struct Table {
    pe::PeImage Image;
    std::vector<pe::CertificateEntry> Entries;
};

// The image's certificate entries, or nullopt with the last error set.
std::optional<Table> ReadTable(HANDLE handle)
{
    const int fd = kernel32::DescriptorFromHandle(handle);
    const auto file = fd >= 0 ? FileSource::FromDescriptor(fd) : std::nullopt;
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return std::nullopt;
    }
    pe::Error error = pe::Error::None;
    auto image = pe::PeImage::Load(*file, &error);
    if (!image) {
        SetLastError(error == pe::Error::Unreadable ? ERROR_INVALID_DATA : ERROR_BAD_EXE_FORMAT);
        return std::nullopt;
    }
    auto entries = image->Certificates();
    if (!entries) {
        SetLastError(ERROR_INVALID_DATA);
        return std::nullopt;
    }
    return Table{std::move(*image), std::move(*entries)};
}

} // namespace

WINAPI_EXPORT BOOL WINAPI ImageEnumerateCertificates(HANDLE FileHandle, WORD TypeFilter, PDWORD CertificateCount,
                                                     PDWORD Indices, DWORD IndexCount)
{
    if (!CertificateCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto table = ReadTable(FileHandle);
    if (!table)
        return FALSE;
    DWORD count = 0;
    for (size_t i = 0; i < table->Entries.size(); ++i) {
        if (TypeFilter != CERT_SECTION_TYPE_ANY && table->Entries[i].Type != TypeFilter)
            continue;
        if (Indices && count < IndexCount)
            Indices[count] = static_cast<DWORD>(i);
        ++count;
    }
    *CertificateCount = count;
    return TRUE;
}

WINAPI_EXPORT BOOL WINAPI ImageGetCertificateData(HANDLE FileHandle, DWORD CertificateIndex,
                                                  LPWIN_CERTIFICATE Certificate, PDWORD RequiredLength)
{
    if (!RequiredLength) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto table = ReadTable(FileHandle);
    if (!table)
        return FALSE;
    if (CertificateIndex >= table->Entries.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const pe::CertificateEntry& entry = table->Entries[CertificateIndex];
    if (!Certificate || *RequiredLength < entry.Length) {
        *RequiredLength = entry.Length;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    // The whole entry as the file holds it, its 8-byte header included.
    if (!table->Image.file().ReadAt(entry.Offset, Certificate, entry.Length)) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    *RequiredLength = entry.Length;
    return TRUE;
}
