#include <QApplication>

#include <gmock/gmock.h>

#include <memory>

// Terminal views drawn by the GPU in real windows (xvfb-run gives them an X server, and CTest
// runs them with the xcb platform: GL widgets need a platform that composites them). Without a
// display the program still lists its tests, and each of them skips.
int main(int argc, char** argv) {
    ::testing::InitGoogleMock(&argc, argv);
    std::unique_ptr<QApplication> app;
    if (!::testing::GTEST_FLAG(list_tests) && qEnvironmentVariableIsSet("DISPLAY")) {
        // The GPU renderer's context shares its objects with the GL widget it draws into.
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        app = std::make_unique<QApplication>(argc, argv);
    }
    return RUN_ALL_TESTS();
}
