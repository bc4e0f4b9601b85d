// version: the VS_VERSIONINFO block of an executable's RT_VERSION resource, and queries into
// that block. As Windows' loader: resource id 1 (VS_VERSION_INFO) only, in the language-neutral
// version first, then in the user's language, then another of its primary language, then the
// first. A PE's block is copied as the file holds it, as is the block an ELF executable carries in
// its section ".tessera.version" (Tessera's own programs); the 8-bit block of a 16-bit NE
// executable is widened to the same form.
//
// A block is a tree of nodes: WORD wLength (the node, children included), WORD wValueLength
// (bytes for binary values, UTF-16 units for text values), WORD wType (1 = text), the
// NUL-terminated UTF-16 key, padding to 32 bits, the value, padding to 32 bits, the children.
// Alignment is counted from the start of the block. VerQueryValueW has only the block's
// pointer, so the root's wLength is the bound of every read; GetFileVersionInfoW makes sure that
// it never claims more than was copied.
#include "platform/include/win/winver.h"

#include "platform/common/ByteReader.h"
#include "platform/common/CodePage.h"
#include "platform/common/ElfImage.h"
#include "platform/common/FileSource.h"
#include "platform/common/NeImage.h"
#include "platform/common/PeImage.h"
#include "platform/common/WinStr.h"
#include "platform/include/win/winbase.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr size_t NodeHeaderSize = 6;
constexpr size_t MaxBlockSize = 0xFFFF; // wLength is 16 bits
constexpr uint16_t TextValue = 1;
constexpr char16_t PathSeparator = u'\\';
constexpr uint16_t VersionInfoId = 1; // VS_VERSION_INFO

constexpr size_t Align4(size_t n) { return (n + 3) & ~size_t{3}; }

// ---- 16-bit blocks ----
// A node of a 16-bit block: WORD cbNode, WORD cbValue, the 8-bit key and its NUL, padding to 32
// bits (from the block's start), the value, padding, the children. There is no type: the values
// of the strings' tables are text, all others binary.

constexpr size_t NarrowHeaderSize = 4;
constexpr int MaxNarrowDepth = 4; // root, StringFileInfo, a table, its strings

