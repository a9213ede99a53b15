#pragma once

#include "Attribute.h"
#include "BidiPresentationState.h"
#include "Buffer.h"
#include "BufferLine.h"
#include "CharData.h"
#include "CharSets.h"
#include "ClusterTable.h"
#include "Color.h"
#include "DcsHandler.h"
#include "DecMode.h"
#include "SequenceId.h"
#include "EscapeSequenceParser.h"
#include "Executor.h"
#include "KittyGraphicsState.h"
#include "KittyKeyboardFlags.h"
#include "KittyPlacementImage.h"
#include "LinkMatch.h"
#include "OptionSet.h"
#include "ParserParams.h"
#include "SemanticPrompt.h"
#include "SixelDcsHandler.h"
#include "StringEncoding.h"
#include "TerminalDelegate.h"
#include "TerminalEnvironment.h"
#include "TerminalOptions.h"
#include "TerminalServices.h"
#include "TinyAtom.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace veldatron {

class SelectionService;
class Terminal;

/// The parser as the terminal runs it: its loop calls the terminal's entry points directly
/// (instantiated in TerminalParser.cpp).
using TerminalParser = BasicEscapeSequenceParser<Terminal>;

// The terminal state machine: one per emulated terminal. It owns the two screens (the normal one
// with scrollback and the alternate one), the escape-sequence parser, the modes, character sets,
// colours and everything else the command handlers change, and reaches its host only through the
// TerminalDelegate. Views, renderers and the protocol modules read it.
//
// Program output goes in through feed(); the parser calls the handlers below synchronously, they
// change the screens, widen the dirty-row range and call the delegate, all before feed() returns.
//
// The class is split across files by concern, each file filling in its family of handlers:
//   Terminal.cpp          construction, setup, screens, colours, focus, accessors
//   TerminalFeed.cpp      parser wiring, feeding, dirty rows, diagnostics
//   TerminalPrint.cpp     the print path and the cell-code (grapheme cluster) table
//   TerminalPrintLines.cpp  the print path's plain lines: runs of lines scrolling past
//   TerminalParser.cpp    the parse loop compiled for the terminal
//   TerminalCellRun.h     the cursor of a screen drawn cell by cell, for that loop
//   TerminalControl.cpp   C0 and C1 controls; scrolling the region up a line
//   TerminalEsc.cpp       escape-sequence dispatch
//   TerminalCsi.cpp       control-sequence dispatch, the routers of shared finals, margins
//   TerminalCursor.cpp    cursor motion, tabulation, save and restore (DECSC, DECRC)
//   TerminalEditing.cpp   inserting, deleting, erasing and repeating cells and lines
//   TerminalScroll.cpp    index, reverse index, scroll down, column scrolls
//   TerminalRectangles.cpp  line render modes, DECALN, rectangular-area operations
//   TerminalReports.cpp   the reply path; device status, attributes, checksums, version
//   TerminalReset.cpp     soft and full reset, resize, scrollback
//   TerminalBidiState.cpp bidirectional state of rows and its control sequences
//   TerminalModes.cpp     SM/RM, DECSET/DECRST, XTSAVE/XTRESTORE, DECRQM, DECSCL,
//                         synchronized output
//   TerminalSgr.cpp       character attributes (SGR)
//   TerminalOsc.cpp       operating-system commands, titles, hyperlink payloads
//   TerminalWindow.cpp    window operations and title stacks, cursor style
//   TerminalStatus.cpp    status-string requests (DECRQSS)
//   TerminalKeyboard.cpp  kitty keyboard flags
//   TerminalSemanticInput.cpp  OSC 133 options, shell-integration state resets
//   TerminalUserInput.cpp the scan of user input for a submitted command line
//   TerminalSemanticPrompt.cpp  OSC 133 marks, user input to the host, queries of the views
//   TerminalPromptClick.cpp     clicks into the command line turned into cursor keys or reports
//   TerminalMouse.cpp     mouse button codes and the wire forms of mouse reports
//   TerminalLinks.cpp     the explicit (OSC 8) or detected link at a cell
//   TerminalText.cpp      text of cell ranges (selection and search read it)
//
// Single-threaded: everything happens on the thread that feeds the terminal. Not copyable or
// movable (the parser and the screens point back at it). The host owns it and keeps the delegate
// alive while it is set.
class Terminal final : public TerminalServices {
public:
    static constexpr int MINIMUM_COLS = 2;
    static constexpr int MINIMUM_ROWS = 1;

    // Values a view reads.
    enum class TerminalConformance : uint8_t { vt100, vt200, vt300, vt400, vt500 };
    enum class MouseMode : uint8_t { off, x10, vt200, buttonEventTracking, anyEvent };
    enum class MouseProtocolEncoding : uint8_t { x10, utf8, sgr, urxvt, sgrPixel };
    // Whether mouse reports of the mode carry modifier keys.
    static constexpr bool sendsModifiers(MouseMode mode) {
        return mode == MouseMode::vt200 || mode == MouseMode::buttonEventTracking ||
               mode == MouseMode::anyEvent;
    }
    // Whether the mode reports motion without a button held.
    static constexpr bool sendMotionEvent(MouseMode mode) { return mode == MouseMode::anyEvent; }

    // The kitty keyboard state of one screen: the flags in force and the flags pushed before.
    struct KeyboardModeState {
        KittyKeyboardFlags flags;
        std::vector<KittyKeyboardFlags> stack;
    };
    // Reply framing: 7-bit (ESC [) or 8-bit (0x9B) introducers. A reply never encodes an
    // introducer through UTF-8; every reply site picks its introducers and terminator here.
    struct CC {
        bool send8bit = false;

        std::string_view csi() const { return send8bit ? "\x9b" : "\x1b["; }
        std::string_view dcs() const { return send8bit ? "\x90" : "\x1bP"; }
        std::string_view osc() const { return send8bit ? "\x9d" : "\x1b]"; }
        std::string_view st() const { return send8bit ? "\x9c" : "\x1b\\"; }
        std::string_view apc() const { return send8bit ? "\x9f" : "\x1b_"; }
    };
    // The options of an OSC 133 mark: the prompt's kind, the click report the shell asked for,
    // its cursor-key click mode and whether it wants its own cursor keys for clicks.
    struct SemanticPromptOptions {
        SemanticPromptKind kind = SemanticPromptKind::initial;
        std::optional<SemanticPromptClickMode> clickEvents;
        std::optional<SemanticPromptCursorClickMode> cursorClickMode;
        bool specialKeys = false;

        friend bool operator==(const SemanticPromptOptions&,
                               const SemanticPromptOptions&) = default;
    };
    // The fields of a BidiPresentationState that a control sequence changes (defined below).
    struct BidiStateProperties : OptionSet<BidiStateProperties> {
        using OptionSet::OptionSet;
        static const BidiStateProperties supportMode;
        static const BidiStateProperties autodetectDirection;
        static const BidiStateProperties fallbackDirection;
        static const BidiStateProperties boxMirroring;
        static const BidiStateProperties all;
    };
    // A rectangle of screen cells, 0-based and inclusive.
    struct Rectangle {
        int top;
        int left;
        int bottom;
        int right;
        friend bool operator==(const Rectangle&, const Rectangle&) = default;
    };
    // The user-input scanner's state (shell integration).
    enum class SemanticScanState : uint8_t { ground, escape, csi, ss3 };
    // The OSC 8 hyperlink applied to printed cells: its payload text before it is interned, its
    // handle, or "interning failed" (cells get no payload).
    struct ActiveHyperlink {
        enum class Kind : uint8_t { pending, resolved, unavailable };
        Kind kind = Kind::pending;
        std::string pending;
        TinyAtom resolved;
    };

    using ProgressReport = veldatron::ProgressReport;
    using LinkLookupLocation = veldatron::LinkLookupLocation;
    using LinkLookupMode = veldatron::LinkLookupMode;
    using LinkMatch = veldatron::LinkMatch;
    using ImplicitCellRef = veldatron::ImplicitCellRef;
    using ImplicitLineMap = veldatron::ImplicitLineMap;
    using ProgressReportState = veldatron::ProgressReportState;
    using WindowManipulationCommand = veldatron::WindowManipulationCommand;

    // `delegate` may be null (replies are then dropped) and is not owned. `executor` runs the
    // synchronized-output time-out; without one, synchronized output ends only when the program
    // (or a resize or reset) ends it.
    explicit Terminal(TerminalDelegate* delegate, TerminalOptions options = TerminalOptions(),
                      Executor* executor = nullptr);
    ~Terminal() override;
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // ---- Host ------------------------------------------------------------------------------
    TerminalDelegate* delegate() const { return m_delegate; }
    // Replaces the delegate; null detaches the host.
    void setDelegate(TerminalDelegate* delegate) { m_delegate = delegate; }
    const TerminalOptions& options() const { return m_options; }
    // Replaces the whole record without running setup again.
    void setOptions(TerminalOptions options);
    // The "Info: " diagnostic lines are written only while this is off (it is on by default).
    bool silentLog() const { return m_silentLog; }
    void setSilentLog(bool silent) { m_silentLog = silent; }
    // The complete environment of a program started in a terminal whose host supplies none:
    // "TERM=" and the name (xterm-256color when absent), "COLORTERM=truecolor" with `trueColor`,
    // a UTF-8 LANG and a few identity variables copied from this process. Needs no terminal.
    static std::vector<std::string>
    getEnvironmentVariables(std::optional<std::string_view> termName, bool trueColor) {
        return TerminalEnvironment::getEnvironmentVariables(termName, trueColor);
    }

    // ---- Feeding (TerminalFeed.cpp) ---------------------------------------------------------
    // Parses program output at once; every effect happens before the call returns. A chunk may
    // end anywhere, even inside a sequence or a UTF-8 character. Must not be called from inside a
    // delegate callback of this terminal.
    void feed(std::span<const uint8_t> bytes);
    void feed(std::string_view text);
    void parse(std::span<const uint8_t> bytes) { feed(bytes); }
    // OSC strings with this code go to the handler only (with the bytes after the first ";"),
    // replacing the built-in handling.
    void registerOscHandler(int64_t code, std::function<void(std::span<const uint8_t>)> handler);
    TerminalParser& parser() { return m_parser; }

