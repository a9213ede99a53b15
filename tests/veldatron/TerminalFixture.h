#pragma once

// A real Terminal fed with bytes and read back as text, so that a test states a screen, the
// cursor and the replies in a few lines:
//
//   TerminalFixture t({.cols = 10, .rows = 3});
//   t.feed("hello\r\nworld\x1b[6n");
//   EXPECT_EQ(t.screen(), (Rows{"hello", "world", ""}));
//   EXPECT_EQ(t.cursor(), "5,1");
//   EXPECT_EQ(t.takeReplies(), "\\x1b[2;6R");
//
// Rows read as BufferFixture's dumps do: text up to the last non-empty cell, empty cells inside
// as spaces, the empty half of a wide character left out, a leading "~" on a row that continues
// the row above (an autowrap); interned grapheme clusters read as their text.
//
// Header-only and free of the test framework: the screen-dump tool uses it too.

#include "ImageInsertion.h"
#include "KittyGraphicsPayload.h"
#include "ManualExecutor.h"
#include "Terminal.h"
#include "UnicodeUtil.h"

#include <cctype>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace veldatron::testing {

using Rows = std::vector<std::string>;

// Bytes as printable text: ASCII 0x20-0x7E as is (a backslash doubled), everything else \xHH.
inline std::string escaped(std::string_view bytes) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (char c : bytes) {
        const auto b = uint8_t(c);
        if (b >= 0x20 && b < 0x7F && b != '\\') {
            out.push_back(c);
        } else if (b == '\\') {
            out += "\\\\";
        } else {
            out += "\\x";
            out.push_back(hex[b >> 4]);
            out.push_back(hex[b & 15]);
        }
    }
    return out;
}

// The 8-bit form of a reply written in 7-bit form: each C1 introducer and the string terminator
// become their single byte. Replies are plain ASCII otherwise, so no ESC stands for anything else.
inline std::string eightBit(std::string reply) {
    static const std::pair<std::string_view, std::string_view> forms[] = {{"\x1b[", "\x9b"},
                                                                          {"\x1bP", "\x90"},
                                                                          {"\x1b]", "\x9d"},
                                                                          {"\x1b_", "\x9f"},
                                                                          {"\x1b\\", "\x9c"}};
    for (const auto& [seven, eight] : forms) {
        for (size_t at = reply.find(seven); at != std::string::npos;
             at = reply.find(seven, at + eight.size())) {
            reply.replace(at, seven.size(), eight);
        }
    }
    return reply;
}

// A table row's name as a test name: letters and digits kept, everything else "_".
inline std::string testName(const char* text) {
    std::string name;
    for (const char* p = text; *p; ++p) {
        name += std::isalnum(uint8_t(*p)) ? *p : '_';
    }
    return name;
}

// Everything a terminal tells its host, as text: replies concatenated, other calls one line each
// ("bell", "scrolled 3", "synchronizedOutputChanged true", ...). `linefeed` and `scrolled` are
// only counted (they come once per line) unless `recordLineCalls` is set.
class RecordingDelegate : public TerminalDelegate {
public:
    std::string replies;
    std::vector<std::string> calls;
    int linefeeds = 0;
    int scrolls = 0;
    bool recordLineCalls = false;

    void send(Terminal&, std::span<const uint8_t> data) override {
        replies.append(reinterpret_cast<const char*>(data.data()), data.size());
    }
    void linefeed(Terminal&) override {
        ++linefeeds;
        if (recordLineCalls) {
            calls.push_back("linefeed");
        }
    }
    void scrolled(Terminal&, int yDisp) override {
        ++scrolls;
        if (recordLineCalls) {
            calls.push_back("scrolled " + std::to_string(yDisp));
        }
    }
    void showCursor(Terminal&) override { calls.push_back("showCursor"); }
    void hideCursor(Terminal&) override { calls.push_back("hideCursor"); }
    void setTerminalTitle(Terminal&, const std::string& title) override {
        calls.push_back("setTerminalTitle " + title);
    }
    void setTerminalIconTitle(Terminal&, const std::string& title) override {
        calls.push_back("setTerminalIconTitle " + title);
    }
    void bell(Terminal&) override { calls.push_back("bell"); }
    void bufferActivated(Terminal&) override { calls.push_back("bufferActivated"); }
    void synchronizedOutputChanged(Terminal&, bool active) override {
        calls.push_back(std::string("synchronizedOutputChanged ") + (active ? "true" : "false"));
    }
    void mouseModeChanged(Terminal&) override { calls.push_back("mouseModeChanged"); }
    void colorChanged(Terminal&, std::optional<int> idx) override {
        calls.push_back("colorChanged " + (idx ? std::to_string(*idx) : std::string("all")));
    }
    void setForegroundColor(Terminal& source, const Color& color) override {
        calls.push_back("setForegroundColor");
        TerminalDelegate::setForegroundColor(source, color);
    }
    void setBackgroundColor(Terminal& source, const Color& color) override {
        calls.push_back("setBackgroundColor");
        TerminalDelegate::setBackgroundColor(source, color);
    }
    void selectionChanged(Terminal&) override { calls.push_back("selectionChanged"); }