void PutU16(std::vector<uint8_t>& out, size_t at, uint16_t value)
{
    out[at] = static_cast<uint8_t>(value & 0xFF);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

void AppendWide(std::vector<uint8_t>& out, std::u16string_view text)
{
    for (const char16_t c : text) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
}

// The table key's code page ("040904E4": 0x04E4, 1252), for its strings.
std::optional<uint16_t> TableCodePage(std::string_view key)
{
    if (key.size() != 8)
        return std::nullopt;
    uint32_t value = 0;
    for (const char c : key.substr(4)) {
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    return static_cast<uint16_t>(value);
}

// Appends the widened form of the 16-bit node at start (which must end by parentEnd) to out,
// 32-bit aligned; false when the node is malformed. strings: the node is a string of a table,
// whose text is in codePage.
bool WidenNode(const ByteReader& block, size_t start, size_t parentEnd, int depth, bool strings,
               std::optional<uint16_t> codePage, std::vector<uint8_t>& out)
{
    const auto length = block.U16(start);
    if (depth > MaxNarrowDepth || !length || *length < NarrowHeaderSize || start > parentEnd ||
        *length > parentEnd - start)
        return false;
    const size_t end = start + *length;
    const uint16_t valueLength = *block.U16(start + 2);
    size_t keyEnd = start + NarrowHeaderSize;
    while (keyEnd < end && *block.U8(keyEnd) != 0)
        ++keyEnd;
    if (keyEnd == end)
        return false;
    const auto keyBytes = *block.Sub(start + NarrowHeaderSize, keyEnd - start - NarrowHeaderSize);
    const std::string_view key(reinterpret_cast<const char*>(keyBytes.data()), keyBytes.size());
    const size_t valueStart = std::min(Align4(keyEnd + 1), end);
    const size_t valueBytes = std::min<size_t>(valueLength, end - valueStart);
    const auto value = *block.Sub(valueStart, valueBytes);

    out.resize(Align4(out.size()));
    const size_t at = out.size();
    out.resize(at + NodeHeaderSize);
    AppendWide(out, codepage::ToUtf16(keyBytes.span(), 1252));
    out.resize(Align4(out.size()));
    uint16_t wideValueLength = 0;
    if (strings) {
        const std::u16string text = codepage::ToUtf16(value.span(), codePage.value_or(1252));
        AppendWide(out, text);
        wideValueLength = static_cast<uint16_t>(std::min<size_t>(text.size() + 1, 0xFFFF));
    } else {
        out.insert(out.end(), value.data(), value.data() + value.size());
        wideValueLength = static_cast<uint16_t>(value.size());
    }
    PutU16(out, at + 2, wideValueLength);
    PutU16(out, at + 4, strings ? TextValue : 0);

    const bool stringTables = depth == 1 && key == "StringFileInfo";
    const bool table = depth == 2 && strings;
    size_t pos = Align4(valueStart + valueBytes);
    while (pos < end && end - pos >= NarrowHeaderSize && *block.U16(pos) != 0) {
        const size_t childLength = *block.U16(pos);
        if (!WidenNode(block, pos, end, depth + 1, stringTables || table, table ? TableCodePage(key) : codePage, out))
            return false;
        pos = Align4(pos + childLength);
    }
    if (out.size() - at > MaxBlockSize)
        return false;
    PutU16(out, at, static_cast<uint16_t>(out.size() - at));
    return true;
}

// A 16-bit executable's version block in the form of a 32-bit one.
std::optional<std::vector<uint8_t>> WidenBlock(const std::vector<uint8_t>& narrow)
{
    std::vector<uint8_t> wide;
    const ByteReader block(narrow);
    if (!WidenNode(block, 0, narrow.size(), 0, false, std::nullopt, wide))
        return std::nullopt;
    return wide;
}

DWORD ErrorFromOpen(int error)
{
    switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    default: return ERROR_ACCESS_DENIED; // permissions, folders, devices
    }
}

// The version block of a file, bounded by its own wLength; nullopt with the last error set.
std::optional<std::vector<uint8_t>> LoadBlock(LPCWSTR path)
{
    if (!path || !*path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    errno = 0;
    const auto file = OwnedFile::Open(winstr::ToFileSystem(winstr::View(path)));
    if (!file) {
        SetLastError(ErrorFromOpen(errno));
        return std::nullopt;
    }
    std::optional<std::vector<uint8_t>> block;
    if (const auto image = pe::PeImage::Load(file->source())) {
        const auto resource =
            image->FindResource(pe::ResourceKey::Id(pe::RtVersion), pe::ResourceKey::Id(VersionInfoId),
                                pe::ResourceKey::LanguageFor(GetUserDefaultUILanguage()));
        if (!resource) {
            SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
            return std::nullopt;
        }
        pe::ResourceData head = *resource;
        head.Size = std::min<uint32_t>(head.Size, MaxBlockSize);
        block = image->ReadResource(head, MaxBlockSize);
    } else if (elf::IsElf(file->source())) {
        block = elf::ReadSection(file->source(), elf::VersionSection, MaxBlockSize);
        if (!block) {
            SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
            return std::nullopt;
        }
    } else if (const auto kind = pe::ProbeExecutable(file->source()); kind && kind->Format == pe::ExecutableFormat::Ne) {
        const auto narrow = ne::ReadResource(file->source(), pe::RtVersion, VersionInfoId, MaxBlockSize);
        if (!narrow) {
            SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
            return std::nullopt;
        }
        block = WidenBlock(*narrow);
    } else {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return std::nullopt;
    }
    const auto length = block ? ByteReader(*block).U16(0) : std::nullopt;
    if (!length || *length < NodeHeaderSize) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return std::nullopt;
    }
    if (*length <= block->size())
        block->resize(*length);
    else
        block->resize(block->size() & ~size_t{1}); // the root is cut to the data that is there
    const auto cut = static_cast<uint16_t>(block->size());
    (*block)[0] = static_cast<uint8_t>(cut & 0xFF);
    (*block)[1] = static_cast<uint8_t>(cut >> 8);
    return block;
}

struct Node {
    size_t Start = 0;
    size_t End = 0;
    size_t KeyStart = 0;
    size_t KeyUnits = 0;
    uint16_t ValueLength = 0;
    uint16_t Type = 0;
    size_t ValueStart = 0;
    size_t ValueBytes = 0; // what is really there, never past End
    size_t ChildrenStart = 0;
};

// A node at start that must end by parentEnd; nullopt when it is malformed.
std::optional<Node> ParseNode(const ByteReader& block, size_t start, size_t parentEnd)
{
    const auto length = block.U16(start);
    if (!length || *length < NodeHeaderSize || start > parentEnd || *length > parentEnd - start)
        return std::nullopt;
    Node node;
    node.Start = start;
    node.End = start + *length;
    node.ValueLength = *block.U16(start + 2);
    node.Type = *block.U16(start + 4);
    node.KeyStart = start + NodeHeaderSize;
    size_t pos = node.KeyStart;
    for (;;) {
        if (node.End - pos < 2)
            return std::nullopt; // the key is not terminated inside the node
        if (*block.U16(pos) == 0)
            break;
        pos += 2;
    }
    node.KeyUnits = (pos - node.KeyStart) / 2;
    const size_t afterKey = pos + 2;
    node.ValueStart = std::min(Align4(afterKey), node.End);
    const size_t available = node.End - node.ValueStart;
    const size_t declared = node.Type == TextValue ? size_t{node.ValueLength} * 2 : node.ValueLength;
    if (declared > available) {
        // Some linkers count text values in bytes; a text is cut to its node, a binary value
        // that does not fit is an error.
        if (node.Type != TextValue)
            return std::nullopt;
        node.ValueBytes = available & ~size_t{1};
    } else {
        node.ValueBytes = declared;
    }
    node.ChildrenStart = std::min(Align4(node.ValueStart + node.ValueBytes), node.End);
    return node;
}

bool KeyEquals(const ByteReader& block, const Node& node, std::u16string_view wanted)
{
    if (node.KeyUnits != wanted.size())
        return false;
    std::u16string key(node.KeyUnits, u'\0');
    for (size_t i = 0; i < node.KeyUnits; ++i)
        key[i] = static_cast<char16_t>(*block.U16(node.KeyStart + i * 2));
    return winstr::EqualsIgnoreAsciiCase(key, wanted);
}

// The child of parent whose key is wanted; nullopt when there is none or a child is malformed.
std::optional<Node> FindChild(const ByteReader& block, const Node& parent, std::u16string_view wanted)
{
    size_t pos = parent.ChildrenStart;
    // Every child is at least a header long, so each step moves forward.
    while (pos < parent.End && parent.End - pos >= NodeHeaderSize) {
        if (*block.U16(pos) == 0)
            break; // zero padding after the last child
        const auto child = ParseNode(block, pos, parent.End);
        if (!child)
            return std::nullopt;
        if (KeyEquals(block, *child, wanted))
            return child;
        pos = Align4(child->End);
    }
    return std::nullopt;
}

std::vector<std::u16string_view> SplitPath(std::u16string_view path)
{
    std::vector<std::u16string_view> parts;
    size_t pos = 0;
    while (pos <= path.size()) {
        const size_t next = std::min(path.find(PathSeparator, pos), path.size());
        if (next > pos)
            parts.push_back(path.substr(pos, next - pos));
        pos = next + 1;
    }
    return parts;
}

} // namespace