    // ---- Dirty rows (TerminalFeed.cpp) ------------------------------------------------------
    // Viewport rows changed since the view last drew; clean is (INT_MAX, -1). Views read the
    // range and reset it after drawing.
    int refreshStart() const { return m_refreshStart; }
    int refreshEnd() const { return m_refreshEnd; }
    // The same range counted from the top of the buffer (viewport row + yDisp).
    int64_t scrollInvariantRefreshStart() const { return m_scrollInvariantRefreshStart; }
    int64_t scrollInvariantRefreshEnd() const { return m_scrollInvariantRefreshEnd; }
    // Marks viewport row y dirty; with `scrolling` only the viewport range.
    void updateRange(int y, bool scrolling = false) { updateRange(*m_buffer, y, scrolling); }
    void updateRange(Buffer& buffer, int y, bool scrolling = false) {
        if (!scrolling) {
            const int64_t absolute = int64_t(y) + buffer.yDisp();
            if (absolute >= 0) {
                markScrollInvariantRow(absolute);
            }
        }
        if (y >= 0) {
            m_refreshStart = std::min(m_refreshStart, y);
            m_refreshEnd = std::max(m_refreshEnd, y);
        }
    }
    // updateRange(buffer, first) then updateRange(buffer, second): the two edges of a scrolled
    // region. The ranges are read once and stored once, where the two calls would each reload
    // what the other stored.
    void updateRangeEdges(Buffer& buffer, int first, int second) {
        const int64_t yDisp = buffer.yDisp();
        int start = m_refreshStart;
        int end = m_refreshEnd;
        int64_t absoluteStart = m_scrollInvariantRefreshStart;
        int64_t absoluteEnd = m_scrollInvariantRefreshEnd;
        for (const int y : {first, second}) {
            const int64_t absolute = y + yDisp;
            if (absolute >= 0) {
                absoluteStart = std::min(absoluteStart, absolute);
                absoluteEnd = std::max(absoluteEnd, absolute);
            }
            if (y >= 0) {
                start = std::min(start, y);
                end = std::max(end, y);
            }
        }
        m_refreshStart = start;
        m_refreshEnd = end;
        m_scrollInvariantRefreshStart = absoluteStart;
        m_scrollInvariantRefreshEnd = absoluteEnd;
    }
    // Marks a row, counted from the top of the ring, in the scroll-invariant range only.
    void markScrollInvariantRow(int64_t absolute) {
        m_scrollInvariantRefreshStart = std::min(m_scrollInvariantRefreshStart, absolute);
        m_scrollInvariantRefreshEnd = std::max(m_scrollInvariantRefreshEnd, absolute);
    }
    void updateFullScreen();
    struct RowRange {
        int startY;
        int endY;
        friend bool operator==(const RowRange&, const RowRange&) = default;
    };
    std::optional<RowRange> getUpdateRange() const;
    struct AbsoluteRowRange {
        int64_t start;
        int64_t end;
        friend bool operator==(const AbsoluteRowRange&, const AbsoluteRowRange&) = default;
    };
    std::optional<AbsoluteRowRange> getScrollInvariantUpdateRange() const;
    // Both ranges back to clean.
    void clearUpdateRange();
    // updateRange(startRow), then updateRange(endRow).
    void refresh(int startRow, int endRow);

    // ---- Screens (Terminal.cpp) -------------------------------------------------------------
    int cols() const override { return m_cols; }
    int rows() const { return m_rows; }
    struct Dimensions {
        int cols;
        int rows;
    };
    Dimensions getDims() const { return {m_cols, m_rows}; }
    // The active screen: the normal or the alternate one.
    Buffer& buffer() override { return *m_buffer; }
    const Buffer& buffer() const { return *m_buffer; }
    Buffer& normalBuffer() { return *m_normalBuffer; }
    Buffer& altBuffer() { return *m_altBuffer; }
    bool isCurrentBufferAlternate() const { return m_buffer == m_altBuffer.get(); }
    // Powers the terminal back on: with isReset the normal screen is replaced (its scrollback
    // dropped) and made active, else both screens are resized to the options' size; then every
    // mode, character set, margin and the mouse and keyboard state take their power-on values.
    void setup(bool isReset);
    // A new normal screen replaces the old one and its scrollback; the active screen is kept.
    void resetNormalBuffer();
    void activateNormalBuffer(bool clearAlt);
    void activateAltBuffer(std::optional<Attribute> fillAttr);
    void resizeBuffers(int newColumns, int newRows);

    // Row and cell reads for views. Rows are viewport rows (0 = top visible row).
    // Null when the row is outside the viewport.
    BufferLine* getLine(int row);
    // Rows counted from the buffer's linesTop: null outside the ring.
    BufferLine* getScrollInvariantLine(int64_t row);
    // Null outside the screen; a column beyond a shorter line reads its last cell.
    std::optional<CharData> getCharData(int col, int row);
    std::optional<std::u32string> getCharacter(int col, int row);

    // ---- Cells and characters (TerminalPrint.cpp) -------------------------------------------
    // The cell code of a character (one grapheme cluster): the scalar itself up to U+FFFF, 10
    // for CR LF, else an interned code from 0x400001 up, the same every time while a cell holds
    // it (codes no cell holds are reclaimed as more clusters arrive, and reused). Clusters
    // compare by canonical equivalence. When no code is left, the code of U+FFFD.
    int32_t code(std::u32string_view character);
    // The character of a cell code; " " for an invalid code or one never handed out.
    std::u32string character(int32_t code) const override;
    std::u32string getCharacter(const CharData& cell) const { return character(cell.code()); }
    CharData makeCharData(const Attribute& attribute, int32_t code, int size) const;
    CharData makeCharData(const Attribute& attribute, std::u32string_view character, int size);
    CharData makeCharData(const Attribute& attribute, char32_t scalar, int size) const;
    void updateCharData(CharData& cell, std::u32string_view character, int size);
    void updateCharData(CharData& cell, int32_t code, int size) const;
    // Number of clusters interned and not reclaimed.
    size_t internedCount() const { return m_clusterTable.size(); }
    // The interned clusters (the print path's table).
    const ClusterTable& clusterTable() const { return m_clusterTable; }

    // ---- Cursor and attributes --------------------------------------------------------------
    const Attribute& currentAttribute() const { return m_curAttr; }
    struct CursorLocation {
        int x;
        int y;
        friend bool operator==(const CursorLocation&, const CursorLocation&) = default;
    };
    CursorLocation getCursorLocation() const { return {m_buffer->x(), m_buffer->y()}; }
    int getTopVisibleRow() const { return m_buffer->yDisp(); }
    bool isCursorHidden() const { return m_cursorHidden; }
    void showCursor();
    void hideCursor();
    // The view sets this while the user has scrolled away from the bottom: scrolls then keep
    // the viewport on the same text.
    bool userScrolling() const { return m_userScrolling; }
    void setUserScrolling(bool on) { m_userScrolling = on; }

    // ---- Modes a view reads -----------------------------------------------------------------
    bool applicationCursor() const { return m_applicationCursor; }
    void setApplicationCursor(bool on) { m_applicationCursor = on; }
    bool applicationKeypad() const { return m_applicationKeypad; }
    bool bracketedPasteMode() const { return m_bracketedPasteMode; }
    bool alternateScrollMode() const { return m_alternateScrollMode; }
    bool mouseShiftCapture() const { return m_mouseShiftCapture; }
    bool reverseColors() const { return m_reverseColors; }
    bool synchronizedOutputActive() const { return m_synchronizedOutputActive; }
    bool originMode() const { return m_originMode; }
    bool marginMode() const { return m_marginMode; }
    bool insertMode() const { return m_insertMode; }
    bool wraparound() const { return m_wraparound; }
    bool reverseWraparound() const { return m_reverseWraparound; }
    bool lineFeedMode() const { return m_lineFeedMode; }
    bool sendFocus() const { return m_sendFocus; }
    TerminalConformance conformance() const { return m_conformance; }
    const CC& cc() const { return m_cc; }
    MouseMode mouseMode() const { return m_mouseMode; }
    // Stores the mode and tells the host, also when it did not change.
    void setMouseMode(MouseMode mode);
    MouseProtocolEncoding mouseProtocol() const { return m_mouseProtocol; }
    KittyKeyboardFlags keyboardEnhancementFlags() const {
        return isCurrentBufferAlternate() ? m_keyboardModeAlt.flags : m_keyboardModeNormal.flags;
    }
    const std::optional<std::string>& hostCurrentDirectory() const {
        return m_hostCurrentDirectory;
    }
    const std::optional<std::string>& hostCurrentDocument() const { return m_hostCurrentDocument; }
    const std::string& terminalTitle() const { return m_terminalTitle; }
    const std::string& iconTitle() const { return m_iconTitle; }
    // Stores the title (OSC 0 and 2) or icon title (OSC 1) and tells the host, also when it did
    // not change.
    void setTitle(std::string text);
    void setIconTitle(std::string text);
    // Titles pushed by CSI 22 t, oldest first; at most maxTitleStackDepth entries of at most
    // maxTitleLength bytes each (the oldest entry gives way).
    static constexpr size_t maxTitleStackDepth = 10;
    static constexpr size_t maxTitleLength = 4096;
    const std::vector<std::string>& terminalTitleStack() const { return m_terminalTitleStack; }
    const std::vector<std::string>& terminalIconStack() const { return m_terminalIconStack; }
    CursorStyle cursorStyle() const { return m_options.cursorStyle; }
    // Stores a new cursor style and tells the host when it differs from the current one.
    void setCursorStyle(CursorStyle style);
    bool cursorBlink() const { return m_cursorBlink; }
    bool smoothScroll() const { return m_smoothScroll; }
    bool allow80To132() const { return m_allow80To132; }
    // The kitty keyboard state of the normal and of the alternate screen.
    const KeyboardModeState& keyboardModeNormal() const { return m_keyboardModeNormal; }
    const KeyboardModeState& keyboardModeAlt() const { return m_keyboardModeAlt; }
    // Saved kitty keyboard flags per screen, at most this many (the oldest gives way).
    static constexpr size_t maxKeyboardModeStackDepth = 16;

