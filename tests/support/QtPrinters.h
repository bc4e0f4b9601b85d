// Readable Qt values in GoogleTest's failure messages.
#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

inline void PrintTo(const QStringList& list, std::ostream* os)
{
    *os << '[';
    for (qsizetype i = 0; i < list.size(); ++i)
        *os << (i ? ", \"" : "\"") << list[i].toStdString() << '"';
    *os << ']';
}

inline void PrintTo(const QRect& r, std::ostream* os)
{
    *os << "QRect(" << r.x() << ", " << r.y() << ", " << r.width() << ", " << r.height() << ")";
}

inline void PrintTo(const QSize& s, std::ostream* os)
{
    *os << "QSize(" << s.width() << ", " << s.height() << ")";
}

inline void PrintTo(const QPoint& p, std::ostream* os)
{
    *os << "QPoint(" << p.x() << ", " << p.y() << ")";
}
