#include "TerminalView.h"
#include "UnicodeUtil.h"

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
    (void)row; // selection, link highlighting and bidirectional layout look the row up
    ViewLineInfo info;
    info.images = line.images();

    SegmentBuilder segment;
    // The pending run: its text, the UTF-16 length of each of its cells, its attributes.
    QString runText;
    std::vector<int> runLengths;
    std::shared_ptr<const RunAttributes> runAttributes;
    std::optional<Attribute> previousAttribute;
    bool previousBlinkHidden = false;

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

    const Terminal& terminal = *m_terminal;
    int column = 0;
    // Without a bidirectional layout the visual column is the logical one.
    while (column < cols) {
        // Past the line's end the line's last cell repeats. A wide character is drawn wide only
        // while its right half still follows it: half of one whose other half was overwritten
        // ("ab日本語", CSI 3 D, "y" leaves 本 without its right half) is a blank cell, and the
        // column after it is drawn for what it holds.
        const CharData cell = drawnCell(line, column, cols);
        const int width = std::max(cell.width(), 1);
        const Attribute attribute = cell.attribute();

        if (!segment.active || segment.segment.columnWidth != width) {
            flushRun();
            emitSegment();
            segment.start(column, width);
        }

        // Blinking text in the hidden phase is drawn as blanks in no colour.
        const bool blinkHidden =
            !m_textBlinkVisible && attribute.style().contains(CharacterStyle::blink);
        // Runs also break where the selection or a highlighted link starts or ends, once those
        // exist.
        if (!runAttributes || !previousAttribute || *previousAttribute != attribute ||
            previousBlinkHidden != blinkHidden) {
            flushRun();
            runAttributes = getAttributes(attribute, false);
            if (blinkHidden) {
                RunAttributes hidden = *runAttributes;
                hidden.foreground = PlatformColor::clear();
                hidden.underlineColor.reset();
                hidden.underlineStyle.reset();
                hidden.veldatronUnderlineStyle.reset();
                hidden.strikethroughColor.reset();
                hidden.strikethroughStyle.reset();
                runAttributes = std::make_shared<const RunAttributes>(hidden);
            }
            previousAttribute = attribute;
            previousBlinkHidden = blinkHidden;
        }

        // (Box drawing, block elements, powerline separators and image placeholders leave the
        // text here for their own drawing once those exist.)
        const int32_t code = cell.code();
        int length = 0;
        if (code == 0 || blinkHidden) {
            runText.append(QLatin1Char(' '));
            length = 1;
        } else if (code < 0x80) {
            runText.append(QLatin1Char(char(code)));
            length = 1;
        } else if (code < CharData::firstInternedCode) {
            const char32_t scalar = cell.getCharacter();
            length = appendScalar(runText, scalar);
            if (UnicodeUtil::prefersTextPresentation(std::u32string_view(&scalar, 1))) {
                runText.append(QChar(0xFE0E));
                ++length;
            }
        } else {
            const std::u32string text = terminal.character(code);
            for (char32_t scalar : text) {
                length += appendScalar(runText, scalar);
            }
            if (UnicodeUtil::prefersTextPresentation(text)) {
                runText.append(QChar(0xFE0E));
                ++length;
            }
        }
        runLengths.push_back(length);
        column += width;
    }
    flushRun();
    emitSegment();
    return info;
}

} // namespace veldatron
