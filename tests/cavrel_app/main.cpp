#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gmock/gmock.h>

// The application state reads the user's settings unless told otherwise: point them at a
// private folder first, so that no test reads or writes a real user's settings.
int main(int argc, char** argv) {
    QTemporaryDir configHome;
    if (!configHome.isValid()) {
        return 1;
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));
    // The window tests build widgets: a QApplication, offscreen unless a platform is chosen.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
