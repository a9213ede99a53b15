#include "UiStyle.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QStyle>
#include <QWidget>

namespace cavrel {

QFont headlineFont() {
    QFont font = QApplication::font();
    font.setBold(true);
    return font;
}

QFont captionFont() {
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * 0.85);
    } else if (font.pixelSize() > 0) {
        font.setPixelSize(qMax(1, qRound(font.pixelSize() * 0.85)));
    }
    return font;
}

QFont monospaceFont() {
    return QFontDatabase::systemFont(QFontDatabase::FixedFont);
}

QColor accentColor(const QWidget* widget) {
    const QPalette palette = widget ? widget->palette() : QApplication::palette();
    return palette.color(QPalette::Highlight);
}

QColor secondaryColor(const QWidget* widget) {
    const QPalette palette = widget ? widget->palette() : QApplication::palette();
    return palette.color(QPalette::PlaceholderText);
}

QColor destructiveColor() {
    return QColor(255, 59, 48);
}

QLabel* plainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

void setSecondary(QWidget* widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, secondaryColor(widget));
    palette.setColor(QPalette::Text, secondaryColor(widget));
    widget->setPalette(palette);
}

QFrame* horizontalDivider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1);
    line->setForegroundRole(QPalette::Mid);
    return line;
}

QIcon symbolIcon(const QString& name, const QWidget* widget) {
    struct Symbol {
        const char* name;
        const char* themeIcon; // empty: the standard icon is the better match
        QStyle::StandardPixmap fallback;
    };
    static const Symbol symbols[] = {
        {"exclamationmark.triangle.fill", "", QStyle::SP_MessageBoxWarning},
        {"exclamationmark.triangle", "", QStyle::SP_MessageBoxWarning},
        {"tray", "folder-open", QStyle::SP_DirOpenIcon},
        {"folder", "", QStyle::SP_DirIcon},
        {"terminal", "utilities-terminal", QStyle::SP_ComputerIcon},
        {"clock.arrow.circlepath", "document-open-recent", QStyle::SP_BrowserReload},
        {"list.bullet.clipboard", "view-list-details", QStyle::SP_FileDialogDetailedView},
        {"wrench.and.screwdriver", "preferences-system", QStyle::SP_FileDialogInfoView},
        {"brain", "dialog-information", QStyle::SP_MessageBoxInformation},
        {"xmark.circle.fill", "window-close", QStyle::SP_TitleBarCloseButton},
    };
    const QStyle* style = widget ? widget->style() : QApplication::style();
    for (const Symbol& symbol : symbols) {
        if (name == QLatin1String(symbol.name)) {
            const QIcon fallback = style->standardIcon(symbol.fallback, nullptr, widget);
            if (*symbol.themeIcon == '\0') {
                return fallback;
            }
            return QIcon::fromTheme(QLatin1String(symbol.themeIcon), fallback);
        }
    }
    return {};
}

QPixmap symbolPixmap(const QString& name, int extent, const QWidget* widget) {
    const QIcon icon = symbolIcon(name, widget);
    const qreal ratio = widget ? widget->devicePixelRatioF() : qApp->devicePixelRatio();
    const QSize size(extent, extent);
    QPixmap pixmap = icon.pixmap(size, ratio);
    if (pixmap.isNull() || pixmap.deviceIndependentSize() == QSizeF(size)) {
        return pixmap;
    }
    // An icon never comes out larger than its largest image: the widget style's standard icons
    // stop at 16 or 32 pixels for some symbols. Scaled from the largest, every picture of one
    // kind has the same size.
    QSize largest;
    for (const QSize& available : icon.availableSizes()) {
        if (available.width() * available.height() > largest.width() * largest.height()) {
            largest = available;
        }
    }
    if (largest.isValid()) {
        pixmap = icon.pixmap(largest, 1.0);
    }
    QPixmap scaled(size * ratio);
    scaled.setDevicePixelRatio(ratio);
    scaled.fill(Qt::transparent);
    QPainter painter(&scaled);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QSizeF fitted = QSizeF(pixmap.size()).scaled(QSizeF(size), Qt::KeepAspectRatio);
    const QRectF target(QPointF((extent - fitted.width()) / 2, (extent - fitted.height()) / 2),
                        fitted);
    painter.drawPixmap(target, pixmap, QRectF(pixmap.rect()));
    return scaled;
}

} // namespace cavrel
