// The about box's pictures, drawn rather than loaded so that they stay sharp at any density, in the
// colours of the program's icon: the logo, the two status signs and the animated waiting sign.
#pragma once

#include <QPixmap>
#include <QSize>
#include <QWidget>

class QTimer;

// Sizes are in device-independent pixels; ratio is the device pixel ratio they are shown at.
// A band of mosaic tiles.
[[nodiscard]] QPixmap LogoPicture(QSize size, qreal ratio);
// A green disc with a check mark: no newer version.
[[nodiscard]] QPixmap OkPicture(int size, qreal ratio);
// An amber triangle with an exclamation mark: a failure, or a newer version.
[[nodiscard]] QPixmap WarningPicture(int size, qreal ratio);

// A ring of dots whose bright dot goes round while it is animated.
class TAnimatedImage : public QWidget {
public:
    explicit TAnimatedImage(QWidget* parent);

    void Start();
    void Stop();
    [[nodiscard]] bool Animating() const;
    [[nodiscard]] int Frame() const { return FFrame; }

    static constexpr int Frames = 8;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer* FTimer;
    int FFrame = 0;
};
