#include "about/AboutPictures.h"

#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// The icon's colours.
const QColor Ink(0x1f, 0x4e, 0x5f);
const QColor Yellow(0xf2, 0xc1, 0x4e);
const QColor Teal(0x7f, 0xc8, 0xc2);
const QColor Mist(0xc9, 0xd8, 0xdd);
const QColor Seal(0xd1, 0x49, 0x5b);
const QColor Green(0x2e, 0x9e, 0x5b);
const QColor Amber(0xf2, 0xa9, 0x00);

constexpr int AnimationStepMs = 90;

QPixmap Canvas(QSize size, qreal ratio)
{
    QPixmap pixmap(size * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

} // namespace

QPixmap LogoPicture(QSize size, qreal ratio)
{
    QPixmap pixmap = Canvas(size, ratio);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    // Two rows of four tiles, right-aligned in the picture.
    constexpr int Columns = 4;
    constexpr int Rows = 2;
    const QColor fills[Rows][Columns] = {{Mist, Yellow, Ink, Teal}, {Teal, Ink, Mist, Seal}};
    const qreal gap = size.height() / 14.0;
    const qreal tile = std::min((size.height() - gap) / Rows, (size.width() - gap * (Columns - 1)) / Columns);
    const qreal left = size.width() - Columns * tile - (Columns - 1) * gap;
    const qreal top = (size.height() - Rows * tile - gap) / 2;
    for (int row = 0; row < Rows; ++row) {
        for (int column = 0; column < Columns; ++column) {
            p.setBrush(fills[row][column]);
            const QRectF r(left + column * (tile + gap), top + row * (tile + gap), tile - gap / 2, tile - gap / 2);
            p.drawRoundedRect(r, tile / 7, tile / 7);
        }
    }
    return pixmap;
}

QPixmap OkPicture(int size, qreal ratio)
{
    QPixmap pixmap = Canvas(QSize(size, size), ratio);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Green);
    p.drawEllipse(QRectF(0.5, 0.5, size - 1.0, size - 1.0));
    QPainterPath check;
    check.moveTo(size * 0.27, size * 0.52);
    check.lineTo(size * 0.44, size * 0.69);
    check.lineTo(size * 0.74, size * 0.34);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, size / 7.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(check);
    return pixmap;
}

QPixmap WarningPicture(int size, qreal ratio)
{
    QPixmap pixmap = Canvas(QSize(size, size), ratio);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Amber.darker(115), 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Amber);
    p.drawPolygon(QPolygonF({{size / 2.0, 0.5}, {size - 0.5, size - 1.0}, {0.5, size - 1.0}}));
    p.setPen(QPen(Ink, size / 8.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(size / 2.0, size * 0.36), QPointF(size / 2.0, size * 0.64));
    p.drawPoint(QPointF(size / 2.0, size * 0.81));
    return pixmap;
}

TAnimatedImage::TAnimatedImage(QWidget* parent) : QWidget(parent), FTimer(new QTimer(this))
{
    FTimer->setInterval(AnimationStepMs);
    connect(FTimer, &QTimer::timeout, this, [this] {
        FFrame = (FFrame + 1) % Frames;
        update();
    });
}

void TAnimatedImage::Start()
{
    FTimer->start();
}

void TAnimatedImage::Stop()
{
    FTimer->stop();
}

bool TAnimatedImage::Animating() const
{
    return FTimer->isActive();
}

void TAnimatedImage::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const qreal side = std::min(width(), height());
    const QPointF centre(width() / 2.0, height() / 2.0);
    const qreal dot = side / 9.0;
    const qreal radius = side / 2.0 - dot - 0.5;
    for (int i = 0; i < Frames; ++i) {
        // The dot of the current frame is full; those behind it fade.
        const int age = (FFrame - i + Frames) % Frames;
        QColor colour = Ink;
        colour.setAlphaF(1.0 - age * 0.8 / Frames);
        p.setBrush(colour);
        const double angle = 2 * std::numbers::pi * i / Frames - std::numbers::pi / 2;
        p.drawEllipse(QPointF(centre.x() + radius * std::cos(angle), centre.y() + radius * std::sin(angle)), dot, dot);
    }
}
