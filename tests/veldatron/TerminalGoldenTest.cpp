// Screens of real programs. Each golden case is a byte stream recorded from a program in an
// 80 x 24 pane of an independent terminal (tests/tools/record-golden) and the screen that terminal
// showed for it: text, cursor and the attributes of every cell it drew. The stream is fed to a
// Terminal whole and in small pieces, and both screens must match that screen cell by cell.

#include "TerminalFixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

const std::string goldenDir = std::string(VELDATRON_TEST_DATA_DIR) + "/golden/";

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A .screen file: "size C R", "cursor X,Y", "text" and a "|"-prefixed row each, "attributes",
// legend lines "L key", then a "|"-prefixed row of one legend letter per cell ("." unknown).
struct GoldenScreen {
    int cols = 0;
    int rows = 0;
    std::string cursor;
    std::vector<std::string> text;
    std::map<char, std::string> legend;
    std::vector<std::string> attributes;
};

std::optional<GoldenScreen> parseScreen(const std::string& contents) {
    GoldenScreen screen;
    std::istringstream in(contents);
    std::string line;
    enum { header, text, attributes } section = header;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if (line == "text") {
            section = text;
        } else if (line == "attributes") {
            section = attributes;
        } else if (line.rfind("size ", 0) == 0) {
            std::istringstream(line.substr(5)) >> screen.cols >> screen.rows;
        } else if (line.rfind("cursor ", 0) == 0) {
            screen.cursor = line.substr(7);
        } else if (line[0] == '|') {
            (section == text ? screen.text : screen.attributes).push_back(line.substr(1));
        } else if (section == attributes && line.size() > 2 && line[1] == ' ') {
            screen.legend[line[0]] = line.substr(2);
        } else {
            return std::nullopt;
        }
    }
    if (int(screen.text.size()) != screen.rows || int(screen.attributes.size()) != screen.rows) {
        return std::nullopt;
    }
    return screen;
}

std::string colorKey(Attribute::Color color) {
    switch (color.kind()) {
    case Attribute::Color::Kind::defaultColor:
        return "d";
    case Attribute::Color::Kind::defaultInvertedColor:
        return "di";
    case Attribute::Color::Kind::ansi256:
        return std::to_string(color.code());
    case Attribute::Color::Kind::trueColor: {
        char text[8];
        std::snprintf(text, sizeof text, "#%02x%02x%02x", color.red(), color.green(), color.blue());
        return text;
    }
    }
    return "?";
}

// The recorder's form: "fg=F bg=B" and then bold, underline, inverse when set.
std::string attributeKey(const Attribute& attribute) {
    std::string key = "fg=" + colorKey(attribute.fg()) + " bg=" + colorKey(attribute.bg());
    const CharacterStyle style = attribute.style();
    for (const auto& [flag, name] : {std::pair{CharacterStyle::bold, "bold"},
                                     std::pair{CharacterStyle::underline, "underline"},
                                     std::pair{CharacterStyle::inverse, "inverse"}}) {
        if (style.contains(flag)) {
            key += std::string(" ") + name;
        }
    }
    return key;
}

std::string trimmed(std::string text) {
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

// Every difference between the terminal's screen and the golden one, one line each.
std::vector<std::string> differences(Terminal& terminal, const GoldenScreen& golden) {
    std::vector<std::string> out;
    Buffer& buffer = terminal.buffer();
    for (int row = 0; row < golden.rows; ++row) {
        const std::string text = trimmed(rowText(terminal, buffer.yBase() + row));
        if (text != golden.text[size_t(row)]) {
            out.push_back("row " + std::to_string(row) + " text:\n  expected |" +
                          golden.text[size_t(row)] + "\n  got      |" + text);
        }
        const BufferLine& line = buffer.lines()[buffer.yBase() + row];
        for (int col = 0; col < golden.cols; ++col) {
            const char letter = golden.attributes[size_t(row)][size_t(col)];
            if (letter == '.') {
                continue;
            }
            // The empty half of a wide character shows its character's attributes.
            const CharData& cell = line[col].width() == 0 && col > 0 ? line[col - 1] : line[col];
            const std::string got = attributeKey(cell.attribute());
            const auto expected = golden.legend.find(letter);
            const std::string want = expected == golden.legend.end() ? "?" : expected->second;
            if (got != want) {
                std::string shown;
                for (char32_t c : terminal.character(cell.code() == 0 ? ' ' : cell.code())) {
                    UnicodeUtil::appendUtf8(shown, c);
                }
                out.push_back("row " + std::to_string(row) + " col " + std::to_string(col) + " '" +
                              shown + "': expected [" + want + "] got [" + got + "]");
            }
        }
    }
    if (cursorText(terminal) != golden.cursor) {
        out.push_back("cursor: expected " + golden.cursor + " got " + cursorText(terminal));
    }
    return out;
}

class GoldenScreens : public ::testing::TestWithParam<const char*> {};

TEST_P(GoldenScreens, MatchTheScreenTheProgramShowed) {
    const std::string name = GetParam();
    const std::string stream = readFile(goldenDir + name + ".vt");
    ASSERT_FALSE(stream.empty()) << goldenDir + name + ".vt";
    const std::optional<GoldenScreen> golden = parseScreen(readFile(goldenDir + name + ".screen"));
    ASSERT_TRUE(golden) << "malformed " << name << ".screen";
    // Whole, and in pieces of 7 bytes that cut sequences and characters apart.
    for (size_t piece : {stream.size(), size_t(7)}) {
        SCOPED_TRACE("fed in pieces of " + std::to_string(piece));
        TerminalFixture t({.cols = golden->cols, .rows = golden->rows});
        t.feedSplit(stream, {piece});
        const std::vector<std::string> diff = differences(t.terminal, *golden);
        std::string report;
        for (size_t i = 0; i < diff.size() && i < 40; ++i) {
            report += diff[i] + "\n";
        }
        if (diff.size() > 40) {
            report += "... and " + std::to_string(diff.size() - 40) + " more\n";
        }
        EXPECT_TRUE(diff.empty()) << report;
    }
}

INSTANTIATE_TEST_SUITE_P(Terminal, GoldenScreens,
                         ::testing::Values("vim-split", "vim-scroll", "bash-edit", "less-search",
                                           "top-colours"),
                         [](const auto& info) { return testName(info.param); });

} // namespace
