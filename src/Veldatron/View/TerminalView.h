#pragma once

#include "BellStyle.h"
#include "BidiRowLayout.h"
#include "Executor.h"
#include "FontSet.h"
#include "ImageInsertion.h"
#include "KeyInput.h"
#include "KittyGraphicsPayload.h"
#include "KittyKeyEvent.h"
#include "LinkMatch.h"
#include "MetalRecovery.h"
#include "PlatformColor.h"
#include "RunAttributes.h"
#include "SearchEngine.h"
#include "SemanticPrompt.h"
#include "Terminal.h"
#include "TerminalDelegate.h"
#include "TextCommand.h"
#include "TextRange.h"
#include "ViewLineSegment.h"
#include "GL/MetalBufferingMode.h"

#include <QFont>
#include <QImage>
#include <QPointer>
#include <QRawFont>
#include <QRectF>
#include <QSizeF>
#include <QTextLayout>
#include <QUrl>
#include <QWidget>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

class QAction;
class QLabel;
class QPainter;
class QScrollBar;

namespace veldatron {

class CaretView;
class CellShaper;
class DictationOverlayTextView;
class SearchService;
class SelectionService;
class TerminalDebugView;
class TerminalFindBarView;
class TerminalProgressBarView;
class TerminalViewDelegate;
class TerminalViewMetalHosting;

/// Where a view's timers run and what it reads as the time: the GUI thread's executor and the
/// monotonic clock (nanoseconds) unless a test supplies its own.
struct TerminalViewScheduling {
    Executor* executor = nullptr;
    std::function<uint64_t()> uptimeNs;
};

/// The widget that shows one Terminal. It owns the terminal and is its host (TerminalDelegate),
/// feeds it the bytes its own host hands over, schedules and paints the screen with QPainter,
/// keeps the viewport over the scrollback with a child scroll bar at its right edge, and passes
/// what concerns the program around it to a TerminalViewDelegate.
///
/// Coordinates are Qt's: origin top left, y downwards, in device-independent pixels. Screen row
/// r covers y from r * h to (r + 1) * h (h the cell height); below the last whole row lies the
/// band, the remainder of the height. Columns start at x 0; the scroll bar covers the right edge
/// and is not part of the text area.
///
///     0 +--------------------------------+--+
///       | row 0                          |  |
///     h | row 1                          |sb|
///       | ...                            |  |
///  rows*h +------------------------------+  |
///       | band (height mod h)            |  |
///     H +--------------------------------+--+
///
/// Display: output marks rows dirty in the terminal; a display pass turns them into one
/// rectangle to repaint, 17 ms after the request (coalescing every request until then), at once
/// when the user sent input in the last 150 ms, and never while the program holds synchronized
/// output (mode 2026).
///
/// Everything runs on the GUI thread. The view is complete after its constructor: terminal,
/// fonts and cell size exist for its whole life.
class TerminalView : public QWidget, public TerminalDelegate {
    Q_OBJECT

public:
    using Scheduling = TerminalViewScheduling;

    /// Output arriving no later than this after the last input is displayed at once.
    static constexpr uint64_t interactiveInputDisplayWindowNs = 150'000'000;
    /// The delay of a coalesced display pass: 16.67 ms, rounded up to a whole millisecond for
    /// the millisecond timers it runs on.
    static constexpr std::chrono::milliseconds displayCoalescingDelay{17};
    /// The bounds of the attribute and colour caches, emptied whole when full.
    static constexpr size_t attributeCacheLimit = 4096;
    /// How many rows above and below its own a row's ink may reach (stacked combining marks,
    /// glyphs taller than the cell); the rest is cut off. A change of a row repaints that many
    /// rows around it, and a repaint draws the rows that far around what it covers, so that
    /// any repaint leaves the same pixels as a repaint of the whole view.
    static constexpr int inkOverflowRows = 2;

    /// A view with the default font and options (80 x 25 until it is laid out).
    explicit TerminalView(QWidget* parent = nullptr);
    /// `font` none: the system's fixed-pitch font.
    TerminalView(QWidget* parent, const std::optional<QFont>& font, const TerminalOptions& options,
                 Scheduling scheduling = {});
    ~TerminalView() override;

    /// The options of a view made without any: 80 x 25, "xterm-256color", 500 lines of
    /// scrollback and the other defaults of the terminal.
    static TerminalOptions defaultStartupOptions();
    /// The system's fixed-pitch font.
    static QFont defaultFont();

    // ---- Host --------------------------------------------------------------------------------
    TerminalViewDelegate* terminalDelegate() const { return m_terminalDelegate; }
    void setTerminalDelegate(TerminalViewDelegate* delegate) { m_terminalDelegate = delegate; }
    Terminal& getTerminal() { return *m_terminal; }
    Terminal& terminal() { return *m_terminal; }
    const Terminal& terminal() const { return *m_terminal; }
    Executor& executor() const { return *m_executor; }
    /// The monotonic clock, in nanoseconds, that the view's timers go by.
    uint64_t uptimeNs() const { return m_uptimeNs(); }

