// Icons: the group icons of a PE's resources, assembled into .ico bytes, or the freedesktop
// theme icon of a file's MIME type. An HICON is the address of an icon object kept in a table,
// so that DestroyIcon and GetIconData can tell a live handle from anything else.
#include "platform/include/win/shellapi.h"

#include "platform/common/ByteReader.h"
#include "platform/common/FileSource.h"
#include "platform/shell32/FileType.h"
#include "platform/common/PeImage.h"
#include "platform/common/WinStr.h"
#include "platform/include/win/winbase.h"

#include <QMimeDatabase>
#include <QString>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace {

constexpr UINT CountIcons = 0xFFFFFFFF;
constexpr size_t GroupHeaderSize = 6;
constexpr size_t GroupEntrySize = 14; // GRPICONDIRENTRY: as an ICONDIRENTRY with a WORD id for the offset
constexpr size_t FileEntrySize = 16;  // ICONDIRENTRY
constexpr size_t MaxGroupSize = GroupHeaderSize + GroupEntrySize * 0xFFFF;
// Real icons hold a handful of sizes; each image costs a resource lookup, so a group that lists
// thousands would be a way to make us read the directory over and over.
constexpr size_t MaxImagesPerIcon = 64;
// Bounds for one image and for a whole icon: far above any real icon (256x256 PNG or DIB), far
// below what a hostile size field could ask for.
constexpr size_t MaxImageSize = 4 * 1024 * 1024;
constexpr size_t MaxIconSize = 16 * 1024 * 1024;

// What Windows gives for a file that is neither an executable nor an icon file.
HICON NotAnIconFile() { return reinterpret_cast<HICON>(static_cast<uintptr_t>(1)); }

struct IconObject {
    std::vector<uint8_t> Bytes;
    std::u16string ThemeName;
};

class IconTable {
public:
    HICON Add(IconObject icon)
    {
        auto object = std::make_unique<IconObject>(std::move(icon));
        const auto handle = reinterpret_cast<HICON>(object.get());
        const std::lock_guard lock(FMutex);
        FIcons.emplace(handle, std::move(object));
        return handle;
    }
    bool Remove(HICON handle)
    {
        const std::lock_guard lock(FMutex);
        return FIcons.erase(handle) != 0;
    }
    // The object stays valid until its handle is destroyed.
    const IconObject* Find(HICON handle)
    {
        const std::lock_guard lock(FMutex);
        const auto it = FIcons.find(handle);
        return it == FIcons.end() ? nullptr : it->second.get();
    }

private:
    std::mutex FMutex;
    std::map<HICON, std::unique_ptr<IconObject>> FIcons;
};

IconTable& Icons()
{
    static IconTable table;
    return table;
}

pe::ResourceKey KeyOf(const pe::ResourceEntryName& name)
{
    return name.IsId ? pe::ResourceKey::Id(name.Id) : pe::ResourceKey::Name(name.Name);
}

void PutU16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>((v >> shift) & 0xFF));
}

// An .ico file from a RT_GROUP_ICON directory and the RT_ICON images it names. Images that are
// missing are left out; an icon with no image is no icon.
std::optional<std::vector<uint8_t>> AssembleIcon(const pe::PeImage& image, const pe::ResourceKey& group)
{
    const auto groupData = image.FindResource(pe::ResourceKey::Id(pe::RtGroupIcon), group, pe::ResourceKey::First());
    const auto directory = groupData ? image.ReadResource(*groupData, MaxGroupSize) : std::nullopt;
    if (!directory)
        return std::nullopt;
    const ByteReader dir(*directory);
    if (dir.size() < GroupHeaderSize || dir.U16(0) != 0 || dir.U16(2) != 1)
        return std::nullopt;
    const size_t count =
        std::min<size_t>({*dir.U16(4), (dir.size() - GroupHeaderSize) / GroupEntrySize, MaxImagesPerIcon});

    struct Picture {
        std::span<const uint8_t> Entry; // the first 12 bytes of the directory entry
        std::vector<uint8_t> Bytes;
    };
    std::vector<Picture> pictures;
    size_t total = 0;
    for (size_t i = 0; i < count; ++i) {
        const size_t at = GroupHeaderSize + i * GroupEntrySize;
        const uint16_t id = *dir.U16(at + 12);
        const auto data = image.FindResource(pe::ResourceKey::Id(pe::RtIcon), pe::ResourceKey::Id(id),
                                             pe::ResourceKey::First());
        auto bytes = data ? image.ReadResource(*data, MaxImageSize) : std::nullopt;
        if (!bytes || bytes->empty() || bytes->size() > MaxIconSize - total)
            continue;
        total += bytes->size();
        pictures.push_back({*dir.Bytes(at, 12), std::move(*bytes)});
    }
    if (pictures.empty())
        return std::nullopt;

    std::vector<uint8_t> ico;
    ico.reserve(GroupHeaderSize + pictures.size() * FileEntrySize + total);
    PutU16(ico, 0);
    PutU16(ico, 1);
    PutU16(ico, static_cast<uint16_t>(pictures.size()));
    size_t offset = GroupHeaderSize + pictures.size() * FileEntrySize;
    for (const Picture& p : pictures) {
        ico.insert(ico.end(), p.Entry.begin(), p.Entry.begin() + 8); // size, colours, planes, bit count
        PutU32(ico, static_cast<uint32_t>(p.Bytes.size()));
        PutU32(ico, static_cast<uint32_t>(offset));
        offset += p.Bytes.size();
    }
    for (const Picture& p : pictures)
        ico.insert(ico.end(), p.Bytes.begin(), p.Bytes.end());
    return ico;
}

} // namespace

