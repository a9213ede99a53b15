// The bell, links opened with the system, and the view's plain options.

#include "TerminalView.h"
#include "TerminalViewDelegate.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QRegularExpression>
#include <QScrollBar>
#include <QVariantAnimation>

#include <cmath>

#include <pwd.h>
#include <unistd.h>

namespace veldatron {

namespace {

// The flash of the visual bell: the view's foreground colour over everything, its opacity rising
// to 0.35 and falling back to 0 in 0.2 s. It removes itself when done.
class VisualBellFlash : public QWidget {
public:
    VisualBellFlash(QWidget* parent, const QColor& color) : QWidget(parent), m_color(color) {
        setObjectName(QStringLiteral("visualBell"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setGeometry(parent->rect());
        auto* animation = new QVariantAnimation(this);
        animation->setObjectName(QStringLiteral("visualBellAnimation"));
        animation->setDuration(200);
        animation->setKeyValueAt(0, 0.0);
        animation->setKeyValueAt(0.3, 0.35);
        animation->setKeyValueAt(1, 0.0);
        connect(animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
            m_opacity = value.toDouble();
            update();
        });
        connect(animation, &QAbstractAnimation::finished, this, &QObject::deleteLater);
        show();
        raise();
        animation->start();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setOpacity(m_opacity);
        painter.fillRect(rect(), m_color);
    }

private:
    QColor m_color;
    double m_opacity = 0;
};

// "~" and "~user" at the start of a path become the home folder.
QString expandingTildeInPath(const QString& path) {
    if (!path.startsWith(QLatin1Char('~'))) {
        return path;
    }
    const qsizetype slash = path.indexOf(QLatin1Char('/'));
    const QString user = path.mid(1, slash < 0 ? -1 : slash - 1);
    const QString rest = slash < 0 ? QString() : path.mid(slash);
    if (user.isEmpty()) {
        return QDir::homePath() + rest;
    }
    const QByteArray name = user.toLocal8Bit();
    passwd entry{};
    passwd* found = nullptr;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size_t(size > 0 ? size : 16384));
    if (::getpwnam_r(name.constData(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr) {
        return path;
    }
    return QString::fromLocal8Bit(found->pw_dir) + rest;
}

const QRegularExpression& lineNumberSuffix() {
    static const QRegularExpression expression(QStringLiteral(":[0-9]+(?::[0-9]+)?$"));
    return expression;
}

std::optional<QUrl> fileURL(const QString& path) {
    return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
}

} // namespace

// ---- Bell -----------------------------------------------------------------------------------

void TerminalView::bell(Terminal&) {
    switch (m_bellStyle) {
    case BellStyle::none:
        return;
    case BellStyle::sound:
        if (m_terminalDelegate != nullptr) {
            m_terminalDelegate->bell(*this);
        }
        return;
    case BellStyle::visual:
        flashVisualBell();
        return;
    case BellStyle::soundAndVisual:
        if (m_terminalDelegate != nullptr) {
            m_terminalDelegate->bell(*this);
        }
        flashVisualBell();
        return;
    }
}

void TerminalView::flashVisualBell() {
    // The stored foreground, not the effective one: the flash is the same under reverse video.
    new VisualBellFlash(this, m_nativeFg.toQColor());
}

// ---- Links ----------------------------------------------------------------------------------

void TerminalView::openDefaultLink(const QString& link) {
    if (const std::optional<QUrl> url = defaultLinkURL(link)) {
        QDesktopServices::openUrl(*url);
    }
}

std::optional<QUrl> TerminalView::defaultLinkURL(const QString& link,
                                                 const std::function<bool(const QString&)>& exists) {
    const auto fileExists = [&](const QString& path) {
        return exists ? exists(path) : QFileInfo::exists(path);
    };
    const QString expanded = expandingTildeInPath(link);
    // A file name with a line number parses as a URL too ("main.c:12" has the scheme "main.c"):
    // an existing file wins.
    const QRegularExpressionMatch lineNumber = lineNumberSuffix().match(expanded);
    const bool namesFileWithLine =
        lineNumber.hasMatch() && fileExists(expanded.left(lineNumber.capturedStart()));
    if (!namesFileWithLine) {
        const QUrl url(link, QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty()) {
            return url;
        }
    }
    if (fileExists(expanded)) {
        return fileURL(expanded);
    }
    if (lineNumber.hasMatch()) {
        const QString path = expanded.left(lineNumber.capturedStart());
        if (fileExists(path)) {
            return fileURL(path);
        }
    }
    return std::nullopt;
}

// ---- Options --------------------------------------------------------------------------------

void TerminalView::setCustomBlockGlyphs(bool on) {
    m_customBlockGlyphs = on;
    markWholeScreenDirty();
    queuePendingDisplay();
}

void TerminalView::setAntiAliasCustomBlockGlyphs(bool on) {
    m_antiAliasCustomBlockGlyphs = on;
    markWholeScreenDirty();
    queuePendingDisplay();
}

QRectF TerminalView::getOptimalFrameSize() const {
    const double scroller = m_scroller->isHidden() ? 0 : scrollerWidth();
    return {0, 0, m_cellDimension.width() * m_terminal->cols() + scroller,
            m_cellDimension.height() * m_terminal->rows()};
}

void TerminalView::resetFontSize() {
    setTerminalFont(defaultFont());
}

QRectF TerminalView::scaledImageRect(const QSizeF& image, const QSizeF& size) {
    const double W = size.width();
    const double H = size.height();
    const double iw = image.width();
    const double ih = image.height();
    if (!(iw > 0) || !(ih > 0) || !(W > 0) || !(H > 0)) {
        return QRectF(QPointF(0, 0), size);
    }
    // An image relatively taller than the size spans its width (and is cut at the top and
    // bottom); a wider one spans its height.
    if (ih / iw >= H / W) {
        const double height = W * ih / iw;
        return QRectF(0, (H - height) / 2, W, height);
    }
    const double width = H * iw / ih;
    return QRectF((W - width) / 2, 0, width, H);
}

QImage TerminalView::scale(const QImage& image, QSize size) {
    QImage result(size, QImage::Format_RGBA8888);
    result.fill(Qt::transparent);
    if (image.isNull() || size.isEmpty()) {
        return result;
    }
    QPainter painter(&result);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(scaledImageRect(QSizeF(image.size()), QSizeF(size)), image);
    return result;
}

} // namespace veldatron