    // ---- Fonts and metrics -------------------------------------------------------------------
    const QFont& terminalFont() const { return m_fontSet.normal; }
    /// Builds the four fonts from `font`, measures the cell again and refits the terminal.
    void setTerminalFont(const QFont& font);
    const FontSet& fontSet() const { return m_fontSet; }
    double lineSpacing() const { return m_lineSpacing; }
    void setLineSpacing(double spacing);
    /// Whether text is drawn with subpixel smoothing; the next drawing uses the new value.
    bool fontSmoothing() const { return m_fontSmoothing; }
    void setFontSmoothing(bool smoothing) { m_fontSmoothing = smoothing; }
    /// The size of one cell in device-independent pixels, on the device-pixel grid.
    QSizeF cellDimension() const { return m_cellDimension; }
    QSizeF computeFontDimensions() const;
    /// The cell size for font metrics: height ceil(ceil(lineHeight * spacing) * s) / s, at most
    /// 8192 and at least 1; width the advance rounded to device pixels, at least 1.
    static QSizeF cellSize(double lineHeight, double advance, double lineSpacing, double scale);
    /// Measures the cell again and, with a size, refits the terminal to the view and
    /// soft-resets it.
    void resetFont();
    /// Empties the attribute and colour caches.
    void resetCaches();
    /// Sets the terminal to the size, announces it and soft-resets the terminal.
    void resizeTerminal(int cols, int rows);
    /// Refits the terminal to a view size: true when its columns or rows changed.
    bool processSizeChange(const QSizeF& newSize);
    /// Device pixels per device-independent pixel of the view's screen.
    double backingScaleFactor() const;
    /// The width left for text: `size`'s width without the scroll bar, at least 0.
    double getEffectiveWidth(const QSizeF& size) const;

    // ---- Output, input and display -----------------------------------------------------------
    /// Bytes from the host, in order: parsed at once, then displayed.
    void feed(std::span<const uint8_t> byteArray);
    void feed(const QString& text);
    /// Bytes for the host as user input (keys, paste, typed text).
    void send(std::span<const uint8_t> data);
    /// The UTF-8 bytes of the text, as user input.
    void send(const QString& txt);
    /// Asks for a coalesced display pass.
    void queuePendingDisplay();
    /// Runs a display pass now.
    void displayImmediately();
    /// One display pass: the dirty rows become a rectangle to repaint.
    void updateDisplay(bool notifyAccessibility);
    /// Where the cursor cell is, for the caret: empty while the cursor is hidden or below the
    /// viewport.
    QRectF caretFrame() const { return m_caretFrame; }
    void updateCursorPosition();
    bool pendingDisplay() const { return m_pendingDisplay; }
    /// Report every display pass's rows to the host (rangeChanged).
    bool notifyUpdateChanges() const { return m_notifyUpdateChanges; }
    void setNotifyUpdateChanges(bool on) { m_notifyUpdateChanges = on; }
    bool allowMouseReporting() const { return m_allowMouseReporting; }
    void setAllowMouseReporting(bool on) { m_allowMouseReporting = on; }
    /// Whether programs may read the clipboard (OSC 52 queries). Off: such a query is answered
    /// as for an empty clipboard; writing the clipboard is always allowed.
    bool allowClipboardRead() const { return m_allowClipboardRead; }
    void setAllowClipboardRead(bool on) { m_allowClipboardRead = on; }

    // ---- Viewport ----------------------------------------------------------------------------
    /// 0 (top of the scrollback) to 1 (bottom); 0 on the alternate screen.
    double scrollPosition() const;
    double scrollThumbsize() const;
    bool canScroll() const;
    bool userScrolling() const { return m_userScrolling; }
    /// Moves the viewport to a scroll position (the scroll bar's knob).
    void scrollToPosition(double position);
    /// Shows buffer line `row` at the top (clamped to the scrollable range).
    void scrollTo(int row, bool notifyAccessibility = true);
    void scrollUp(int lines);
    void scrollDown(int lines);
    void pageUp();
    void pageDown();
    void changeScrollback(std::optional<int> lines);
    void clearScrollback();
    QScrollBar* scroller() const { return m_scroller; }

    // ---- Colours -----------------------------------------------------------------------------
    PlatformColor nativeForegroundColor() const { return m_nativeFg; }
    void setNativeForegroundColor(const PlatformColor& color);
    PlatformColor nativeBackgroundColor() const { return m_nativeBg; }
    void setNativeBackgroundColor(const PlatformColor& color);
    double backgroundOpacity() const { return m_nativeBg.alpha; }
    void setBackgroundOpacity(double opacity);
    PlatformColor selectedTextBackgroundColor() const { return m_selectedTextBackgroundColor; }
    void setSelectedTextBackgroundColor(const PlatformColor& color);
    PlatformColor selectedTextForegroundColor() const { return m_selectedTextForegroundColor; }
    void setSelectedTextForegroundColor(const PlatformColor& color);
    /// Bold text in the eight base colours is drawn in their bright variants.
    bool useBrightColors() const { return m_useBrightColors; }
    void setUseBrightColors(bool on) { m_useBrightColors = on; }
    /// The default colours as drawn: swapped while reverse video (DECSCNM) is on.
    PlatformColor effectiveNativeForegroundColor() const;
    PlatformColor effectiveNativeBackgroundColor() const;
    /// Installs a 16-colour base palette (any other count changes no palette) and redraws.
    void installColors(std::span<const Color> colors);
    /// Drops the colour-dependent caches and redraws the whole screen.
    void colorsChanged();

    // ---- Row layout --------------------------------------------------------------------------
    /// The drawing attributes of a cell attribute; `withUrl` for a cell drawn as a highlighted
    /// link. Cached per attribute.
    std::shared_ptr<const RunAttributes> getAttributes(const Attribute& attribute, bool withUrl);
    /// The same for explicit colours, not cached (the caret's character).
    RunAttributes getAttributedValue(const Attribute& attribute, const PlatformColor& usingFg,
                                     const PlatformColor& andBg);
    PlatformColor mapColor(Attribute::Color color, bool isFg, bool isBold, bool useBrightColors);
    /// Lays out buffer line `row` (an index into the active screen's line ring) of `cols`
    /// columns as segments of attributed text, in visual order when a bidirectional layout
    /// applies, with the cells drawn as shapes (box drawing, block elements, powerline
    /// separators) listed apart.
    ViewLineInfo buildAttributedString(int row, const BufferLine& line, int cols);
    /// The cell drawn at `column` of a row of `cols` columns: the cell itself, unless it is half
    /// of a wide character whose other half is gone (a wide cell not followed by its right half,
    /// or a right half with no wide cell before it); that is drawn as a blank one column wide.
    static CharData drawnCell(const BufferLine& line, int column, int cols);