    // ---- Hyperlink payloads (TerminalOsc.cpp) -----------------------------------------------
    // OSC 8 data longer than this makes no link.
    static constexpr size_t maxHyperlinkPayloadLength = 4096;
    // The OSC 8 link printed text belongs to now, if any.
    const std::optional<ActiveHyperlink>& activeHyperlink() const { return m_activeHyperlink; }
    // The payload handles this terminal holds in the process registry.
    const std::set<uint16_t>& payloadCodes() const { return m_payloadCodes; }
    // Registers a value as a payload of this terminal (for hosts); none when no handle is left.
    std::optional<TinyAtom> makePayload(std::string value);
    // Releases the handles that no cell of either screen (and not the active link) uses any more.
    void garbageCollectPayload();
    // The URI of a stored OSC 8 payload: everything after its first ";"; none without one.
    static std::optional<std::string> parseHyperlinkPayload(std::string_view payload);
    // An OSC 9 payload (after "9;") read as a progress report, or none.
    static std::optional<ProgressReport> parseProgressReport(std::span<const uint8_t> data);
    // The option fields of an OSC 133 mark (after the command letter), or none when one of the
    // known keys has a value it does not know.
    static std::optional<SemanticPromptOptions>
    parseSemanticPromptOptions(std::span<const std::string_view> options);

    // ---- Character sets ---------------------------------------------------------------------
    // The set invoked into GL (null: plain ASCII).
    const CharSetTable* charset() const { return m_charset; }
    uint8_t gLevel() const { return m_gLevel; }
    // Invokes G0-G3 (a level of 4 or more invokes no set).
    void setgLevel(uint8_t level);
    // Designates a set into G0-G3 (ignored for 4 or more); takes effect at once when that set is
    // the invoked one.
    void setgCharset(uint8_t level, const CharSetTable* charset);
    // ESC I F with I one of ( ) * + - . / and F a designator.
    void selectCharset(std::span<const uint8_t> sequence);

    // ---- Bidirectional state ----------------------------------------------------------------
    const BidiPresentationState& currentBidiState() const { return m_currentBidiState; }
    bool bidiSupportEnabled() const {
        return m_currentBidiState.supportMode == BidiSupportMode::implicit;
    }
    bool bidiAutodetectDirection() const { return m_currentBidiState.autodetectDirection; }
    bool bidiRTLPreference() const {
        return m_currentBidiState.fallbackDirection == BidiDirection::rightToLeft;
    }
    bool bidiBoxMirroring() const { return m_currentBidiState.boxMirroring; }
    bool bidiArrowKeySwap() const { return m_bidiArrowKeySwap; }
    void setBidiArrowKeySwap(bool on) { m_bidiArrowKeySwap = on; }

    // ---- Shell integration ------------------------------------------------------------------
    SemanticPromptClickBehavior semanticPromptClickBehavior() const {
        return m_semanticPromptClickBehavior;
    }
    void setSemanticPromptClickBehavior(SemanticPromptClickBehavior behavior) {
        m_semanticPromptClickBehavior = behavior;
    }
    SemanticPromptClickMode semanticPromptClickMode() const { return m_buffer->semanticClickMode; }
    // Whether input the user is about to send to the program submits the command line: CR or LF
    // outside a bracketed paste, keypad Enter (SS3 M) or a kitty-encoded Enter press. The scan
    // keeps its state between calls, so a sequence split across two sends is still read whole.
    bool scanUserInputForSubmission(std::span<const uint8_t> data);
    // Input from the user for the program: notes a submitted command line (noteUserInput), then
    // hands the bytes unchanged to the host's send.
    void sendUserInput(std::span<const uint8_t> data);
    // What a host that sends user input by itself does with it first: an armed command line
    // (the shell marked its input) that the input submits becomes submitted.
    void noteUserInput(std::span<const uint8_t> data);

    // Queries of the views (TerminalSemanticPrompt.cpp), on the active screen; rows are buffer
    // rows. The shell-integration content of a cell (none outside the screen's lines and
    // columns; a column past a shorter row reads its last cell).
    std::optional<SemanticContent> semanticContent(const Position& at);
    // The marks of a row as anchors, whatever their group.
    std::vector<SemanticPromptAnchor> semanticPromptMarks(int row);
    // The buffer row a row object holds now: none once it was recycled for other content (its
    // recycle generation differs from the one given) or when it has left the screen.
    std::optional<int> semanticRow(const BufferLine& line, uint64_t recycleGeneration);
    // The row object at a buffer row (null outside), to be found again with semanticRow.
    BufferLinePtr bufferLine(int row);
    // `initial` for a row where a prompt starts, `continuation` for a row that continues one.
    std::optional<SemanticPromptKind> semanticRowKind(int row);
    // Where the active command line's prompt starts, and its kind.
    std::optional<SemanticPromptAnchor> activeSemanticPromptOrigin();

    // Prompt clicks (TerminalPromptClick.cpp): a single click into the command line the user is
    // editing moves the shell's cursor there, by cursor keys or a click report as the shell
    // asked. The view asks mightRouteSemanticPromptClick when the button goes down (cheap), and
    // hands the click to handleSemanticPromptClick on release; a click that returns false is
    // the view's. Positions are buffer positions.
    bool mightRouteSemanticPromptClick(SemanticPromptClickModifiers modifiers,
                                       const SemanticPromptPointerSnapshot& snapshot);
    // True when bytes were sent to the shell.
    bool handleSemanticPromptClick(const Position& at, SemanticPromptClickModifiers modifiers);
    bool handleSemanticPromptClick(const Position& at, SemanticPromptClickModifiers modifiers,
                                   const SemanticPromptPointerSnapshot& snapshot);

    // ---- Mouse reports (TerminalMouse.cpp) --------------------------------------------------
    // The button code of one event: 3 for a release, else buttons 1-5 give 1, 2, 0, 64, 65 (any
    // other 0); Shift adds 4, Meta 8 and Control 16 only in modes that report modifiers.
    int encodeButton(int button, bool release, bool shift, bool meta, bool control) const;
    // One report in the encoding the program chose, sent as one reply. x and y are the cell's
    // zero-based column and viewport row; pixelX and pixelY the pointer in pixels (SGR-pixel
    // only; without them the cell coordinates stand in). Negative values count as 0.
    void sendEvent(int buttonFlags, int x, int y, int pixelX, int pixelY);
    void sendEvent(int buttonFlags, int x, int y) { sendEvent(buttonFlags, x, y, x, y); }
    // sendEvent with the motion bit (32) added.
    void sendMotion(int buttonFlags, int x, int y, int pixelX, int pixelY);
    // Appends one value in the UTF-8 mouse encoding: 0-126 as one byte, 2047 as 0x00, others as
    // two bytes of min(value, 2047).
    static void encodeMouseUtf(std::string& data, int value);

    // ---- Links at a cell (TerminalLinks.cpp) ------------------------------------------------
    // The text of the link at a location of the active screen: the explicit link's URI, else
    // (explicitAndImplicit) the detected link's text.
    std::optional<std::string> link(const LinkLookupLocation& at, LinkLookupMode mode);
    // The buffer position of a location, clamped into the screen's columns and lines; none for
    // a screen without lines.
    std::optional<Position> resolveLinkLocation(const LinkLookupLocation& location, Buffer& buffer);
    // The OSC 8 link covering the cell: its URI and the run of cells on the row that carry the
    // same payload handle.
    std::optional<LinkMatch> explicitLinkMatch(const Position& at, Buffer& buffer);
    // The link detected in the text of the logical line around the cell: a URL of a known scheme
    // or a file path, over wrapped rows and rows that only look continued at the right edge. The
    // search runs under a time limit (implicitLinkTimeLimitMs of the thread's processor time); a
    // search that runs out finds no link.
    std::optional<LinkMatch> implicitLinkMatch(const Position& at, Buffer& buffer);
    // The hyperlink payload handle of the cell (the wide character's for its empty right half),
    // or none.
    std::optional<uint16_t> payloadCode(const Position& at, Buffer& buffer);
    // Time budget of one implicit-link lookup.
    static constexpr int implicitLinkTimeLimitMs = 50;

    // ---- Colours (Terminal.cpp) -------------------------------------------------------------
    const Color& foregroundColor() const { return m_foregroundColor; }
    const Color& backgroundColor() const { return m_backgroundColor; }
    const std::optional<Color>& cursorColor() const { return m_cursorColor; }
    // Each stores the colour and, unless the host is being told of this very colour already,
    // tells the host; the base-16 palettes are then generated again from the default colours.
    void setForegroundColor(const Color& color);
    void setBackgroundColor(const Color& color);
    void setCursorColor(std::optional<Color> color);
    Ansi256PaletteStrategy ansi256PaletteStrategy() const {
        return m_options.ansi256PaletteStrategy;
    }
    void setAnsi256PaletteStrategy(Ansi256PaletteStrategy strategy);
    // The 16 base colours (exactly 16; other counts are ignored).
    void installPalette(std::span<const Color> colors);
    void rebuildAnsiPalette(bool notifyDelegate);
    const std::vector<Color>& installedColors() const { return m_installedColors; }
    const std::vector<Color>& defaultAnsiColors() const { return m_defaultAnsiColors; }
    const std::vector<Color>& ansiColors() const { return m_ansiColors; }
    // The whole palette back to its defaults; the host hears of every colour at once.
    void resetAllColors();

    // ---- Focus ------------------------------------------------------------------------------
    void setTerminalFocus(bool focused);
    // CSI I or CSI O by the last focus state, whether or not focus reporting is on.
    void sendFocusReport();

    // ---- Selections -------------------------------------------------------------------------
    void registerSelection(std::weak_ptr<SelectionService> selection) override;
    void selectionChanged() override;
    // Clears the live selections that a scroll of the columns left..right of rows top..bottom
    // (ring rows) tore apart.
    void selectionsInvalidateForColumnRestrictedScroll(int top, int bottom, int left, int right);

