// Controls placed at design coordinates that follow the edges of their parent they are anchored
// to when the parent is resized, and scale with the screen's logical dpi (the design is for 96).
#pragma once

#include <QRect>
#include <QWidget>

#include <vector>

enum TAnchor : unsigned {
    akLeft = 1,
    akTop = 2,
    akRight = 4,
    akBottom = 8,
};

class TAnchorLayout {
public:
    // designClient: the parent's client size in the design.
    TAnchorLayout(QWidget* parent, QSize designClient);

    // Pixels at the parent's screen for a length of the design.
    [[nodiscard]] int Scale(int designPixels) const;

    // Places a control at its design rectangle (unscaled) with its anchors.
    void Place(QWidget* control, const QRect& design, unsigned anchors);
    // A control showing a caption (a label, a check box) takes the width its text needs: a
    // right-aligned one keeps its right edge and grows to the left, a left-aligned one grows right.
    void PlaceGrowing(QWidget* label, const QRect& design, unsigned anchors, bool rightAligned);
    // Recomputes every control for the parent's current client size.
    void Apply();
    [[nodiscard]] QSize ScaledClientSize() const;

private:
    struct Item {
        QWidget* Control;
        QRect Design;
        unsigned Anchors;
        bool Label;
        bool RightAligned;
    };
    QWidget* FParent;
    QSize FDesignClient;
    std::vector<Item> FItems;
};