    // ---- Bidirectional layout (TerminalViewBidi.cpp) -----------------------------------------
    /// Whether the view lays out rows as the terminal's bidirectional settings say
    /// (respectTerminal, the default) or draws every row left to right as stored.
    BidiHostPolicy bidiHostPolicy() const { return m_bidiHostPolicy; }
    void setBidiHostPolicy(BidiHostPolicy policy);
    /// The visual layout of buffer line `row` of the active screen laid out for `cols` columns;
    /// null when the row is drawn in logical order.
    std::shared_ptr<const BidiRowLayout> bidiRowLayout(int row, int cols);
    /// The column at which logical column `column` of buffer line `row` is drawn.
    int visualColumn(int row, int column);
    /// The direction of the paragraph that holds buffer line `row`: left to right under
    /// legacyLeftToRight.
    BidiDirection paragraphDirection(int row);

    // ---- Drawing -----------------------------------------------------------------------------
    /// Where and how large a glyph goes in a slot of `columnWidth` cells.
    struct GlyphSlotFit {
        double dx = 0;    // from the slot's left edge
        double dy = 0;    // upwards, from the baseline
        double scale = 1; // 0.1...1
        friend bool operator==(const GlyphSlotFit&, const GlyphSlotFit&) = default;
    };
    /// Centres a glyph in its slot, shrinking it (to no less than a tenth, then centred
    /// vertically in the cell) when its ink is wider than the slot or taller than the cell. A
    /// slot of one column never moves or scales its glyph.
    GlyphSlotFit glyphSlotFit(const QRawFont& font, quint32 glyph, int columnWidth) const;
    /// The glyphs of cells that need shaping (fallback fonts, marks, emoji), for the rows and
    /// the caret; emptied with the font.
    CellShaper& cellShaper() const { return *m_shaper; }
    /// Paints the rows `dirtyRect` touches, with `bufferOffset` the buffer line shown at the top.
    void drawTerminalContents(const QRectF& dirtyRect, QPainter& painter, int bufferOffset);
    /// Draws a run's underline and strike-through: one decoration `slotWidth` long from each
    /// position (a cell's left edge on the baseline).
    void drawRunAttributes(const RunAttributes& attributes, std::span<const QPointF> positions,
                           double slotWidth, QPainter& painter);

    // ---- Keyboard (TerminalViewKeyboard.cpp) -------------------------------------------------
    /// Alt acts as Meta: it is the kitty alt modifier, and in the legacy encoding a key held
    /// with it sends ESC and the key's character. Off, Alt is left to the keyboard layout.
    bool optionAsMetaKey() const { return m_optionAsMetaKey; }
    void setOptionAsMetaKey(bool on) { m_optionAsMetaKey = on; }
    /// Backspace sends 0x08 instead of 0x7F.
    bool backspaceSendsControlH() const { return m_backspaceSendsControlH; }
    void setBackspaceSendsControlH(bool on) { m_backspaceSendsControlH = on; }
    /// The link modifier (Ctrl) is held.
    bool commandActive() const { return m_commandActive; }
    /// A key press (not of a modifier key): bytes for the program, a scroll of the view, or
    /// the text system's command or text.
    void keyDown(const KeyInput& event);
    /// A key release: reported only while the program asked for key events.
    void keyUp(const KeyInput& event);
    /// A modifier key went down (`pressed`) or up.
    void flagsChanged(const KeyInput& event, bool pressed);
    /// An editing command of the text system: tried as a key of the encoder, else its bytes.
    void doCommand(TextCommand command);
    /// An input method's composition is in progress.
    bool kittyIsComposing() const { return m_kittyIsComposing; }

    // ---- Text input (TerminalViewTextInput.cpp) ----------------------------------------------
    /// Committed text (typed, from an input method, or pasted when `isPaste`): sent as UTF-8,
    /// inside the bracketed-paste markers when the program asked for them, or as kitty key
    /// events while the program asked for the kitty keyboard protocol. Ends any composition.
    void insertText(const QString& text, bool isPaste = false);
    /// Sends the clipboard's text as a paste.
    void paste();
    /// The input method's composition in progress (`text` empty: none), with its selection
    /// and its formats (underlines and the like).
    void setMarkedText(const QString& text, TextRange selectedRange,
                       const QList<QTextLayout::FormatRange>& formats = {});
    void unmarkText();
    bool hasMarkedText() const { return m_markedText.has_value(); }
    /// (0, composition length) during a composition, else (notFound, 0).
    TextRange markedRange() const;
    TextRange markedSelectedRange() const { return m_markedSelectedRange; }
    /// The caret's place in the screen's text, row * cols + column.
    TextRange selectedRange() const;
    /// Part of the composition; none outside it. `actualRange` receives the part returned.
    std::optional<QString> attributedSubstring(TextRange range, TextRange* actualRange) const;
    /// Where an input method puts its window: the caret in global coordinates (empty without
    /// a window), whatever range is asked for.
    QRect firstRect(TextRange range, TextRange* actualRange) const;
    /// The text index of a point in window coordinates: row * cols + column, not clamped.
    qsizetype characterIndex(const QPointF& windowPoint) const;
    /// The composition overlay; present exactly while there is a composition.
    DictationOverlayTextView* markedTextOverlay() const { return m_markedTextOverlay; }
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

