// Top-level windows placed by their frame. On X11 the window manager draws the frame and makes
// its size known only once the window is mapped, so a placement made before then counts the
// client area alone; it is made again on the window's first expose, when the frame is known,
// before the user sees the window anywhere else for more than a moment. On Wayland a client cannot
// place its top-level windows: the compositor does, and nothing is done here.
#pragma once

#include <functional>

class QWidget;

namespace frameplacement {

// False where the window system places top-level windows itself (Wayland).
[[nodiscard]] bool CanPlaceWindows();

// Runs place now and, when the window has not been exposed yet, once more on its first expose if
// it has not been moved otherwise in between.
// place moves the window by its frame (QWidget::frameGeometry, QWidget::move).
void PlaceByFrame(QWidget* window, std::function<void()> place);

} // namespace frameplacement
