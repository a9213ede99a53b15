#include "TerminalViewFactory.h"
#include "LoginShell.h"
#include "UiStyle.h"

#include <QPlainTextEdit>

namespace cavrel {

QWidget* PlaceholderTerminalViewFactory::createTerminalView(const TerminalLaunch& launch,
                                                            QWidget* parent) {
    auto* view = new QPlainTextEdit(parent);
    view->setObjectName(QStringLiteral("placeholderTerminal"));
    view->setReadOnly(true);
    view->setFrameShape(QFrame::NoFrame);
    view->setFont(monospaceFont());
    QPalette palette = view->palette();
    palette.setColor(QPalette::Base, QColor(30, 30, 30));
    palette.setColor(QPalette::Text, QColor(220, 220, 220));
    view->setPalette(palette);
    QString command = launch.initialText;
    if (command.endsWith(u'\n')) {
        command.chop(1);
    }
    view->setPlainText(QStringLiteral("%1 %2\ncd %3\n$ %4\n")
                           .arg(launch.executable, launch.args.join(u' '),
                                shellQuotedIfNeeded(launch.currentDirectory), command));
    return view;
}

} // namespace cavrel
