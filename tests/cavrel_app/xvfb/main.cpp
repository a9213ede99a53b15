#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gmock/gmock.h>

#include <memory>

// Tests on a real X server (xvfb-run gives them one, and CTest runs them with the xcb platform).
// Without a display the program still lists its tests, and each of them skips.
int main(int argc, char** argv) {
    ::testing::InitGoogleMock(&argc, argv);
    QTemporaryDir configHome;
    if (!configHome.isValid()) {
        return 1;
    }
    // No test reads or writes a real user's settings.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));
    std::unique_ptr<QApplication> app;
    if (!::testing::GTEST_FLAG(list_tests) && qEnvironmentVariableIsSet("DISPLAY")) {
        app = std::make_unique<QApplication>(argc, argv);
    }
    return RUN_ALL_TESTS();
}
