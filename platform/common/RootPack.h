// The built-in copy of Windows' root program as the build packs it (tools/authroot-pack) and the
// program reads it: the signed list, then the root certificates with an index by subject, so that
// a certificate is decoded only when a chain asks for its subject.
//
//   "TSRP" u32:version(1) u32:listSize list
//   u32:count count * { u32:subjectHash u32:offset u32:size u8[20]:sha1 }   (sorted by subjectHash)
//   the certificates' DER, each at its offset from the start of this block
//
// Numbers are little-endian. subjectHash is OpenSSL's X509_NAME_hash_ex of the subject.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rootpack {

inline constexpr char Magic[4] = {'T', 'S', 'R', 'P'};
inline constexpr uint32_t Version = 1;
inline constexpr size_t HeaderSize = 12;
inline constexpr size_t IndexEntrySize = 32;

} // namespace rootpack