    // ---- Caret and focus (TerminalViewCaret.cpp) ---------------------------------------------
    CaretView& caretView() const { return *m_caretView; }
    /// The view has the keyboard focus and its window is the active one.
    bool terminalHasFocus() const;
    void setTerminalHasFocus(bool focused);
    /// Whether the caret shows the focus (outline and no blinking while unfocused).
    bool caretViewTracksFocus() const;
    void setCaretViewTracksFocus(bool on);
    /// The caret's colour while set by the host; setting it ends the default (the default
    /// foreground).
    PlatformColor caretColor() const;
    void setCaretColor(const PlatformColor& color);
    /// The colour of the character under a block caret; none: the default background.
    std::optional<PlatformColor> caretTextColor() const;
    void setCaretTextColor(const std::optional<PlatformColor>& color);
    PlatformColor effectiveCaretColor() const;
    PlatformColor effectiveCaretTextColor() const;
    /// Sets the caret colours from terminal colours; none returns one to its default.
    void setCursorColor(Terminal& source, std::optional<Color> color,
                        std::optional<Color> textColor);
    using TerminalDelegate::setCursorColor;

    // ---- Text blink (TerminalViewBlink.cpp) --------------------------------------------------
    /// The blink phase: blinking cells are drawn while true.
    bool textBlinkVisible() const { return m_textBlinkVisible; }
    /// Starts the 0.7 s blink timer while blinking cells are in view, the view is shown, the
    /// application is active and motion is not reduced; otherwise stops it, text visible.
    void updateTextBlinkLifecycle();
    bool textBlinkRunning() const { return m_textBlinkTimer.isPending(); }
    /// The buffer lines in view that hold a blinking cell, in order.
    std::vector<int> visibleBlinkRows() const;
    /// The user asked for less motion: blinking text is shown steadily.
    bool reduceMotion() const { return m_reduceMotion; }
    void setReduceMotion(bool on);
    /// The application is active, as last reported.
    bool textBlinkApplicationActive() const { return m_textBlinkApplicationActive; }

    // ---- Host operations (TerminalViewHost.cpp) ----------------------------------------------
    BellStyle bellStyle() const { return m_bellStyle; }
    void setBellStyle(BellStyle style) { m_bellStyle = style; }
    /// Flashes the view in its foreground colour (0.2 s).
    void flashVisualBell();
    /// Box drawing, block elements and powerline separators are drawn as shapes, not glyphs.
    bool customBlockGlyphs() const { return m_customBlockGlyphs; }
    void setCustomBlockGlyphs(bool on);
    bool antiAliasCustomBlockGlyphs() const { return m_antiAliasCustomBlockGlyphs; }
    void setAntiAliasCustomBlockGlyphs(bool on);
    /// How the scroll bar is drawn; both styles take the same width here.
    enum class ScrollerStyle : uint8_t { legacy, overlay };
    ScrollerStyle scrollerStyle() const { return m_scrollerStyle; }
    void setScrollerStyle(ScrollerStyle style) { m_scrollerStyle = style; }
    /// The view's size for its terminal's columns and rows, the scroll bar included.
    QRectF getOptimalFrameSize() const;
    /// Back to the system's fixed-pitch font.
    void resetFontSize();
    /// The image drawn into `size`, its aspect kept, centred and filling the size (cut where it
    /// reaches beyond).
    static QImage scale(const QImage& image, QSize size);
    /// Where scale() draws an image of `image` size into `size`.
    static QRectF scaledImageRect(const QSizeF& image, const QSizeF& size);
    /// Opens a link with the system (defaultLinkURL); text that resolves to nothing is ignored.
    static void openDefaultLink(const QString& link);
    /// What a link's text opens: an existing file named with a line number ("main.c:12"), a
    /// URL with a scheme, an existing file or directory ("~" expanded), a file followed by a
    /// line and column; none otherwise. `fileExists` answers for a path (default: the file
    /// system).
    static std::optional<QUrl>
    defaultLinkURL(const QString& link,
                   const std::function<bool(const QString&)>& fileExists = nullptr);

    // ---- Images (TerminalViewImages.cpp) -----------------------------------------------------
    /// Shows a picture at the cursor: sized in cells by the requests, cut into one slice per
    /// cell row (RowImage), each attached to the row it covers, with a line feed after each.
    /// While the terminal shows a kitty placement the slices carry it and its record is written.
    void insertImage(const QImage& image, const ImageSizeRequests& requests);
    /// Encoded image data in any format Qt reads, at most 10000 pixels a side; null otherwise.
    static QImage decodeImage(std::span<const uint8_t> data);
    /// The picture of a stored kitty image, for placeholder cells: decoded once per stored
    /// payload and kept while the store holds it; none when it is not stored or does not decode.
    std::optional<QImage> kittyPlaceholderImage(uint32_t imageId);
    /// The largest rectangle of the image's aspect ratio centred in `rect` (`rect` itself when
    /// either is empty).
    static QRectF kittyAspectFitRect(const QSizeF& imageSize, const QRectF& rect);

    // ---- Progress bar (TerminalViewProgress.cpp) ---------------------------------------------
    /// The 2-pixel bar along the top edge that shows OSC 9;4 reports.
    TerminalProgressBarView& progressBarView() const { return *m_progressBarView; }
    /// Shows a report: a percentage, a sliding segment, red for an error, orange for a pause;
    /// hidden by a remove report or when no report came for 15 s.
    void handleProgressReport(const ProgressReport& report);
    void clearProgressReport();
    /// The percentage last shown, reused by an error or pause report that carries none.
    std::optional<uint8_t> lastProgressValue() const { return m_lastProgressValue; }
    /// A report not renewed within this time is stale: the bar goes.
    static constexpr std::chrono::seconds progressReportTimeout{15};

