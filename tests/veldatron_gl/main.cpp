#include <QApplication>

#include <gmock/gmock.h>

// The GPU renderer's tests: a QApplication, offscreen unless a platform is chosen (the GL tests
// run under an X server and skip only when no GL context can be made).
int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The GPU renderer's context shares its objects with the GL widget it draws into.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
