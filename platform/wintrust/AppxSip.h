// The app package subject interface package: .appx and .msix packages and their bundles, ZIP
// archives whose entry AppxSignature.p7x holds "PKCX" and the signature. The signature's digest
// is not one hash but a record of several ("APPX", then a four-letter tag and a hash each):
//   AXPC  the local records of every entry but the signature, as the file holds them
//   AXCD  the central directory without the signature's entry, and end records rebuilt to match
//   AXCT  [Content_Types].xml, uncompressed
//   AXBM  AppxBlockMap.xml, uncompressed
//   AXCI  AppxMetadata/CodeIntegrity.cat, uncompressed, when the package has one
// all with the hash method the block map names. The block map in turn holds the hash of every
// 64 KiB block of every other file, uncompressed: each must match, so that a file changed inside
// the package is a bad digest whatever else was rebuilt around it.
#pragma once

#include "platform/wintrust/Subject.h"

#include "platform/common/ZipArchive.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wintrust {

[[nodiscard]] bool IsAppxExtension(std::u16string_view extension);
[[nodiscard]] std::unique_ptr<Subject> OpenAppxSubject(const FileSource& file, std::u16string_view extension);

// What AppxBlockMap.xml says of the package's files.
struct BlockMap {
    const EVP_MD* Md = nullptr;
    struct File {
        std::string Name;     // as the block map writes it: UTF-8, folders separated by '\'
        uint64_t Size = 0;    // uncompressed
        uint64_t LfhSize = 0; // its local header's size in the archive
        std::vector<Bytes> BlockHashes;
    };
    std::vector<File> Files;
};

// The block map in xml; false for anything that is not one, or names a hash method other than
// SHA-256, SHA-384 or SHA-512.
[[nodiscard]] bool ParseBlockMap(std::span<const uint8_t> xml, BlockMap& map);

// Checks every file of the package against the block map, inflating at most `budget` bytes in
// all (what is used is taken from it): S_OK, or TRUST_E_BAD_DIGEST for a file missing from
// either side, of another size, or with a block that does not match.
[[nodiscard]] HRESULT CheckBlockMap(const zip::Archive& package, const BlockMap& map, uint64_t& budget);

// The budget of inflated bytes for a package of the given size: generous for real packages,
// and bounded by the file, so that a small hostile one cannot ask for endless work.
[[nodiscard]] uint64_t InflateBudget(uint64_t packageSize);

} // namespace wintrust