    // ---- Debug view -------------------------------------------------------------------------
    /// The diagnostic overlay attached to this view, refreshed by every display pass; null
    /// unless one was made. Not owned.
    TerminalDebugView* debug() const;
    void setDebug(TerminalDebugView* debug);
    // ---- Mouse (TerminalViewMouse.cpp) -------------------------------------------------------
    /// The cell under a point of the view (a buffer position, clamped into the screen's columns
    /// and lines, in logical order on right-to-left rows) and the point itself in the pixels of
    /// pixel mouse reports, measured from the top left and clamped into the view.
    struct MouseHit {
        Position grid;
        Position pixels;
        friend bool operator==(const MouseHit&, const MouseHit&) = default;
    };
    MouseHit calculateMouseHit(const QPointF& point);
    /// The button code of a mouse report: 3 for a release, else 0, 1 or 2 for the left, middle
    /// and right button, with the modifier bits of the modes that send them.
    int encodeMouseEvent(Qt::MouseButton button, Qt::KeyboardModifiers modifiers,
                         bool release) const;
    /// Factor applied to every wheel movement.
    double scrollSensitivity() const { return m_scrollSensitivity; }
    void setScrollSensitivity(double sensitivity) { m_scrollSensitivity = sensitivity; }
    /// Precise (touchpad) wheel movement, in pixels, not yet turned into whole lines.
    double scrollAccumulator() const { return m_scrollAccumulator; }
    /// Whether the view wants pointer motion without a button: the program asked for every
    /// motion, the link modifier is held, or links are highlighted under the pointer.
    bool wantsPointerMotion() const;
    /// Turns pointer motion on; deregisterTrackingInterest turns it off unless still wanted.
    void startTracking();
    void deregisterTrackingInterest();

    // ---- Selection and clipboard (TerminalViewSelection.cpp) ---------------------------------
    SelectionService& selection() const { return *m_selection; }
    bool selectionActive() const;
    /// The selected text while the selection is active.
    std::optional<QString> getSelection() const;
    void selectAll();
    /// Ends an active selection (character mode, no anchors).
    void selectNone();
    /// Puts the text of the last selection, active or not, on the clipboard.
    void copy();
    /// The columns of buffer line `row` that the active selection covers: the later end is
    /// excluded, unless it lies on the last column.
    std::optional<ColumnRange> selectedColumnsRange(int row, int cols) const;
    /// Lines per auto-scroll tick while a drag is beyond the top (negative) or bottom edge.
    int autoScrollDelta() const { return m_autoScrollDelta; }
    /// How long a single click into a shell prompt waits for a second click before it moves the
    /// shell's cursor: the platform's double-click interval unless set.
    std::chrono::milliseconds semanticClickCoalescingDelay() const {
        return m_semanticClickCoalescingDelay;
    }
    void setSemanticClickCoalescingDelay(std::chrono::milliseconds delay) {
        m_semanticClickCoalescingDelay = delay;
    }
    /// How long two presses may lie apart to count as one double (or triple) click.
    std::chrono::milliseconds multiClickInterval() const { return m_multiClickInterval; }
    void setMultiClickInterval(std::chrono::milliseconds interval) {
        m_multiClickInterval = interval;
    }

    // ---- Links (TerminalViewLinks.cpp) -------------------------------------------------------
    /// Which links the pointer records (lastReportedLink): none, OSC 8 links, or detected ones
    /// too.
    enum class LinkReporting : uint8_t { none, explicit_, implicit };
    /// When links are underlined and clickable: under the pointer, under the pointer while the
    /// link modifier (Ctrl) is held, every OSC 8 link, every OSC 8 link while Ctrl is held.
    enum class LinkHighlightMode : uint8_t { hover, hoverWithModifier, always, alwaysWithModifier };
    LinkReporting linkReporting() const { return m_linkReporting; }
    void setLinkReporting(LinkReporting reporting) { m_linkReporting = reporting; }
    LinkHighlightMode linkHighlightMode() const { return m_linkHighlightMode; }
    void setLinkHighlightMode(LinkHighlightMode mode);
    /// The rows and columns of the link underlined under the pointer.
    const std::optional<std::vector<LinkMatch::RowRange>>& linkHighlightRange() const {
        return m_linkHighlightRange;
    }
    /// The text of the link last found under the pointer while Ctrl was held.
    const std::optional<QString>& lastReportedLink() const { return m_lastReportedLink; }
    /// The OSC 8 payload of a cell (the wide character's for its right half).
    std::optional<QString> payloadString(Position at);
    /// An OSC 8 payload split into its URL (everything after the first ";") and its parameters
    /// ("key=value" pairs separated by ":"); none without a ";".
    static std::optional<std::pair<QString, std::map<QString, QString>>>
    urlAndParamsFrom(const QString& payload);
    struct LinkToOpen {
        QString link;
        std::map<QString, QString> params;
        friend bool operator==(const LinkToOpen&, const LinkToOpen&) = default;
    };
    /// The link that a click at a cell opens, by the highlight mode.
    std::optional<LinkToOpen> linkForClick(Position at, bool hasCommandModifier);
    /// Underlines the link at a cell (or none) as the highlight mode says; `commandOverride`
    /// stands for whether Ctrl is held.
    void updateHoverLink(Position at, std::optional<bool> commandOverride);
    void reportLink(Position at);
    /// The URL of the OSC 8 link under the pointer while Ctrl is held, at the bottom left.
    QLabel* urlPreview() const { return m_urlPreview; }

