// Where the classes root lives on Linux: one directory per key, under
// <root>/var/lib/tessera/registry/HKEY_CLASSES_ROOT, the system's own root unless
// TESSERA_SYSTEM_ROOT names another (tests give a temporary directory). A key's directory holds
// its values in the file "values" and its subkeys under "keys". Key names keep their case and are
// found ignoring ASCII case, as Windows finds them; characters a file name cannot hold are
// escaped. What the file system refuses (a user who is not root writing under /var/lib) is
// refused here with the matching Win32 error.
#pragma once

#include "platform/include/win/windef.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace advapi32 {

// The directory every system path of this stand-in is taken under: "" for "/".
[[nodiscard]] std::string SystemRoot();

struct Value {
    DWORD Type = 0;
    std::vector<uint8_t> Data;
};

// Value names compared ignoring ASCII case; the name as first written is kept.
class Values {
public:
    [[nodiscard]] const Value* Find(std::u16string_view name) const;
    void Set(std::u16string_view name, Value value);
    [[nodiscard]] const std::vector<std::pair<std::u16string, Value>>& All() const { return FItems; }

private:
    std::vector<std::pair<std::u16string, Value>> FItems;
};

class RegistryStore {
public:
    // The directory of HKEY_CLASSES_ROOT.
    [[nodiscard]] static std::string ClassesRoot();

    // The directory of the subkey path (components separated by '\\') below key, found ignoring
    // case; ERROR_FILE_NOT_FOUND when a component is missing. With create, missing components are
    // made; created tells whether the last one was.
    [[nodiscard]] static DWORD Resolve(const std::string& key, std::u16string_view path, bool create,
                                       std::string& result, bool* created = nullptr);

    [[nodiscard]] static DWORD ReadValues(const std::string& key, Values& values);
    [[nodiscard]] static DWORD WriteValues(const std::string& key, const Values& values);

    // The names of a key's subkeys, ordered ignoring case.
    [[nodiscard]] static DWORD SubkeyNames(const std::string& key, std::vector<std::u16string>& names);

    // Removes a key that has no subkeys: ERROR_ACCESS_DENIED when it has some.
    [[nodiscard]] static DWORD DeleteKey(const std::string& key);
};

} // namespace advapi32
