#include "AppState.h"
#include "ContentView.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("cavrel-app"));
    QApplication::setApplicationDisplayName(QStringLiteral("Cavrel"));

    cavrel::AppState appState;
    auto* window = new cavrel::ContentView(appState, cavrel::WindowServices{});
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->resize(1280, 800);
    window->show();
    return QApplication::exec();
}