    // ---- Text (TerminalText.cpp) ------------------------------------------------------------
    // The screens getBufferAsData reads.
    enum class BufferKind : uint8_t { active, normal, alt };
    // The text of columns start..<end (-1: to the end) of a ring row, up to its last non-empty
    // cell: empty cells read as spaces, the empty half of a wide character adds nothing.
    std::u32string translateBufferLineToString(Buffer& buffer, int row, int start, int end);
    std::vector<Line> _getSelectedLines(Position start, Position end, Buffer& buffer) override;
    std::string getText(Position start, Position end) override;
    // Every line of a screen, scrollback first, each as its text (as translateBufferLineToString
    // reads it) and a line feed in the encoding; a line the encoding cannot represent is left
    // out, line feed and all.
    std::vector<uint8_t> getBufferAsData(BufferKind kind, StringEncoding encoding);

    // ---- Replies (TerminalReports.cpp) ------------------------------------------------------
    // Hands the bytes to the host's send as one reply; nothing without a host.
    void sendResponse(std::span<const uint8_t> bytes);
    void sendResponse(std::string_view text);
    // Joins the pieces (texts, byte spans, single bytes) into one reply. Numbers are written
    // by the caller: an int piece does not compile rather than becoming a byte.
    template <typename... Items>
    requires(sizeof...(Items) > 1) void sendResponse(const Items&... items) {
        std::string reply;
        (appendReplyItem(reply, items), ...);
        sendResponse(std::string_view(reply));
    }
    // The XTVERSION identity: "Veldatron", then " " and the tag without its leading "v", "-" and
    // the branch, "+" and the version (not when "unknown"), then ":"; each input keeps only the
    // bytes 0x20-0x7E, and a result over 256 bytes is cut to 255 and ":".
    static std::string xtVersionIdentity(std::optional<std::string_view> tag,
                                         std::optional<std::string_view> branch,
                                         std::optional<std::string_view> version);
    // The rectangle that the 1-based parameters Pt;Pl;Pb;Pr at the start of `pars` name (origin
    // mode applied, clamped to the screen), or none when it is empty.
    std::optional<Rectangle> getRectangleFromRequest(std::span<const int32_t> pars) const;

    // ---- Kitty graphics (KittyGraphics*.cpp) ------------------------------------------------
    // An APC G command (the bytes after the "G"): chunked transmissions are joined, the action
    // runs and the program is answered, all before this returns.
    void handleKittyGraphics(std::span<const uint8_t> data);
    KittyGraphicsState& kittyGraphicsState() { return m_kittyGraphicsState; }
    const KittyGraphicsState& kittyGraphicsState() const { return m_kittyGraphicsState; }
    // The placement being handed to the host: present only while the host inserts the image of
    // a real placement (inside createImage or createImageFromBitmap).
    const std::optional<KittyPlacementContext>& kittyPlacementContext() const {
        return m_kittyPlacementContext;
    }

    // The store (KittyGraphicsStore.cpp). Storing replaces an image with the same id (keeping
    // the numbers that name it) and then keeps the store within the budget: unused images go
    // first, least recently stored or put first, then, while still over, the others.
    void storeKittyImage(const KittyGraphicsPayload& payload, uint32_t imageId,
                         std::optional<uint32_t> imageNumber);
    // Stamps the image with a new access tick; null when no image has the id.
    const KittyGraphicsImage* updateKittyImageAccess(uint32_t imageId);
    void enforceKittyImageCacheLimit();
    // Ids that a row image of either screen or a placement record uses.
    std::set<uint32_t> collectUsedKittyImageIds();
    void collectUsedKittyImageIds(Buffer& buffer, std::set<uint32_t>& into);
    void cleanupUnusedKittyImages();
    void removeKittyImageNumbers(uint32_t imageId);
    // RIS and ED 2: every image of the active screen's rows (and of the alternate screen's), and
    // the whole store but its counters and a pending transmission.
    void clearAllKittyImages();
    // A switch of screens: the kitty placements of that screen go, then unused images.
    void clearKittyImages(Buffer& buffer, bool isAlternateBuffer);

    // Placements (KittyGraphicsPlacement.cpp): false after an error reply was sent.
    bool displayKittyImage(const KittyGraphicsPayload& payload, const KittyGraphicsControl& control,
                           std::optional<uint32_t> imageId, std::optional<uint32_t> imageNumber);
    // The row images of a placement, in both screens, and its record.
    void removeKittyPlacement(uint32_t imageId, uint32_t placementId);
    // Removes the kitty row images of rows `lineRange` (ring indexes, clamped) that `predicate`
    // accepts; returns the keys of those with both ids.
    std::set<KittyPlacementKey>
    removeKittyPlacements(Buffer& buffer, int64_t firstRow, int64_t endRow,
                          FunctionRef<bool(const KittyPlacementImage&)> predicate);
    std::set<KittyPlacementKey>
    removePlacementRecords(FunctionRef<bool(const KittyPlacementRecord&)> predicate);
    std::set<KittyPlacementKey> removeKittyPlacementsByKey(const std::set<KittyPlacementKey>& keys);
    // Relative placements (KittyGraphicsRelative.cpp). Positions: each placement's topmost row
    // (a ring index) and the column of its slice there.
    struct KittyCell {
        int64_t row = 0;
        int64_t col = 0;
        friend bool operator==(const KittyCell&, const KittyCell&) = default;
    };
    using KittyPositions = std::map<KittyPlacementKey, KittyCell>;
    KittyPositions collectKittyPlacementPositions(Buffer& buffer);
    std::optional<KittyCell> resolveKittyPlacementPosition(const KittyPlacementKey& key,
                                                           const KittyPositions& positions,
                                                           KittyPositions& resolved,
                                                           std::set<KittyPlacementKey>& visiting);
    struct KittyPlacementOrigin {
        std::optional<int64_t> col;
        std::optional<int64_t> row;
        bool isRelative = false;
        std::optional<std::string_view> errorMessage;
    };
    KittyPlacementOrigin resolveKittyPlacementOrigin(const KittyGraphicsControl& control);
    // After a scroll of the active screen: relative placements follow their parents.
    void updateKittyRelativePlacementsForCurrentBuffer();
    void moveKittyPlacementImages(Buffer& buffer, const KittyPlacementKey& key, int64_t deltaRow,
                                  int64_t newTopRow, int64_t newLeftCol);
    // ---- Resets, resize and scrollback (TerminalReset.cpp) ----------------------------------
    // DECSTR: modes, margins, attribute, character set, colours and shell-integration state back
    // to their defaults; the screens and their contents stay.
    void softReset();
    // RIS: every mode, character set, margin and screen back to power-on, keeping the size and
    // the cursor's visibility; the cursor goes home. The host hears bufferActivated.
    void resetToInitialState();
    // A new size (at least 2 columns and 1 row); nothing when it is the current one. Ends
    // synchronized output, resizes both screens (reflowing the one with scrollback), stores the
    // size in the options, keeps the tab stops up to the old width and marks the whole screen
    // dirty. The host is not told: it asked for the size.
    void resize(int cols, int rows);
    // Drops the normal screen's history.
    void clearScrollback();
    // A new history size for the normal screen (none: no history).
    void changeScrollback(std::optional<int> lines);
    void changeHistorySize(std::optional<int> lines) { changeScrollback(lines); }

    // Clamps the cursor into the screen (to the last column, or with `clampToLastColumn` false
    // to the pending-wrap column) and, in origin mode, into the scroll region; marks its row.
    // Hosts call it after they moved the cursor themselves (inserting an image).
    void restrictCursor(bool clampToLastColumn = true);

    // ---- Scrolling (TerminalScroll.cpp) -----------------------------------------------------
    // IND: the cursor moves down a row, or the scroll region scrolls up at its bottom.
    void cmdIndex();
    // RI: the cursor up one row, or, on the top row of the scroll region, the region down one
    // line (only the columns between the margins when they are narrower than the screen).
    void reverseIndex();

    // ---- Synchronized output (TerminalModes.cpp) --------------------------------------------
    static constexpr double synchronizedOutputTimeoutSeconds = 1.0;
    void endSynchronizedOutput();

    // ---- Control functions the dispatch and the host call (TerminalControl.cpp) -------------
    // LF, VT and FF.
    void cmdLineFeedBasic();
    [[gnu::noinline]] void lineFeedGeneral();
    void cmdCarriageReturn() {
        Buffer& buffer = *m_buffer;
        buffer.setX(m_marginMode && buffer.x() >= buffer.marginLeft() ? buffer.marginLeft() : 0);
    }
    void cmdBackspace();
    // Inline: the plain-line writer (another file) tells of a line feed for every line it writes.
    void emitLineFeed() {
        tell([&](TerminalDelegate& d) { d.linefeed(*this); });
    }
    // Moves the scroll region up one line: the top line goes into the scrollback when the region
    // starts at the top of the screen. `isWrapped` marks the new bottom line as continuing the
    // one above (an autowrap).
    void scroll(bool isWrapped = false);

