// The "ANSI code page": the C library locale's character set (normally UTF-8).
#pragma once

#include <QByteArray>
#include <QString>

#include <string_view>

// 8-bit text in the ANSI code page to UTF-16; bytes that do not convert become U+FFFD.
[[nodiscard]] QString AnsiToString(std::string_view bytes);
// UTF-16 to the ANSI code page; characters it cannot hold become "?".
[[nodiscard]] QByteArray StringToAnsi(const QString& text);
