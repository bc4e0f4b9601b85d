// How the dialogs put certificate data into words: OIDs with their friendly names, names, dates
// in the user's locale, byte strings in hex.
#pragma once

#include "platform/cryptui/Crypto.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>
#include <span>

namespace cryptui {

// Hostile certificates may carry megabytes in one field; nobody reads that much in a dialog.
inline constexpr size_t MaxHexBytes = 64 * 1024;
inline constexpr size_t MaxDumpBytes = 16 * 1024;
inline constexpr qsizetype MaxTextLength = 256 * 1024;
inline constexpr qsizetype MaxListValueLength = 256;

[[nodiscard]] QString FromWide(LPCWSTR text);

// "a0 1f 33" (spaced) or "a01f33"; cut after MaxHexBytes with a note of how much is left out.
[[nodiscard]] QString Hex(std::span<const uint8_t> bytes, bool spaced = true);
// Offset, hex and printable characters, 16 bytes a line; cut after MaxDumpBytes.
[[nodiscard]] QString HexDump(std::span<const uint8_t> bytes);
// A text no longer than max characters (an ellipsis marks the cut).
[[nodiscard]] QString Clip(const QString& text, qsizetype max);

// The dotted form of an OID (OpenSSL's own names are never used: they are not Windows').
[[nodiscard]] QString OidText(const ASN1_OBJECT* object);
// crypt32's friendly name of an OID in a group, or nothing when it has none.
[[nodiscard]] QString FriendlyName(const QString& oid, DWORD group);
// The friendly name, else the dotted OID.
[[nodiscard]] QString OidName(const QString& oid, DWORD group);
// "Server Authentication (1.3.6.1.5.5.7.3.1)", or the OID alone when it has no name.
[[nodiscard]] QString OidNameWithNumber(const QString& oid, DWORD group);

// The text of a directory string of any ASN.1 string type; hex when it cannot be read.
[[nodiscard]] QString StringText(const ASN1_STRING* value);

// A distinguished name, most specific part first: "leaf.tessera.test, Tessera Test, DE" or, one
// attribute a line, "CN = leaf.tessera.test".
[[nodiscard]] QString NameLine(const X509_NAME* name);
[[nodiscard]] QStringList NameLines(const X509_NAME* name);

// One general name as Windows words it ("DNS Name=...", "URL=..."); directory names take several
// lines.
[[nodiscard]] QStringList GeneralNameLines(const GENERAL_NAME* name);

// Times as UTC instants.
[[nodiscard]] std::optional<QDateTime> TimeOf(const ASN1_TIME* time);
[[nodiscard]] std::optional<QDateTime> TimeOf(const FILETIME& time);
// In the user's locale and time zone.
[[nodiscard]] QString ShortDate(const QDateTime& time);
[[nodiscard]] QString LongDateTime(const QDateTime& time);

} // namespace cryptui
