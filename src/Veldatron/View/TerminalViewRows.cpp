#include "PowerlineRenderer.h"
#include "TerminalBidi.h"
#include "TerminalView.h"
#include "UnicodeUtil.h"

#include <numeric>

namespace veldatron {

namespace {

// The segment under construction: cells of one width from one visual column on.
struct SegmentBuilder {
    ViewLineSegment segment;
    int nextOrdinal = 0;
    bool active = false;

    void start(int column, int columnWidth) {
        segment = ViewLineSegment();
        segment.column = column;
        segment.columnWidth = columnWidth;
        nextOrdinal = 0;
        active = true;
    }

    void append(const QString& text, const std::shared_ptr<const RunAttributes>& attributes,
                std::span<const int> cellUTF16Lengths) {
        segment.attributedString.append(text, attributes);
        ++segment.characterCount;
        for (int length : cellUTF16Lengths) {
            if (length > 1) {
                segment.utf16IsCellIdentity = false;
            }
            segment.utf16ToCellOrdinal.insert(segment.utf16ToCellOrdinal.end(),
                                              size_t(std::max(length, 1)), nextOrdinal);
            ++nextOrdinal;
        }
    }
};

// Appends the UTF-16 form of one scalar; returns the units appended.
int appendScalar(QString& out, char32_t scalar) {
    if (scalar < 0x10000) {
        out.append(QChar(char16_t(scalar)));
        return 1;
    }
    out.append(QChar(QChar::highSurrogate(scalar)));
    out.append(QChar(QChar::lowSurrogate(scalar)));
    return 2;
}

// Whether a character is shaped as a whole in a right-to-left row rather than as part of a run:
// a cluster of several scalars, or an Arabic letter or presentation form.
bool isIsolatedCluster(std::u32string_view text) {
    if (text.size() >= 2) {
        return true;
    }
    const char32_t s = text.empty() ? U' ' : text.front();
    return (s >= 0x0600 && s <= 0x06FF) || (s >= 0x0750 && s <= 0x077F) ||
           (s >= 0x0870 && s <= 0x08FF) || (s >= 0xFB50 && s <= 0xFDFF) ||
           (s >= 0xFE70 && s <= 0xFEFC);
}

} // namespace

CharData TerminalView::drawnCell(const BufferLine& line, int column, int cols) {
    const CharData& cell = line[column];
    const int width = cell.width();
    if (width >= 2 && (column + 1 >= cols || line[column + 1].width() > 0)) {
        return CharData(cell.attribute(), 0, 1);
    }
    if (width <= 0 && (column == 0 || line[column - 1].width() < 2)) {
        // An empty half holds the screen's blank attribute, whose background is the inverted
        // default (drawn, it is a block in the text colour): it looks like the character that
        // took its left half instead.
        return CharData(column > 0 ? line[column - 1].attribute() : Attribute(), 0, 1);
    }
    return cell;
}

ViewLineInfo TerminalView::buildAttributedString(int row, const BufferLine& line, int cols) {
    ViewLineInfo info;
    info.images = line.images();

    const Terminal& terminal = *m_terminal;
    // With a layout the cells come in visual order, each perhaps with a shaped or mirrored
    // character to draw instead of its own.
    const std::shared_ptr<const BidiRowLayout> layout = bidiRowLayout(row, cols);
    // Cells already in visual order, or right-to-left text drawn as stored: either way the text
    // must be laid out exactly left to right.
    const bool overrideDirection = layout || TerminalBidi::mayNeedBidi(line, cols, terminal);

    const std::optional<ColumnRange> selected = selectedColumnsRange(row, cols);

    SegmentBuilder segment;
    // The pending run: its text, the UTF-16 length of each of its cells, its attributes.
    QString runText;
    std::vector<int> runLengths;
    std::shared_ptr<const RunAttributes> runAttributes;
    std::optional<Attribute> previousAttribute;
    bool previousBlinkHidden = false;
    // The cell to the left when it was a placeholder: a placeholder without all its diacritics
    // continues it.
    std::optional<KittyPlaceholderCell> previousPlaceholder;
    std::optional<Attribute> previousPlaceholderAttribute;
    bool previousLink = false;
    bool previousSelected = false;

    const auto flushRun = [&] {
        if (!runText.isEmpty() && runAttributes && segment.active) {
            segment.append(runText, runAttributes, runLengths);
        }
        runText.clear();
        runLengths.clear();
    };
    const auto emitSegment = [&] {
        if (segment.active && segment.segment.characterCount >= 1) {
            info.segments.push_back(std::move(segment.segment));
        }
        segment.active = false;
    };
    static const QString space(QLatin1Char(' '));
    static constexpr int oneUnit[] = {1};

    // One cell at the current visual column; returns its width.
    int visualColumn = 0;
    const auto appendCell = [&](int logicalColumn, const std::u32string* display) {
        // Past the line's end the line's last cell repeats. A wide character is drawn wide only
        // while its right half still follows it: half of one whose other half was overwritten
        // ("ab日本語", CSI 3 D, "y" leaves 本 without its right half) is a blank cell, and the
        // column after it is drawn for what it holds.
        const CharData cell = drawnCell(line, logicalColumn, cols);
        const int width = std::max(cell.width(), 1);
        const Attribute attribute = cell.attribute();

        if (!segment.active || segment.segment.columnWidth != width) {
            flushRun();
            emitSegment();
            segment.start(visualColumn, width);
        }

        // Blinking text in the hidden phase is drawn as blanks in no colour.
        const bool blinkHidden =
            !m_textBlinkVisible && attribute.style().contains(CharacterStyle::blink);
        const bool link = cellLinkFlag(row, line[logicalColumn], logicalColumn, width);
        const bool isSelected = selected && selected->start < logicalColumn + width &&
                                logicalColumn < selected->end;
        if (!runAttributes || !previousAttribute || *previousAttribute != attribute ||
            previousBlinkHidden != blinkHidden || previousLink != link ||
            previousSelected != isSelected) {
            flushRun();
            runAttributes = getAttributes(attribute, link);
            if (blinkHidden || overrideDirection || isSelected) {
                RunAttributes edited = *runAttributes;
                if (isSelected) {
                    edited.selectionBackground = m_selectedTextBackgroundColor;
                    edited.foreground = m_selectedTextForegroundColor;
                    if (edited.underlineColor) {
                        edited.underlineColor = m_selectedTextForegroundColor;
                    }
                    if (edited.strikethroughColor) {
                        edited.strikethroughColor = m_selectedTextForegroundColor;
                    }
                }
                if (blinkHidden) {
                    edited.foreground = PlatformColor::clear();
                    edited.underlineColor.reset();
                    edited.underlineStyle.reset();
                    edited.veldatronUnderlineStyle.reset();
                    edited.strikethroughColor.reset();
                    edited.strikethroughStyle.reset();
                }
                edited.leftToRightOverride = overrideDirection;
                runAttributes = std::make_shared<const RunAttributes>(edited);
            }
            previousAttribute = attribute;
            previousBlinkHidden = blinkHidden;
            previousLink = link;
            previousSelected = isSelected;
        }

        // The cell's text: what the layout draws there, else the cell's own character. Plain
        // ASCII takes no detour through a string of scalars.
        const int32_t code = cell.code();
        std::u32string text;
        if (display != nullptr) {
            text = *display;
        } else if (code >= 0x80 && !blinkHidden) {
            text = code < CharData::firstInternedCode ? std::u32string(1, cell.getCharacter())
                                                      : terminal.character(code);
        }

        // Box drawing, block elements and powerline separators are drawn as shapes; the text
        // holds a space in their place.
        if (m_customBlockGlyphs && !blinkHidden) {
            const uint32_t scalar = text.size() == 1 ? uint32_t(text[0]) : uint32_t(code);
            const bool powerline = PowerlineRenderer::glyph(scalar).has_value();
            const bool box = scalar >= 0x2500 && scalar <= 0x257F;
            const auto block = BlockElementMapping::rects(scalar);
            if (powerline || box || block) {
                flushRun();
                const CustomGlyphRenderItem item{
                    visualColumn, width, scalar,
                    runAttributes->foreground.value_or(effectiveNativeForegroundColor())};
                if (powerline) {
                    info.powerlineGlyphs.push_back({item});
                } else if (box) {
                    info.boxDrawings.push_back({item});
                } else {
                    info.blockElements.push_back({item, *block});
                }
                segment.append(space, runAttributes, oneUnit);
                return width;
            }
        }

        // A kitty placeholder shows a slice of an image; the text holds a space in its place.
        std::optional<KittyPlaceholderCell> placeholder;
        if (!text.empty() && text.front() == KittyPlaceholder::placeholder) {
            placeholder =
                KittyPlaceholderDecoder::decode(text, attribute, row, visualColumn,
                                                previousPlaceholder, previousPlaceholderAttribute);
        }
        previousPlaceholder = placeholder;
        previousPlaceholderAttribute = attribute;
        if (placeholder) {
            flushRun();
            info.kittyPlaceholders.push_back(*placeholder);
            segment.append(space, runAttributes, oneUnit);
            return width;
        }

        if (display == nullptr && code < 0x80) {
            runText.append(QLatin1Char(code == 0 || blinkHidden ? ' ' : char(code)));
            runLengths.push_back(1);
            return width;
        }
        if (blinkHidden || text.empty()) {
            runText.append(QLatin1Char(' '));
            runLengths.push_back(1);
            return width;
        }
        // Arabic letters and clusters of a laid-out row are shaped each on their own: a
        // segment of one cell.
        if (layout && isIsolatedCluster(text)) {
            flushRun();
            emitSegment();
            segment.start(visualColumn, width);
            QString units;
            const int lengths[] = {std::accumulate(
                text.begin(), text.end(), 0,
                [&](int sum, char32_t scalar) { return sum + appendScalar(units, scalar); })};
            segment.append(units, runAttributes, lengths);
            emitSegment();
            return width;
        }
        int length = 0;
        for (char32_t scalar : text) {
            length += appendScalar(runText, scalar);
        }
        if (UnicodeUtil::prefersTextPresentation(text)) {
            runText.append(QChar(0xFE0E));
            ++length;
        }
        runLengths.push_back(length);
        return width;
    };

    if (layout) {
        for (const BidiCell& cell : layout->visualCells) {
            visualColumn += appendCell(cell.logicalCol, cell.display ? &*cell.display : nullptr);
        }
    } else {
        // Without a layout the visual column is the logical one.
        while (visualColumn < cols) {
            visualColumn += appendCell(visualColumn, nullptr);
        }
    }
    flushRun();
    emitSegment();
    return info;
}

} // namespace veldatron
