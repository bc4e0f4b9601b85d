#include "layout/Anchors.h"

#include <QScreen>

#include <cmath>

TAnchorLayout::TAnchorLayout(QWidget* parent, QSize designClient) : FParent(parent), FDesignClient(designClient) {}

int TAnchorLayout::Scale(int designPixels) const
{
    const QScreen* screen = FParent->screen();
    const double dpi = screen ? screen->logicalDotsPerInch() : 96.0;
    return static_cast<int>(std::lround(designPixels * dpi / 96.0));
}

QSize TAnchorLayout::ScaledClientSize() const
{
    return {Scale(FDesignClient.width()), Scale(FDesignClient.height())};
}

void TAnchorLayout::Place(QWidget* control, const QRect& design, unsigned anchors)
{
    FItems.push_back({control, design, anchors, false, false});
}

void TAnchorLayout::PlaceGrowing(QWidget* label, const QRect& design, unsigned anchors, bool rightAligned)
{
    FItems.push_back({label, design, anchors, true, rightAligned});
}

void TAnchorLayout::Apply()
{
    const QSize client = FParent->size();
    const QSize design = ScaledClientSize();
    for (const Item& item : FItems) {
        QRect r(Scale(item.Design.left()), Scale(item.Design.top()), Scale(item.Design.width()),
                Scale(item.Design.height()));
        const int rightGap = design.width() - r.right() - 1;
        const int bottomGap = design.height() - r.bottom() - 1;
        // Anchored to both sides a control stretches; to the far side only it moves; to neither it
        // keeps its relative place.
        if ((item.Anchors & akLeft) && (item.Anchors & akRight))
            r.setWidth(client.width() - r.left() - rightGap);
        else if (item.Anchors & akRight)
            r.moveLeft(client.width() - rightGap - r.width());
        else if (!(item.Anchors & akLeft) && design.width() > 0)
            r.moveLeft(r.left() * client.width() / design.width());
        if ((item.Anchors & akTop) && (item.Anchors & akBottom))
            r.setHeight(client.height() - r.top() - bottomGap);
        else if (item.Anchors & akBottom)
            r.moveTop(client.height() - bottomGap - r.height());
        else if (!(item.Anchors & akTop) && design.height() > 0)
            r.moveTop(r.top() * client.height() / design.height());
        if (item.Label) {
            // Labels are never clipped: they take the width their text needs.
            const int needed = item.Control->sizeHint().width();
            if (needed > r.width()) {
                if (item.RightAligned)
                    r.setLeft(r.right() + 1 - needed);
                else
                    r.setWidth(needed);
            }
            r.setHeight(std::max(r.height(), item.Control->sizeHint().height()));
        }
        item.Control->setGeometry(r);
    }
}
