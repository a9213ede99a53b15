#include "EscapeSequenceParser.h"

#include "DcsHandler.h"
#include "ParserScan.h"
#include "Profile.h"
#include "Terminal.h"
#include "UnicodeUtil.h"

#include <cassert>

#if defined(VELDATRON_HAVE_SDT)
#include <sys/sdt.h>
#endif

namespace veldatron {
namespace {

using State = ParserState;
using Action = ParserAction;

constexpr std::uint8_t BEL = 0x07;
constexpr std::uint8_t CAN = 0x18;
constexpr std::uint8_t EM = 0x19;
constexpr std::uint8_t SUB = 0x1A;
constexpr std::uint8_t ESC = 0x1B;
constexpr std::uint8_t DEL = 0x7F;
constexpr std::uint8_t DCS = 0x90;
constexpr std::uint8_t SOS = 0x98;
constexpr std::uint8_t CSI = 0x9B;
constexpr std::uint8_t ST = 0x9C;
constexpr std::uint8_t OSC = 0x9D;
constexpr std::uint8_t PM = 0x9E;
constexpr std::uint8_t APC = 0x9F;
constexpr std::uint8_t highColumn = 0xA0; // stands for every byte from 0xA0 up

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

// The "Parser.Parse" interval of the "ParserProfile" category: one probe before the first byte of
// a chunk (with its length) and one on return.
class ProfileInterval {
public:
#if defined(VELDATRON_HAVE_SDT)
    explicit ProfileInterval(std::size_t length) : m_on(profile::enabled()) {
        if (m_on) {
            STAP_PROBE1(veldatron, parser_parse_begin, length);
        }
    }
    ~ProfileInterval() {
        if (m_on) {
            STAP_PROBE(veldatron, parser_parse_end);
        }
    }

private:
    bool m_on;
#else
    explicit ProfileInterval(std::size_t) {}
#endif
};

class ParsingFlag {
public:
    explicit ParsingFlag(bool& flag) : m_flag(flag) { m_flag = true; }
    ~ParsingFlag() { m_flag = false; }

private:
    bool& m_flag;
};

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

EscapeSequenceParser::EscapeSequenceParser(Terminal* terminal)
    : m_terminal(terminal), m_table(TransitionTable::sharedVt500Table()) {}

void EscapeSequenceParser::flushPrint(Runs& runs, std::ptrdiff_t end) {
    if (runs.print < 0) {
        return;
    }
    const Bytes run(runs.chunk + runs.print, static_cast<std::size_t>(end - runs.print));
    runs.print = -1;
    if (run.empty()) {
        return;
    }
    if (m_terminal != nullptr) {
        m_terminal->handlePrint(run, runs.printableAscii);
    } else if (printHandler) {
        printHandler(run, runs.printableAscii);
    }
}

bool EscapeSequenceParser::readControlSequence(const std::uint8_t*& p, const std::uint8_t* end,
                                               ParserState& state) {
    // Markers, intermediates, controls, errors (a ':' right after CSI) and a list past its limit
    // take the table.
    std::uint8_t b = *p;
    if (m_parameterLimitExceeded || (b == ':' && state == State::csiEntry)) {
        return false;
    }
    const std::uint8_t* const q = m_params.addParameterBytes(p, end);
    if (q != p) {
        state = State::csiParam;
        p = q;
        if (p == end) {
            return true;
        }
        b = *p;
    }
    if (b < 0x40 || b > 0x7E) {
        return false;
    }
    if (!m_collectLimitExceeded) {
        dispatchCsi(sequence(b), m_params);
    }
    state = State::ground;
    ++p;
    return true;
}

void EscapeSequenceParser::parse(Bytes data) {
    assert(!m_parsing && "a parser handler fed the parser that called it");
    ProfileInterval interval(data.size());
    ParsingFlag parsing(m_parsing);

    const std::uint8_t* const begin = data.data();
    const std::uint8_t* const end = begin + data.size();
    const std::uint8_t* p = begin;
    Runs runs;
    runs.chunk = begin;
    State state = m_currentState;

    while (p < end) {
        std::uint8_t b = *p;
        // Fast paths for the bytes that make up most of a stream; everything else goes through
        // the table below.
        switch (state) {
        case State::ground:
            if (b >= 0x20) {
                if (runs.print < 0) {
                    runs.print = p - begin;
                    runs.printableAscii = true;
                }
                p = scan::ground(p, end, runs.printableAscii);
                continue;
            }
            if (static_cast<std::uint8_t>(b - EM) > SUB - EM + 1) {
                // A C0 control other than EM, SUB and ESC: executed, the state stays ground.
                flushPrint(runs, p - begin);
                if (b == '\r' && end - p >= 2 && p[1] == '\n' && m_terminal != nullptr) {
                    // CR LF, the end of nearly every line, in one step.
                    m_terminal->execute('\r');
                    m_terminal->execute('\n');
                    p += 2;
                    // Plain text or another CR next: perhaps a log scrolling past.
                    if (end - p >= 2 &&
                        (static_cast<std::uint8_t>(*p - 0x20) < 0x5F || *p == '\r')) {
                        p = m_terminal->feedPlainLines(p, end);
                    }
                    continue;
                }
                dispatchExecute(b);
                ++p;
                continue;
            }
            if (b == ESC && end - p >= 2) {
                if (p[1] == '[') {
                    // ESC [ in one step: both bytes clear the sequence state, once is enough.
                    // The parameters follow at once: nearly every sequence ends in this chunk.
                    flushPrint(runs, p - begin);
                    clearControlSequence();
                    state = State::csiEntry;
                    p += 2;
                    if (p == end || readControlSequence(p, end, state)) {
                        continue;
                    }
                    b = *p;
                    break;
                }
                if (m_table.action(State::escape, p[1]) == Action::escDispatch) {
                    // ESC and its final byte in one step (DECSC, DECRC, RI): nothing to collect.
                    flushPrint(runs, p - begin);
                    clearControlSequence();
                    dispatchEsc(sequence(p[1]));
                    p += 2;
                    continue;
                }
            }
            break;
        case State::csiEntry:
        case State::csiParam:
            if (readControlSequence(p, end, state)) {
                continue;
            }
            b = *p;
            break;
        case State::oscString:
        case State::apcString:
            if (b >= 0x20 && b != ST) {
                const std::uint8_t* stop = scan::string(p, end);
                appendString(state == State::apcString ? m_apc : m_osc,
                             Bytes(p, static_cast<std::size_t>(stop - p)));
                p = stop;
                continue;
            }
            if (b < 0x20 && b != BEL && b != CAN && b != SUB && b != ESC) {
                ++p; // other C0 bytes are dropped; the string goes on
                continue;
            }
            break;
        case State::dcsPassthrough:
            if (!scan::isDcsStop(b)) {
                if (runs.dcs < 0) {
                    runs.dcs = p - begin;
                }
                p = scan::dcs(p, end);
                continue;
            }
            break;
        default:
            break;
        }

        const std::uint8_t entry = m_table.table[TransitionTable::index(state, b)];
        const auto action = static_cast<Action>(entry >> 4);
        auto next = static_cast<State>(entry & 0x0F);
        const std::ptrdiff_t i = p - begin;

        // DCS data up to a byte that ends, aborts or interrupts the string reaches the handler
        // first, so what the handler sees does not depend on where a read was split.
        if (runs.dcs >= 0 && action != Action::dcsPut &&
            !(action == Action::error && b >= highColumn)) {
            flushDcs(runs, i);
        }

        switch (action) {
        case Action::ignore:
            flushPrint(runs, i);
            break;
        case Action::error:
            if (b >= highColumn && (state == State::csiIgnore || state == State::dcsIgnore ||
                                    state == State::dcsPassthrough || state == State::ground)) {
                if (state == State::dcsPassthrough && runs.dcs < 0) {
                    runs.dcs = i;
                } else if (state == State::ground && runs.print < 0) {
                    runs.print = i;
                    runs.printableAscii = false;
                }
                next = state;
                break;
            }
            // EM inside text: the text before it is printed now and printing goes on after it,
            // as around any C0 control, instead of handing EM to the print path as text.
            flushPrint(runs, i);
            {
                ParsingState report;
                report.position = i;
                report.code = b;
                report.currentState = state;
                report.print = runs.print;
                report.dcs = runs.dcs;
                report.osc = m_osc;
                report.apc = m_apc;
                report.collect = collect();
                if (errorHandler) {
                    report = errorHandler(report);
                }
                if (report.abort) {
                    reset();
                    return;
                }
            }
            break;
        case Action::print:
            if (runs.print < 0) {
                runs.print = i;
                runs.printableAscii = b <= 0x7E;
            }
            break;
        case Action::execute:
            flushPrint(runs, i);
            dispatchExecute(b);
            break;
        case Action::oscStart:
            flushPrint(runs, i);
            releaseIfLarge(next == State::apcString ? m_apc : m_osc);
            m_stringOverflow = false;
            m_stringTail = 0;
            m_stringTailLength = 0;
            break;
        case Action::oscPut:
            appendString(state == State::apcString ? m_apc : m_osc, Bytes(p, 1));
            break;
        case Action::oscEnd:
            if (b == ST && !stringOnCharacterBoundary()) {
                appendString(state == State::apcString ? m_apc : m_osc, Bytes(p, 1));
                next = state;
                break;
            }
            endString(state == State::apcString ? StringKind::apc : StringKind::osc, b);
            if (b == ESC) {
                next = State::escape;
            }
            break;
        case Action::csiDispatch:
            if (!m_parameterLimitExceeded && !m_collectLimitExceeded) {
                dispatchCsi(sequence(b), m_params);
            }
            break;
        case Action::param:
            paramByte(b);
            break;
        case Action::collect:
            collectByte(b);
            break;
        case Action::escDispatch:
            if (!m_collectLimitExceeded) {
                dispatchEsc(sequence(b));
            }
            break;
        case Action::clear:
            flushPrint(runs, i);
            clearSequence();
            break;
        case Action::dcsHook:
            hookDcs(b);
            break;
        case Action::dcsPut:
            if (runs.dcs < 0) {
                runs.dcs = i;
            }
            break;
        case Action::dcsUnhook:
            unhookDcs();
            if (b == ESC) {
                next = State::escape;
            }
            break;
        }
        state = next;
        ++p;
    }

    const std::ptrdiff_t length = end - begin;
    flushPrint(runs, length);
    flushDcs(runs, length);
    m_currentState = state;
}

void EscapeSequenceParser::reset() {
    m_currentState = initialState;
    releaseIfLarge(m_osc);
    releaseIfLarge(m_apc);
    m_params.reset();
    m_collectLength = 0;
    m_collectId = 0;
    m_collectLimitExceeded = false;
    m_parameterLimitExceeded = false;
    m_stringOverflow = false;
    m_stringTail = 0;
    m_stringTailLength = 0;
    m_activeDcsHandler = nullptr;
    m_dcsLength = 0;
    m_dcsOverflow = false;
    resetPrintState();
}

void EscapeSequenceParser::resetPrintState() {
    if (m_terminal != nullptr) {
        m_terminal->resetPrintState();
    } else if (printStateReset) {
        printStateReset();
    }
}

void EscapeSequenceParser::dispatchExecute(std::uint8_t code) {
    if (m_terminal != nullptr) {
        m_terminal->execute(code);
    } else if (executeHandler) {
        executeHandler(code);
    }
}

void EscapeSequenceParser::dispatchEsc(const EscapeSequence& sequence) {
    if (m_terminal != nullptr) {
        m_terminal->dispatchEsc(sequence);
    } else if (escHandler) {
        escHandler(sequence);
    } else if (escHandlerFallback) {
        escHandlerFallback(sequence.collect, sequence.final);
    }
}

void EscapeSequenceParser::dispatchCsi(const EscapeSequence& sequence, const ParserParams& params) {
    if (m_terminal != nullptr) {
        m_terminal->dispatchCsi(sequence, params);
    } else if (csiHandler) {
        csiHandler(sequence, params);
    } else if (csiHandlerFallback) {
        csiHandlerFallback(params, sequence.collect, sequence.final);
    }
}

void EscapeSequenceParser::dispatchOsc(std::int64_t code, Bytes data) {
    if (!oscHandlers.empty()) {
        if (auto it = oscHandlers.find(code); it != oscHandlers.end() && it->second) {
            it->second(data);
            return;
        }
    }
    if (m_terminal != nullptr) {
        m_terminal->dispatchOsc(code, data);
    } else if (oscHandler) {
        oscHandler(code, data);
    } else if (oscHandlerFallback) {
        oscHandlerFallback(code, data);
    }
}

std::optional<std::int64_t> EscapeSequenceParser::parseDecimal(Bytes text) {
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

void EscapeSequenceParser::flushDcs(Runs& runs, std::ptrdiff_t end) {
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

void EscapeSequenceParser::clearControlSequence() {
    resetPrintState();
    m_params.reset();
    m_collectLength = 0;
    m_collectId = 0;
    m_collectLimitExceeded = false;
    m_parameterLimitExceeded = false;
}

void EscapeSequenceParser::clearSequence() {
    clearControlSequence();
    releaseIfLarge(m_osc);
    releaseIfLarge(m_apc);
    m_stringOverflow = false;
    m_stringTail = 0;
    m_stringTailLength = 0;
}

void EscapeSequenceParser::collectByte(std::uint8_t b) {
    if (m_collectLength >= maxCollect) {
        m_collectLimitExceeded = true;
        return;
    }
    m_collect[m_collectLength++] = b;
    m_collectId = m_collectId << 5 | collectCode(b);
}

void EscapeSequenceParser::paramByte(std::uint8_t b) {
    if (b == ';' || b == ':') {
        if (m_parameterLimitExceeded || !m_params.addSeparator(b)) {
            m_parameterLimitExceeded = true;
        }
    } else if (!m_parameterLimitExceeded) {
        m_params.addDigit(static_cast<std::uint8_t>(b - '0'));
    }
}

void EscapeSequenceParser::appendString(std::vector<std::uint8_t>& target, Bytes bytes) {
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

bool EscapeSequenceParser::stringOnCharacterBoundary() const {
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

void EscapeSequenceParser::endString(StringKind kind, std::uint8_t b) {
    if (b != CAN && b != SUB && !m_stringOverflow) {
        if (kind == StringKind::apc) {
            if (!m_apc.empty()) {
                const std::uint8_t command = m_apc[0];
                const Bytes payload = Bytes(m_apc).subspan(1);
                if (command == 'G' && kittyGraphicsHandler) {
                    kittyGraphicsHandler(payload);
                } else if (apcHandlerFallback) {
                    apcHandlerFallback(command, payload);
                }
            }
        } else if (!m_osc.empty()) {
            const Bytes text(m_osc);
            std::size_t semicolon = 0;
            while (semicolon < text.size() && text[semicolon] != ';') {
                ++semicolon;
            }
            const Bytes data = semicolon < text.size() ? text.subspan(semicolon + 1) : Bytes();
            if (const auto code = parseDecimal(text.first(semicolon))) {
                dispatchOsc(*code, data);
            }
        }
    }
    clearSequence();
}

void EscapeSequenceParser::hookDcs(std::uint8_t final) {
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

void EscapeSequenceParser::unhookDcs() {
    if (DcsHandler* handler = m_activeDcsHandler) {
        m_activeDcsHandler = nullptr;
        if (!m_dcsOverflow) {
            handler->unhook();
        }
    }
    clearSequence();
}

EscapeSequence EscapeSequenceParser::sequence(std::uint8_t final) const {
    return EscapeSequence{m_collectId << 8 | final, final, collect()};
}

} // namespace veldatron