    // Host answers and the calls that carry data; each records a line in `calls` as well.
    bool trusted = true;
    std::optional<CellSize> cellSize;
    std::optional<std::vector<uint8_t>> clipboard;
    // Returned by windowCommand for every command (none: the terminal builds size reports).
    std::optional<std::vector<uint8_t>> windowReply;
    std::vector<WindowManipulationCommand> windowCommands;
    std::vector<ProgressReport> progressReports;
    struct Image {
        std::string data;
        ImageSizeRequest width;
        ImageSizeRequest height;
        bool preserveAspectRatio;
    };
    std::vector<Image> images;

    bool isProcessTrusted(Terminal&) override { return trusted; }
    std::optional<CellSize> cellSizeInPixels(Terminal&) override { return cellSize; }
    std::optional<std::vector<uint8_t>>
    windowCommand(Terminal&, const WindowManipulationCommand& command) override {
        windowCommands.push_back(command);
        return windowReply;
    }
    void sizeChanged(Terminal&) override { calls.push_back("sizeChanged"); }
    void cursorStyleChanged(Terminal&, CursorStyle style) override {
        calls.push_back("cursorStyleChanged " + std::string(tagName(style)));
    }
    void hostCurrentDirectoryUpdated(Terminal& source) override {
        calls.push_back("hostCurrentDirectoryUpdated " + source.hostCurrentDirectory().value());
    }
    void hostCurrentDocumentUpdated(Terminal& source) override {
        calls.push_back("hostCurrentDocumentUpdated " + source.hostCurrentDocument().value());
    }
    void setCursorColor(Terminal& source, std::optional<Color> color) override {
        calls.push_back("setCursorColor " + (color ? color->formatAsXcolor() : "none"));
        TerminalDelegate::setCursorColor(source, color);
    }
    void clipboardCopy(Terminal&, std::span<const uint8_t> content) override {
        calls.push_back("clipboardCopy " +
                        std::string(reinterpret_cast<const char*>(content.data()), content.size()));
    }
    std::optional<std::vector<uint8_t>> clipboardRead(Terminal&) override {
        calls.push_back("clipboardRead");
        return clipboard;
    }
    void notify(Terminal&, const std::string& title, const std::string& body) override {
        calls.push_back("notify " + title + "|" + body);
    }
    void iTermContent(Terminal&, std::span<const uint8_t> content) override {
        calls.push_back("iTermContent " +
                        std::string(reinterpret_cast<const char*>(content.data()), content.size()));
    }
    // Bitmaps the terminal handed over (sixel pictures, kitty images), in order.
    std::vector<RgbaImage> bitmaps;
    // With a cell size, images are also inserted at the cursor, cut into row slices, as a host
    // without a view does (PNG data decoded first).
    bool insertImages = false;
    void createImageFromBitmap(Terminal& source, std::vector<uint8_t>& bytes, int width,
                               int height) override {
        calls.push_back("createImageFromBitmap " + std::to_string(width) + "x" +
                        std::to_string(height));
        bitmaps.push_back(RgbaImage{width, height, bytes});
        if (insertImages && cellSize) {
            insertRgbaImage(
                source, std::make_shared<const RgbaImage>(bitmaps.back()),
                bitmapSizeRequests(source, double(source.cols()) * cellSize->width, width),
                *cellSize);
        }
    }
    void createImage(Terminal& source, std::span<const uint8_t> data, ImageSizeRequest width,
                     ImageSizeRequest height, bool preserveAspectRatio) override {
        calls.push_back("createImage");
        images.push_back({std::string(reinterpret_cast<const char*>(data.data()), data.size()),
                          width, height, preserveAspectRatio});
        if (insertImages && cellSize) {
            if (auto picture = decodePngToRgba(data)) {
                insertRgbaImage(source, std::make_shared<const RgbaImage>(std::move(*picture)),
                                {width, height, preserveAspectRatio}, *cellSize);
            }
        }
    }
    void progressReport(Terminal&, const ProgressReport& report) override {
        calls.push_back("progressReport");
        progressReports.push_back(report);
    }
};

// The text of a ring row of the active screen, as the module comment describes.
inline std::string rowText(Terminal& terminal, int ringRow) {
    std::string out;
    for (char32_t c : terminal.translateBufferLineToString(terminal.buffer(), ringRow, 0, -1)) {
        UnicodeUtil::appendUtf8(out, c);
    }
    return out;
}

// Ring rows first..first+count-1 of the active screen (count -1: to the end of the ring).
inline Rows dumpRows(Terminal& terminal, int first = 0, int count = -1) {
    Buffer& buffer = terminal.buffer();
    const int end = count < 0 ? buffer.lines().count() : first + count;
    Rows rows;
    for (int i = first; i < end; ++i) {
        std::string row = buffer.lines()[i].isWrapped() ? "~" : "";
        row += rowText(terminal, i);
        rows.push_back(std::move(row));
    }
    return rows;
}

