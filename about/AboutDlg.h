// The about box, opened by a click on the program's icon.
#pragma once

#include <QString>

class QWidget;

enum TLanguage : unsigned char { lngEn, lngCz };

// Shows the about box modally and returns when it is closed.
void ShowAbout(QWidget* owner, const QString& productCode, const QString& extraText, TLanguage language);
