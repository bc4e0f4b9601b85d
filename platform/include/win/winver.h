// version: version resources of executables (PE resources, or the named section of ELF files).
#pragma once

#include "windef.h"

inline constexpr DWORD VS_FFI_SIGNATURE = 0xFEEF04BD;
inline constexpr DWORD VS_FF_DEBUG = 0x00000001;
inline constexpr DWORD VS_FF_PRERELEASE = 0x00000002;
inline constexpr DWORD VS_FF_PATCHED = 0x00000004;
inline constexpr DWORD VS_FF_PRIVATEBUILD = 0x00000008;
inline constexpr DWORD VS_FF_INFOINFERRED = 0x00000010;
inline constexpr DWORD VS_FF_SPECIALBUILD = 0x00000020;

struct VS_FIXEDFILEINFO {
    DWORD dwSignature;
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};

extern "C" {

DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR lptstrFilename, LPDWORD lpdwHandle);
BOOL WINAPI GetFileVersionInfoW(LPCWSTR lptstrFilename, DWORD dwHandle, DWORD dwLen, LPVOID lpData);
BOOL WINAPI VerQueryValueW(LPCVOID pBlock, LPCWSTR lpSubBlock, LPVOID* lplpBuffer, UINT* puLen);

} // extern "C"
