#pragma once

#include "Color.h"
#include "TerminalOptions.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace veldatron {

class Terminal;

// What an OSC 9;4 progress report says.
enum class ProgressReportState : uint8_t {
    remove = 0,
    set = 1,
    error = 2,
    indeterminate = 3,
    pause = 4
};

// The state of a raw value; none above 4.
constexpr std::optional<ProgressReportState> progressReportStateFromRaw(uint8_t raw) {
    if (raw > 4) {
        return std::nullopt;
    }
    return ProgressReportState(raw);
}

// An OSC 9;4 progress report handed to the host.
struct ProgressReport {
    ProgressReportState state = ProgressReportState::remove;
    // Percentage 0-100; none when the state carries no value.
    std::optional<uint8_t> progress;

    friend bool operator==(const ProgressReport&, const ProgressReport&) = default;
};

// A window operation requested by CSI Ps t, carried out by the host. The cases with a payload
// use the two numbers (named per case below); the others leave them 0.
struct WindowManipulationCommand {
    enum class Kind : uint8_t {
        moveWindowTo,   // first x, second y
        resizeWindowTo, // first width, second height (pixels)
        resizeTo,       // first cols, second rows
        resizeTerminal, // first cols, second rows
        resizeToLines,  // first lines
        deiconifyWindow,
        iconifyWindow,
        bringToFront,
        sendToBack,
        refreshWindow,
        restoreMaximizedWindow,
        maximizeWindow,
        maximizeWindowVertically,
        maximizeWindowHorizontally,
        undoFullScreen,
        switchToFullScreen,
        toggleFullScreen,
        reportTerminalState,
        reportTerminalPosition,
        reportTextAreaPosition,
        reportTextAreaPixelDimension,
        reportTerminalWindowPixelDimension,
        reportSizeOfScreenInPixels,
        reportCellSizeInPixels,
        reportTextAreaCharacters,
        reportScreenSizeCharacters,
        reportIconLabel,
        reportWindowTitle,
    };

    Kind kind = Kind::refreshWindow;
    int first = 0;
    int second = 0;

    friend bool operator==(const WindowManipulationCommand&,
                           const WindowManipulationCommand&) = default;
};

// A requested width or height of an inline image.
struct ImageSizeRequest {
    enum class Kind : uint8_t { cells, pixels, percent, automatic };

    Kind kind = Kind::automatic;
    int value = 0;

    static constexpr ImageSizeRequest cells(int n) { return {Kind::cells, n}; }
    static constexpr ImageSizeRequest pixels(int n) { return {Kind::pixels, n}; }
    static constexpr ImageSizeRequest percent(int n) { return {Kind::percent, n}; }
    static constexpr ImageSizeRequest automatic() { return {Kind::automatic, 0}; }

    friend bool operator==(const ImageSizeRequest&, const ImageSizeRequest&) = default;
};

// A cell's size in pixels, as the host draws it.
struct CellSize {
    int width = 0;
    int height = 0;

    friend bool operator==(const CellSize&, const CellSize&) = default;
};

// The terminal's default colours as the host reports them.
struct TerminalColors {
    Color foreground;
    Color background;

    friend bool operator==(const TerminalColors&, const TerminalColors&) = default;
};

// The only way a Terminal reaches its host (the view or the terminal without a view). Every
// operation receives the calling terminal first; all but `send` have a default, so a host
// overrides only what it needs. The terminal calls these synchronously, on its own thread, from
// inside the command that causes the call (usually while it parses program output).
//
// The host owns the terminal and outlives it, or clears the terminal's delegate
// (Terminal::setDelegate(nullptr)) before it goes; without a delegate every call is skipped.
//
// Rules for hosts: callbacks must not block (`send` queues its bytes), and must not feed, resize
// or reset the terminal that calls them (defer such work, for example with Executor::post); a
// debug build asserts this. `linefeed` and `scrolled` arrive once per line of output and should
// only note that a redraw is due.
class TerminalDelegate {
public:
    virtual ~TerminalDelegate() = default;

