#include "platform/shell32ui/IconImage.h"

#include "platform/common/WinStr.h"

#include <QApplication>
#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <QStyle>

namespace shell32ui {

namespace {

// An .ico file holds one image per size and colour depth; Qt reads them one after the other.
QIcon IconFromIco(const BYTE* bytes, DWORD size)
{
    QByteArray data(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(size));
    QBuffer buffer(&data);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&buffer, "ico");
    QIcon icon;
    const int count = reader.imageCount();
    for (int i = 0; i < std::max(count, 1); ++i) {
        if (i > 0 && !reader.jumpToNextImage())
            break;
        const QImage image = reader.read();
        if (!image.isNull())
            icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

} // namespace

QIcon IconFromHandle(HICON icon)
{
    ICONDATA data{};
    if (!icon || !GetIconData(icon, &data))
        return {};
    if (data.cbIcon > 0 && data.pbIcon)
        return IconFromIco(data.pbIcon, data.cbIcon);
    if (data.pszThemeName) {
        const std::u16string_view name = winstr::View(data.pszThemeName);
        const QString themeName = QString::fromUtf16(name.data(), static_cast<qsizetype>(name.size()));
        const QIcon fallback = qobject_cast<QApplication*>(QCoreApplication::instance())
                                   ? QApplication::style()->standardIcon(QStyle::SP_FileIcon)
                                   : QIcon();
        return QIcon::fromTheme(themeName, fallback);
    }
    return {};
}

} // namespace shell32ui
