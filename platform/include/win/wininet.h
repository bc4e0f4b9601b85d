// wininet: HTTP and HTTPS requests, as the update check makes them.
#pragma once

#include "windef.h"

using HINTERNET = void*;
using INTERNET_PORT = WORD;

// InternetOpenW access types.
inline constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;
inline constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
inline constexpr DWORD INTERNET_OPEN_TYPE_PROXY = 3;

// InternetConnectW ports and services.
inline constexpr INTERNET_PORT INTERNET_INVALID_PORT_NUMBER = 0;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_HTTPS_PORT = 443;
inline constexpr DWORD INTERNET_SERVICE_HTTP = 3;

// HttpOpenRequestW flags.
inline constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
inline constexpr DWORD INTERNET_FLAG_SECURE = 0x00800000;
inline constexpr DWORD INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
inline constexpr DWORD INTERNET_FLAG_NO_AUTO_REDIRECT = 0x00200000;
inline constexpr DWORD INTERNET_FLAG_IGNORE_CERT_DATE_INVALID = 0x00002000;
inline constexpr DWORD INTERNET_FLAG_IGNORE_CERT_CN_INVALID = 0x00001000;
inline constexpr DWORD INTERNET_FLAG_PRAGMA_NOCACHE = 0x00000100;

// HttpQueryInfoW levels and modifiers.
inline constexpr DWORD HTTP_QUERY_CONTENT_LENGTH = 5;
inline constexpr DWORD HTTP_QUERY_STATUS_CODE = 19;
inline constexpr DWORD HTTP_QUERY_FLAG_NUMBER = 0x20000000;

// InternetSetOptionW options; the values are DWORD milliseconds.
inline constexpr DWORD INTERNET_OPTION_CONNECT_TIMEOUT = 2;
inline constexpr DWORD INTERNET_OPTION_RECEIVE_TIMEOUT = 6;

// Error codes (GetLastError) of the Internet services.
inline constexpr DWORD INTERNET_ERROR_BASE = 12000;
inline constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
inline constexpr DWORD ERROR_INTERNET_INVALID_URL = 12005;
inline constexpr DWORD ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
inline constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
inline constexpr DWORD ERROR_INTERNET_INVALID_OPTION = 12009;
inline constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;
inline constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
inline constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;
inline constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
inline constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
inline constexpr DWORD ERROR_INTERNET_CONNECTION_RESET = 12031;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_DATE_INVALID = 12037;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038;
inline constexpr DWORD ERROR_INTERNET_INVALID_CA = 12045;
inline constexpr DWORD ERROR_HTTP_HEADER_NOT_FOUND = 12150;
inline constexpr DWORD ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
inline constexpr DWORD ERROR_HTTP_REDIRECT_FAILED = 12156;
inline constexpr DWORD ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;
inline constexpr DWORD ERROR_INTERNET_SEC_INVALID_CERT = 12169;

extern "C" {

// A session. PRECONFIG uses the proxies of the environment (http_proxy, https_proxy, no_proxy);
// loopback addresses are always reached directly.
HINTERNET WINAPI InternetOpenW(LPCWSTR lpszAgent, DWORD dwAccessType, LPCWSTR lpszProxy, LPCWSTR lpszProxyBypass,
                               DWORD dwFlags);
// A connection's settings; nothing is sent and no name is resolved before HttpSendRequestW. Port 0
// is the service's default (80, or 443 for secure requests).
HINTERNET WINAPI InternetConnectW(HINTERNET hInternet, LPCWSTR lpszServerName, INTERNET_PORT nServerPort,
                                  LPCWSTR lpszUserName, LPCWSTR lpszPassword, DWORD dwService, DWORD dwFlags,
                                  DWORD_PTR dwContext);
// Verbs GET (also for a null verb) and HEAD. INTERNET_FLAG_SECURE makes it an HTTPS request whose
// server must prove its identity fully (trusted chain, host name, dates) against the system's
// trust store; the IGNORE_CERT flags are accepted and weaken nothing. Nothing is ever cached, so
// INTERNET_FLAG_RELOAD always holds; INTERNET_FLAG_PRAGMA_NOCACHE sends "Pragma: no-cache".
HINTERNET WINAPI HttpOpenRequestW(HINTERNET hConnect, LPCWSTR lpszVerb, LPCWSTR lpszObjectName, LPCWSTR lpszVersion,
                                  LPCWSTR lpszReferrer, LPCWSTR* lplpszAcceptTypes, DWORD dwFlags, DWORD_PTR dwContext);
// Sends the request and returns once the final response's body begins (or the response ended).
// Redirections are followed unless INTERNET_FLAG_NO_AUTO_REDIRECT is set; a secure request is never
// redirected to plain HTTP. When sending fails, later queries and reads of the request fail with
// the same error, so that whichever call a caller looks at names the cause.
BOOL WINAPI HttpSendRequestW(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength, LPVOID lpOptional,
                             DWORD dwOptionalLength);
// The response's Content-Length or status code as decimal text (a DWORD with HTTP_QUERY_FLAG_NUMBER).
// Lengths are in bytes; *lpdwBufferLength receives the text's length without its NUL, or the size
// needed with ERROR_INSUFFICIENT_BUFFER.
BOOL WINAPI HttpQueryInfoW(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer, LPDWORD lpdwBufferLength,
                           LPDWORD lpdwIndex);
// Blocks until dwNumberOfBytesToRead bytes of the body have arrived or the body has ended; 0 bytes
// read with TRUE is the end. Bytes received before a failure are delivered before the failure.
BOOL WINAPI InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                             LPDWORD lpdwNumberOfBytesRead);
// The connect and receive timeouts of a handle and of the handles made from it afterwards.
BOOL WINAPI InternetSetOptionW(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, DWORD dwBufferLength);
// Closing a request that another thread is reading from ends that read with
// ERROR_INTERNET_OPERATION_CANCELLED. Handles made from a closed handle stay usable.
BOOL WINAPI InternetCloseHandle(HINTERNET hInternet);

} // extern "C"
