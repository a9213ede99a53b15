#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QString>

class QFrame;
class QLabel;
class QWidget;

namespace cavrel {

// The few type styles and colours every screen shares, in Qt terms: a headline is the
// application font in bold, a caption about 0.85 of it, secondary text takes the palette's
// placeholder colour and the accent its highlight colour.
QFont headlineFont();
QFont captionFont();
QFont monospaceFont();
QColor accentColor(const QWidget* widget);
QColor secondaryColor(const QWidget* widget);
// The system red, for the hub failure banner and destructive buttons.
QColor destructiveColor();

// A label for text that comes from outside the program (hub records, folder names, error
// messages): always plain text, so that "<b>" or "<img src=…>" in a rule shows as typed and is
// never rendered or fetched.
QLabel* plainLabel(const QString& text, QWidget* parent = nullptr);
void setSecondary(QWidget* widget);

// A one-pixel divider line across its parent's width.
QFrame* horizontalDivider(QWidget* parent = nullptr);

// The icon for a symbol name of the screens ("folder", "tray", "terminal", …): the freedesktop
// theme icon when the desktop has one, else a standard icon of the widget style, which is what
// shows where no icon theme is installed.
QIcon symbolIcon(const QString& name, const QWidget* widget = nullptr);
// That icon drawn `extent` logical pixels square, whatever sizes the icon comes in.
QPixmap symbolPixmap(const QString& name, int extent, const QWidget* widget = nullptr);

} // namespace cavrel
