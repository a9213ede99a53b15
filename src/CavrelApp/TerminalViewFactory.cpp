#include "TerminalViewFactory.h"

#include "LocalProcessTerminalView.h"
#include "LocalProcessTerminalViewDelegate.h"

#include <QObject>

namespace cavrel {

namespace {

// Hears the tab's terminal: only the end of the shell matters, and the tab stays open with its
// last screen. A child of the view, so it lives exactly as long as the view reports to it.
class TerminalTabCoordinator : public QObject, public veldatron::LocalProcessTerminalViewDelegate {
public:
    TerminalTabCoordinator(std::function<void(std::optional<int>)> onExit, QObject* parent)
        : QObject(parent), m_onExit(std::move(onExit)) {}

    void sizeChanged(veldatron::LocalProcessTerminalView&, int, int) override {}
    void setTerminalTitle(veldatron::LocalProcessTerminalView&, const QString&) override {}
    void hostCurrentDirectoryUpdate(veldatron::TerminalView&,
                                    const std::optional<QString>&) override {}
    void processTerminated(veldatron::TerminalView&, std::optional<int32_t> exitCode) override {
        if (m_onExit) {
            m_onExit(exitCode ? std::optional<int>(*exitCode) : std::nullopt);
        }
    }

private:
    std::function<void(std::optional<int>)> m_onExit;
};

} // namespace

QWidget* LocalProcessTerminalViewFactory::createTerminalView(const TerminalLaunch& launch,
                                                             QWidget* parent) {
    auto* view = new veldatron::LocalProcessTerminalView(parent);
    view->setObjectName(QStringLiteral("agentTerminal"));
    view->setProcessDelegate(new TerminalTabCoordinator(launch.onExit, view));
    view->startProcess(launch.executable, launch.args, launch.environment, launch.execName,
                       launch.currentDirectory);
    // Typed before the shell has printed anything: the pseudo-terminal keeps the bytes until the
    // shell reads its first line.
    view->send(launch.initialText);
    return view;
}

} // namespace cavrel