extern "C" {

DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR lptstrFilename, LPDWORD lpdwHandle)
{
    if (lpdwHandle)
        *lpdwHandle = 0;
    const auto block = LoadBlock(lptstrFilename);
    if (!block)
        return 0;
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(block->size());
}

BOOL WINAPI GetFileVersionInfoW(LPCWSTR lptstrFilename, DWORD dwHandle, DWORD dwLen, LPVOID lpData)
{
    if (!lpData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto block = LoadBlock(lptstrFilename);
    if (!block)
        return FALSE;
    if (dwLen < NodeHeaderSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    // As on Windows a short buffer takes the start of the block; its root then claims no more
    // than the buffer holds, so that queries stay inside it.
    const size_t copied = std::min<size_t>(dwLen, block->size()) & ~size_t{1};
    auto* out = static_cast<uint8_t*>(lpData);
    std::memcpy(out, block->data(), copied);
    out[0] = static_cast<uint8_t>(copied & 0xFF);
    out[1] = static_cast<uint8_t>(copied >> 8);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI VerQueryValueW(LPCVOID pBlock, LPCWSTR lpSubBlock, LPVOID* lplpBuffer, UINT* puLen)
{
    if (!pBlock || !lplpBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lplpBuffer = nullptr;
    if (puLen)
        *puLen = 0;
    // Values are handed out as WORD, DWORD and structure pointers: the block must be aligned.
    if (reinterpret_cast<uintptr_t>(pBlock) % 4 != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto* bytes = static_cast<const uint8_t*>(pBlock);
    const size_t rootLength = static_cast<size_t>(bytes[0]) | (static_cast<size_t>(bytes[1]) << 8);
    const ByteReader block(bytes, rootLength);
    auto node = ParseNode(block, 0, rootLength);
    if (!node) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    const auto path = SplitPath(lpSubBlock ? winstr::View(lpSubBlock) : std::u16string_view());
    for (const std::u16string_view part : path) {
        node = FindChild(block, *node, part);
        if (!node) {
            SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
            return FALSE;
        }
    }

    if (path.empty()) {
        // The root's value is the fixed file information.
        if (node->ValueBytes < sizeof(VS_FIXEDFILEINFO) || block.U32(node->ValueStart) != VS_FFI_SIGNATURE) {
            SetLastError(ERROR_INVALID_DATA);
            return FALSE;
        }
        *lplpBuffer = const_cast<uint8_t*>(bytes + node->ValueStart);
        if (puLen)
            *puLen = static_cast<UINT>(node->ValueBytes);
        return TRUE;
    }
    if (node->Type == TextValue && node->ValueBytes == 0) {
        // An empty text: the key's terminating NUL reads as "".
        *lplpBuffer = const_cast<uint8_t*>(bytes + node->KeyStart + node->KeyUnits * 2);
        return TRUE;
    }
    // The length as the node declares it: characters for text, bytes for binary values, whatever
    // the value holds. A caller reads a text up to its NUL, and never past the block it has.
    *lplpBuffer = const_cast<uint8_t*>(bytes + node->ValueStart);
    if (puLen)
        *puLen = node->ValueLength;
    return TRUE;
}

} // extern "C"
