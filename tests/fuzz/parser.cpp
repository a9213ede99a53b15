// Feeds arbitrary bytes to the escape-sequence parser twice, whole and cut into chunks chosen by
// the first input byte, and checks that both runs make the same calls and that every call keeps
// the parser's promises (parameter and intermediate limits, print runs free of C0 bytes with a
// truthful ASCII flag, hook/put/unhook in order).

#include "DcsHandler.h"
#include "EscapeSequenceParser.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

namespace {

using veldatron::DcsHandler;
using veldatron::EscapeSequenceParser;
using veldatron::ParserParams;
using veldatron::ParsingState;
using veldatron::SequenceId;
using Bytes = std::span<const std::uint8_t>;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "parser invariant broken: %s\n", what);
    std::abort();
}

void check(bool condition, const char* what) {
    if (!condition) {
        fail(what);
    }
}

// Calls as text; consecutive print runs (and puts) are joined, as their cut depends on chunking.
struct Log {
    std::string text;
    char last = 0;

    void add(char kind, Bytes bytes = {}) {
        if (kind == last && (kind == 'p' || kind == 'u')) {
            text.append(bytes.begin(), bytes.end());
            return;
        }
        text += '\n';
        text += kind;
        text.append(bytes.begin(), bytes.end());
        last = kind;
    }
    void addNumber(long long n) { text += ' ' + std::to_string(n); }
};

void checkParams(const ParserParams& params) {
    check(params.size() >= 1 && params.size() <= ParserParams::maxCount, "parameter count");
    for (int i = 0; i < params.size(); ++i) {
        check(params[i] >= 0 && params[i] <= ParserParams::maxValue, "parameter value");
    }
}

void logParams(Log& log, const ParserParams& params) {
    for (int i = 0; i < params.size(); ++i) {
        log.text += static_cast<char>(params.separatorBefore(i));
        log.addNumber(params.isOmitted(i) ? -1 : params[i]);
    }
}

class Dcs : public DcsHandler {
public:
    explicit Dcs(Log& log) : m_log(log) {}
    void hook(Bytes collect, const ParserParams& parameters, std::uint8_t flag) override {
        checkParams(parameters);
        check(collect.size() <= EscapeSequenceParser::maxCollect, "DCS intermediates");
        m_hooked = true;
        m_log.add('h', collect);
        m_log.text += static_cast<char>(flag);
        logParams(m_log, parameters);
    }
    void put(Bytes data) override {
        check(m_hooked, "put without hook");
        check(!data.empty(), "empty put");
        m_log.add('u', data);
    }
    void unhook() override {
        check(m_hooked, "unhook without hook");
        m_hooked = false;
        m_log.add('x');
    }

private:
    Log& m_log;
    bool m_hooked = false;
};

struct Harness {
    Log log;
    Dcs sixel{log};
    Dcs decrqss{log};
    EscapeSequenceParser parser;

    Harness() {
        parser.maxStringLength = 300; // small enough for the fuzzer to reach
        parser.printHandler = [this](Bytes run, bool printableAscii) {
            check(!run.empty(), "empty print run");
            bool ascii = true;
            for (std::uint8_t b : run) {
                check(b >= 0x20, "C0 byte in a print run");
                ascii &= b <= 0x7E;
            }
            check(ascii == printableAscii, "printableAscii flag");
            log.add('p', run);
        };
        parser.errorHandler = [this](ParsingState state) {
            log.add('e');
            log.addNumber(state.code);
            log.addNumber(static_cast<int>(state.currentState));
            return state;
        };
        parser.executeHandler = [this](std::uint8_t code) {
            log.add('c');
            log.addNumber(code);
        };
        parser.escHandler = [this](const SequenceId& s) {
            check(s.collect.size() <= EscapeSequenceParser::maxCollect, "ESC intermediates");
            log.add('s', s.collect);
            log.addNumber(s.id);
            if (s.final == 'c' && s.collect.empty()) {
                parser.reset(); // as a full reset does
            }
        };
        parser.csiHandler = [this](const SequenceId& s, const ParserParams& params) {
            check(s.collect.size() <= EscapeSequenceParser::maxCollect, "CSI intermediates");
            checkParams(params);
            log.add('[', s.collect);
            log.addNumber(s.id);
            logParams(log, params);
        };
        parser.oscHandler = [this](std::int64_t code, Bytes data) {
            check(code >= 0, "OSC code");
            check(data.size() <= parser.maxStringLength, "OSC length");
            log.add(']', data);
            log.addNumber(code);
        };
        parser.kittyGraphicsHandler = [this](Bytes payload) { log.add('G', payload); };
        parser.apcHandlerFallback = [this](std::uint8_t command, Bytes payload) {
            log.add('_', payload);
            log.addNumber(command);
        };
        parser.sixelDcsHandler = &sixel;
        parser.decrqssDcsHandler = &decrqss;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::uint32_t cuts = data[0] * 2654435761u + 1;
    const Bytes input(data + 1, size - 1);

    Harness whole;
    whole.parser.parse(input);

    Harness split;
    for (std::size_t at = 0; at < input.size();) {
        cuts ^= cuts << 13;
        cuts ^= cuts >> 17;
        cuts ^= cuts << 5;
        const std::size_t n = 1 + cuts % 23;
        const std::size_t take = n < input.size() - at ? n : input.size() - at;
        split.parser.parse(input.subspan(at, take));
        at += take;
    }
    if (whole.log.text != split.log.text) {
        fail("the calls depend on how the input was split");
    }
    return 0;
}
