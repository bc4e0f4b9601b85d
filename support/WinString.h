// QString holds UTF-16, as the platform functions take it: pass it straight through.
#pragma once

#include "platform/include/win/windef.h"

#include <QString>

[[nodiscard]] inline LPCWSTR WStr(const QString& s)
{
    return reinterpret_cast<LPCWSTR>(s.utf16());
}

// A platform string up to its NUL, or the first n units when n is given.
[[nodiscard]] inline QString FromWStr(LPCWSTR s, qsizetype n = -1)
{
    return s ? QString::fromUtf16(s, n) : QString();
}