    // ---- Find (TerminalViewFind.cpp) ---------------------------------------------------------
    /// Selects the next (previous) match after (before) the selection, wrapping round, and
    /// scrolls it into view when asked: false when there is none, which ends the selection.
    bool findNext(const QString& term, const SearchOptions& options, bool scrollToResult);
    bool findPrevious(const QString& term, const SearchOptions& options, bool scrollToResult);
    /// Forgets the search and ends the selection.
    void clearSearch();
    /// The 1-based number of the last match found among all matches (at most `limit`), and
    /// their count; 0 for the number when the last match is not among them.
    std::pair<int, int> searchMatchSummary(const QString& term, const SearchOptions& options,
                                           int limit);
    /// The find commands: 1 show the find bar, 2 next, 3 previous, 7 use the selection for
    /// find, 11 hide the find bar.
    void performFindPanelAction(int tag);
    void showFindBar(bool prefillSelection);
    /// Finds the next (previous) match of the find bar's text, or of the find string while the
    /// bar is hidden.
    void performFind(bool next);
    TerminalFindBarView* findBar() const { return m_findBar; }
    /// The find string shared by every view of the process: the last term searched for.
    static QString& findPasteboard();

    // ---- GPU renderer (TerminalViewMetal.cpp) ------------------------------------------------
    /// Turns drawing by the GPU renderer on or off. Throws the renderer's MetalError when it
    /// cannot be set up (no GL context: deviceUnavailable); the view then draws as before.
    /// Defined by the GPU renderer library: a host that calls it links veldatron_gl.
    void setUseMetal(bool enabled);
    bool isUsingMetalRenderer() const;
    const MetalRendererStatus& metalRendererStatus() const { return m_metalRendererStatus; }
    /// Stores and announces a status (metalRendererStatusChanged), changed or not; from another
    /// thread it is delivered on the view's thread, unless the view is gone by then.
    void setMetalRendererStatus(const MetalRendererStatus& status);
    MetalBufferingMode metalBufferingMode() const { return m_metalBufferingMode; }
    void setMetalBufferingMode(MetalBufferingMode mode) { m_metalBufferingMode = mode; }
    /// The scale the GPU renderer draws at instead of the screen's (never below 1).
    std::optional<double> metalScaleFactorOverride() const { return m_metalScaleFactorOverride; }
    void setMetalScaleFactorOverride(std::optional<double> scale);
    /// While the GPU renderer draws: draws a frame at once.
    void drawMetalFrameNow();
    /// Whether retrying and recovering failed GPU frames makes sense now: GPU drawing is on and
    /// shown, the window is visible, exposed and not minimised, and the view has an area.
    bool isMetalRendererEligibleForRetry() const;
    /// A GPU redraw of the whole view, coalesced like a display pass (17 ms).
    void queueMetalDisplay();
    /// Buffer lines the GPU renderer must rebuild, merged over display passes until it takes
    /// them; none after the call.
    std::optional<std::pair<int, int>> takeMetalDirtyRange();
    /// The GPU renderer's side of the view: none before GPU drawing was first turned on.
    TerminalViewMetalHosting* metalHosting() const { return m_metalHosting.get(); }

    // ---- TerminalDelegate --------------------------------------------------------------------
    void showCursor(Terminal& source) override;
    void hideCursor(Terminal& source) override;
    void setTerminalTitle(Terminal& source, const std::string& title) override;
    std::optional<std::vector<uint8_t>>
    windowCommand(Terminal& source, const WindowManipulationCommand& command) override;
    void sizeChanged(Terminal& source) override;
    void send(Terminal& source, std::span<const uint8_t> data) override;
    void scrolled(Terminal& source, int yDisp) override;
    void bufferActivated(Terminal& source) override;
    void synchronizedOutputChanged(Terminal& source, bool active) override;
    void bell(Terminal& source) override;
    std::optional<CellSize> cellSizeInPixels(Terminal& source) override;
    void cursorStyleChanged(Terminal& source, CursorStyle newStyle) override;
    void hostCurrentDirectoryUpdated(Terminal& source) override;
    void colorChanged(Terminal& source, std::optional<int> idx) override;
    void setForegroundColor(Terminal& source, const Color& color) override;
    void setBackgroundColor(Terminal& source, const Color& color) override;
    void iTermContent(Terminal& source, std::span<const uint8_t> content) override;
    void clipboardCopy(Terminal& source, std::span<const uint8_t> content) override;
    std::optional<std::vector<uint8_t>> clipboardRead(Terminal& source) override;
    void progressReport(Terminal& source, const ProgressReport& report) override;
    void createImageFromBitmap(Terminal& source, std::vector<uint8_t>& bytes, int width,
                               int height) override;
    void createImage(Terminal& source, std::span<const uint8_t> data, ImageSizeRequest width,
                     ImageSizeRequest height, bool preserveAspectRatio) override;
    void linefeed(Terminal& source) override;
    void selectionChanged(Terminal& source) override;
    void mouseModeChanged(Terminal& source) override;

Q_SIGNALS:
    /// Every time the view sets its GPU renderer status (its name:
    /// terminalViewMetalRendererStatusDidChange).
    void metalRendererStatusChanged(const veldatron::MetalRendererStatus& status);

protected:
    /// Device pixels per point of the window the view is in, 1 outside a window: the scale of
    /// pixel reports, of kitty pixel offsets and of the slices of inserted images.
    virtual double windowBackingScale() const;
    /// Marks a rectangle of the view for repainting (QWidget::update). Tests watch it.
    virtual void setNeedsDisplay(const QRectF& rect);
    /// Whether a GPU renderer draws this view instead of the frame: display passes then record
    /// the buffer lines it must rebuild.
    virtual bool hasMetalView() const;
    std::optional<std::pair<int, int>> metalDirtyRange() const { return m_metalDirtyRange; }

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    // Tab and Shift+Tab are keys for the program, not focus moves.
    bool focusNextPrevChild(bool next) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    friend class TerminalViewMetalHost;

