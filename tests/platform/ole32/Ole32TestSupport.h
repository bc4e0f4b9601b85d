// Shared by the ole32 tests: the fixtures' stream contents, UTF-16 literals, COM holders.
#pragma once

#include "platform/ole32/ComObject.h"
#include "platform/include/win/propidl.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ole32test {

// What make_fixtures.py writes into every stream: (seed + 31 i + i / 251) mod 256.
[[nodiscard]] std::vector<uint8_t> Pattern(size_t size, unsigned seed);

[[nodiscard]] std::u16string U16(const std::string& utf8);
[[nodiscard]] std::string U8(const WCHAR* text);
[[nodiscard]] std::filesystem::path CompoundFixture(const std::string& name);
[[nodiscard]] std::u16string WidePath(const std::filesystem::path& path);

template <typename T>
using Com = ole32::ComPtr<T>;

// The root storage of a fixture, or null with the HRESULT in hr.
[[nodiscard]] Com<IStorage> OpenRoot(const std::filesystem::path& path, HRESULT* hr = nullptr);
[[nodiscard]] Com<IStream> OpenStreamPath(IStorage* root, const std::string& slashPath, HRESULT* hr = nullptr);
[[nodiscard]] std::vector<uint8_t> ReadAll(IStream* stream);
[[nodiscard]] GUID Guid(const char* text);
[[nodiscard]] uint64_t Ticks(const FILETIME& time);

// Tests compare "ANSI" text as UTF-8.
void UseUtf8Locale();

} // namespace ole32test
