// The program's exceptions. Only the structured-storage wrappers and stream writing raise;
// an exception that leaves an event handler is shown to the user and the program goes on.
#pragma once

#include "platform/include/win/windef.h"

#include <QByteArray>
#include <QString>

#include <exception>

class Exception : public std::exception {
public:
    explicit Exception(QString message);
    [[nodiscard]] const QString& Message() const noexcept { return FMessage; }
    [[nodiscard]] const char* what() const noexcept override { return FUtf8.constData(); }

private:
    QString FMessage;
    QByteArray FUtf8;
};

// A failure code of the platform's OLE services, worded with the system's message text.
class EOleSysError : public Exception {
public:
    explicit EOleSysError(HRESULT errorCode);
    [[nodiscard]] HRESULT ErrorCode() const noexcept { return FErrorCode; }

private:
    HRESULT FErrorCode;
};

class EStreamError : public Exception {
public:
    using Exception::Exception;
};

class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

// The system's message text for a Win32 error or HRESULT, without its line end; empty when unknown.
[[nodiscard]] QString SysErrorMessage(DWORD errorCode);

// Raises EOleSysError for a failure code; success codes pass.
void OleCheck(HRESULT result);