    // Where the cursor was when the GPU renderer was last asked to draw.
    struct RenderedCursor {
        int x = 0;
        int y = 0; // buffer line
        bool hidden = false;
        friend bool operator==(const RenderedCursor&, const RenderedCursor&) = default;
    };

    // A kitty-mode key press handed to the text system, waiting for the text it makes.
    struct PendingKittyKeyEvent {
        KeyInput event;
        KittyKeyboardEventType eventType = KittyKeyboardEventType::press;
    };

    // Mouse.
    enum class MouseEventKind : uint8_t { press, release, drag, wheel };
    // Whether an event of the kind goes to the program rather than to the view's gestures.
    bool reportsMouse(Qt::KeyboardModifiers modifiers, MouseEventKind kind) const;
    void sendMouseReport(int buttonFlags, const QPointF& point, bool motion);
    void primaryPress(QMouseEvent* event);
    void primaryRelease(QMouseEvent* event);
    void primaryDrag(QMouseEvent* event);
    void pointerMoved(QMouseEvent* event);
    int nextClickCount(const QPointF& point);
    // Selection gestures.
    void selectionPress(const Position& at, int clickCount, bool shift);
    void startSelectionAutoScrollTimer();
    void stopSelectionAutoScrollTimer();
    void scrollingTimerElapsed();
    void schedulePromptClick(const Position& at, Qt::KeyboardModifiers modifiers);
    void publishPrimarySelection();
    void pastePrimarySelection();
    void redrawWholeView();
    void setupEditActions();
    // Links.
    void invalidateLinkHighlight(const std::optional<std::vector<LinkMatch::RowRange>>& oldRange,
                                 const std::optional<std::vector<LinkMatch::RowRange>>& newRange);
    void clearLinkHighlight();
    void previewUrl(const QString& payload);
    void previewLinkUnderPointer();
    bool cellLinkFlag(int row, const CharData& cell, int column, int width) const;
    static QFont tryUrlFont();
    // Find.
    TerminalFindBarView& ensureFindBar();
    void handleFindBarSearchChanged(const QString& text);
    void hideFindBar();
    bool find(const QString& term, const SearchOptions& options, bool scrollToResult, bool next);
    void setFindPasteboardFromSelection();
    void scrollToReveal(int row);

    // Keyboard.
    bool sendKittyEvent(const KittyKeyEvent& event);
    std::optional<KittyKeyEvent> kittyTextEvent(const KeyInput& event,
                                                KittyKeyboardEventType eventType,
                                                std::optional<std::u32string> text) const;
    KittyKeyEvent functionalKeyEvent(KittyFunctionalKey key, const KeyInput& event,
                                     KittyKeyboardEventType eventType,
                                     std::optional<std::u32string> text) const;
    KittyKeyboardModifiers kittyModifiers(KeyModifierFlags flags) const;
    void interpretKeyEvents(const KeyInput& event);
    void sendHorizontalKey(bool left);
    void turnOffUrlPreview();
    bool isViewShortcut(const QKeyEvent& event) const;
    // Text input.
    void updateMarkedTextOverlay();
    // Caret and blink.
    void markBlinkLinesDirty(const std::vector<int>& rows);
    void textBlinkTick();
    // The next flip of the blink phase, 0.7 s from now.
    void scheduleTextBlinkTick();
    void stopTextBlinking();
    bool isInShownWindow() const;

    void setupOptions(double width, double height);
    void updateFontMetrics();
    void setupScroller();
    void updateScroller();
    void scrollerActivated(int action);
    void layoutScroller();
    double scrollerWidth() const;
    void markWholeScreenDirty();
    void runDisplayPass();
    // Records where the cursor is for the GPU renderer; true when that differs from the last.
    bool noteRenderedCursor();
    bool shouldDisplayImmediatelyAfterUserInput() const;
    uint64_t now() const;
    void ensureCaretIsVisible();
    void updateUserScrollingState(int row, const Buffer& buffer);
    void notifyHostScrolled();
    void afterScrollbackChange();
    void drawRow(int row, const BufferLine& line, int bufferOffset, const QRectF& dirtyRect,
                 QPainter& painter);
    void drawSegmentText(const ViewLineSegment& segment, double baseline, QPainter& painter);
    void drawCustomGlyphs(const ViewLineInfo& info, double top, BufferLine::RenderLineMode mode,
                          QPainter& painter);
    // Images.
    enum class RowImageLayer : uint8_t { underText, overText };
    void drawRowImages(const ViewLineInfo& info, double top, RowImageLayer layer,
                       QPainter& painter);
    void drawKittyPlaceholders(const ViewLineInfo& info, double top, QPainter& painter);
    void forgetUnstoredKittyPictures();
    // Progress bar.
    void setupProgressBar();
    void layoutProgressBar();
    void resetProgressReportTimer();

    // Host and scheduling.
    TerminalViewDelegate* m_terminalDelegate = nullptr;
    Executor* m_executor = nullptr;
    std::function<uint64_t()> m_uptimeNs;
    bool m_pendingDisplay = false;
    TaskHandle m_pendingDisplayTask;
    uint64_t m_lastUserInputUptimeNs = 0;
    mutable std::mutex m_userInputLock;
    std::optional<std::pair<int, int>> m_metalDirtyRange;
    bool m_notifyUpdateChanges = false;
    bool m_userScrolling = false;
    bool m_allowMouseReporting = true;
    bool m_allowClipboardRead = false;