    // ---- Entry points of the parser (not for hosts) -----------------------------------------
    // The print path, in tiers from the fastest; each must leave exactly what the general path
    // leaves, and a property test compares the two:
    //   1. feedPlainLines (TerminalPrintLines.cpp): whole plain lines scrolling into a full
    //      scrollback, written in runs before the host hears of them.
    //      TerminalLineFeed.RunsOfPlainLinesLeaveWhatLinesFedOneByteAtATimeLeave
    //   2. handlePrint, inline in the parse loop: an ASCII run that fits the cursor's row, in one
    //      block (Buffer::putAsciiCells). Within a screen drawn cell by cell, CellRun
    //      (TerminalCellRun.h) writes such runs between the moves, with the cursor in registers.
    //      TerminalPrintProperty.DrawingCellByCellLeavesWhatSequencesReadOneAtATimeLeave
    //   3. printRun: ASCII runs that wrap or meet insert mode (Buffer::insertAsciiRun). Tiers 2
    //      and 3: TerminalPrintProperty.TheAsciiFastPathWritesWhatTheGeneralPathWrites and, for
    //      the buffer alone, BufferPrint.AsciiRunMatchesTheGeneralPath
    //   4. printSpan, within printGeneral: runs of whole characters beyond ASCII that fit the
    //      cursor's row.
    //      TerminalPrintProperty.TheSpanWriterWritesWhatTheGeneralPathWrites
    //   5. printGeneral, one character at a time through printScalar: the general path.
    // After a CR LF in ground: takes every plain line the parser found (printable ASCII ended by
    // CR LF, a log scrolling past), as printing, CR and LF one at a time would.
    void feedPlainLines(PlainLines& lines);
    // The plain lines from the front while each only recycles a row of a full scrollback: the
    // run is written first and the host then hears of its scrolls and line feeds, one call each,
    // in order. False, taking none, when the first line needs the general path.
    bool scrollPlainLines(PlainLines& lines);
    // Whether a plain line of `length` characters, more than the screen is wide, starting at
    // column 0 of `row`, the bottom row of a full ring, is written whole by scrollPlainLines:
    // autowrap is on and every row it wraps into is as wide as the screen.
    bool wrapsPlainLine(CircularBufferLineList& lines, const BufferLine& row, size_t length,
                        bool wraparound) const;
    // Writes such a line from column 0 of `row`, recycling a row for each autowrap; returns the
    // row it ends in.
    [[gnu::noinline]] BufferLine* writeWrappingPlainLine(CircularBufferLineList::Recycler& lines,
                                                         BufferLine* row,
                                                         std::span<const uint8_t> text,
                                                         const CharData& cell);
    [[gnu::noinline]] void plainLineGeneral(std::span<const uint8_t> text);
    // A run of printable bytes (every byte from 0x20 up) from ground; `printableAscii` says every
    // byte lies in 0x20-0x7E. The common case, plain ASCII with no character set and nothing
    // carried over, goes to the screen in one block, inline in the parser's loop.
    void handlePrint(std::span<const uint8_t> run, bool printableAscii) {
        if (printableAscii && m_putbackLength == 0 && !translatesAscii()) {
            Buffer& buffer = *m_buffer;
            // Most runs fit the cursor's row: written in one block, the row marked once.
            if (buffer.putAsciiCells(run, asciiCell())) {
                updateRange(buffer, buffer.y());
                return;
            }
        }
        printRun(run, printableAscii);
    }
    // handlePrint for runs that wrap, meet insert mode, a character set, text beyond ASCII or
    // bytes carried over.
    [[gnu::noinline]] void printRun(std::span<const uint8_t> run, bool printableAscii);
    // The cell every printed ASCII character starts from (attribute, link payload, content
    // code, width 1). Made afresh for every run, in registers: colourful output changes the
    // attribute before most runs, and a kept cell compared with the attribute would read it with
    // one wide load right after SGR stored it in two halves, which stalls until the stores land.
    CharData asciiCell() {
        if (m_activeHyperlink) {
            return linkedAsciiCell();
        }
        return CharData(m_curAttr, 0, 1, TinyAtom(), m_buffer->semanticContent.cellCode());
    }
    // With a link the payload is resolved for every run, as a link may be given up meanwhile.
    [[gnu::noinline]] CharData linkedAsciiCell();
    // Drops the bytes of an incomplete UTF-8 character carried over from the last run.
    void resetPrintState() { m_putbackLength = 0; }
    // C0 control bytes, and C1 bytes outside ground. Carriage return and line feed, one each per
    // line of output, are decided here, inline in the parser's loop.
    void execute(uint8_t code) {
        if (code == 0x0D) {
            cmdCarriageReturn();
        } else if (code >= 0x0A && code <= 0x0C) {
            cmdLineFeedBasic();
        } else {
            executeOther(code);
        }
    }
    void dispatchEsc(const SequenceId& sequence); // TerminalEsc.cpp
    // Control sequences. The moves that draw a screen cell by cell, and SGR, which colourful
    // output sends before most cells, are routed here, inline in the parser's loop: a direct call
    // to their handlers, without the general dispatch's frame. Every other final goes to
    // dispatchCsiOther. None of these moves looks at the intermediates (CSI ? H acts as CSI H).
    void dispatchCsi(const SequenceId& sequence, const ParserParams& pars) {
        switch (sequence.final) {
        case 'A':
            return cmdCursorUp(pars);
        case 'B':
            return cmdCursorDown(pars);
        case 'C':
            return cursorForward(pars[0]);
        case 'D':
            return cursorBackward(pars[0]);
        case 'G':
            return cmdCursorCharAbsolute(pars);
        case 'H':
            return cmdCursorPosition(pars);
        case 'm':
            return cmdCsiM(pars, sequence.collect);
        default:
            return dispatchCsiOther(sequence, pars);
        }
    }
    // Those moves, VPA and SGR, each with the ASCII printed after it, many in a row
    // (TerminalCellRun.h).
    class CellRun;
    void dispatchCsiOther(const SequenceId& sequence, const ParserParams& pars); // TerminalCsi.cpp
    void dispatchOsc(int64_t code, std::span<const uint8_t> data);               // TerminalOsc.cpp

private:
    friend class TerminalTestAccess;
    // The sixel decoder hands its picture to the host as the terminal's own calls do.
    friend class SixelDcsHandler;

    // ---- Construction and screens -----------------------------------------------------------
    std::shared_ptr<Buffer> makeNormalBuffer();
    void installScrollCallback(Buffer& buffer);

    // ---- Diagnostics (TerminalFeed.cpp) -----------------------------------------------------
    void configureParser();
    // Writes "Info: " and the text as one line, only while silentLog is off.
    void logInfo(std::string_view text) const;
    void logUnknownCsi(const ParserParams& pars, std::span<const uint8_t> collect,
                       uint8_t final) const;
    void logUnknownEsc(std::span<const uint8_t> collect, uint8_t final) const;
    void logUnknownOsc(int64_t code) const;
    void logUnknownApc(uint8_t command) const;
    // "[1, 2, 3]": the list form of the diagnostic lines.
    static std::string listText(std::span<const int32_t> values);
    static std::string listText(std::span<const uint8_t> bytes);

    // The foreground and background setters: store, tell the host unless it is being told of
    // this colour already, regenerate the base-16 palettes.
    void setDefaultColor(Color& field, bool& guard,
                         void (TerminalDelegate::*notify)(Terminal&, const Color&),
                         const Color& color);

    // ---- Delegate calls ---------------------------------------------------------------------
    // Runs `call` with the delegate, if any, counting the nesting so that feeding, resizing or
    // resetting from inside a callback is caught in debug builds.
    template <typename Call> void tell(Call&& call) {
        if (m_delegate != nullptr) {
            ++m_delegateDepth;
            call(*m_delegate);
            --m_delegateDepth;
        }
    }
    template <typename Call>
    auto ask(Call&& call) -> std::optional<decltype(call(std::declval<TerminalDelegate&>()))> {
        if (m_delegate == nullptr) {
            return std::nullopt;
        }
        ++m_delegateDepth;
        auto result = call(*m_delegate);
        --m_delegateDepth;
        return result;
    }
    // Feeding, resizing and resetting from a delegate callback would change the screens under the
    // handler that made the call.
    void assertNotInDelegateCallback() const;

    // ---- Print path (TerminalPrint.cpp) -----------------------------------------------------
    using InternedCluster = ClusterTable::Cluster;
    // Where a zero-width or joining character attaches: ring row and column of the cell.
    // A cell, or none (col -1); eight bytes, returned in a register.
    struct CellRef {
        int row = 0;
        int col = -1;
        explicit operator bool() const { return col >= 0; }
    };
    CellRef combiningTarget(Buffer& buffer);
    void printGeneral(std::span<const uint8_t> run);
    // Decodes and prints one character starting at `p` (at most `end`); returns the bytes used,
    // or 0 when the character is incomplete (the bytes are then carried over).
    size_t printOne(const uint8_t* p, const uint8_t* end);
    // Prints the characters from `p` on straight into the cursor's row, as printOne would one at
    // a time: ASCII (when `asciiDirect`: no character set replaces it), complete characters of
    // width 1 or 2, and the scalars that join a character the span printed (marks, joiners,
    // selectors, skin tones, the second letter of a flag). Stops before the first character that
    // wraps, is invalid or cut off, or needs the cell before the span. Returns the bytes used.
    size_t printSpan(const uint8_t* p, const uint8_t* end, bool asciiDirect);
    // printSpan's join of a variation selector to the cell it printed last at `last`, with the
    // cursor at `x`: joins, widens the cell (its empty half written at `x`, below `stop`; the
    // cursor is to pass it), narrows it (the cursor is to move back onto its empty half) or drops
    // the selector. Undecided (nothing done) when there is no room to widen within the span: the
    // general path decides.
    enum class SelectorJoin : uint8_t { joined, widened, narrowed, dropped, undecided };
    SelectorJoin joinSelector(CharData* cells, int last, int x, int stop, char32_t selector);
    void printScalar(char32_t scalar, int width);
    void printCell(int32_t code, int width);
    void prepareRunCells();
    // Joins `scalar` to the target cell; false when the two do not form one grapheme cluster.
    bool combine(const CellRef& target, char32_t scalar);
    // The code of the cluster `base` (a cell code) followed by `scalar`, or -1 when the two are
    // not one grapheme cluster or the cluster is full.
    int32_t combinedCode(int32_t base, char32_t scalar) {
        return m_clusterTable.join(base, scalar);
    }
    // The code of a lone scalar above U+FFFF.
    int32_t internScalar(char32_t scalar) { return m_clusterTable.scalar(scalar); }
    const InternedCluster* interned(int32_t code) const { return m_clusterTable.find(code); }
    // Marks the code of every cell either screen stores (the scrollback too) in the table;
    // returns the number of cells read.
    size_t markClusters(ClusterTable& table) const;
    // Whether printed ASCII goes through a character set (the United States set replaces
    // nothing, so it counts as none).
    bool translatesAscii() const { return m_charset != nullptr && !m_charset->isEmpty(); }
    // The hyperlink payload of printed cells (OSC 8).
    std::optional<TinyAtom> resolveActiveHyperlink() {
        if (!m_activeHyperlink) {
            return std::nullopt;
        }
        return resolveHyperlinkPayload(*m_activeHyperlink);
    }
    std::optional<TinyAtom> resolveHyperlinkPayload(ActiveHyperlink& link);
    void executeOther(uint8_t code);

