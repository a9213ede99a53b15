#include "Terminal.h"

#include "SelectionService.h"

#include <algorithm>
#include <cassert>

namespace veldatron {

namespace {

std::vector<Color> generatePalette(std::span<const Color> installed,
                                   Ansi256PaletteStrategy strategy, const Color& background,
                                   const Color& foreground) {
    if (strategy == Ansi256PaletteStrategy::xterm) {
        return Color::generateXtermPalette(installed);
    }
    return Color::generateBase16LabPalette(installed, background, foreground,
                                           strategy == Ansi256PaletteStrategy::base16LabHarmonious);
}

} // namespace

Terminal::Terminal(TerminalDelegate* delegate, TerminalOptions options, Executor* executor)
    : m_options(std::move(options)), m_delegate(delegate), m_parser(*this),
      m_blankLine(BufferLine::create(0)), m_executor(executor) {
    m_installedColors.assign(Color::terminalAppColors.begin(), Color::terminalAppColors.end());
    m_defaultAnsiColors = generatePalette(m_installedColors, m_options.ansi256PaletteStrategy,
                                          Color::defaultBackground, Color::defaultForeground);
    m_ansiColors = m_defaultAnsiColors;
    m_currentBidiState = m_options.initialBidiState;
    m_bidiArrowKeySwap = m_options.initialBidiArrowKeySwap;

    // Both screens start at 80 x 25; setup below applies the options' size.
    m_normalBuffer = makeNormalBuffer();
    m_altBuffer = Buffer::create(m_cols, m_rows, m_tabStopWidth, std::nullopt, m_currentBidiState);
    installScrollCallback(*m_altBuffer);
    m_buffer = m_normalBuffer.get();
    m_cc.send8bit = false;
    configureParser();
    m_decrqss = std::make_unique<DECRQSS>(*this);
    m_parser.decrqssDcsHandler = m_decrqss.get();
    m_sixel = std::make_unique<SixelDcsHandler>(*this);
    m_parser.sixelDcsHandler = m_sixel.get();
    m_parser.kittyGraphicsHandler = [this](std::span<const uint8_t> data) {
        handleKittyGraphics(data);
    };
    TinyAtom::registry().addHolder(m_payloadHolder);
    m_normalBuffer->setupTabStops(-1, m_tabStopWidth);
    m_altBuffer->setupTabStops(-1, m_tabStopWidth);
    setup(false);
}

Terminal::~Terminal() {
    m_synchronizedOutputTimeoutItem.cancel();
    TinyAtom::registry().removeHolder(m_payloadHolder);
    if (!m_payloadCodes.empty()) {
        const std::vector<uint16_t> codes(m_payloadCodes.begin(), m_payloadCodes.end());
        TinyAtom::release(codes);
    }
}

void Terminal::setOptions(TerminalOptions options) {
    m_options = std::move(options);
}

std::shared_ptr<Buffer> Terminal::makeNormalBuffer() {
    auto buffer =
        Buffer::create(m_cols, m_rows, m_tabStopWidth, m_options.scrollback, m_currentBidiState);
    installScrollCallback(*buffer);
    buffer->fillViewportRows(m_curAttr);
    return buffer;
}

void Terminal::installScrollCallback(Buffer& buffer) {
    // The terminal owns its screens, so the callback never outlives it.
    buffer.scroll = [this](bool isWrapped) { scroll(isWrapped); };
}

void Terminal::assertNotInDelegateCallback() const {
    assert(m_delegateDepth == 0 &&
           "a delegate callback fed, resized or reset the terminal that called it");
}

// ---- Setup and screens ----------------------------------------------------------------------

void Terminal::setup(bool isReset) {
    m_cols = std::max(m_options.cols, MINIMUM_COLS);
    m_rows = std::max(m_options.rows, MINIMUM_ROWS);
    if (isReset) {
        resetNormalBuffer();
        activateNormalBuffer(false);
        // The new normal screen holds no prompt marks; the alternate screen's state went with
        // its contents when it was last left or cleared.
    } else {
        for (Buffer* screen : {m_normalBuffer.get(), m_altBuffer.get()}) {
            if (screen->cols() != m_cols || screen->rows() != m_rows) {
                screen->resize(m_cols, m_rows);
            }
        }
    }
    m_cursorHidden = false;
    m_applicationKeypad = false;
    m_applicationCursor = false;
    if (m_reverseColors) {
        m_reverseColors = false;
        updateFullScreen();
        tell([&](TerminalDelegate& d) { d.colorChanged(*this, std::nullopt); });
    }
    m_originMode = false;
    setMarginMode(false);
    setInsertMode(false);
    setWraparound(true);
    m_bracketedPasteMode = false;
    m_alternateScrollMode = true;
    m_keyboardModeNormal = KeyboardModeState();
    m_keyboardModeAlt = KeyboardModeState();
    m_gCharsets.fill(nullptr);
    m_charset = m_gCharsets[0];
    m_gcharset = 0;
    m_gLevel = 0;
    m_curAttr = Attribute();
    setMouseMode(MouseMode::off);
    m_mouseShiftCapture = false;
    m_buffer->setScrollTop(0);
    m_buffer->setScrollBottom(m_rows - 1);
    m_buffer->setMarginLeft(0);
    m_buffer->setMarginRight(m_cols - 1);
    m_cc.send8bit = false;
    m_conformance = TerminalConformance::vt500;
    m_allow80To132 = false;
    m_xtermTitleSetUtf = false;
    m_xtermTitleSetHex = false;
    m_xtermTitleQueryUtf = false;
    m_xtermTitleQueryHex = false;
    m_activeHyperlink.reset();
    m_cursorBlink = false;
    m_hostCurrentDirectory.reset();
    m_lineFeedMode = m_options.convertEol;
}

void Terminal::resetNormalBuffer() {
    const bool wasActive = m_buffer == m_normalBuffer.get();
    m_normalBuffer = makeNormalBuffer();
    m_normalBuffer->setupTabStops(-1, m_tabStopWidth);
    // The old screen is gone with its rows; the active screen must never point at it.
    if (wasActive) {
        m_buffer = m_normalBuffer.get();
    }
}

void Terminal::activateNormalBuffer(bool clearAlt) {
    if (m_buffer == m_normalBuffer.get()) {
        return;
    }
    semanticNoteAlternateScreenSwitch();
    m_normalBuffer->setX(m_altBuffer->x());
    m_normalBuffer->setY(m_altBuffer->y());
    if (clearAlt) {
        clearKittyImages(*m_altBuffer, true);
        m_altBuffer->clear();
    }
    m_buffer = m_normalBuffer.get();
}

void Terminal::activateAltBuffer(std::optional<Attribute> fillAttr) {
    if (m_buffer == m_altBuffer.get()) {
        return;
    }
    semanticNoteAlternateScreenSwitch();
    m_altBuffer->setX(m_normalBuffer->x());
    m_altBuffer->setY(m_normalBuffer->y());
    if (m_altBuffer->lines().count() == 0) {
        m_altBuffer->fillViewportRows(fillAttr.value_or(Attribute()));
    }
    m_buffer = m_altBuffer.get();
    // The alternate screen starts without kitty placements; the normal screen's stay.
    clearKittyImages(*m_altBuffer, true);
}

void Terminal::resizeBuffers(int newColumns, int newRows) {
    Buffer& normal = *m_normalBuffer;
    const int savedOffset = normal.savedY - normal.y();
    normal.resize(newColumns, newRows);
    normal.savedY = normal.y() + savedOffset;
    m_altBuffer->resize(newColumns, newRows);
}

// ---- Reads ----------------------------------------------------------------------------------

BufferLine* Terminal::getLine(int row) {
    if (row < 0 || row >= m_rows) {
        return nullptr;
    }
    return &m_buffer->lines()[row + m_buffer->yDisp()];
}

BufferLine* Terminal::getScrollInvariantLine(int64_t row) {
    const int64_t top = m_buffer->linesTop;
    if (row < top || row >= top + m_buffer->lines().count()) {
        return nullptr;
    }
    return &m_buffer->lines()[int(row - top)];
}

std::optional<CharData> Terminal::getCharData(int col, int row) {
    if (col < 0 || col >= m_cols) {
        return std::nullopt;
    }
    BufferLine* line = getLine(row);
    if (line == nullptr) {
        return std::nullopt;
    }
    return (*line)[col];
}

std::optional<std::u32string> Terminal::getCharacter(int col, int row) {
    if (auto cell = getCharData(col, row)) {
        return character(cell->code());
    }
    return std::nullopt;
}

// ---- Cursor, modes and character sets -------------------------------------------------------

void Terminal::showCursor() {
    if (m_cursorHidden) {
        m_cursorHidden = false;
        tell([&](TerminalDelegate& d) { d.showCursor(*this); });
    }
}

void Terminal::hideCursor() {
    if (!m_cursorHidden) {
        m_cursorHidden = true;
        tell([&](TerminalDelegate& d) { d.hideCursor(*this); });
    }
}

void Terminal::setMouseMode(MouseMode mode) {
    m_mouseMode = mode;
    tell([&](TerminalDelegate& d) { d.mouseModeChanged(*this); });
}

void Terminal::setgLevel(uint8_t level) {
    m_gLevel = level;
    m_charset = level < 4 ? m_gCharsets[level] : nullptr;
}

void Terminal::setgCharset(uint8_t level, const CharSetTable* charset) {
    if (level >= 4) {
        return;
    }
    m_gCharsets[level] = charset;
    if (level == m_gLevel) {
        m_charset = charset;
    }
}

void Terminal::selectCharset(std::span<const uint8_t> sequence) {
    if (sequence.size() != 2) {
        setgLevel(0);
        setgCharset(0, nullptr);
        return;
    }
    uint8_t level = 0;
    switch (sequence[0]) {
    case '(':
        level = 0;
        break;
    case ')':
    case '-':
        level = 1;
        break;
    case '*':
    case '.':
        level = 2;
        break;
    case '+':
    case '/':
        level = 3;
        break;
    default:
        setgLevel(0);
        setgCharset(0, nullptr);
        return;
    }
    setgCharset(level, CharSets::all(sequence[1]));
}

// ---- Colours --------------------------------------------------------------------------------

void Terminal::setForegroundColor(const Color& color) {
    setDefaultColor(m_foregroundColor, m_settingFgColor, &TerminalDelegate::setForegroundColor,
                    color);
}

void Terminal::setBackgroundColor(const Color& color) {
    setDefaultColor(m_backgroundColor, m_settingBgColor, &TerminalDelegate::setBackgroundColor,
                    color);
}

void Terminal::setDefaultColor(Color& field, bool& guard,
                               void (TerminalDelegate::*notify)(Terminal&, const Color&),
                               const Color& color) {
    field = color;
    // A host that answers by assigning the colour again gets a plain store, not a loop.
    if (guard) {
        return;
    }
    guard = true;
    tell([&](TerminalDelegate& d) { (d.*notify)(*this, field); });
    guard = false;
    // The Lab palettes are generated from the default colours.
    if (m_options.ansi256PaletteStrategy != Ansi256PaletteStrategy::xterm) {
        rebuildAnsiPalette(true);
    }
}

void Terminal::setCursorColor(std::optional<Color> color) {
    m_cursorColor = color;
    if (m_settingCursorColor) {
        return;
    }
    m_settingCursorColor = true;
    tell([&](TerminalDelegate& d) { d.setCursorColor(*this, m_cursorColor); });
    m_settingCursorColor = false;
}

void Terminal::setAnsi256PaletteStrategy(Ansi256PaletteStrategy strategy) {
    if (strategy == m_options.ansi256PaletteStrategy) {
        return;
    }
    m_options.ansi256PaletteStrategy = strategy;
    rebuildAnsiPalette(true);
}

void Terminal::installPalette(std::span<const Color> colors) {
    if (colors.size() != 16) {
        return;
    }
    m_installedColors.assign(colors.begin(), colors.end());
    rebuildAnsiPalette(false);
}

void Terminal::rebuildAnsiPalette(bool notifyDelegate) {
    m_defaultAnsiColors = generatePalette(m_installedColors, m_options.ansi256PaletteStrategy,
                                          m_backgroundColor, m_foregroundColor);
    m_ansiColors = m_defaultAnsiColors;
    if (notifyDelegate) {
        tell([&](TerminalDelegate& d) { d.colorChanged(*this, std::nullopt); });
    }
}

// ---- Focus and selections ----------------------------------------------------------------

void Terminal::setTerminalFocus(bool focused) {
    m_reportedFocusState = focused;
    if (m_sendFocus) {
        sendFocusReport();
    }
}

void Terminal::sendFocusReport() {
    sendResponse(m_cc.csi(), m_reportedFocusState ? "I" : "O");
}

void Terminal::registerSelection(std::weak_ptr<SelectionService> selection) {
    std::erase_if(m_selections, [](const auto& entry) { return entry.ref.expired(); });
    const std::shared_ptr<SelectionService> object = selection.lock();
    const auto same = [&](const RegisteredSelection& entry) {
        return entry.object == object.get();
    };
    if (!object || std::any_of(m_selections.begin(), m_selections.end(), same)) {
        return;
    }
    m_selections.push_back({std::move(selection), object.get()});
}

void Terminal::selectionChanged() {
    tell([&](TerminalDelegate& d) { d.selectionChanged(*this); });
}

std::vector<std::shared_ptr<SelectionService>> Terminal::liveSelections() {
    // Registrations whose selection is gone are dropped on the way; the list is copied, so that
    // a host called from a selection may register another one.
    std::erase_if(m_selections, [](const auto& entry) { return entry.ref.expired(); });
    std::vector<std::shared_ptr<SelectionService>> live;
    live.reserve(m_selections.size());
    for (const auto& entry : m_selections) {
        if (auto selection = entry.ref.lock()) {
            live.push_back(std::move(selection));
        }
    }
    return live;
}

bool Terminal::noSelectionActive() const {
    return std::none_of(m_selections.begin(), m_selections.end(), [](const auto& entry) {
        return !entry.ref.expired() && entry.object->active();
    });
}

void Terminal::adjustSelections(int top, int bottom, int lines) {
    for (const auto& selection : liveSelections()) {
        selection->adjustForInPlaceScroll(top, bottom, lines);
    }
}

void Terminal::selectionsInvalidateForColumnRestrictedScroll(int top, int bottom, int left,
                                                             int right) {
    for (const auto& selection : liveSelections()) {
        selection->invalidateForColumnRestrictedScroll(top, bottom, left, right);
    }
}

} // namespace veldatron
