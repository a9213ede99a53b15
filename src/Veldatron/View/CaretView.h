#pragma once

#include "CharData.h"
#include "Executor.h"
#include "FontSet.h"
#include "PlatformColor.h"
#include "TerminalOptions.h"

#include <QImage>
#include <QPointer>
#include <QRawFont>
#include <QRectF>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

class QPainter;

namespace veldatron {

class TerminalView;

/// The cursor as drawn over the terminal's rows: a small child of the terminal view laid over
/// the cursor's cell. It draws a block, an underline or a bar in the caret colour (an outline
/// while the view does not have the focus) and, inside a block, the character under the cursor
/// in the caret text colour. Blinking styles fade out and back in (0.7 s each way) by the
/// caret's own opacity. The caret paints the terminal's rows beneath it too, from a copy that the
/// terminal view invalidates when it repaints them, so blinking repaints only the caret's cell.
///
/// The terminal view creates it, places it in every display pass (setFrame, setText), shows or
/// hides it with the cursor, and owns it as a child widget. It never takes mouse events.
class CaretView : public QWidget {
    Q_OBJECT

public:
    /// The length of one fade, out or in.
    static constexpr int blinkHalfPeriodMs = 700;
    /// How often a fading caret is drawn again: forty frames a blink look smooth and wake the
    /// process half as often as an animation at the display's rate would.
    static constexpr std::chrono::milliseconds blinkFrameInterval{35};

    CaretView(const QRectF& frame, CursorStyle cursorStyle, TerminalView* terminal);
    ~CaretView() override;

    /// The cell under the cursor: its width sets the caret's, its character is drawn in a
    /// block (nothing while it blinks in the hidden phase).
    void setText(const CharData& ch);
    /// Applies the style and the view's focus to the blinking, and redraws.
    void updateCursorStyle();
    /// Starts the blinking when `focused`, else stops it; either way from full opacity.
    void updateAnimation(bool focused);
    /// Draws the caret in `bounds` (its own rectangle in the painter's coordinates).
    void drawCursor(QPainter& painter, const QRectF& bounds, bool hasFocus);

    /// Where the caret lies in the terminal view, exactly; the widget covers it in whole pixels.
    QRectF frame() const { return m_frame; }
    void setFrame(const QRectF& frame);
    /// The terminal's rows beneath the caret changed: its next paint draws them again.
    void invalidateBackdrop();

    CursorStyle style() const { return m_style; }
    void setStyle(CursorStyle style) { m_style = style; }
    /// When true the caret shows the view's focus (an outline and no blinking while unfocused);
    /// when false it is always drawn as focused.
    bool tracksFocus() const { return m_tracksFocus; }
    void setTracksFocus(bool on) { m_tracksFocus = on; }
    bool focused() const { return m_focused; }
    void setFocused(bool on) { m_focused = on; }

    const PlatformColor& defaultCaretColor() const { return m_defaultCaretColor; }
    const PlatformColor& caretColor() const { return m_caretColor; }
    void setCaretColor(const PlatformColor& color) { m_caretColor = color; }
    const std::optional<PlatformColor>& defaultCaretTextColor() const {
        return m_defaultCaretTextColor;
    }
    const std::optional<PlatformColor>& caretTextColor() const { return m_caretTextColor; }
    void setCaretTextColor(const std::optional<PlatformColor>& color) { m_caretTextColor = color; }

    /// Columns of the character under the caret: 1, or its width when wider.
    int glyphColumnWidth() const { return m_glyphColumnWidth; }
    /// The character's code when it is a separator whose shape is drawn rather than taken from
    /// the font (U+E0B0, U+E0B2, U+E0B4, U+E0B6).
    std::optional<uint32_t> powerlineCodePoint() const { return m_powerlineCodePoint; }
    /// The text drawn inside a block; none before the first setText.
    const std::optional<QString>& text() const { return m_text; }

    /// Whether the fade runs now.
    bool isBlinking() const;
    /// The opacity the caret is drawn with now: 1 unless it is fading.
    double opacity() const { return m_opacity; }
    /// The opacity `seconds` into a blink cycle: an ease-in fade from 1 to 0 over 0.7 s, then
    /// the same backwards, back to 1 at 1.4 s.
    static double blinkOpacity(double seconds);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Glyph {
        QRawFont font;
        quint32 index = 0;
        QPointF position; // from the caret's bottom-left corner, y downwards
    };

    void layOutGlyphs(const QString& text, FontStyle fontStyle);
    void drawPowerline(QPainter& painter, const QRectF& bounds, uint32_t code);
    void stopBlinking();
    void scheduleBlinkFrame();
    void blinkFrame();
    void renderBackdrop();

    QPointer<TerminalView> m_terminal;
    QRectF m_frame;
    std::optional<QString> m_text;
    std::vector<Glyph> m_glyphs;
    int m_glyphColumnWidth = 1;
    std::optional<uint32_t> m_powerlineCodePoint;
    bool m_tracksFocus = true;
    CursorStyle m_style;
    PlatformColor m_defaultCaretColor;
    PlatformColor m_caretColor;
    std::optional<PlatformColor> m_defaultCaretTextColor;
    std::optional<PlatformColor> m_caretTextColor;
    bool m_focused = false;
    // The fade runs on the terminal view's executor and clock (a test's own when it has them).
    bool m_blinking = false;
    uint64_t m_blinkStartNs = 0;
    TaskHandle m_blinkFrame;
    double m_opacity = 1;
    // The terminal's rows beneath the caret, as the view paints them.
    QImage m_backdrop;
    bool m_backdropStale = true;
};

} // namespace veldatron
