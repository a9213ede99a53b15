#pragma once

// A TerminalView on a virtual clock, with the pinned test font, whose repaint requests and
// host calls are recorded:
//
//   ViewFixture f;                       // 80 x 25, nothing laid out
//   f.view().feed("\x1b[31mred");
//   f.clock.advance(17ms);               // the coalesced display pass runs
//   EXPECT_EQ(f.view().invalidated.size(), 1);

#include "ManualExecutor.h"
#include "TerminalView.h"
#include "TerminalViewDelegate.h"

#include <QFont>
#include <QString>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace veldatron::testing {

using namespace std::chrono_literals;

// The font every view test draws with: installed by scripts/setup (fonts-dejavu-core).
inline QFont pinnedFont(int pixelSize = 14) {
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(pixelSize);
    font.setStyleHint(QFont::Monospace);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

// A view whose repaint requests are kept instead of reaching Qt.
class RecordingView : public TerminalView {
public:
    using TerminalView::TerminalView;

    std::vector<QRectF> invalidated;
    bool metalView = false;
    // The device pixels per point of the window the view is taken to be in (0: its own).
    double windowScale = 0;
    // Also hand the rectangles to Qt, for tests that look at what reaches the screen.
    bool forwardToQt = false;

    using TerminalView::metalDirtyRange;
    using TerminalView::takeMetalDirtyRange;

protected:
    void setNeedsDisplay(const QRectF& rect) override {
        invalidated.push_back(rect);
        if (forwardToQt) {
            TerminalView::setNeedsDisplay(rect);
        }
    }
    bool hasMetalView() const override { return metalView; }
    double windowBackingScale() const override {
        return windowScale > 0 ? windowScale : TerminalView::windowBackingScale();
    }
};

// Everything the view tells its host.
class RecordingHost : public TerminalViewDelegate {
public:
    // Everything sent, and each send on its own.
    std::string sent;
    std::vector<std::string> sends;
    std::vector<std::string> calls;
    // Runs at every bell, for tests that look at the view then.
    std::function<void()> onBell;

    void clearSent() {
        sent.clear();
        sends.clear();
    }

    void sizeChanged(TerminalView&, int newCols, int newRows) override {
        calls.push_back("sizeChanged " + std::to_string(newCols) + "x" + std::to_string(newRows));
    }
    void setTerminalTitle(TerminalView&, const QString& title) override {
        calls.push_back("title " + title.toStdString());
    }
    void hostCurrentDirectoryUpdate(TerminalView&, const std::optional<QString>& dir) override {
        calls.push_back("directory " + (dir ? dir->toStdString() : std::string("none")));
    }
    void send(TerminalView&, std::span<const uint8_t> data) override {
        sent.append(reinterpret_cast<const char*>(data.data()), data.size());
        sends.emplace_back(reinterpret_cast<const char*>(data.data()), data.size());
    }
    void bell(TerminalView&) override {
        calls.push_back("bell");
        if (onBell) {
            onBell();
        }
    }
    void scrolled(TerminalView&, double position) override {
        calls.push_back("scrolled " + std::to_string(position));
    }
    void rangeChanged(TerminalView&, int startY, int endY) override {
        calls.push_back("rangeChanged " + std::to_string(startY) + " " + std::to_string(endY));
    }
    std::optional<std::vector<uint8_t>> clipboardRead(TerminalView&) override {
        return std::vector<uint8_t>{'s', 'e', 'c', 'r', 'e', 't'};
    }
};

class ViewFixture {
public:
    // The clock starts one second in: a time stamp of 0 means "no input yet".
    static constexpr auto start = 1s;

    explicit ViewFixture(TerminalOptions options = TerminalView::defaultStartupOptions(),
                         int fontPixelSize = 14)
        : m_view(nullptr, pinnedFont(fontPixelSize), options,
                 {&clock, [this] {
                      return uint64_t(
                          std::chrono::duration_cast<std::chrono::nanoseconds>(clock.now() + start)
                              .count());
                  }}) {
        m_view.setTerminalDelegate(&host);
        // What construction scheduled (the colours' first redraw) is done with.
        clock.advance(1s);
        m_view.invalidated.clear();
        host.calls.clear();
    }

    RecordingView& view() { return m_view; }
    Terminal& terminal() { return m_view.terminal(); }
    void feed(std::string_view bytes) {
        m_view.feed(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    }

    ManualExecutor clock;
    RecordingHost host;

private:
    RecordingView m_view;
};

} // namespace veldatron::testing
