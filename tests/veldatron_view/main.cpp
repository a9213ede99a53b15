#include <QApplication>

#include <gmock/gmock.h>

// The view tests build widgets: a QApplication, offscreen unless a platform is chosen. The pixel
// tests pin their font (DejaVu Sans Mono) and read no user settings.
int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
