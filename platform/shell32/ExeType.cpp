#include "platform/shell32/ExeType.h"

#include "platform/common/FileSource.h"
#include "platform/common/WinStr.h"

#include <string>

namespace shell32 {

namespace {

constexpr WORD PeWord = 0x4550; // "PE"

std::u16string LowerExtension(std::u16string_view path)
{
    const size_t slash = path.find_last_of(u'/');
    const std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of(u'.');
    std::u16string ext(dot == std::u16string_view::npos ? std::u16string_view() : name.substr(dot));
    for (char16_t& c : ext)
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    return ext;
}

} // namespace

DWORD ExeTypeOf(const std::optional<pe::ExecutableInfo>& info, std::u16string_view path)
{
    if (!info) {
        // Programs without a header are known by their names only.
        const std::u16string ext = LowerExtension(path);
        if (ext == u".com")
            return MAKELONG(pe::DosSignature, 0);
        if (ext == u".bat" || ext == u".cmd")
            return MAKELONG(PeWord, 0);
        return 0;
    }
    switch (info->Format) {
    case pe::ExecutableFormat::Dos:
        return MAKELONG(pe::DosSignature, 0);
    case pe::ExecutableFormat::Ne:
        if (info->IsLibrary())
            return 0;
        if (info->NeTargetOs == pe::NeTargetWindows || info->NeTargetOs == pe::NeTargetWindows386)
            return MAKELONG(pe::NeSignature, info->NeExpectedWindowsVersion);
        return 0;
    case pe::ExecutableFormat::Pe:
        if (info->IsLibrary())
            return 0;
        switch (info->Subsystem) {
        case pe::SubsystemWindowsGui:
        case pe::SubsystemWindowsCeGui:
            return MAKELONG(PeWord, static_cast<WORD>(((info->SubsystemMajorVersion & 0xFF) << 8) |
                                                      (info->SubsystemMinorVersion & 0xFF)));
        case pe::SubsystemWindowsCui:
        case pe::SubsystemOs2Cui:
        case pe::SubsystemPosixCui:
            return MAKELONG(PeWord, 0);
        default:
            return 0;
        }
    case pe::ExecutableFormat::Le:
    case pe::ExecutableFormat::Lx:
    case pe::ExecutableFormat::BadPe:
        return 0;
    }
    return 0;
}

DWORD ExeTypeOfFile(std::u16string_view path)
{
    const auto file = OwnedFile::Open(winstr::ToFileSystem(path));
    if (!file)
        return 0;
    return ExeTypeOf(pe::ProbeExecutable(file->source()), path);
}

} // namespace shell32
