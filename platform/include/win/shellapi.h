// shell32: type names, executable kinds, icons and verbs.
#pragma once

#include "windef.h"

inline constexpr UINT SHGFI_ICON = 0x000000100;
inline constexpr UINT SHGFI_DISPLAYNAME = 0x000000200;
inline constexpr UINT SHGFI_TYPENAME = 0x000000400;
inline constexpr UINT SHGFI_ATTRIBUTES = 0x000000800;
inline constexpr UINT SHGFI_ICONLOCATION = 0x000001000;
inline constexpr UINT SHGFI_EXETYPE = 0x000002000;
inline constexpr UINT SHGFI_SYSICONINDEX = 0x000004000;
inline constexpr UINT SHGFI_LARGEICON = 0x000000000;
inline constexpr UINT SHGFI_SMALLICON = 0x000000001;
inline constexpr UINT SHGFI_USEFILEATTRIBUTES = 0x000000010;

inline constexpr int MAX_PATH = 260;

struct SHFILEINFOW {
    HICON hIcon;
    int iIcon;
    DWORD dwAttributes;
    WCHAR szDisplayName[MAX_PATH];
    WCHAR szTypeName[80];
};

inline constexpr ULONG SEE_MASK_DEFAULT = 0x00000000;
inline constexpr ULONG SEE_MASK_INVOKEIDLIST = 0x0000000C;
inline constexpr ULONG SEE_MASK_NOCLOSEPROCESS = 0x00000040;
inline constexpr ULONG SEE_MASK_FLAG_NO_UI = 0x00000400;

inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOW = 5;

struct SHELLEXECUTEINFOW {
    DWORD cbSize;
    ULONG fMask;
    HWND hwnd;
    LPCWSTR lpVerb;
    LPCWSTR lpFile;
    LPCWSTR lpParameters;
    LPCWSTR lpDirectory;
    int nShow;
    HINSTANCE hInstApp;
    void* lpIDList;
    LPCWSTR lpClass;
    void* hkeyClass;
    DWORD dwHotKey;
    union {
        HANDLE hIcon;
        HANDLE hMonitor;
    };
    HANDLE hProcess;
};

// An icon handle holds either an icon image (the bytes of an .ico file, as taken from a PE's
// resources) or the name of a theme icon; the window system turns it into a picture.
struct ICONDATA {
    DWORD cbIcon;        // 0 when the icon is a theme icon
    const BYTE* pbIcon;  // .ico file bytes
    LPCWSTR pszThemeName; // freedesktop icon name, or null
};

extern "C" {

DWORD_PTR WINAPI SHGetFileInfoW(LPCWSTR pszPath, DWORD dwFileAttributes, SHFILEINFOW* psfi, UINT cbFileInfo,
                                UINT uFlags);
// nIconIndex 0xFFFFFFFF asks for the number of icons in the file.
HICON WINAPI ExtractIconW(HINSTANCE hInst, LPCWSTR pszExeFileName, UINT nIconIndex);
HICON WINAPI ExtractAssociatedIconW(HINSTANCE hInst, LPWSTR pszIconPath, WORD* piIcon);
BOOL WINAPI DestroyIcon(HICON hIcon);
BOOL WINAPI GetIconData(HICON hIcon, ICONDATA* pData);

BOOL WINAPI ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo);
// ShellExecuteExW in short: the result is its hInstApp, above 32 on success. Parameters are not
// handed on: the desktop's opener takes none.
HINSTANCE WINAPI ShellExecuteW(HWND hwnd, LPCWSTR lpOperation, LPCWSTR lpFile, LPCWSTR lpParameters,
                               LPCWSTR lpDirectory, INT nShowCmd);

} // extern "C"
