// Icon handles of the shell stand-in as Qt icons, for the program's own windows.
#pragma once

#include "platform/include/win/shellapi.h"

#include <QIcon>

namespace shell32ui {

// Every image of the icon's .ico bytes, or the theme icon it names (the generic file icon when the
// theme has none); a null icon for a handle that holds neither. The handle stays the caller's.
[[nodiscard]] QIcon IconFromHandle(HICON icon);

} // namespace shell32ui
