#include "EscapeSequenceParser.h"

#include "DcsHandler.h"
#include "EscapeSequenceParserImpl.h"
#include "UnicodeUtil.h"

namespace veldatron {
namespace {

using State = ParserState;
using Action = ParserAction;

using namespace parserdetail;

// A string buffer keeps this much capacity between strings; after a larger one (an inline image)
// the memory goes back.
constexpr std::size_t retainedStringCapacity = 64 * 1024;

class TableBuilder {
public:
    constexpr void set(State s, int from, int to, Action a, State next) {
        for (int b = from; b <= to; ++b) {
            m_table.table[TransitionTable::index(s, static_cast<std::uint8_t>(b))] =
                static_cast<std::uint8_t>(static_cast<unsigned>(a) << 4 |
                                          static_cast<unsigned>(next));
        }
    }
    constexpr void set(State s, int b, Action a, State next) { set(s, b, b, a, next); }
    // 0x00-0x18 and 0x1C-0x1F: every C0 byte but EM, SUB and ESC (CAN included).
    constexpr void setExecutables(State s, Action a, State next) {
        set(s, 0x00, 0x18, a, next);
        set(s, 0x1C, 0x1F, a, next);
    }
    // 0x00-0x1F except EM, SUB and ESC: the same bytes, named as the DCS rows name them.
    constexpr void setC0ButEmSubEsc(State s, Action a, State next) { setExecutables(s, a, next); }

