#include "ParserRecorder.h"

#include <cstdio>

namespace veldatron::test {

std::string escapeBytes(std::span<const std::uint8_t> bytes) {
    std::string out;
    for (std::uint8_t b : bytes) {
        if (b >= 0x20 && b <= 0x7E && b != '"' && b != '\\') {
            out += static_cast<char>(b);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        }
    }
    return out;
}

std::string formatParams(const ParserParams& params) {
    std::string out;
    for (int i = 0; i < params.size(); ++i) {
        if (i > 0) {
            out += static_cast<char>(params.separatorBefore(i));
        }
        if (!params.isOmitted(i)) {
            out += std::to_string(params[i]);
        }
    }
    return out;
}

std::span<const std::uint8_t> asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

namespace {

std::string sequenceText(std::span<const std::uint8_t> collect, std::uint8_t final) {
    std::string out = "[";
    out += escapeBytes(collect);
    out += escapeBytes(std::span<const std::uint8_t>(&final, 1));
    return out + "]";
}

const char* stateName(ParserState state) {
    static const char* const names[] = {
        "ground",          "escape",    "escapeIntermediate", "csiEntry",        "csiParam",
        "csiIntermediate", "csiIgnore", "sosPmApcString",     "oscString",       "apcString",
        "dcsEntry",        "dcsParam",  "dcsIgnore",          "dcsIntermediate", "dcsPassthrough"};
    return names[static_cast<int>(state)];
}

} // namespace

void RecordingDcsHandler::hook(std::span<const std::uint8_t> collect,
                               const ParserParams& parameters, std::uint8_t flag) {
    m_log.push_back("hook " + m_name + " " + sequenceText(collect, flag) + " " +
                    formatParams(parameters));
}

void RecordingDcsHandler::put(std::span<const std::uint8_t> data) {
    m_log.push_back("put " + m_name + " \"" + escapeBytes(data) + "\"");
}

void RecordingDcsHandler::unhook() {
    m_log.push_back("unhook " + m_name);
}

ParserRecorder::ParserRecorder() {
    parser.printHandler = [this](std::span<const std::uint8_t> run, bool printableAscii) {
        bool ascii = true;
        for (std::uint8_t b : run) {
            ascii &= b >= 0x20 && b <= 0x7E;
        }
        printHintMismatch |= ascii != printableAscii;
        log.push_back("print \"" + escapeBytes(run) + "\"");
    };
    parser.printStateReset = [this] { ++printStateResets; };
    parser.errorHandler = [this](ParsingState state) {
        char text[48];
        std::snprintf(text, sizeof text, "error %s %02X", stateName(state.currentState),
                      state.code);
        log.emplace_back(text);
        return state;
    };
    parser.executeHandler = [this](std::uint8_t code) {
        char text[16];
        std::snprintf(text, sizeof text, "exec %02X", code);
        log.emplace_back(text);
    };
    parser.escHandlerFallback = [this](std::span<const std::uint8_t> collect, std::uint8_t final) {
        log.push_back("esc " + sequenceText(collect, final));
    };
    parser.csiHandlerFallback = [this](const ParserParams& params,
                                       std::span<const std::uint8_t> collect, std::uint8_t final) {
        log.push_back("csi " + sequenceText(collect, final) + " " + formatParams(params));
    };
    parser.oscHandlerFallback = [this](std::int64_t code, std::span<const std::uint8_t> data) {
        log.push_back("osc " + std::to_string(code) + " \"" + escapeBytes(data) + "\"");
    };
    parser.kittyGraphicsHandler = [this](std::span<const std::uint8_t> payload) {
        log.push_back("kitty \"" + escapeBytes(payload) + "\"");
    };
    parser.apcHandlerFallback = [this](std::uint8_t command, std::span<const std::uint8_t> data) {
        log.push_back("apc " + escapeBytes(std::span<const std::uint8_t>(&command, 1)) + " \"" +
                      escapeBytes(data) + "\"");
    };
    parser.sixelDcsHandler = &sixel;
    parser.decrqssDcsHandler = &decrqss;
}

void ParserRecorder::feed(const std::vector<std::string>& chunks) {
    for (const std::string& chunk : chunks) {
        feed(std::string_view(chunk));
    }
}

std::vector<std::string> ParserRecorder::merged() const {
    // Joins `prefix"a"` and `prefix"b"` into `prefix"ab"` for print and put lines.
    auto quotedPrefix = [](const std::string& line) -> std::string {
        if (line.rfind("print \"", 0) == 0 || line.rfind("put ", 0) == 0) {
            return line.substr(0, line.find('"') + 1);
        }
        return {};
    };
    std::vector<std::string> out;
    for (const std::string& line : log) {
        const std::string prefix = quotedPrefix(line);
        if (!prefix.empty() && !out.empty() && quotedPrefix(out.back()) == prefix) {
            out.back().pop_back(); // closing quote
            out.back() += line.substr(prefix.size());
        } else {
            out.push_back(line);
        }
    }
    return out;
}

} // namespace veldatron::test