    // ---- Line control (TerminalControl.cpp) -------------------------------------------------
    void finishSemanticLineAdvance(bool movedToNextLine);
    // Default foreground, the current background: what scrolled-in and erased cells get.
    Attribute scrollBlankAttribute() const {
        return Attribute(Attribute::Color::defaultColor, m_curAttr.bg());
    }
    // The oldest row of a full ring, cleared with `blank`, becomes the new bottom row: a line
    // feed's (not wrapped, the current bidirectional state) or an autowrap's (wrapped, the
    // state of the row it continues).
    BufferLine* recycleIntoBottomRow(CircularBufferLineList& lines, const Attribute& blank,
                                     bool isWrapped, BidiPresentationState state) {
        return prepareBottomRow(lines.recycle(blank), isWrapped, state);
    }
    // The same for a run of rows, each cleared with the recycler's attribute.
    static BufferLine* recycleIntoBottomRow(CircularBufferLineList::Recycler& recycler,
                                            bool isWrapped, BidiPresentationState state) {
        return prepareBottomRow(recycler.recycle(), isWrapped, state);
    }
    static BufferLine* prepareBottomRow(BufferLine* row, bool isWrapped,
                                        BidiPresentationState state) {
        row->setIsWrapped(isWrapped);
        row->setBidiState(state);
        return row;
    }
    // A line feed on the bottom row when scrollsFullScreenIntoFullScrollback holds: what
    // scroll(false) and the rest of lineFeedGeneral do there, in one pass (nearly every line of
    // output once the scrollback is full).
    void lineFeedIntoFullScrollback(Buffer& buffer) {
        recycleIntoBottomRow(buffer.lines(), scrollBlankAttribute(), false, m_currentBidiState);
        ++buffer.linesTop;
        buffer.setYDisp(buffer.yBase());
        m_refreshStart = std::min(m_refreshStart, 0);
        m_refreshEnd = std::max(m_refreshEnd, m_rows - 1);
        tell([&](TerminalDelegate& d) { d.scrolled(*this, buffer.yDisp()); });
        if (buffer.x() >= m_cols) {
            buffer.setX(buffer.x() - 1);
        }
        emitLineFeed();
        if (m_lineFeedMode) {
            buffer.setX(0);
        }
    }
    // Whether a line feed on the screen's last row only recycles the oldest row: the scroll
    // region is the whole screen, without left and right margins, the ring and its scrollback
    // are full, no selection is active, no image is anchored, the view follows the output and no
    // prompt is being edited.
    bool scrollsFullScreenIntoFullScrollback(Buffer& buffer) {
        const CircularBufferLineList& lines = buffer.lines();
        return !m_marginMode && buffer.scrollTop() == 0 && buffer.scrollBottom() == m_rows - 1 &&
               buffer.hasScrollback() && lines.isFull() &&
               buffer.yBase() + m_rows == lines.count() && !m_userScrolling &&
               (m_selections.empty() || noSelectionActive()) && !buffer.hasAnyImages() &&
               buffer.semanticInput != SemanticInputState::prompt &&
               buffer.semanticInput != SemanticInputState::armed;
    }
    // The end of scroll(): window, dirty rows, images, the host told.
    void finishScroll(Buffer& buffer, int scrollTop, int scrollBottom);
    // The end of a line feed once the cursor has moved down or the region scrolled.
    void finishLineFeed(Buffer& buffer, bool moved);
    // The cases of scroll() other than a full ring; the bottom row's bidirectional state is
    // what an autowrapped new line takes.
    [[gnu::noinline]] void scrollColumnsBetweenMargins(Buffer& buffer);
    bool scrollRegionWithoutScrollback(Buffer& buffer, bool isWrapped);
    // Its work once the region is known to lie within the ring: ring rows topRow..bottomRow move
    // up one, and the dropped top row comes round to the bottom as the new line.
    [[gnu::always_inline]] void rotateRegionUp(Buffer& buffer, int topRow, int bottomRow,
                                               bool isWrapped);
    [[gnu::noinline]] void scrollIntoGrowingScrollback(Buffer& buffer, bool isWrapped);
    BidiPresentationState scrolledInBidiState(Buffer& buffer, bool isWrapped);
    // The oldest row of a full ring has left it: history counters, selections and the window.
    void droppedOldestLine(Buffer& buffer);
    // The cached blank line, made ready to be copied as the new line of a scroll (inline: every
    // scroll of a region and every inserted or deleted line copies it).
    const BufferLine& prepareBlankLine(Buffer& buffer, bool isWrapped, BidiPresentationState state,
                                       const Attribute& attribute) {
        // Rebuilt only when the width or the background changed.
        if (m_blankLine->count() != m_cols || m_blankLineAttribute != attribute) {
            rebuildBlankLine(buffer, attribute, isWrapped);
        }
        m_blankLine->setIsWrapped(isWrapped);
        m_blankLine->setBidiState(state);
        return *m_blankLine;
    }
    [[gnu::noinline]] void rebuildBlankLine(Buffer& buffer, const Attribute& attribute,
                                            bool isWrapped);
    // Live selections of a whole-width scroll: content of ring rows top..bottom moved up by
    // `lines` (down when negative).
    void selectionsAdjustForInPlaceScroll(int top, int bottom, int lines) {
        if (!m_selections.empty()) {
            adjustSelections(top, bottom, lines);
        }
    }
    void adjustSelections(int top, int bottom, int lines);
    // The registered selections that still exist (dropping the others from the registry).
    std::vector<std::shared_ptr<SelectionService>> liveSelections();
    // Whether no registered selection is active: scrolls then have no selection to move.
    bool noSelectionActive() const;

    // ---- Dispatch helpers, margins and title modes (TerminalCsi.cpp) ------------------------
    // Out of line, so that the dispatch itself stays a jump to one handler.
    [[gnu::noinline]] void csiFallback(const SequenceId& sequence, const ParserParams& pars);
    [[gnu::noinline]] void logUnhandledCsiT(std::span<const uint8_t> collect);
    // CSI > Ps s: whether shift reaches mouse reports.
    [[gnu::noinline]] void setShiftEscape(const ParserParams& pars);
    // CSI > Pm t and CSI > Pm T: the hex and UTF-8 title flags 0-3 on or off.
    [[gnu::noinline]] void setTitleModes(const ParserParams& pars, bool on);
    // CSI ... u: a kitty keyboard request, else (without intermediates) DECRC.
    [[gnu::noinline]] void csiU(const ParserParams& pars, std::span<const uint8_t> collect);
    void cmdSetScrollRegion(const ParserParams& pars, std::span<const uint8_t> collect);
    void cmdSetMargins(const ParserParams& pars, std::span<const uint8_t> collect);

    // ---- Cursor (TerminalCursor.cpp) --------------------------------------------------------
    // The primitives every motion ends in. setCursor takes origin-relative coordinates.
    void cursorForward(int count);
    void cursorBackward(int count);
    void setCursor(int col, int row);
    void cmdCursorUp(const ParserParams& pars);
    void cmdCursorDown(const ParserParams& pars);
    void cmdCursorCharAbsolute(const ParserParams& pars);
    void cmdCursorPosition(const ParserParams& pars);
    void cmdCharPosAbsolute(const ParserParams& pars);
    void cmdHPositionRelative(const ParserParams& pars);
    void cmdLinePosAbsolute(const ParserParams& pars);
    void cmdVPositionRelative(const ParserParams& pars);
    void cmdHVPosition(const ParserParams& pars);
    // CHT and CBT.
    void cmdForwardTab(const ParserParams& pars);
    void cmdBackwardTab(const ParserParams& pars);
    void cmdTabClear(const ParserParams& pars);
    // DECSC and DECRC; with intermediates they do nothing.
    void cmdSaveCursor(std::span<const uint8_t> collect = {});
    void cmdRestoreCursor(std::span<const uint8_t> collect = {});
    // NEL: to the left margin (with origin and margin mode) or column 0, then IND.
    void cmdNextLine();
    // CNL and CPL: CUD and CUU, then to the left margin.
    void cmdCursorNextLine(const ParserParams& pars);
    void cmdCursorPrecedingLine(const ParserParams& pars);

    // ---- Editing (TerminalEditing.cpp) ------------------------------------------------------
    void cmdInsertChars(const ParserParams& pars);
    void cmdDeleteChars(const ParserParams& pars);
    void cmdEraseChars(const ParserParams& pars);
    void cmdEraseInLine(const ParserParams& pars);
    void cmdEraseInDisplay(const ParserParams& pars);
    void cmdInsertLines(const ParserParams& pars);
    void cmdDeleteLines(const ParserParams& pars);
    void cmdScrollUp(const ParserParams& pars);
    void cmdRepeatPrecedingCharacter(const ParserParams& pars);
    void cmdDeleteColumns(const ParserParams& pars);
    // A blank row: erased cells, no wrap, single width, images removed when asked, the given
    // bidirectional state.
    void resetBufferLine(int y, bool clearImages, std::optional<BidiPresentationState> bidiState);
    // Code 0, width 1, default foreground, the current background: what erasing leaves.
    CharData erasedCell() const { return CharData(scrollBlankAttribute(), 0, 1); }
    // Rows top..bottom (ring rows) of the screen: `n` rows of `fill` enter at `at` (top or
    // bottom), the rows on the far side fall off. Whole rows move, no cells are copied.
    enum class RowEntry : uint8_t { atTop, atBottom };
    void rotateRows(int top, int bottom, int n, RowEntry entry, const Attribute& fill);
    // The same within columns left..right only: cells move, `fill` enters.
    void shiftRowsWithinMargins(int top, int bottom, int n, RowEntry entry, const CharData& fill);
    // IL (rows enter at the cursor) and DL (at the region's bottom).
    void insertOrDeleteLines(int n, RowEntry entry);
    // In every row of the scroll region, cells from `at` to the right limit move right by `by`
    // (left when negative) and `fill` enters; `endsWraps` clears the rows' wrap flags.
    void shiftRegionColumns(int at, int by, const CharData& fill, bool endsWraps);

