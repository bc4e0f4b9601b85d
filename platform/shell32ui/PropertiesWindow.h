// The properties window we show when no file manager answers: a top-level window of its own,
// neither modal nor owned by the program's window, so that it stays open while the program goes on
// (and several can be open at once).
#pragma once

#include "platform/shell32ui/FileProperties.h"

#include <QWidget>

namespace shell32ui {

class PropertiesWindow : public QWidget {
public:
    explicit PropertiesWindow(const FileProperties& properties);
};

// Opens a properties window for the file and returns at once; the window deletes itself when
// closed. near: a window to appear over, or null.
void ShowPropertiesWindow(const QString& absolutePath, QWidget* near);

} // namespace shell32ui
