#include "tests/platform/ole32/Ole32TestSupport.h"

#include "platform/common/WinStr.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <sstream>

namespace ole32test {

std::vector<uint8_t> Pattern(size_t size, unsigned seed)
{
    std::vector<uint8_t> out(size);
    for (size_t i = 0; i < size; ++i)
        out[i] = static_cast<uint8_t>((seed + i * 31 + i / 251) & 0xFF);
    return out;
}

std::u16string U16(const std::string& utf8) { return winstr::FromUtf8(utf8); }
std::string U8(const WCHAR* text) { return text ? winstr::ToUtf8(winstr::View(text)) : std::string("(null)"); }

std::filesystem::path CompoundFixture(const std::string& name) { return testsupport::Fixture("compound/" + name); }

std::u16string WidePath(const std::filesystem::path& path) { return winstr::FromUtf8(path.string()); }

Com<IStorage> OpenRoot(const std::filesystem::path& path, HRESULT* hr)
{
    Com<IStorage> root;
    const std::u16string name = WidePath(path);
    const HRESULT result = StgOpenStorage(name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, root.Put());
    if (hr)
        *hr = result;
    return root;
}

Com<IStream> OpenStreamPath(IStorage* root, const std::string& slashPath, HRESULT* hr)
{
    Com<IStorage> current = Com<IStorage>::Share(root);
    std::stringstream parts(slashPath);
    std::string part;
    std::vector<std::string> names;
    while (std::getline(parts, part, '/'))
        names.push_back(part);
    HRESULT result = S_OK;
    for (size_t i = 0; i + 1 < names.size() && SUCCEEDED(result); ++i) {
        Com<IStorage> next;
        result = current->OpenStorage(U16(names[i]).c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                      next.Put());
        current = next;
    }
    Com<IStream> stream;
    if (SUCCEEDED(result))
        result = current->OpenStream(U16(names.back()).c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                     stream.Put());
    if (hr)
        *hr = result;
    return stream;
}

std::vector<uint8_t> ReadAll(IStream* stream)
{
    std::vector<uint8_t> out;
    uint8_t buffer[1000];
    while (true) {
        ULONG got = 0;
        const HRESULT hr = stream->Read(buffer, sizeof buffer, &got);
        EXPECT_EQ(hr, S_OK);
        if (FAILED(hr) || got == 0)
            break;
        out.insert(out.end(), buffer, buffer + got);
    }
    return out;
}

GUID Guid(const char* text)
{
    GUID g{};
    unsigned d[11] = {};
    EXPECT_EQ(std::sscanf(text, "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x", &d[0], &d[1], &d[2], &d[3], &d[4], &d[5],
                          &d[6], &d[7], &d[8], &d[9], &d[10]),
              11);
    g.Data1 = d[0];
    g.Data2 = static_cast<WORD>(d[1]);
    g.Data3 = static_cast<WORD>(d[2]);
    for (int i = 0; i < 8; ++i)
        g.Data4[i] = static_cast<BYTE>(d[3 + i]);
    return g;
}

uint64_t Ticks(const FILETIME& time) { return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

void UseUtf8Locale() { ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr); }

} // namespace ole32test
