#include "Terminal.h"

#include "TextDecoding.h"

#include <algorithm>
#include <map>
#include <string>
#include <string_view>

namespace veldatron {

namespace {

using TextDecoding::bytesOf;
using TextDecoding::textOf;

constexpr size_t payloadCodeCount = 0x10000;

// The non-empty pieces of `text` between ";" separators.
std::vector<std::string_view> nonEmptyFields(std::string_view text) {
    std::vector<std::string_view> fields = TextDecoding::split(text, ';');
    std::erase_if(fields, [](std::string_view field) { return field.empty(); });
    return fields;
}

// The OSC 52 selection of a reply: the letters the protocol defines (clipboard c, primary p,
// secondary q, select s, cut buffers 0-7), at most eight, "c" when none is left. Whatever else the
// program wrote is dropped, so that a reply cannot carry text of its choosing back into the
// shell's input.
std::string clipboardSelection(std::string_view requested) {
    std::string selection;
    for (char c : requested) {
        const bool valid = c == 'c' || c == 'p' || c == 'q' || c == 's' || (c >= '0' && c <= '7');
        if (valid && selection.size() < 8) {
            selection += c;
        }
    }
    return selection.empty() ? "c" : selection;
}

// The OSC 1337 arguments "key=value;key=value": the pairs up to the first piece without "=" or
// with text that is not UTF-8. A later key replaces an earlier one.
std::map<std::string, std::string, std::less<>> parseKeyValues(std::span<const uint8_t> bytes) {
    std::map<std::string, std::string, std::less<>> pairs;
    for (std::string_view piece : TextDecoding::split(textOf(bytes), ';')) {
        const size_t equals = piece.find('=');
        if (equals == std::string_view::npos) {
            break;
        }
        const std::string_view key = piece.substr(0, equals);
        const std::string_view value = piece.substr(equals + 1);
        if (!TextDecoding::isValidUtf8(key) || !TextDecoding::isValidUtf8(value)) {
            break;
        }
        pairs.insert_or_assign(std::string(key), std::string(value));
    }
    return pairs;
}

// The width or height of an OSC 1337 image: "auto", "N%", "Npx" or a number of cells; anything
// out of range or unreadable is automatic.
ImageSizeRequest parseDimension(const std::map<std::string, std::string, std::less<>>& arguments,
                                std::string_view key) {
    const auto found = arguments.find(key);
    if (found == arguments.end() || found->second == "auto") {
        return ImageSizeRequest::automatic();
    }
    std::string_view value = found->second;
    const auto number = [](std::string_view text, int64_t low, int64_t high) {
        const std::optional<int64_t> n = TextDecoding::parseInteger(text);
        return n && *n >= low && *n <= high ? std::optional<int>(int(*n)) : std::nullopt;
    };
    if (value.ends_with('%')) {
        const auto n = number(value.substr(0, value.size() - 1), 1, 100);
        return n ? ImageSizeRequest::percent(*n) : ImageSizeRequest::automatic();
    }
    if (value.ends_with("px")) {
        const auto n = number(value.substr(0, value.size() - 2), 1, 4095);
        return n ? ImageSizeRequest::pixels(*n) : ImageSizeRequest::automatic();
    }
    const auto n = number(value, 1, 199);
    return n ? ImageSizeRequest::cells(*n) : ImageSizeRequest::automatic();
}

} // namespace

void Terminal::dispatchOsc(int64_t code, std::span<const uint8_t> data) {
    // Codes a host registered never get here: the parser hands them to the host's handler.
    switch (code) {
    case 0:
    case 2:
        // OSC 0 sets the window title only; the icon title stays.
        setTitle(TextDecoding::utf8(data).value_or(std::string()));
        return;
    case 1:
        setIconTitle(TextDecoding::utf8(data).value_or(std::string()));
        return;
    case 4:
        oscChangeOrQueryColorIndex(data);
        return;
    case 6:
        oscSetCurrentDocument(data);
        return;
    case 7:
        oscSetCurrentDirectory(data);
        return;
    case 8:
        oscHyperlink(data);
        return;
    case 9:
        if (const std::optional<ProgressReport> report = parseProgressReport(data)) {
            tell([&](TerminalDelegate& d) { d.progressReport(*this, *report); });
            return;
        }
        break;
    case 10:
    case 11:
    case 12:
        oscSetColors(data, int(code - 10));
        return;
    case 52:
        oscClipboard(data);
        return;
    case 104:
        oscResetColor(data);
        return;
    case 112:
        tell([&](TerminalDelegate& d) { d.setCursorColor(*this, std::nullopt); });
        return;
    case 133:
        oscSemanticPrompt(data);
        return;
    case 777:
        oscNotification(data);
        return;
    case 1337:
        osciTerm2(data);
        return;
    default:
        break;
    }
    if (m_parser.oscHandlerFallback) {
        m_parser.oscHandlerFallback(code, data);
    }
}

// ---- Titles ---------------------------------------------------------------------------------

void Terminal::setTitle(std::string text) {
    m_terminalTitle = std::move(text);
    tell([&](TerminalDelegate& d) { d.setTerminalTitle(*this, m_terminalTitle); });
}

void Terminal::setIconTitle(std::string text) {
    m_iconTitle = std::move(text);
    tell([&](TerminalDelegate& d) { d.setTerminalIconTitle(*this, m_iconTitle); });
}

// ---- Working directory and document (OSC 7, OSC 6) ------------------------------------------

void Terminal::oscSetCurrentDirectory(std::span<const uint8_t> data) {
    if (storeHostLocation(data, m_hostCurrentDirectory)) {
        tell([&](TerminalDelegate& d) { d.hostCurrentDirectoryUpdated(*this); });
    }
}

void Terminal::oscSetCurrentDocument(std::span<const uint8_t> data) {
    if (storeHostLocation(data, m_hostCurrentDocument)) {
        tell([&](TerminalDelegate& d) { d.hostCurrentDocumentUpdated(*this); });
    }
}

bool Terminal::storeHostLocation(std::span<const uint8_t> data,
                                 std::optional<std::string>& location) {
    if (!ask([&](TerminalDelegate& d) { return d.isProcessTrusted(*this); }).value_or(false)) {
        return false;
    }
    // ASCII is a subset of UTF-8: one check covers both readings. The text is kept as sent (a
    // file URL is not taken apart).
    std::optional<std::string> text = TextDecoding::utf8(data);
    if (!text) {
        return false;
    }
    location = std::move(*text);
    return true;
}

// ---- Hyperlinks (OSC 8) ---------------------------------------------------------------------

void Terminal::oscHyperlink(std::span<const uint8_t> data) {
    if (data.size() == 1 && data[0] == ';') {
        m_activeHyperlink.reset();
        return;
    }
    ActiveHyperlink link;
    if (data.size() > maxHyperlinkPayloadLength) {
        // Text inside an oversized link prints without one.
        link.kind = ActiveHyperlink::Kind::unavailable;
    } else {
        link.pending = TextDecoding::ascii(data).value_or(std::string());
    }
    // Nothing is registered until a character is printed inside the link.
    m_activeHyperlink = std::move(link);
}

std::optional<TinyAtom> Terminal::makePayload(std::string value) {
    std::optional<TinyAtom> atom = TinyAtom::lookup(std::move(value));
    if (atom && !m_payloadCodes.insert(atom->code).second) {
        // The terminal holds one use of each code it has.
        atom->release();
    }
    return atom;
}

std::optional<std::string> Terminal::parseHyperlinkPayload(std::string_view payload) {
    const size_t semicolon = payload.find(';');
    if (semicolon == std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(payload.substr(semicolon + 1));
}

void Terminal::markPayloads(std::vector<bool>& inUse) {
    std::vector<bool> live(payloadCodeCount);
    std::vector<uint16_t> liveCodes;
    const auto note = [&](uint16_t code) {
        if (code != 0 && !live[code]) {
            live[code] = true;
            liveCodes.push_back(code);
        }
    };
    if (m_activeHyperlink && m_activeHyperlink->kind == ActiveHyperlink::Kind::resolved) {
        note(m_activeHyperlink->resolved.code);
    }
    forEachStoredLine([&](const BufferLine& line) {
        for (int i = 0, n = line.count(); i < n; ++i) {
            note(line[i].payload().code);
        }
    });
    std::vector<uint16_t> dead;
    for (uint16_t code : m_payloadCodes) {
        if (!live[code]) {
            dead.push_back(code);
        }
    }
    if (!dead.empty()) {
        TinyAtom::release(dead);
        for (uint16_t code : dead) {
            m_payloadCodes.erase(code);
        }
    }
    for (uint16_t code : liveCodes) {
        inUse[code] = true;
    }
}

void Terminal::garbageCollectPayload() {
    if (m_payloadCodes.empty()) {
        return;
    }
    std::vector<bool> ignored(payloadCodeCount);
    markPayloads(ignored);
}

// ---- Default colours (OSC 10, 11, 12) -------------------------------------------------------

void Terminal::oscSetColors(std::span<const uint8_t> data, int startAt) {
    const std::vector<std::string_view> fields = nonEmptyFields(textOf(data));
    const TerminalColors reference =
        ask([&](TerminalDelegate& d) {
            return d.getColors(*this);
        }).value_or(TerminalColors{m_foregroundColor, m_backgroundColor});
    for (size_t i = 0; i < fields.size(); ++i) {
        const int which = startAt + int(i);
        if (which > 2) {
            break;
        }
        const std::string_view field = fields[i];
        if (field[0] == '?') {
            const Color& color = which == 0   ? reference.foreground
                                 : which == 1 ? reference.background
                                              : m_cursorColor.value_or(reference.foreground);
            sendResponse(m_cc.osc(), std::to_string(10 + which), ";", color.formatAsXcolor(),
                         m_cc.st());
            continue;
        }
        const std::optional<Color> color = Color::parseColor(field);
        if (!color) {
            continue;
        }
        switch (which) {
        case 0:
            setForegroundColor(*color);
            tell([&](TerminalDelegate& d) { d.setForegroundColor(*this, *color); });
            break;
        case 1:
            setBackgroundColor(*color);
            tell([&](TerminalDelegate& d) { d.setBackgroundColor(*this, *color); });
            break;
        default:
            setCursorColor(*color);
            tell([&](TerminalDelegate& d) { d.setCursorColor(*this, *color); });
            break;
        }
    }
}

// ---- Palette (OSC 4, OSC 104) ---------------------------------------------------------------

void Terminal::oscChangeOrQueryColorIndex(std::span<const uint8_t> data) {
    // Pairs "index;spec", themselves joined by ";"; the first malformed index ends the list.
    const std::string_view text = textOf(data);
    size_t at = 0;
    while (at < text.size()) {
        const size_t semicolon = text.find(';', at);
        if (semicolon == std::string_view::npos) {
            return;
        }
        const std::optional<int64_t> index =
            EscapeSequenceParser::parseDecimal(bytesOf(text.substr(at, semicolon - at)));
        if (!index || *index > 255) {
            return;
        }
        at = semicolon + 1;
        if (at < text.size() && text[at] == '?') {
            sendResponse(m_cc.osc(), "4;", std::to_string(*index), ";",
                         m_ansiColors[size_t(*index)].formatAsXcolor(), m_cc.st());
            ++at;
            if (at < text.size() && text[at] == ';') {
                ++at;
            }
            continue;
        }
        size_t end = text.find(';', at);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        if (const std::optional<Color> color = Color::parseColor(text.substr(at, end - at))) {
            m_ansiColors[size_t(*index)] = *color;
            tell([&](TerminalDelegate& d) { d.colorChanged(*this, int(*index)); });
        }
        at = end + 1;
    }
}

void Terminal::oscResetColor(std::span<const uint8_t> data) {
    if (data.empty()) {
        resetAllColors();
        return;
    }
    if (!TextDecoding::isAscii(data)) {
        return;
    }
    for (std::string_view field : nonEmptyFields(textOf(data))) {
        // A field that is no number at all stands for entry 0; numbers outside the palette are
        // skipped.
        const int64_t index = TextDecoding::parseInteger(field).value_or(0);
        if (index < 0 || index > 255) {
            continue;
        }
        m_ansiColors[size_t(index)] = m_defaultAnsiColors[size_t(index)];
        tell([&](TerminalDelegate& d) { d.colorChanged(*this, int(index)); });
    }
}

void Terminal::resetAllColors() {
    m_ansiColors = m_defaultAnsiColors;
    tell([&](TerminalDelegate& d) { d.colorChanged(*this, std::nullopt); });
}

// ---- Clipboard (OSC 52) ---------------------------------------------------------------------

void Terminal::oscClipboard(std::span<const uint8_t> data) {
    const std::string_view text = textOf(data);
    const size_t semicolon = text.find(';');
    if (semicolon == std::string_view::npos) {
        return;
    }
    const std::span<const uint8_t> payload = data.subspan(semicolon + 1);
    if (payload.size() == 1 && payload[0] == '?') {
        // Whether a program may read the clipboard is the host's decision: it answers none
        // when it does not allow it.
        const auto content = ask([&](TerminalDelegate& d) { return d.clipboardRead(*this); });
        if (!content || !*content) {
            return;
        }
        sendResponse(m_cc.osc(), "52;", clipboardSelection(text.substr(0, semicolon)), ";",
                     TextDecoding::base64Encode(**content), m_cc.st());
        return;
    }
    const std::optional<std::vector<uint8_t>> content = TextDecoding::base64Decode(payload);
    if (!content) {
        return;
    }
    tell([&](TerminalDelegate& d) { d.clipboardCopy(*this, *content); });
}

// ---- Notifications (OSC 777) ----------------------------------------------------------------

void Terminal::oscNotification(std::span<const uint8_t> data) {
    if (!TextDecoding::isValidUtf8(data)) {
        return;
    }
    const std::vector<std::string_view> parts = TextDecoding::split(textOf(data), ';');
    if (parts.size() < 3 || parts[0] != "notify") {
        return;
    }
    const std::string title(parts[1]);
    // The body is everything after the title, semicolons included.
    const std::string body(textOf(data).substr(parts[0].size() + parts[1].size() + 2));
    tell([&](TerminalDelegate& d) { d.notify(*this, title, body); });
}

// ---- Inline images and other content (OSC 1337) ---------------------------------------------

void Terminal::osciTerm2(std::span<const uint8_t> data) {
    const std::string_view text = textOf(data);
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        return;
    }
    const std::string_view key = text.substr(0, equals);
    if (!TextDecoding::isValidUtf8(key)) {
        return;
    }
    if (key != "File") {
        tell([&](TerminalDelegate& d) { d.iTermContent(*this, data); });
        return;
    }
    const size_t colon = text.find(':', equals + 1);
    if (colon == std::string_view::npos) {
        return;
    }
    const auto arguments = parseKeyValues(data.subspan(equals + 1, colon - equals - 1));
    const auto inlineArgument = arguments.find("inline");
    if (arguments.empty() || inlineArgument == arguments.end() || inlineArgument->second != "1") {
        // A file to download rather than show: the host decides.
        tell([&](TerminalDelegate& d) { d.iTermContent(*this, data); });
        return;
    }
    const std::optional<std::vector<uint8_t>> image =
        TextDecoding::base64Decode(data.subspan(colon + 1));
    if (!image) {
        return;
    }
    const ImageSizeRequest width = parseDimension(arguments, "width");
    const ImageSizeRequest height = parseDimension(arguments, "height");
    const auto preserve = arguments.find("preserveAspectRatio");
    const bool preserveAspectRatio = preserve == arguments.end() || preserve->second == "1";
    tell([&](TerminalDelegate& d) {
        d.createImage(*this, *image, width, height, preserveAspectRatio);
    });
}

// ---- Progress (OSC 9;4) ---------------------------------------------------------------------

std::optional<ProgressReport> Terminal::parseProgressReport(std::span<const uint8_t> data) {
    if (!TextDecoding::isAscii(data)) {
        return std::nullopt;
    }
    const std::vector<std::string_view> parts = TextDecoding::split(textOf(data), ';');
    if (parts.size() < 2 || parts[0] != "4") {
        return std::nullopt;
    }
    if (parts[1].size() != 1 || parts[1][0] < '0' || parts[1][0] > '4') {
        return std::nullopt;
    }
    ProgressReport report;
    report.state = ProgressReportState(parts[1][0] - '0');
    if (parts.size() >= 3 && !parts[2].empty()) {
        const std::optional<int64_t> value = TextDecoding::parseInteger(parts[2]);
        if (!value) {
            return std::nullopt;
        }
        if (report.state != ProgressReportState::remove) {
            report.progress = uint8_t(std::clamp<int64_t>(*value, 0, 100));
        }
    } else if (report.state == ProgressReportState::set) {
        report.progress = 0;
    }
    return report;
}

} // namespace veldatron