// The screen rows (ring rows from yBase).
inline Rows dumpScreen(Terminal& terminal) {
    return dumpRows(terminal, terminal.buffer().yBase(), terminal.rows());
}

// The rows above the screen.
inline Rows dumpScrollback(Terminal& terminal) {
    return dumpRows(terminal, 0, terminal.buffer().yBase());
}

// "x,y": the cursor in screen coordinates.
inline std::string cursorText(const Terminal& terminal) {
    const auto at = terminal.getCursorLocation();
    return std::to_string(at.x) + "," + std::to_string(at.y);
}

// A 10 x 6 screen full of distinct text, for tests of commands that move cells and rows.
inline const Rows sampleRows = {"0123456789", "abcdefghij", "ABCDEFGHIJ",
                                "klmnopqrst", "KLMNOPQRST", "uvwxyz!@#$"};

// Left and right margins on columns 2..7 of that screen (DECLRMM, then DECSLRM).
inline const std::string margins3To8 = "\x1b[?69h\x1b[3;8s";

// The bytes that write the rows from the top, each in place (CUP first), so none wraps.
inline std::string writeRows(const Rows& rows) {
    std::string bytes;
    for (size_t row = 0; row < rows.size(); ++row) {
        bytes += "\x1b[" + std::to_string(row + 1) + ";1H" + rows[row];
    }
    return bytes;
}

struct TerminalSpec {
    int cols = 80;
    int rows = 25;
    int scrollback = 500;
    RegionalIndicatorWidth regionalIndicatorWidth = RegionalIndicatorWidth::wide;
    bool convertEol = false;
    Ansi256PaletteStrategy ansi256PaletteStrategy = Ansi256PaletteStrategy::base16Lab;
};

inline TerminalOptions optionsFor(const TerminalSpec& spec) {
    TerminalOptions options;
    options.cols = spec.cols;
    options.rows = spec.rows;
    options.scrollback = spec.scrollback;
    options.regionalIndicatorWidth = spec.regionalIndicatorWidth;
    options.convertEol = spec.convertEol;
    options.ansi256PaletteStrategy = spec.ansi256PaletteStrategy;
    return options;
}

// A cell as "text/width": its character ("" for an empty cell) and its width.
inline std::string cellText(const Terminal& terminal, const CharData& cell) {
    std::string text;
    if (cell.code() != 0) {
        for (char32_t c : terminal.character(cell.code())) {
            UnicodeUtil::appendUtf8(text, c);
        }
    }
    return text + "/" + std::to_string(cell.width());
}

// A terminal with a recording host and a virtual clock for its time-outs.
class TerminalFixture {
public:
    explicit TerminalFixture(const TerminalSpec& spec = {})
        : terminal(&host, optionsFor(spec), &executor) {}

    void feed(std::string_view bytes) { terminal.feed(bytes); }
    // The bytes in pieces of the given sizes (the last size repeats until the bytes run out).
    void feedSplit(std::string_view bytes, std::vector<size_t> sizes) {
        size_t at = 0;
        size_t k = 0;
        while (at < bytes.size()) {
            const size_t n =
                std::max<size_t>(1, sizes.empty() ? 1 : sizes[std::min(k, sizes.size() - 1)]);
            terminal.feed(bytes.substr(at, std::min(n, bytes.size() - at)));
            at += n;
            ++k;
        }
    }

    Rows screen() { return dumpScreen(terminal); }
    Rows scrollback() { return dumpScrollback(terminal); }
    std::string cursor() const { return cursorText(terminal); }
    // The cell at a screen position.
    CharData cell(int col, int row) {
        Buffer& buffer = terminal.buffer();
        return buffer.lines()[buffer.yBase() + row][col];
    }
    // A cell, and the first `count` cells of a row, as cellText gives them.
    std::string cellText(int col, int row) { return testing::cellText(terminal, cell(col, row)); }
    std::vector<std::string> cellTexts(int row, size_t count) {
        std::vector<std::string> cells;
        for (size_t i = 0; i < count; ++i) {
            cells.push_back(cellText(int(i), row));
        }
        return cells;
    }
    BufferLine& line(int row) {
        Buffer& buffer = terminal.buffer();
        return buffer.lines()[buffer.yBase() + row];
    }
    // Replies since the last call, escaped.
    std::string takeReplies() {
        std::string out = escaped(host.replies);
        host.replies.clear();
        return out;
    }
    std::vector<std::string> takeCalls() {
        std::vector<std::string> out = std::move(host.calls);
        host.calls.clear();
        return out;
    }

    RecordingDelegate host;
    ManualExecutor executor;
    Terminal terminal;
};

} // namespace veldatron::testing