extern "C" {

HICON WINAPI ExtractIconW(HINSTANCE hInst, LPCWSTR pszExeFileName, UINT nIconIndex)
{
    if (!pszExeFileName)
        return nullptr;
    const auto file = OwnedFile::Open(winstr::ToFileSystem(winstr::View(pszExeFileName)));
    if (!file)
        return nullptr;
    if (!pe::ProbeExecutable(file->source()))
        return nIconIndex == CountIcons ? nullptr : NotAnIconFile();
    const auto image = pe::PeImage::Load(file->source());
    const auto groups = image ? image->ResourceNames(pe::ResourceKey::Id(pe::RtGroupIcon)) : std::nullopt;
    if (!groups)
        return nullptr;
    if (nIconIndex == CountIcons)
        return reinterpret_cast<HICON>(static_cast<uintptr_t>(groups->size()));

    // A negative index names the group by its resource id.
    const auto index = static_cast<int32_t>(nIconIndex);
    std::optional<pe::ResourceKey> key;
    if (index >= 0 && static_cast<size_t>(index) < groups->size())
        key = KeyOf((*groups)[static_cast<size_t>(index)]);
    else if (index < 0 && index >= -0xFFFF)
        key = pe::ResourceKey::Id(static_cast<uint16_t>(-index));
    if (!key)
        return nullptr;
    auto bytes = AssembleIcon(*image, *key);
    if (!bytes)
        return nullptr;
    return Icons().Add({std::move(*bytes), {}});
}

HICON WINAPI ExtractAssociatedIconW(HINSTANCE hInst, LPWSTR pszIconPath, WORD* piIcon)
{
    if (!pszIconPath)
        return nullptr;
    const std::u16string_view path = winstr::View(pszIconPath);
    if (path.empty() || KindOfFile(winstr::ToFileSystem(path)) == FileKind::Missing)
        return nullptr;
    // The file's own icon when it has one.
    const HICON own = ExtractIconW(hInst, pszIconPath, piIcon ? *piIcon : 0);
    if (own && own != NotAnIconFile())
        return own;
    // Otherwise the theme icon of its type.
    const QMimeType type = shell32::FileTypeOf(path);
    QString theme = type.iconName();
    if (theme.isEmpty())
        theme = type.genericIconName();
    if (theme.isEmpty())
        theme = QStringLiteral("unknown");
    return Icons().Add({{}, std::u16string(reinterpret_cast<const char16_t*>(theme.utf16()),
                                           static_cast<size_t>(theme.size()))});
}

BOOL WINAPI DestroyIcon(HICON hIcon)
{
    if (!Icons().Remove(hIcon)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI GetIconData(HICON hIcon, ICONDATA* pData)
{
    const IconObject* icon = Icons().Find(hIcon);
    if (!icon || !pData) {
        SetLastError(icon ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    pData->cbIcon = static_cast<DWORD>(icon->Bytes.size());
    pData->pbIcon = icon->Bytes.empty() ? nullptr : icon->Bytes.data();
    pData->pszThemeName = icon->ThemeName.empty() ? nullptr : icon->ThemeName.c_str();
    return TRUE;
}

} // extern "C"
