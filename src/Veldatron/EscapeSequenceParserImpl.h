#pragma once

// The parse loop of BasicEscapeSequenceParser, included only where the parser is instantiated for
// a sink: once for the terminal, once for the handler fields of tests and tools.

#include "EscapeSequenceParser.h"
#include "ParserScan.h"
#include "Profile.h"

#include <algorithm>
#include <cassert>

#if defined(VELDATRON_HAVE_SDT)
#include <sys/sdt.h>
#endif

namespace veldatron {
namespace parserdetail {

inline constexpr std::uint8_t BEL = 0x07;
inline constexpr std::uint8_t CAN = 0x18;
inline constexpr std::uint8_t EM = 0x19;
inline constexpr std::uint8_t SUB = 0x1A;
inline constexpr std::uint8_t ESC = 0x1B;
inline constexpr std::uint8_t DEL = 0x7F;
inline constexpr std::uint8_t DCS = 0x90;
inline constexpr std::uint8_t SOS = 0x98;
inline constexpr std::uint8_t CSI = 0x9B;
inline constexpr std::uint8_t ST = 0x9C;
inline constexpr std::uint8_t OSC = 0x9D;
inline constexpr std::uint8_t PM = 0x9E;
inline constexpr std::uint8_t APC = 0x9F;
inline constexpr std::uint8_t highColumn = 0xA0; // stands for every byte from 0xA0 up

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

// The length of the printable ASCII at `p` when the next control sequence (ESC [) follows it
// within scan::shortTextLimit bytes, the only ones read; -1 otherwise. One character, the
// commonest case, is told by compares: the scan's count would put its latency between one
// sequence and the next, where the compares leave a predicted branch.
inline int textBeforeSequence(const std::uint8_t* p) {
    if (static_cast<std::uint8_t>(p[0] - 0x20) < 0x5F && p[1] == ESC && p[2] == '[') {
        return 1;
    }
    const int n = scan::shortText(p);
    if (n >= scan::shortTextLimit - 1 || p[n] != ESC || p[n + 1] != '[') {
        return -1;
    }
    return n;
}

// What drawCells needs after the ESC [ of a sequence it reads: the parameters, the final and the
// text after them.
inline constexpr std::ptrdiff_t cellRunReach =
    2 + scan::shortParametersReach + scan::shortTextLimit;

class ParsingFlag {
public:
    explicit ParsingFlag(bool& flag) : m_flag(flag) { m_flag = true; }
    ~ParsingFlag() { m_flag = false; }

private:
    bool& m_flag;
};

} // namespace parserdetail

template <typename Sink>
void BasicEscapeSequenceParser<Sink>::flushPrint(Runs& runs, std::ptrdiff_t end) {
    if (runs.print < 0) {
        return;
    }
    const Bytes run(runs.chunk + runs.print, static_cast<std::size_t>(end - runs.print));
    runs.print = -1;
    if (!run.empty()) {
        m_sink.handlePrint(run, runs.printableAscii);
    }
}

template <typename Sink>
bool BasicEscapeSequenceParser<Sink>::readControlSequence(const std::uint8_t*& p,
                                                          const std::uint8_t* end,
                                                          ParserState& state) {
    // Markers, intermediates, controls, errors (a ':' right after CSI) and a list past its limit
    // take the table.
    std::uint8_t b = *p;
    if (m_parameterLimitExceeded || (b == ':' && state == ParserState::csiEntry)) {
        return false;
    }
    const std::uint8_t* const q = m_params.addParameterBytes(p, end);
    if (q != p) {
        state = ParserState::csiParam;
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
        m_sink.dispatchCsi(sequence(b), m_params);
    }
    state = ParserState::ground;
    ++p;
    return true;
}

template <typename Sink>
bool BasicEscapeSequenceParser<Sink>::readControlSequences(const std::uint8_t*& p,
                                                           const std::uint8_t* end,
                                                           ParserState& state) {
    using namespace parserdetail;
    for (;;) {
        // ESC [ in one step: both bytes clear the sequence state, once is enough. The parameters
        // follow at once: nearly every sequence ends in this chunk.
        clearControlSequence();
        state = ParserState::csiEntry;
        p += 2;
        if (p == end) {
            return true;
        }
        if (!readControlSequence(p, end, state)) {
            return false;
        }
        // A screen drawn cell by cell: a character or two, then the next control sequence. The
        // text is printed as the ground loop would print it, without a trip through that loop.
        if (state != ParserState::ground || end - p < scan::shortTextLimit) {
            return true;
        }
        const std::uint8_t final = p[-1];
        const int n = textBeforeSequence(p);
        if (n < 0) {
            return true;
        }
        if (n == 0) {
            continue;
        }
        m_sink.handlePrint(Bytes(p, static_cast<std::size_t>(n)), true);
        p += n;
        if constexpr (requires { typename Sink::CellRun; }) {
            // A move or a change of colours and its text: more of them probably follow.
            if (Sink::CellRun::isMove(final) || Sink::CellRun::isAttributes(final)) {
                p = drawCells<typename Sink::CellRun>(p, end);
                if (p[0] != ESC || p[1] != '[') {
                    return true;
                }
            }
        }
    }
}

template <typename Sink>
template <typename CellRun>
const std::uint8_t* BasicEscapeSequenceParser<Sink>::drawCells(const std::uint8_t* p,
                                                               const std::uint8_t* end) {
    using namespace parserdetail;
    CellRun run(m_sink);
    if (!run.active()) {
        return p;
    }
    // The parameters of the last move, which m_params does not hold yet; null when it does.
    const std::uint8_t* last = nullptr;
    while (end - p >= cellRunReach) {
        if (p[1] == '[') {
            const std::uint8_t* const parameters = p + 2;
            const scan::ShortParameters shape = scan::shortParameters(parameters);
            if (shape.length >= 0 && CellRun::isMove(parameters[shape.length])) {
                const unsigned secondLength =
                    static_cast<unsigned>(std::max(shape.length - shape.separator - 1, 0));
                run.move(parameters[shape.length],
                         static_cast<int>(ParserParams::shortValue(
                             parameters, static_cast<unsigned>(shape.separator))),
                         static_cast<int>(ParserParams::shortValue(parameters + shape.separator + 1,
                                                                   secondLength)));
                last = parameters;
                p = parameters + shape.length + 1;
            } else {
                // Edits and colours, whose lists are often longer than a move's, are read as the
                // general way reads them. Anything else is read again there.
                clearControlSequence();
                const std::uint8_t* const stop = m_params.addParameterBytes(parameters, end);
                // A list longer than a move's may run up to the end of the chunk: the text scan
                // after it reads shortTextLimit bytes, which the loop's own check no longer
                // vouches for. Such a sequence is read again the general way.
                if (end - stop <= scan::shortTextLimit) {
                    break;
                }
                const std::uint8_t final = *stop;
                if (CellRun::isAttributes(final)) {
                    run.setAttributes(m_params);
                } else if (CellRun::isEdit(final)) {
                    run.store();
                    m_sink.dispatchCsi(sequence(final), m_params);
                } else {
                    break;
                }
                last = nullptr;
                p = stop + 1;
            }
        } else if (p[1] == '7' || p[1] == '8') {
            // DECSC saves what the run keeps; DECRC brings back a cursor, an attribute and modes.
            run.store();
            clearControlSequence();
            m_sink.dispatchEsc(sequence(p[1]));
            last = nullptr;
            p += 2;
            if (p[-1] == '8' && !run.reload()) {
                return p;
            }
        } else {
            break;
        }
        // The text up to the next ESC.
        int n = 1;
        if (static_cast<std::uint8_t>(p[0] - 0x20) >= 0x5F || p[1] != ESC) {
            n = scan::shortText(p);
            if (n >= scan::shortTextLimit - 1 || p[n] != ESC) {
                break;
            }
        }
        if (n != 0 && !run.print(p, n)) {
            break;
        }
        p += n;
    }
    run.store();
    // Stopped at a control sequence, the parameters are read again anyway.
    if (last != nullptr && (p[0] != ESC || p[1] != '[')) {
        clearControlSequenceState();
        m_params.addParameterBytes(last, end);
    }
    return p;
}

template <typename Sink> void BasicEscapeSequenceParser<Sink>::parse(Bytes data) {
    using namespace parserdetail;
    using State = ParserState;
    using Action = ParserAction;

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
                if (b == '\r' && end - p >= 2 && p[1] == '\n') {
                    // CR LF, the end of nearly every line, in one step.
                    m_sink.execute('\r');
                    m_sink.execute('\n');
                    p += 2;
                    // Plain text or another CR next: perhaps a log scrolling past, whose lines
                    // the sink takes whole. The printable start of the line after them is
                    // already scanned: it becomes the pending print run.
                    if (end - p >= 2 &&
                        (static_cast<std::uint8_t>(*p - 0x20) < 0x5F || *p == '\r')) {
                        PlainLines lines(p, end);
                        if (lines.available()) {
                            m_sink.feedPlainLines(lines);
                        }
                        p = lines.position();
                        if (lines.scanned() != p) {
                            runs.print = p - begin;
                            runs.printableAscii = true;
                            p = lines.scanned();
                        }
                    }
                    continue;
                }
                if (b == '\n' && end - p >= 3 && p[1] == '\r' && p[2] >= 0x20) {
                    // LF CR and the text of the next line (a region scrolled line by line ends
                    // its lines this way) in one step: the ground loop would classify each of
                    // the three bytes again, with a branch that text and controls take in turn.
                    m_sink.execute('\n');
                    m_sink.execute('\r');
                    p += 2;
                    runs.print = p - begin;
                    runs.printableAscii = true;
                    p = scan::ground(p, end, runs.printableAscii);
                    continue;
                }
                m_sink.execute(b);
                ++p;
                continue;
            }
            if (b == ESC && end - p >= 2) {
                if (p[1] == '[') {
                    flushPrint(runs, p - begin);
                    if (readControlSequences(p, end, state)) {
                        continue;
                    }
                    b = *p;
                    break;
                }
                if (m_table.action(State::escape, p[1]) == Action::escDispatch) {
                    // ESC and its final byte in one step (DECSC, DECRC, RI): nothing to collect.
                    flushPrint(runs, p - begin);
                    clearControlSequence();
                    m_sink.dispatchEsc(sequence(p[1]));
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
            if (reportError(i, b, state, runs)) {
                reset();
                return;
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
            m_sink.execute(b);
            break;
        case Action::oscStart:
            flushPrint(runs, i);
            startString(next == State::apcString ? StringKind::apc : StringKind::osc);
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
                m_sink.dispatchCsi(sequence(b), m_params);
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
                m_sink.dispatchEsc(sequence(b));
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
            clearSequence();
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

template <typename Sink> void BasicEscapeSequenceParser<Sink>::reset() {
    resetSequenceState();
    m_sink.resetPrintState();
}

template <typename Sink> void BasicEscapeSequenceParser<Sink>::clearSequence() {
    clearControlSequence();
    clearStringState();
}

template <typename Sink>
void BasicEscapeSequenceParser<Sink>::endString(StringKind kind, std::uint8_t b) {
    using namespace parserdetail;
    if (b != CAN && b != SUB && !m_stringOverflow) {
        if (kind == StringKind::apc) {
            dispatchApc();
        } else if (const auto command = oscCommand()) {
            routeOsc(command->first, command->second);
        }
    }
    clearSequence();
}

template <typename Sink>
void BasicEscapeSequenceParser<Sink>::routeOsc(std::int64_t code, Bytes data) {
    if (!oscHandlers.empty()) {
        if (auto it = oscHandlers.find(code); it != oscHandlers.end() && it->second) {
            it->second(data);
            return;
        }
    }
    m_sink.dispatchOsc(code, data);
}

} // namespace veldatron
