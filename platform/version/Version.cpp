// version: the VS_VERSIONINFO block of a PE's RT_VERSION resource (type 16, the first name, the
// first language), copied as the file holds it, and queries into that block.
//
// A block is a tree of nodes: WORD wLength (the node, children included), WORD wValueLength
// (bytes for binary values, UTF-16 units for text values), WORD wType (1 = text), the
// NUL-terminated UTF-16 key, padding to 32 bits, the value, padding to 32 bits, the children.
// Alignment is counted from the start of the block. VerQueryValueW has only the block's
// pointer, so the root's wLength is the bound of every read; GetFileVersionInfoW makes sure that
// it never claims more than was copied.
#include "platform/include/win/winver.h"

#include "platform/common/ByteReader.h"
#include "platform/common/FileSource.h"
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
    const auto file = OwnedFile::Open(winstr::ToUtf8(winstr::View(path)));
    if (!file) {
        SetLastError(ErrorFromOpen(errno));
        return std::nullopt;
    }
    const auto image = pe::PeImage::Load(file->source());
    const auto resource = image ? image->FindResource(pe::ResourceKey::Id(pe::RtVersion), pe::ResourceKey::First(),
                                                      pe::ResourceKey::First())
                                : std::nullopt;
    if (!resource) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return std::nullopt;
    }
    pe::ResourceData head = *resource;
    if (head.Size > MaxBlockSize)
        head.Size = MaxBlockSize;
    auto block = image->ReadResource(head, MaxBlockSize);
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

constexpr size_t Align4(size_t n) { return (n + 3) & ~size_t{3}; }

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
    if (node->Type == TextValue) {
        if (node->ValueBytes == 0) {
            // An empty text: the key's terminating NUL reads as "".
            *lplpBuffer = const_cast<uint8_t*>(bytes + node->KeyStart + node->KeyUnits * 2);
            return TRUE;
        }
        // The text must end inside its node, so that the caller's read of it stays in the block.
        size_t units = 0;
        size_t pos = node->ValueStart;
        for (;; pos += 2, ++units) {
            if (node->End - pos < 2) {
                SetLastError(ERROR_INVALID_DATA);
                return FALSE;
            }
            if (*block.U16(pos) == 0)
                break;
        }
        *lplpBuffer = const_cast<uint8_t*>(bytes + node->ValueStart);
        if (puLen)
            *puLen = static_cast<UINT>(std::min<size_t>(node->ValueBytes / 2, units + 1));
        return TRUE;
    }
    *lplpBuffer = const_cast<uint8_t*>(bytes + node->ValueStart);
    if (puLen)
        *puLen = static_cast<UINT>(node->ValueBytes);
    return TRUE;
}

} // extern "C"