    // Keyboard and text input.
    bool m_optionAsMetaKey = true;
    bool m_backspaceSendsControlH = false;
    bool m_commandActive = false;
    std::optional<PendingKittyKeyEvent> m_pendingKittyKeyEvent;
    bool m_kittyIsComposing = false;
    std::optional<QString> m_markedText;
    QList<QTextLayout::FormatRange> m_markedFormats;
    TextRange m_markedSelectedRange;
    DictationOverlayTextView* m_markedTextOverlay = nullptr;
    QAction* m_pasteAction = nullptr;

    // Caret, focus and blink.
    CaretView* m_caretView = nullptr;
    bool m_hasFocus = false;
    bool m_cursorColorIsDefault = true;
    bool m_cursorTextColorIsDefault = true;
    bool m_textBlinkVisible = true;
    TaskHandle m_textBlinkTimer;
    bool m_textBlinkApplicationActive = true;
    bool m_reduceMotion = false;

    // Host options.
    BellStyle m_bellStyle = BellStyle::sound;
    bool m_customBlockGlyphs = true;
    bool m_antiAliasCustomBlockGlyphs = false;
    BidiHostPolicy m_bidiHostPolicy = BidiHostPolicy::respectTerminal;
    ScrollerStyle m_scrollerStyle = ScrollerStyle::overlay;

    // Fonts and metrics.
    FontSet m_fontSet;
    QSizeF m_cellDimension;
    // From a row's bottom edge up to its baseline: ceil(descent + leading) of the normal font.
    double m_baselineOffset = 0;
    double m_lineSpacing = 1.0;
    bool m_fontSmoothing = true;
    QRectF m_caretFrame;
    std::unique_ptr<CellShaper> m_shaper;

    // The terminal.
    TerminalOptions m_startupOptions;
    std::unique_ptr<Terminal> m_terminal;
    QScrollBar* m_scroller = nullptr;
    bool m_scrollerNeedsUpdate = false;

    // Colours.
    PlatformColor m_nativeFg;
    PlatformColor m_nativeBg;
    bool m_settingFg = false;
    bool m_settingBg = false;
    PlatformColor m_selectedTextBackgroundColor{0, 166 / 255.0, 178 / 255.0, 1};
    PlatformColor m_selectedTextForegroundColor = PlatformColor::black();
    bool m_useBrightColors = true;

    // Caches of the row builder.
    std::unordered_map<Attribute, std::shared_ptr<const RunAttributes>> m_attributes;
    std::unordered_map<Attribute, std::shared_ptr<const RunAttributes>> m_urlAttributes;
    std::array<std::optional<PlatformColor>, 256> m_colors;
    std::unordered_map<uint32_t, PlatformColor> m_trueColors;

    // The pictures of stored kitty images shown through placeholder cells, each with the
    // payload it was decoded from (a null picture: it does not decode).
    struct KittyPicture {
        KittyGraphicsPayload payload;
        QImage image;
    };
    std::map<uint32_t, KittyPicture> m_kittyPictures;

    // Progress bar.
    TerminalProgressBarView* m_progressBarView = nullptr;
    TaskHandle m_progressReportTimer;
    std::optional<uint8_t> m_lastProgressValue;

    // The debug overlay, owned by whoever made it.
    QPointer<TerminalDebugView> m_debug;

    // Selection and search of the terminal: they hold it, so they go before it.
    std::shared_ptr<SelectionService> m_selection;
    std::unique_ptr<SearchService> m_search;

    // Mouse.
    double m_scrollAccumulator = 0;
    double m_scrollSensitivity = 1.0;
    // The button of the press in progress.
    Qt::MouseButton m_pressedButton = Qt::NoButton;
    // Click counting: when and where the last primary press was, and its count.
    uint64_t m_lastPressNs = 0;
    QPointF m_lastPressPoint;
    int m_clickCount = 0;
    std::chrono::milliseconds m_multiClickInterval{400};

    // Selection gestures.
    int m_autoScrollDelta = 0;
    TaskHandle m_selectionAutoScrollTimer;
    std::optional<QPointF> m_lastSelectionDragPoint;
    SemanticPromptPointerSnapshot m_pointerPressSnapshot;
    TaskHandle m_pendingSemanticClick;
    std::chrono::milliseconds m_semanticClickCoalescingDelay{400};
    int m_semanticDeferralScheduleCount = 0;
    bool m_didSelectionDrag = false;
    // Where the press that may start a drag selection was.
    std::optional<Position> m_pressCell;

    // Links.
    LinkReporting m_linkReporting = LinkReporting::implicit;
    LinkHighlightMode m_linkHighlightMode = LinkHighlightMode::hoverWithModifier;
    std::optional<std::vector<LinkMatch::RowRange>> m_linkHighlightRange;
    QLabel* m_urlPreview = nullptr;
    std::optional<QString> m_lastReportedLink;

    // Find.
    TerminalFindBarView* m_findBar = nullptr;
    QString m_findBarTerm;
    SearchOptions m_findBarOptions;

    // GPU drawing. The hosting goes first when the view ends: its renderer reads the terminal.
    MetalRendererStatus m_metalRendererStatus;
    MetalBufferingMode m_metalBufferingMode = MetalBufferingMode::perRowPersistent;
    std::optional<double> m_metalScaleFactorOverride;
    bool m_pendingMetalDisplay = false;
    std::optional<RenderedCursor> m_lastRenderedCursor;
    std::unique_ptr<TerminalViewMetalHosting> m_metalHosting;
};

} // namespace veldatron
