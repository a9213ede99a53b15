#include <QCoreApplication>

#include <gmock/gmock.h>

// The hub client needs an event loop for its network replies and processes; tests spin it
// with QTest::qWaitFor or a local QEventLoop.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