    constexpr TransitionTable result() const { return m_table; }

private:
    TransitionTable m_table{};
};

constexpr State allStates[] = {
    State::ground,    State::escape,          State::escapeIntermediate, State::csiEntry,
    State::csiParam,  State::csiIntermediate, State::csiIgnore,          State::sosPmApcString,
    State::oscString, State::apcString,       State::dcsEntry,           State::dcsParam,
    State::dcsIgnore, State::dcsIntermediate, State::dcsPassthrough,
};

constexpr void addStringRows(TableBuilder& t, State s) {
    // OSC and APC strings end the same way wherever a read happens to split them: the bytes that
    // the collecting loop treats as data are data here too, and 0x9C is decided by the parser
    // (ST on a UTF-8 character boundary, data inside a character such as U+041C, D0 9C).
    t.set(s, 0x00, 0x1F, Action::ignore, s);
    t.set(s, BEL, Action::oscEnd, State::ground);
    t.set(s, CAN, Action::oscEnd, State::ground);
    t.set(s, SUB, Action::oscEnd, State::ground);
    t.set(s, ESC, Action::oscEnd, State::ground);
    t.set(s, 0x20, highColumn, Action::oscPut, s);
    t.set(s, ST, Action::oscEnd, State::ground);
}

constexpr TransitionTable buildVt500Table() {
    TableBuilder t;
    // 1. Anything not named below is an error and returns to ground.
    for (State s : allStates) {
        t.set(s, 0x00, highColumn, Action::error, State::ground);
    }
    // 2. Printable bytes print in ground.
    t.set(State::ground, 0x20, 0x7E, Action::print, State::ground);
    // 3. Bytes that act the same in every state.
    for (State s : allStates) {
        t.set(s, CAN, Action::execute, State::ground);
        t.set(s, SUB, Action::execute, State::ground);
        t.set(s, 0x80, 0x8F, Action::execute, State::ground);
        t.set(s, 0x91, 0x97, Action::execute, State::ground);
        t.set(s, 0x99, Action::execute, State::ground);
        t.set(s, 0x9A, Action::execute, State::ground);
        t.set(s, ST, Action::ignore, State::ground);
        t.set(s, ESC, Action::clear, State::escape);
        t.set(s, OSC, Action::oscStart, State::oscString);
        t.set(s, SOS, Action::ignore, State::sosPmApcString);
        t.set(s, PM, Action::ignore, State::sosPmApcString);
        t.set(s, APC, Action::oscStart, State::apcString);
        t.set(s, CSI, Action::clear, State::csiEntry);
        t.set(s, DCS, Action::clear, State::dcsEntry);
    }
    // 4. Per state.
    t.setExecutables(State::ground, Action::execute, State::ground);

    t.setExecutables(State::escape, Action::execute, State::escape);
    t.set(State::escape, DEL, Action::ignore, State::escape);
    t.set(State::escape, 0x20, 0x2F, Action::collect, State::escapeIntermediate);
    t.set(State::escape, 0x30, 0x4F, Action::escDispatch, State::ground);
    t.set(State::escape, 0x51, 0x57, Action::escDispatch, State::ground);
    t.set(State::escape, 'Y', Action::escDispatch, State::ground);
    t.set(State::escape, 'Z', Action::escDispatch, State::ground);
    t.set(State::escape, '\\', Action::escDispatch, State::ground);
    t.set(State::escape, 0x60, 0x7E, Action::escDispatch, State::ground);
    t.set(State::escape, 'P', Action::clear, State::dcsEntry);
    t.set(State::escape, 'X', Action::ignore, State::sosPmApcString);
    t.set(State::escape, '^', Action::ignore, State::sosPmApcString);
    t.set(State::escape, '[', Action::clear, State::csiEntry);
    t.set(State::escape, ']', Action::oscStart, State::oscString);
    t.set(State::escape, '_', Action::oscStart, State::apcString);

    t.setExecutables(State::escapeIntermediate, Action::execute, State::escapeIntermediate);
    t.set(State::escapeIntermediate, DEL, Action::ignore, State::escapeIntermediate);
    t.set(State::escapeIntermediate, 0x20, 0x2F, Action::collect, State::escapeIntermediate);
    t.set(State::escapeIntermediate, 0x30, 0x7E, Action::escDispatch, State::ground);

    t.setExecutables(State::csiEntry, Action::execute, State::csiEntry);
    t.set(State::csiEntry, DEL, Action::ignore, State::csiEntry);
    t.set(State::csiEntry, 0x20, 0x2F, Action::collect, State::csiIntermediate);
    t.set(State::csiEntry, '0', '9', Action::param, State::csiParam);
    t.set(State::csiEntry, ';', Action::param, State::csiParam);
    t.set(State::csiEntry, '<', '?', Action::collect, State::csiParam);
    t.set(State::csiEntry, 0x40, 0x7E, Action::csiDispatch, State::ground);

    t.setExecutables(State::csiParam, Action::execute, State::csiParam);
    t.set(State::csiParam, DEL, Action::ignore, State::csiParam);
    t.set(State::csiParam, '0', ';', Action::param, State::csiParam);
    t.set(State::csiParam, '<', '?', Action::ignore, State::csiIgnore);
    t.set(State::csiParam, 0x20, 0x2F, Action::collect, State::csiIntermediate);
    t.set(State::csiParam, 0x40, 0x7E, Action::csiDispatch, State::ground);

    t.setExecutables(State::csiIntermediate, Action::execute, State::csiIntermediate);
    t.set(State::csiIntermediate, DEL, Action::ignore, State::csiIntermediate);
    t.set(State::csiIntermediate, 0x20, 0x2F, Action::collect, State::csiIntermediate);
    t.set(State::csiIntermediate, 0x30, 0x3F, Action::ignore, State::csiIgnore);
    t.set(State::csiIntermediate, 0x40, 0x7E, Action::csiDispatch, State::ground);

    t.setExecutables(State::csiIgnore, Action::execute, State::csiIgnore);
    t.set(State::csiIgnore, 0x20, 0x3F, Action::ignore, State::csiIgnore);
    t.set(State::csiIgnore, DEL, Action::ignore, State::csiIgnore);
    t.set(State::csiIgnore, 0x40, 0x7E, Action::ignore, State::ground);

    t.setExecutables(State::sosPmApcString, Action::ignore, State::sosPmApcString);
    t.set(State::sosPmApcString, 0x20, 0x7F, Action::ignore, State::sosPmApcString);

    addStringRows(t, State::oscString);
    addStringRows(t, State::apcString);

    t.setC0ButEmSubEsc(State::dcsEntry, Action::ignore, State::dcsEntry);
    t.set(State::dcsEntry, DEL, Action::ignore, State::dcsEntry);
    t.set(State::dcsEntry, 0x20, 0x2F, Action::collect, State::dcsIntermediate);
    t.set(State::dcsEntry, '0', '9', Action::param, State::dcsParam);
    t.set(State::dcsEntry, ';', Action::param, State::dcsParam);
    t.set(State::dcsEntry, ':', Action::ignore, State::dcsIgnore);
    t.set(State::dcsEntry, '<', '?', Action::collect, State::dcsParam);
    t.set(State::dcsEntry, 0x40, 0x7E, Action::dcsHook, State::dcsPassthrough);

    t.setC0ButEmSubEsc(State::dcsParam, Action::ignore, State::dcsParam);
    t.set(State::dcsParam, DEL, Action::ignore, State::dcsParam);
    t.set(State::dcsParam, '0', '9', Action::param, State::dcsParam);
    t.set(State::dcsParam, ';', Action::param, State::dcsParam);
    t.set(State::dcsParam, ':', Action::ignore, State::dcsIgnore);
    t.set(State::dcsParam, '<', '?', Action::ignore, State::dcsIgnore);
    t.set(State::dcsParam, 0x20, 0x2F, Action::collect, State::dcsIntermediate);
    t.set(State::dcsParam, 0x40, 0x7E, Action::dcsHook, State::dcsPassthrough);

    t.setC0ButEmSubEsc(State::dcsIgnore, Action::ignore, State::dcsIgnore);
    t.set(State::dcsIgnore, 0x20, 0x7F, Action::ignore, State::dcsIgnore);

    t.setC0ButEmSubEsc(State::dcsIntermediate, Action::ignore, State::dcsIntermediate);
    t.set(State::dcsIntermediate, DEL, Action::ignore, State::dcsIntermediate);
    t.set(State::dcsIntermediate, 0x20, 0x2F, Action::collect, State::dcsIntermediate);
    t.set(State::dcsIntermediate, 0x30, 0x3F, Action::ignore, State::dcsIgnore);
    t.set(State::dcsIntermediate, 0x40, 0x7E, Action::dcsHook, State::dcsPassthrough);

    t.setExecutables(State::dcsPassthrough, Action::dcsPut, State::dcsPassthrough);
    t.set(State::dcsPassthrough, 0x20, 0x7E, Action::dcsPut, State::dcsPassthrough);
    t.set(State::dcsPassthrough, DEL, Action::ignore, State::dcsPassthrough);
    t.set(State::dcsPassthrough, ESC, Action::dcsUnhook, State::ground);
    t.set(State::dcsPassthrough, ST, Action::dcsUnhook, State::ground);
    return t.result();
}

constexpr TransitionTable vt500Table = buildVt500Table();

// Bytes of the UTF-8 sequence a lead byte announces; 1 for anything that starts none.
int utf8SequenceLength(std::uint8_t lead) {
    const std::uint8_t entry = UnicodeUtil::first[lead];
    return entry >= 0xF0 ? 1 : entry & 0x0F;
}

void releaseIfLarge(std::vector<std::uint8_t>& buffer) {
    if (buffer.capacity() > retainedStringCapacity) {
        std::vector<std::uint8_t>().swap(buffer);
    } else {
        buffer.clear();
    }
}

} // namespace

const TransitionTable& TransitionTable::sharedVt500Table() {
    return vt500Table;
}

EscapeSequenceParserBase::EscapeSequenceParserBase()
    : m_table(TransitionTable::sharedVt500Table()) {}

std::optional<std::int64_t> EscapeSequenceParserBase::parseDecimal(Bytes text) {
    if (text.empty()) {
        return std::nullopt;
    }
    constexpr std::int64_t max = INT64_MAX;
    std::int64_t value = 0;
    for (std::uint8_t c : text) {
        const auto digit = static_cast<std::uint8_t>(c - '0');
        if (digit > 9 || value > (max - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

void EscapeSequenceParserBase::resetSequenceState() {
    m_currentState = initialState;
    clearControlSequenceState();
    clearStringState();
    m_activeDcsHandler = nullptr;
    m_dcsLength = 0;
    m_dcsOverflow = false;
}

void EscapeSequenceParserBase::clearStringState() {
    releaseIfLarge(m_osc);
    releaseIfLarge(m_apc);
    m_stringOverflow = false;
    m_stringTail = 0;
    m_stringTailLength = 0;
}

void EscapeSequenceParserBase::flushDcs(Runs& runs, std::ptrdiff_t end) {
    if (runs.dcs < 0) {
        return;
    }
    const Bytes run(runs.chunk + runs.dcs, static_cast<std::size_t>(end - runs.dcs));
    runs.dcs = -1;
    if (m_activeDcsHandler == nullptr || m_dcsOverflow || run.empty()) {
        return;
    }
    // Past the limit the handler gets the bytes up to it and never the unhook; cutting at the
    // limit itself keeps what it sees independent of how reads split the string.
    const std::size_t room = m_dcsLength < maxStringLength ? maxStringLength - m_dcsLength : 0;
    Bytes accepted = run;
    if (run.size() > room) {
        m_dcsOverflow = true;
        accepted = run.first(room);
    }
    m_dcsLength += accepted.size();
    if (!accepted.empty()) {
        m_activeDcsHandler->put(accepted);
    }
}

void EscapeSequenceParserBase::collectByte(std::uint8_t b) {
    if (m_collectLength >= maxCollect) {
        m_collectLimitExceeded = true;
        return;
    }
    m_collect[m_collectLength++] = b;
    m_collectId = m_collectId << 5 | collectCode(b);
}

void EscapeSequenceParserBase::paramByte(std::uint8_t b) {
    if (b == ';' || b == ':') {
        if (m_parameterLimitExceeded || !m_params.addSeparator(b)) {
            m_parameterLimitExceeded = true;
        }
    } else if (!m_parameterLimitExceeded) {
        m_params.addDigit(static_cast<std::uint8_t>(b - '0'));
    }
}

void EscapeSequenceParserBase::appendString(std::vector<std::uint8_t>& target, Bytes bytes) {
    if (!m_stringOverflow) {
        if (target.size() > maxStringLength || bytes.size() > maxStringLength - target.size()) {
            m_stringOverflow = true;
            std::vector<std::uint8_t>().swap(target);
        } else {
            target.insert(target.end(), bytes.begin(), bytes.end());
        }
    }
    const std::size_t keep = bytes.size() < 3 ? bytes.size() : 3;
    for (std::size_t k = bytes.size() - keep; k < bytes.size(); ++k) {
        m_stringTail = (m_stringTail << 8 | bytes[k]) & 0xFFFFFFu;
    }
    m_stringTailLength =
        static_cast<std::uint8_t>(m_stringTailLength + keep < 3 ? m_stringTailLength + keep : 3);
}

void EscapeSequenceParserBase::startString(StringKind kind) {
    releaseIfLarge(kind == StringKind::apc ? m_apc : m_osc);
    m_stringOverflow = false;
    m_stringTail = 0;
    m_stringTailLength = 0;
}

bool EscapeSequenceParserBase::stringOnCharacterBoundary() const {
    int continuations = 0;
    for (int k = 0; k < m_stringTailLength; ++k) {
        const auto c = static_cast<std::uint8_t>(m_stringTail >> (8 * k));
        if ((c & 0xC0) == 0x80) {
            ++continuations;
            continue;
        }
        return continuations + 1 >= utf8SequenceLength(c);
    }
    return true;
}

void EscapeSequenceParserBase::dispatchApc() {
    if (m_apc.empty()) {
        return;
    }
    const std::uint8_t command = m_apc[0];
    const Bytes payload = Bytes(m_apc).subspan(1);
    if (command == 'G' && kittyGraphicsHandler) {
        kittyGraphicsHandler(payload);
    } else if (apcHandlerFallback) {
        apcHandlerFallback(command, payload);
    }
}

std::optional<std::pair<std::int64_t, EscapeSequenceParserBase::Bytes>>
EscapeSequenceParserBase::oscCommand() const {
    if (m_osc.empty()) {
        return std::nullopt;
    }
    const Bytes text(m_osc);
    std::size_t semicolon = 0;
    while (semicolon < text.size() && text[semicolon] != ';') {
        ++semicolon;
    }
    const Bytes data = semicolon < text.size() ? text.subspan(semicolon + 1) : Bytes();
    if (const auto code = parseDecimal(text.first(semicolon))) {
        return std::pair(*code, data);
    }
    return std::nullopt;
}

void EscapeSequenceParserBase::hookDcs(std::uint8_t final) {
    // A void introducer (too many parameters or intermediates) gets no handler either, so an
    // earlier, aborted string's handler never receives this string's data.
    m_activeDcsHandler = nullptr;
    m_dcsLength = 0;
    m_dcsOverflow = false;
    if (m_parameterLimitExceeded || m_collectLimitExceeded) {
        return;
    }
    const std::uint32_t id = m_collectId << 8 | final;
    DcsHandler* handler = nullptr;
    if (id == sequenceId("", 'q')) {
        handler = sixelDcsHandler;
    } else if (id == sequenceId("$", 'q')) {
        handler = decrqssDcsHandler;
    }
    if (handler == nullptr) {
        return;
    }
    m_activeDcsHandler = handler;
    handler->hook(collect(), m_params, final);
}

void EscapeSequenceParserBase::unhookDcs() {
    if (DcsHandler* handler = m_activeDcsHandler) {
        m_activeDcsHandler = nullptr;
        if (!m_dcsOverflow) {
            handler->unhook();
        }
    }
}

bool EscapeSequenceParserBase::reportError(std::ptrdiff_t position, std::uint8_t code,
                                           ParserState state, const Runs& runs) {
    ParsingState report;
    report.position = position;
    report.code = code;
    report.currentState = state;
    report.print = runs.print;
    report.dcs = runs.dcs;
    report.osc = m_osc;
    report.apc = m_apc;
    report.collect = collect();
    if (errorHandler) {
        report = errorHandler(report);
    }
    return report.abort;
}

// ---- The handler-field sink -----------------------------------------------------------------

template class BasicEscapeSequenceParser<EscapeSequenceParser>;

void EscapeSequenceParser::handlePrint(Bytes run, bool printableAscii) {
    if (printHandler) {
        printHandler(run, printableAscii);
    }
}

void EscapeSequenceParser::feedPlainLines(PlainLines& lines) {
    for (; lines.available(); lines.pop()) {
        if (!lines.front().empty()) {
            handlePrint(lines.front(), true);
        }
        execute('\r');
        execute('\n');
    }
}

void EscapeSequenceParser::resetPrintState() {
    if (printStateReset) {
        printStateReset();
    }
}

void EscapeSequenceParser::execute(std::uint8_t code) {
    if (executeHandler) {
        executeHandler(code);
    }
}

void EscapeSequenceParser::dispatchEsc(const SequenceId& sequence) {
    if (escHandler) {
        escHandler(sequence);
    } else if (escHandlerFallback) {
        escHandlerFallback(sequence.collect, sequence.final);
    }
}

void EscapeSequenceParser::dispatchCsi(const SequenceId& sequence, const ParserParams& params) {
    if (csiHandler) {
        csiHandler(sequence, params);
    } else if (csiHandlerFallback) {
        csiHandlerFallback(params, sequence.collect, sequence.final);
    }
}

void EscapeSequenceParser::dispatchOsc(std::int64_t code, Bytes data) {
    if (oscHandler) {
        oscHandler(code, data);
    } else if (oscHandlerFallback) {
        oscHandlerFallback(code, data);
    }
}

} // namespace veldatron
