#include "support/Exceptions.h"

#include "platform/include/win/winbase.h"
#include "support/WinString.h"

#include <utility>

Exception::Exception(QString message) : FMessage(std::move(message)), FUtf8(FMessage.toUtf8()) {}

namespace {

QString OleErrorMessage(HRESULT code)
{
    QString text = SysErrorMessage(static_cast<DWORD>(code));
    if (text.isEmpty())
        text = QStringLiteral("OLE error %1").arg(static_cast<uint32_t>(code), 8, 16, QLatin1Char('0')).toUpper();
    return text;
}

} // namespace

EOleSysError::EOleSysError(HRESULT errorCode) : Exception(OleErrorMessage(errorCode)), FErrorCode(errorCode) {}

QString SysErrorMessage(DWORD errorCode)
{
    WCHAR buffer[1024];
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        errorCode, 0, buffer, sizeof buffer / sizeof buffer[0], nullptr);
    QString text = FromWStr(buffer, length);
    while (!text.isEmpty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' '))
        text.chop(1);
    return text;
}

void OleCheck(HRESULT result)
{
    if (FAILED(result))
        throw EOleSysError(result);
}