    // ---- Scrolling (TerminalScroll.cpp) -----------------------------------------------------
    void cmdScrollDown(const ParserParams& pars);
    // DECBI (back) and DECFI.
    void columnIndex(bool back);
    // Scrolls the columns of the region by one: back moves them right from `at`, forward left.
    void columnScroll(bool back, int at);

    // ---- Line render modes and rectangles (TerminalRectangles.cpp) --------------------------
    void setLineRenderMode(BufferLine::RenderLineMode mode);
    void cmdScreenAlignmentPattern();
    void csiCopyRectangularArea(const ParserParams& pars, std::span<const uint8_t> collect);
    void csiX(const ParserParams& pars, std::span<const uint8_t> collect);
    void csiZ(const ParserParams& pars, std::span<const uint8_t> collect);
    void csiOpenBrace(const ParserParams& pars, std::span<const uint8_t> collect);
    void csiCloseBrace(const ParserParams& pars, std::span<const uint8_t> collect);
    void cmdDECERA(const ParserParams& pars);
    void cmdSelectiveEraseRectangularArea(const ParserParams& pars);
    void cmdInsertColumns(const ParserParams& pars);
    void fillRectangle(const Rectangle& rect, const CharData& fill);

    // ---- Reports (TerminalReports.cpp) ------------------------------------------------------
    static void appendReplyItem(std::string& reply, std::string_view text) { reply += text; }
    static void appendReplyItem(std::string& reply, std::span<const uint8_t> bytes) {
        reply.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    static void appendReplyItem(std::string& reply, uint8_t byte) { reply += char(byte); }
    static void appendReplyItem(std::string& reply, int) = delete;
    void cmdDeviceStatus(const ParserParams& pars, std::span<const uint8_t> collect);
    void cmdSendDeviceAttributes(const ParserParams& pars, std::span<const uint8_t> collect);
    void cmdDECRQCRA(const ParserParams& pars);
    // What cells add to a DECRQCRA checksum: 32 for an empty cell, else the scalars of its
    // character.
    uint32_t checksumOf(std::span<const CharData> cells) const;
    uint32_t checksumOf(const CharData& cell) const;
    void cmdXTVERSION(const ParserParams& pars, std::span<const uint8_t> collect);

    // ---- Bidirectional state (TerminalBidiState.cpp) ----------------------------------------
    // Writes the named fields of currentBidiState into the paragraph that starts at the cursor,
    // only when the cursor stands at its very start (column 0 of a row that continues none).
    void applyCurrentBidiStateAtParagraphStart(BidiStateProperties properties);
    // After SD (insertedAtTop) and SU by `count` rows: text inside and outside the region, and
    // the rows pushed apart, no longer form one paragraph.
    void hardenBidiScrollBoundaries(bool insertedAtTop, int count);
    // After IL and DL (ring rows).
    void hardenBidiLineShiftBoundaries(int firstChangedRow, std::optional<int> firstMovedRow,
                                       int lastChangedRow);
    // Makes `state` the current state and every screen's default, writes the changed fields into
    // the paragraph at the cursor when the cursor stands at its start, and redraws.
    void changeBidiState(BidiPresentationState state, BidiStateProperties properties);
    // The initial state, arrow-key swap and an empty XTSAVE store: where both resets begin.
    void resetBidiState();
    void cmdSelectPresentationDirection(const ParserParams& pars);
    void cmdSelectCharacterPath(const ParserParams& pars);
    void setFallbackDirection(BidiDirection direction);

    // ---- Modes (TerminalModes.cpp) ----------------------------------------------------------
    void cmdSetMode(const ParserParams& pars, std::span<const uint8_t> collect);
    void cmdResetMode(const ParserParams& pars, std::span<const uint8_t> collect);
    // SM and RM (`on` false), each parameter in turn; a mode this terminal does not handle in
    // that direction is logged.
    void changeModes(const ParserParams& pars, std::span<const uint8_t> collect, bool on);
    // The one place each mode takes effect, for set, reset and restore alike; false for a mode
    // not handled in that direction.
    bool applyDecMode(DecMode mode, bool on);
    bool applyAnsiMode(AnsiMode mode, bool on);
    // A DEC mode's state as the terminal keeps it (DECRQM, XTSAVE); none for modes with no state.
    std::optional<bool> decModeState(DecMode mode) const;
    void setInsertMode(bool on);
    void setWraparound(bool on);
    void setMarginMode(bool on);
    void beginSynchronizedOutput();
    void scheduleSynchronizedOutputTimeout();

    // Alternate screen on for modes 47, 1047 and 1049; off again, clearing it or not.
    void enterAlternateScreen();
    struct LeaveAlternateScreen {
        bool clearAlternate = false; // the alternate screen is cleared as it is left
        bool restoreCursor = false;  // then the cursor saved on entering comes back
    };
    void leaveAlternateScreen(LeaveAlternateScreen options);
    void finishScreenSwitch();
    void cmdSavePrivateModes(const ParserParams& pars);
    void cmdRestorePrivateModes(const ParserParams& pars);
    void cmdDecRqm(const ParserParams& pars, bool decMode);
    int decModeValue(DecMode mode) const;
    int ansiModeValue(AnsiMode mode) const;
    void csiPHandler(const ParserParams& pars, std::span<const uint8_t> collect);
    void cmdSoftReset() { softReset(); }
    // DECSCL: the conformance level, and 7-bit or 8-bit replies.
    void cmdSetConformanceLevel(const ParserParams& pars);

    // ---- Shell-integration resets (TerminalSemanticInput.cpp) -------------------------------
    void resetSemanticPromptState(bool clearingScreenMarks);
    void resetUserInputScanner();

    // ---- Shell integration (TerminalSemanticPrompt.cpp) -------------------------------------
    // OSC 133, the data after "133;": a command letter and options.
    void oscSemanticPrompt(std::span<const uint8_t> data);
    void markCurrentSemanticPrompt(SemanticPromptKind kind);
    // CR LF unless the cursor stands at the start of its line (the left margin in margin mode).
    void semanticFreshLine();
    // Output starts: the cursor's row stops continuing the prompt group.
    void clearEchoedEnterContinuationBeforeOutput();
    // A switch between the normal and the alternate screen ends the command line on both.
    void semanticNoteAlternateScreenSwitch();

    // ---- Window operations, cursor style (TerminalWindow.cpp) -------------------------------
    void cmdWindowOptions(const ParserParams& pars);
    // The reply of a size report: the host's bytes when it gives any, else the text built here
    // (after the CSI introducer).
    void windowReport(WindowManipulationCommand::Kind kind, FunctionRef<std::string()> fallback);
    void pushTitle(std::vector<std::string>& stack, const std::string& title);
    // The last entry, if any, leaves the stack and becomes the title through `set`.
    void popStack(std::vector<std::string>& stack, void (Terminal::*set)(std::string));
    void cmdSetCursorStyle(const ParserParams& pars, std::span<const uint8_t> collect);

    // ---- Kitty keyboard flags (TerminalKeyboard.cpp) ----------------------------------------
    // CSI = u, > u, < u and ? u; false for any other CSI ... u (restore cursor).
    bool handleKittyKeyboardProtocol(const ParserParams& pars, std::span<const uint8_t> collect);

    // ---- Operating-system commands (TerminalOsc.cpp) ----------------------------------------
    void oscSetCurrentDirectory(std::span<const uint8_t> data);
    void oscSetCurrentDocument(std::span<const uint8_t> data);
    // Stores OSC 7 or OSC 6 data when the host trusts the process and it is text; false when not.
    bool storeHostLocation(std::span<const uint8_t> data, std::optional<std::string>& location);
    void oscHyperlink(std::span<const uint8_t> data);
    void oscSetColors(std::span<const uint8_t> data, int startAt);
    void oscChangeOrQueryColorIndex(std::span<const uint8_t> data);
    void oscResetColor(std::span<const uint8_t> data);
    void oscClipboard(std::span<const uint8_t> data);
    void oscNotification(std::span<const uint8_t> data);
    void osciTerm2(std::span<const uint8_t> data);
    // Releases the held codes that neither screen nor the active link uses any more, then notes
    // in `inUse` every code they do use.
    void markPayloads(std::vector<bool>& inUse);
    // Every row either screen holds, also rows beyond the ring's count that may come back: what
    // a mark of the codes in cells reads.
    template <typename F> void forEachStoredLine(F&& f) const {
        for (const Buffer* screen : {m_normalBuffer.get(), m_altBuffer.get()}) {
            screen->lines().forEachStoredLine(f);
        }
    }

    // ---- Character attributes (TerminalSgr.cpp) ---------------------------------------------
    // Inline in the parser's loop (through dispatchCsi): the shortcuts for the commonest lists
    // of colourful output then cost no call.
    void cmdCsiM(const ParserParams& pars, std::span<const uint8_t> collect) {
        if (!collect.empty()) {
            return;
        }
        const std::span<const int32_t> values = pars.values();
        const size_t n = values.size();
        // One foreground or background colour and nothing else ("38;2;r;g;b", "48;5;n"), set
        // without the loop.
        if ((n == 5 || n == 3) && (values[0] == 38 || values[0] == 48) &&
            values[1] == (n == 5 ? 2 : 5) && !pars.isSubParameter(1)) {
            const auto channel = [&](size_t i) { return uint8_t(std::min(values[i], 255)); };
            const Attribute::Color color =
                n == 5 ? Attribute::Color::trueColor(channel(2), channel(3), channel(4))
                       : Attribute::Color::ansi256(channel(2));
            if (values[0] == 38) {
                m_curAttr.setFg(color);
            } else {
                m_curAttr.setBg(color);
            }
            return;
        }
        // A plain reset, which most programs send after every coloured word.
        if (n == 1 && values[0] == 0) {
            m_curAttr = Attribute();
            return;
        }
        sgrList(pars);
    }
    // The lists cmdCsiM takes no shortcut for, one parameter after another. Out of line: the
    // shortcuts then need no stack frame.
    [[gnu::noinline]] void sgrList(const ParserParams& pars);

    // ---- State (in the order of the terminal's state table) ---------------------------------
    int m_cols = 80;
    int m_rows = 25;
    int m_tabStopWidth = 8;
    TerminalOptions m_options;
    // A registered selection: the weak reference says whether it still exists, and the object
    // is read only while it does (nothing but this terminal's thread can end it), so the line
    // feed's check of active selections costs no reference count.
    struct RegisteredSelection {
        std::weak_ptr<SelectionService> ref;
        const SelectionService* object = nullptr;
    };
    std::vector<RegisteredSelection> m_selections;
    std::shared_ptr<Buffer> m_normalBuffer;
    std::shared_ptr<Buffer> m_altBuffer;
    Buffer* m_buffer = nullptr; // the active one of the two
    SemanticPromptClickBehavior m_semanticPromptClickBehavior =
        SemanticPromptClickBehavior::enabled;
    bool m_synchronizedOutputActive = false;
    TaskHandle m_synchronizedOutputTimeoutItem;
    bool m_applicationKeypad = false;
    bool m_applicationCursor = false;
    bool m_reverseColors = false;
    KeyboardModeState m_keyboardModeNormal;
    KeyboardModeState m_keyboardModeAlt;
    bool m_sendFocus = false;
    BidiPresentationState m_currentBidiState;
    bool m_bidiArrowKeySwap = false;
    std::map<int, bool> m_savedBidiPrivateModes;
    bool m_cursorHidden = false;
    bool m_originMode = false;
    bool m_marginMode = false;
    bool m_insertMode = false;
    bool m_wraparound = false;
    bool m_bracketedPasteMode = false;
    bool m_alternateScrollMode = true;
    const CharSetTable* m_charset = nullptr;
    std::array<const CharSetTable*, 4> m_gCharsets{};
    int m_gcharset = 0;
    bool m_reverseWraparound = false;
    TerminalDelegate* m_delegate = nullptr;
    Attribute m_curAttr;
    uint8_t m_gLevel = 0;
    bool m_cursorBlink = false;
    bool m_allow80To132 = false;
    TerminalParser m_parser;
    int m_refreshStart = INT_MAX;
    int m_refreshEnd = -1;
    int64_t m_scrollInvariantRefreshStart = INT64_MAX;
    int64_t m_scrollInvariantRefreshEnd = -1;
    bool m_userScrolling = false;
    bool m_lineFeedMode = false;
    bool m_smoothScroll = false;
    std::vector<Color> m_installedColors;
    std::vector<Color> m_defaultAnsiColors;
    std::vector<Color> m_ansiColors;
    CC m_cc;
    std::optional<std::string> m_hostCurrentDirectory;
    std::optional<std::string> m_hostCurrentDocument;
    MouseProtocolEncoding m_mouseProtocol = MouseProtocolEncoding::x10;
    bool m_settingFgColor = false;
    bool m_settingBgColor = false;
    bool m_settingCursorColor = false;
    Color m_foregroundColor = Color::defaultForeground;
    Color m_backgroundColor = Color::defaultBackground;
    std::optional<Color> m_cursorColor;
    bool m_reportedFocusState = true;
    MouseMode m_mouseMode = MouseMode::off;
    bool m_mouseShiftCapture = false;
    bool m_xtermTitleSetUtf = false;
    bool m_xtermTitleSetHex = false;
    bool m_xtermTitleQueryUtf = false;
    bool m_xtermTitleQueryHex = false;
    TerminalConformance m_conformance = TerminalConformance::vt500;
    // The print path's carry-over: the start of a UTF-8 character that the last run ended in.
    std::array<uint8_t, 4> m_putback{};
    uint8_t m_putbackLength = 0;
    // Within one print run: the cell left of the cursor holds a character the run printed that
    // nothing but a joiner, a zero-width character or a combining mark can attach to.
    bool m_plainBefore = false;
    // Within one print run: the cell every character of the run is printed from (attribute,
    // hyperlink payload, shell-integration content) and the empty half of a wide one, made when
    // the run prints its first character.
    bool m_runCellsReady = false;
    CharData m_runCell;
    CharData m_runHalf = CharData(Attribute(), 0, 0);
    // The attribute m_runHalf was made with.
    Attribute m_runHalfAttribute;
    int m_lastBufferCol = 0;
    SemanticScanState m_semanticScanState = SemanticScanState::ground;
    bool m_semanticScanInPaste = false;
    std::vector<uint8_t> m_semanticScanParams;
    std::optional<ActiveHyperlink> m_activeHyperlink;
    std::set<uint16_t> m_payloadCodes;
    bool m_silentLog = true;
    BufferLinePtr m_blankLine;
    // The attribute of m_blankLine's cells.
    Attribute m_blankLineAttribute;
    std::string m_terminalTitle;
    std::string m_iconTitle;
    std::vector<std::string> m_terminalTitleStack;
    std::vector<std::string> m_terminalIconStack;
    // Decodes the sixel picture of each DCS q string.
    std::unique_ptr<SixelDcsHandler> m_sixel;
    // DECRQSS: collects the request of one DCS $ q string and answers it at the end.
    class DECRQSS;
    std::unique_ptr<DECRQSS> m_decrqss;
    // The terminal as a holder of payload codes in the process registry: a mark reads its cells.
    class PayloadHolder final : public TinyAtomRegistry::Holder {
    public:
        explicit PayloadHolder(Terminal& terminal) : m_terminal(terminal) {}
        void markPayloads(std::vector<bool>& inUse) override { m_terminal.markPayloads(inUse); }

    private:
        Terminal& m_terminal;
    };
    PayloadHolder m_payloadHolder{*this};
    KittyGraphicsState m_kittyGraphicsState;
    std::optional<KittyPlacementContext> m_kittyPlacementContext;

    // ---- Kitty graphics flow and deletion (KittyGraphicsFlow.cpp, KittyGraphicsDelete.cpp) ---
    void processKittyGraphics(const KittyGraphicsControl& control,
                              std::span<const uint8_t> base64Payload);
    void handleKittyTransmit(const KittyGraphicsControl& control,
                             std::span<const uint8_t> base64Payload, bool display);
    void handleKittyTransmitPayload(const KittyGraphicsControl& control,
                                    const KittyGraphicsPayload& payload, bool display);
    void handleKittyPut(const KittyGraphicsControl& control);
    void sendKittyOk(const KittyGraphicsControl& control, std::optional<uint32_t> imageId,
                     std::optional<uint32_t> imageNumber, std::optional<uint32_t> placementId);
    void sendKittyError(const KittyGraphicsControl& control, std::string_view message);
    void handleKittyDelete(const KittyGraphicsControl& control);
    // One selection of the delete command: row images of rows firstRow..<endRow of `buffer`
    // (none: of every row of both screens), then records of both screens, then the row images
    // of records whose slices lay elsewhere.
    void deleteKittyPlacements(Buffer* buffer, int64_t firstRow, int64_t endRow,
                               FunctionRef<bool(const KittyPlacementImage&)> imageTest,
                               FunctionRef<bool(const KittyPlacementRecord&)> recordTest);
    void deletePlacementsVisibleOnScreen();
    void deletePlacementsByImageId(uint32_t imageId, std::optional<uint32_t> placementId);
    void deletePlacementsAtCell(int64_t col, int64_t row, std::optional<int64_t> zIndex);
    void deletePlacementsInColumn(int64_t col);
    void deletePlacementsInRow(int64_t row);
    void deletePlacementsWithZIndex(int64_t zIndex);
    void deletePlacementsByImageIdRange(uint32_t minId, uint32_t maxId);
    // The host's cell size in pixels, when it gives one of at least 1 x 1.
    std::optional<CellSize> kittyCellSize();

    // ---- Implementation state ---------------------------------------------------------------
    Executor* m_executor = nullptr;
    int m_delegateDepth = 0;
    // Interned grapheme clusters.
    ClusterTable m_clusterTable{[this](ClusterTable& table) { return markClusters(table); }};
};

// DECRQSS (DCS $ q Pt ST): collects the request text of one string and answers it with DECRPSS
// when the string ends. Owned by its terminal and reused for every request; a request longer
// than any the terminal knows is answered as invalid, and only its first bytes are kept.
class Terminal::DECRQSS final : public DcsHandler {
public:
    static constexpr size_t maxRequestLength = 64;

    explicit DECRQSS(Terminal& terminal) : m_terminal(terminal) {}

    void hook(std::span<const uint8_t> collect, const ParserParams& parameters,
              uint8_t flag) override;
    void put(std::span<const uint8_t> data) override;
    void unhook() override;
    size_t heldBytes() const override { return m_data.capacity(); }

private:
    Terminal& m_terminal;
    std::vector<uint8_t> m_data;
    bool m_overflow = false;
};

inline constexpr Terminal::BidiStateProperties Terminal::BidiStateProperties::supportMode =
    BidiStateProperties(uint8_t(1));
inline constexpr Terminal::BidiStateProperties Terminal::BidiStateProperties::autodetectDirection =
    BidiStateProperties(uint8_t(2));
inline constexpr Terminal::BidiStateProperties Terminal::BidiStateProperties::fallbackDirection =
    BidiStateProperties(uint8_t(4));
inline constexpr Terminal::BidiStateProperties Terminal::BidiStateProperties::boxMirroring =
    BidiStateProperties(uint8_t(8));
inline constexpr Terminal::BidiStateProperties Terminal::BidiStateProperties::all =
    BidiStateProperties(uint8_t(15));

extern template class BasicEscapeSequenceParser<Terminal>;

} // namespace veldatron
