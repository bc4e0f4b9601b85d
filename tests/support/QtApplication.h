// One QApplication for a widget test binary, made before the tests run.
#pragma once

#include <QApplication>

namespace testsupport {

// Non-native dialogs, so that tests can drive them on the offscreen platform.
inline QApplication& Application()
{
    static int argc = 1;
    static char name[] = "tessera-test";
    static char* argv[] = {name, nullptr};
    static QApplication* application = [] {
        // Listing the tests runs the binary without the test environment.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        return new QApplication(argc, argv);
    }();
    return *application;
}

} // namespace testsupport