    // The cursor became visible (DECTCEM set).
    virtual void showCursor(Terminal& source);
    // The cursor was hidden (DECTCEM reset).
    virtual void hideCursor(Terminal& source);
    // OSC 0 and OSC 2, and a title popped from the title stack.
    virtual void setTerminalTitle(Terminal& source, const std::string& title);
    // OSC 1, and an icon title popped from its stack.
    virtual void setTerminalIconTitle(Terminal& source, const std::string& title);
    // A window operation (CSI t). Returned bytes are sent back to the program as the reply; none
    // lets the terminal build the reply itself where it can (an empty result sends nothing).
    virtual std::optional<std::vector<uint8_t>>
    windowCommand(Terminal& source, const WindowManipulationCommand& command);
    // The column mode (DECCOLM) changed the size.
    virtual void sizeChanged(Terminal& source);
    // Every reply of the terminal, and user input passed through it. The bytes are valid during
    // the call only.
    virtual void send(Terminal& source, std::span<const uint8_t> data) = 0;
    // The screen scrolled; yDisp is the new top row of the view (a ring index).
    virtual void scrolled(Terminal& source, int yDisp);
    // LF, VT or FF was processed (also when the cursor did not move).
    virtual void linefeed(Terminal& source);
    // The screen was switched by a mode change, or the terminal was reset.
    virtual void bufferActivated(Terminal& source);
    // Synchronized output (mode 2026) began or ended, its time-out included.
    virtual void synchronizedOutputChanged(Terminal& source, bool active);
    // BEL.
    virtual void bell(Terminal& source);
    // A selection was changed or cleared.
    virtual void selectionChanged(Terminal& source);
    // Asked before acting on OSC 6, OSC 7 and the rectangular checksum report. Default: true.
    virtual bool isProcessTrusted(Terminal& source);
    // The cell size for pixel reports and image placement. Default: none.
    virtual std::optional<CellSize> cellSizeInPixels(Terminal& source);
    // Every assignment of Terminal::setMouseMode, also when the mode did not change.
    virtual void mouseModeChanged(Terminal& source);
    // The cursor style changed (DECSCUSR).
    virtual void cursorStyleChanged(Terminal& source, CursorStyle newStyle);
    // OSC 7 stored a new host directory.
    virtual void hostCurrentDirectoryUpdated(Terminal& source);
    // OSC 6 stored a new host document.
    virtual void hostCurrentDocumentUpdated(Terminal& source);
    // A palette entry (idx) or the whole palette (none) changed.
    virtual void colorChanged(Terminal& source, std::optional<int> idx);
    // The default foreground changed. Default: stores it in the terminal's foregroundColor.
    virtual void setForegroundColor(Terminal& source, const Color& color);
    // The default background changed. Default: stores it in the terminal's backgroundColor.
    virtual void setBackgroundColor(Terminal& source, const Color& color);
    // OSC 12 and OSC 112 (none). Default: stores it in the terminal's cursorColor.
    virtual void setCursorColor(Terminal& source, std::optional<Color> color);
    // OSC 10 and 11 queries. Default: the terminal's own default colours.
    virtual TerminalColors getColors(Terminal& source);
    // An OSC 1337 payload other than an inline file.
    virtual void iTermContent(Terminal& source, std::span<const uint8_t> content);
    // OSC 52 sets the clipboard.
    virtual void clipboardCopy(Terminal& source, std::span<const uint8_t> content);
    // OSC 52 reads the clipboard. Default: none (empty data is still data).
    virtual std::optional<std::vector<uint8_t>> clipboardRead(Terminal& source);
    // OSC 777 notification.
    virtual void notify(Terminal& source, const std::string& title, const std::string& body);
    // OSC 9;4.
    virtual void progressReport(Terminal& source, const ProgressReport& report);
    // A decoded image (straight RGBA, 4 bytes a pixel, rows top to bottom) is to be shown at the
    // cursor. The host may take the bytes.
    virtual void createImageFromBitmap(Terminal& source, std::vector<uint8_t>& bytes, int width,
                                       int height);
    // Encoded image data (an OSC 1337 file or a kitty image) is to be shown at the cursor.
    virtual void createImage(Terminal& source, std::span<const uint8_t> data,
                             ImageSizeRequest width, ImageSizeRequest height,
                             bool preserveAspectRatio);
};

} // namespace veldatron
