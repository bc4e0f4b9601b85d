// libFuzzer target for everything that reads executables: the PE reader (headers, sections,
// RVA mapping, resources, certificate table, Authenticode ranges), the version stand-in (the
// file's resource and the raw input as a block), icon extraction and the executable kinds.
// Seeds: tests/fixtures/pe.
#include "platform/common/FileSource.h"
#include "platform/common/PeImage.h"
#include "platform/include/win/shellapi.h"
#include "platform/include/win/winbase.h"
#include "platform/include/win/winver.h"
#include "platform/shell32/ExeType.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char16_t* const Queries[] = {
    u"\\",
    u"\\VarFileInfo\\Translation",
    u"\\StringFileInfo\\040904B0\\CompanyName",
    u"\\StringFileInfo\\040904E4\\FileVersion",
    u"\\StringFileInfo",
    u"\\VarFileInfo",
};

// Every answer is touched as the program reads it, so that a pointer outside the block shows
// under ASan: a text up to its NUL but never past the block (its declared length may count
// bytes, or fall short), any other value over its length but never past the block either: a node
// the query takes for binary (Translation) may be typed as text, its length then in characters.
void QueryAll(const void* block)
{
    const auto* start = static_cast<const uint8_t*>(block);
    const uint8_t* end = start + (start[0] | (start[1] << 8));
    for (const char16_t* query : Queries) {
        void* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(block, query, &value, &length))
            continue;
        volatile uint8_t sink = 0;
        const auto* bytes = static_cast<const uint8_t*>(value);
        if (bytes < start || bytes > end)
            __builtin_trap();
        const bool text = std::u16string_view(query).find(u"StringFileInfo\\") != std::u16string_view::npos;
        if (text) {
            for (const auto* s = reinterpret_cast<const char16_t*>(bytes);
                 reinterpret_cast<const uint8_t*>(s + 1) <= end && *s; ++s)
                sink = sink + static_cast<uint8_t>(*s);
            continue;
        }
        for (size_t i = 0; i < std::min<size_t>(length, end - bytes); ++i)
            sink = sink + bytes[i];
    }
}

void ExercisePe(const FileSource& source)
{
    (void)pe::ProbeExecutable(source);
    const auto image = pe::PeImage::Load(source);
    if (!image)
        return;
    for (const pe::Section& s : image->Sections())
        (void)image->RvaToOffset(s.VirtualAddress, s.VirtualSize);
    (void)image->Certificates();
    (void)image->AuthenticodeRanges();
    if (const auto names = image->ResourceNames(pe::ResourceKey::Id(pe::RtGroupIcon)))
        for (const pe::ResourceEntryName& n : *names)
            (void)image->FindResource(pe::ResourceKey::Id(pe::RtGroupIcon),
                                      n.IsId ? pe::ResourceKey::Id(n.Id) : pe::ResourceKey::Name(n.Name),
                                      pe::ResourceKey::First());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int fd = memfd_create("fuzz-pe", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) {
        close(fd);
        return 0;
    }
    if (const auto source = FileSource::FromDescriptor(fd))
        ExercisePe(*source);

    // The stand-ins by path, as the program calls them.
    const std::string name = "/proc/self/fd/" + std::to_string(fd);
    const std::u16string path(name.begin(), name.end());
    DWORD handle = 0;
    const DWORD blockSize = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (blockSize != 0) {
        std::vector<uint32_t> block((blockSize + 3) / 4, 0);
        if (GetFileVersionInfoW(path.c_str(), 0, blockSize, block.data()))
            QueryAll(block.data());
    }
    (void)SHGetFileInfoW(path.c_str(), 0, nullptr, 0, SHGFI_EXETYPE);
    DWORD type = 0;
    (void)GetBinaryTypeW(path.c_str(), &type);
    const auto groups = reinterpret_cast<uintptr_t>(ExtractIconW(nullptr, path.c_str(), 0xFFFFFFFF));
    for (uintptr_t i = 0; i < groups && i < 4; ++i) {
        if (const HICON icon = ExtractIconW(nullptr, path.c_str(), static_cast<UINT>(i))) {
            ICONDATA icondata{};
            if (GetIconData(icon, &icondata)) {
                volatile uint8_t sink = 0;
                for (DWORD k = 0; k < icondata.cbIcon; ++k)
                    sink = sink + icondata.pbIcon[k];
            }
            DestroyIcon(icon);
        }
    }
    close(fd);

    // The raw input as a version block, bounded by its own length as GetFileVersionInfoW leaves it.
    if (size >= 2) {
        const size_t claimed = std::min<size_t>(data[0] | (data[1] << 8), size) & ~size_t{1};
        std::vector<uint32_t> block((std::max<size_t>(claimed, 2) + 3) / 4, 0);
        std::memcpy(block.data(), data, std::min(claimed, block.size() * 4));
        auto* bytes = reinterpret_cast<uint8_t*>(block.data());
        bytes[0] = static_cast<uint8_t>(claimed & 0xFF);
        bytes[1] = static_cast<uint8_t>(claimed >> 8);
        QueryAll(block.data());
    }
    return 0;
}
