#pragma once

#include "SequenceId.h"
#include "ParserParams.h"
#include "ParserScan.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

namespace veldatron {

class DcsHandler;

/// The states of the VT500-series parser, stored as one byte in this order.
enum class ParserState : std::uint8_t {
    ground = 0,
    escape = 1,
    escapeIntermediate = 2,
    csiEntry = 3,
    csiParam = 4,
    csiIntermediate = 5,
    csiIgnore = 6,
    sosPmApcString = 7,
    oscString = 8,
    apcString = 9,
    dcsEntry = 10,
    dcsParam = 11,
    dcsIgnore = 12,
    dcsIntermediate = 13,
    dcsPassthrough = 14,
};

/// What the parser does with one byte; the three OSC actions also serve APC strings.
enum class ParserAction : std::uint8_t {
    ignore = 0,
    error = 1,
    print = 2,
    execute = 3,
    oscStart = 4,
    oscPut = 5,
    oscEnd = 6,
    csiDispatch = 7,
    param = 8,
    collect = 9,
    escDispatch = 10,
    clear = 11,
    dcsHook = 12,
    dcsPut = 13,
    dcsUnhook = 14,
};

/// The transition table: one byte per (state, input) holding `action << 4 | next state`, at
/// `state << 8 | column`, where the column is the byte itself below 0xA0 and 0xA0 for every byte
/// from 0xA0 up (UTF-8 lead and continuation bytes all behave alike). Built at compile time and
/// shared read-only by every parser of the process.
class TransitionTable {
public:
    static constexpr std::size_t size = 4095;

    static const TransitionTable& sharedVt500Table();

    static constexpr std::size_t index(ParserState state, std::uint8_t byte) {
        return static_cast<std::size_t>(state) << 8 | (byte < 0xA0 ? byte : 0xA0);
    }
    ParserAction action(ParserState state, std::uint8_t byte) const {
        return static_cast<ParserAction>(table[index(state, byte)] >> 4);
    }
    ParserState next(ParserState state, std::uint8_t byte) const {
        return static_cast<ParserState>(table[index(state, byte)] & 0x0F);
    }

    std::array<std::uint8_t, size> table{};
};

/// The parser's situation at a byte that fits no sequence, handed to the error handler. The spans
/// point into the parser and are valid during the call only.
struct ParsingState {
    std::ptrdiff_t position = 0; // index of the byte in the chunk
    std::uint8_t code = 0;       // the byte
    ParserState currentState = ParserState::ground;
    std::ptrdiff_t print = -1; // start of the pending print run in the chunk, -1 when none
    std::ptrdiff_t dcs = -1;   // start of the pending DCS data run in the chunk, -1 when none
    std::span<const std::uint8_t> osc;
    std::span<const std::uint8_t> apc;
    std::span<const std::uint8_t> collect;
    std::span<const std::int32_t> parameters; // always empty
    /// Set by the handler to stop parsing the chunk: the rest of the chunk and the runs pending
    /// in it are dropped and the parser is `reset()`.
    bool abort = false;
};

/// The plain lines at the parser's position after a CR LF in ground, each printable ASCII
/// (0x20-0x7E) ended by CR LF: a log scrolling past. The sink takes them one at a time from the
/// front; each byte is scanned once, and the scan of the first line that is not plain (its
/// printable prefix) is kept for the parser to resume from.
class PlainLines {
public:
    using Bytes = std::span<const std::uint8_t>;

    PlainLines(const std::uint8_t* p, const std::uint8_t* end) : m_p(p), m_end(end) { scanLine(); }

    /// True while the front is a plain line.
    bool available() const { return m_plain; }
    /// The front line's text without its CR LF; only while `available()`.
    Bytes front() const { return {m_p, m_scanned}; }
    /// Steps past the front line (and its CR LF).
    void pop() {
        m_p = m_scanned + 2;
        scanLine();
    }

    /// Where the first line the sink left begins.
    const std::uint8_t* position() const { return m_p; }
    /// The end of that line's printable-ASCII prefix.
    const std::uint8_t* scanned() const { return m_scanned; }

private:
    void scanLine() {
        m_scanned = scan::printable(m_p, m_end);
        m_plain = m_end - m_scanned >= 2 && m_scanned[0] == '\r' && m_scanned[1] == '\n';
    }

    const std::uint8_t* m_p;
    const std::uint8_t* m_end;
    const std::uint8_t* m_scanned = nullptr;
    bool m_plain = false;
};

/// The sink-independent half of the parser: the transition table, what a sequence collected so
/// far (parameters, intermediates, strings), the DCS string in progress and the handlers every
/// sink shares. Compiled once; `BasicEscapeSequenceParser` adds the loop over a sink.
class EscapeSequenceParserBase {
public:
    using Bytes = std::span<const std::uint8_t>;

    /// Longest OSC or APC string, and longest DCS string, that is still delivered; a longer one is
    /// discarded at its terminator. Inline images (OSC 1337) and clipboard writes (OSC 52) reach
    /// several MiB, so the default leaves ample room for them.
    static constexpr std::size_t defaultMaxStringLength = 32u << 20;
    /// Private marker and intermediates together; a sequence that collects more is void.
    static constexpr std::size_t maxCollect = 4;

    EscapeSequenceParserBase();
    EscapeSequenceParserBase(const EscapeSequenceParserBase&) = delete;
    EscapeSequenceParserBase& operator=(const EscapeSequenceParserBase&) = delete;

    /// The value of bytes read as an unsigned decimal number; none for an empty slice, a byte
    /// other than 0-9, or a value beyond the 64-bit signed range.
    static std::optional<std::int64_t> parseDecimal(Bytes text);

    ParserState currentState() const { return m_currentState; }
    const ParserParams& params() const { return m_params; }
    Bytes collect() const { return {m_collect.data(), m_collectLength}; }
    Bytes osc() const { return m_osc; }
    Bytes apc() const { return m_apc; }
    bool parameterLimitExceeded() const { return m_parameterLimitExceeded; }
    DcsHandler* activeDcsHandler() const { return m_activeDcsHandler; }

    // ---- Handlers shared by every sink; an empty one does nothing. ----

    /// A byte that fits no sequence; returns the state, with `abort` set to stop the chunk.
    std::function<ParsingState(ParsingState)> errorHandler;
    /// OSC handlers registered by the host, consulted before the sink's.
    std::unordered_map<std::int64_t, std::function<void(Bytes data)>> oscHandlers;
    /// The payload of an APC string whose command byte is "G" (kitty graphics); when empty such
    /// strings go to `apcHandlerFallback`.
    std::function<void(Bytes payload)> kittyGraphicsHandler;
    /// Receives DCS strings with final "q" and no intermediates (sixel). Not owned.
    DcsHandler* sixelDcsHandler = nullptr;
    /// Receives DCS strings "$ q" (status-string requests). Not owned.
    DcsHandler* decrqssDcsHandler = nullptr;

    /// What a sink does with sequences it does not know: log them (the terminal) or record them
    /// (tests). The parser itself only calls `apcHandlerFallback`.
    std::function<void(Bytes collect, std::uint8_t final)> escHandlerFallback;
    std::function<void(const ParserParams& params, Bytes collect, std::uint8_t final)>
        csiHandlerFallback;
    std::function<void(std::int64_t code, Bytes data)> oscHandlerFallback;
    std::function<void(std::uint8_t command, Bytes payload)> apcHandlerFallback;
    /// Kept for hosts that install them; the parser never calls these two.
    std::function<void(std::uint8_t final, const ParserParams& params)> dscHandlerFallback;
    std::function<void()> executeHandlerFallback;

    /// The state `reset` returns to.
    ParserState initialState = ParserState::ground;
    /// See `defaultMaxStringLength`.
    std::size_t maxStringLength = defaultMaxStringLength;

protected:
    enum class StringKind : std::uint8_t { osc, apc };

    // Runs of data pending in the current chunk (offsets into it, -1 when none).
    struct Runs {
        const std::uint8_t* chunk = nullptr;
        std::ptrdiff_t print = -1;
        std::ptrdiff_t dcs = -1;
        bool printableAscii = true;
    };

    ~EscapeSequenceParserBase() = default;

    // Everything `reset` clears but the sink's print state.
    void resetSequenceState();
    // The parameters and intermediates, before every control sequence.
    void clearControlSequenceState() {
        m_params.reset();
        m_collectLength = 0;
        m_collectId = 0;
        m_collectLimitExceeded = false;
        m_parameterLimitExceeded = false;
    }
    // The strings' buffers and their tail, when a string starts or ends.
    void clearStringState();
    void flushDcs(Runs& runs, std::ptrdiff_t end);
    void collectByte(std::uint8_t b);
    void paramByte(std::uint8_t b);
    void appendString(std::vector<std::uint8_t>& target, Bytes bytes);
    void startString(StringKind kind);
    bool stringOnCharacterBoundary() const;
    // The APC string just ended, to the kitty graphics handler or the fallback.
    void dispatchApc();
    // The code and data of the OSC string just ended; none when it has no numeric code.
    std::optional<std::pair<std::int64_t, Bytes>> oscCommand() const;
    void hookDcs(std::uint8_t final);
    // Ends the active DCS string; the caller then clears the sequence.
    void unhookDcs();
    // The error handler's view of a byte that fits no sequence; true when it aborts the chunk.
    bool reportError(std::ptrdiff_t position, std::uint8_t code, ParserState state,
                     const Runs& runs);
    SequenceId sequence(std::uint8_t final) const {
        return SequenceId{m_collectId << 8 | final, final, collect()};
    }

    const TransitionTable& m_table;
    ParserState m_currentState = ParserState::ground;
    std::vector<std::uint8_t> m_osc;
    std::vector<std::uint8_t> m_apc;
    ParserParams m_params;
    std::array<std::uint8_t, maxCollect> m_collect{};
    std::uint8_t m_collectLength = 0;
    std::uint32_t m_collectId = 0;
    bool m_collectLimitExceeded = false;
    bool m_parameterLimitExceeded = false;
    // The string being collected grew over maxStringLength; it is dropped at its terminator.
    bool m_stringOverflow = false;
    // The last (up to three) bytes of the string being collected, most recent in the low byte,
    // kept even past the limit: they decide whether 0x9C is ST or a UTF-8 continuation byte.
    std::uint32_t m_stringTail = 0;
    std::uint8_t m_stringTailLength = 0;
    DcsHandler* m_activeDcsHandler = nullptr;
    std::size_t m_dcsLength = 0;
    bool m_dcsOverflow = false;
    bool m_parsing = false;
};

/// Turns the byte stream a program writes into calls on a sink: the terminal in production
/// (`Terminal`), the handler fields of `EscapeSequenceParser` in tests and tools. Dispatch is
/// static: the loop is compiled for each sink (EscapeSequenceParserImpl.h, instantiated once per
/// sink), so the terminal's inline entry points become part of it. A sink provides
///   handlePrint(Bytes run, bool printableAscii)  a run of bytes from 0x20 up received in ground;
///                                    `printableAscii` is true when every byte lies in 0x20-0x7E
///   feedPlainLines(PlainLines&)      the plain lines after a CR LF, taken from the front; each
///                                    one taken acts as its text printed, then CR, then LF
///   resetPrintState()                drops whatever the print path carried over (an incomplete
///                                    UTF-8 character); called at every ESC, CSI and DCS
///                                    introducer, at the end of every OSC, APC and DCS string,
///                                    and by `reset`
///   execute(code)                    C0 control bytes (and C1 bytes outside ground)
///   dispatchEsc(sequence), dispatchCsi(sequence, params), dispatchOsc(code, data)
/// The parser never fails: bytes that fit no sequence reach the error handler and parsing goes on.
///
/// Printable text is never copied: the sink receives each run as a slice of the caller's chunk,
/// and likewise DCS data. OSC and APC strings are collected (up to `maxStringLength` bytes) and
/// handed over whole. Parameters, intermediates and strings live in members reused for every
/// sequence, so steady-state parsing allocates nothing.
///
/// Owned by its sink's owner; keeps a reference to the sink without owning it. Not thread-safe,
/// and not reentrant: a handler must not call `parse` (it may call `reset`).
template <typename Sink> class BasicEscapeSequenceParser : public EscapeSequenceParserBase {
public:
    explicit BasicEscapeSequenceParser(Sink& sink) : m_sink(sink) {}

    /// Consumes one chunk; every handler it triggers runs before it returns. A sequence may be
    /// split across chunks at any byte.
    void parse(Bytes data);

    /// Back to `initialState` with nothing collected and no active DCS handler; then the sink's
    /// print state is reset.
    void reset();

private:
    // Inline: it ends the text of nearly every line, before its CR or LF.
    [[gnu::always_inline]] inline void flushPrint(Runs& runs, std::ptrdiff_t end);
    // The parameters and final byte of a control sequence from `p` (state csiEntry or csiParam),
    // dispatched; false, with `p` at it, for a byte the transition table must take. Inline: it
    // runs for every control sequence, straight after its introducer.
    [[gnu::always_inline]] inline bool
    readControlSequence(const std::uint8_t*& p, const std::uint8_t* end, ParserState& state);
    // The control sequence whose ESC [ is at `p` (in ground, the print run before it flushed),
    // and each further one that follows it after nothing but a short run of printable ASCII;
    // false, with `p` at it, for a byte the transition table must take.
    [[gnu::always_inline]] inline bool
    readControlSequences(const std::uint8_t*& p, const std::uint8_t* end, ParserState& state);
    // A screen drawn cell by cell from `p` (an ESC [): cursor moves and colour changes
    // (CellRun::isAttributes), each followed by a short run of printable ASCII, with the few
    // sequences that come between them (CellRun::isEdit, DECSC, DECRC), taken by a CellRun of the
    // sink in one run. Returns where the run stopped: at
    // the ESC of a sequence it does not take, or at text that it leaves to the ground loop. The
    // parser is left as the sequences read one by one would leave it.
    template <typename CellRun>
    const std::uint8_t* drawCells(const std::uint8_t* p, const std::uint8_t* end);
    // clearSequence for a control sequence that starts in ground: no string is being collected
    // there (each string's buffer was released when it ended), so only the parameters, the
    // intermediates and the print state are cleared. Runs before every control sequence.
    void clearControlSequence() {
        m_sink.resetPrintState();
        clearControlSequenceState();
    }
    void clearSequence();
    void endString(StringKind kind, std::uint8_t b);
    // `oscHandlers` first, then the sink.
    void routeOsc(std::int64_t code, Bytes data);

    Sink& m_sink;
};

/// The sink of tests and tools: each call goes to a handler field, or to the shared fallback
/// when the field is empty; an empty handler does nothing.
class EscapeSequenceParser : public BasicEscapeSequenceParser<EscapeSequenceParser> {
public:
    EscapeSequenceParser() : BasicEscapeSequenceParser(*this) {}

    /// A run of bytes from 0x20 up received in ground. `printableAscii` is true when every byte of
    /// the run lies in 0x20-0x7E, so the print path can skip its own check.
    std::function<void(Bytes run, bool printableAscii)> printHandler;
    /// Drops whatever the print path carried over (see the sink's resetPrintState).
    std::function<void()> printStateReset;
    /// C0 control bytes (and C1 bytes outside ground).
    std::function<void(std::uint8_t code)> executeHandler;
    /// Escape sequences; when empty they go to `escHandlerFallback`.
    std::function<void(const SequenceId&)> escHandler;
    /// Control sequences; when empty they go to `csiHandlerFallback`. The params are the parser's
    /// own (also readable through `params()`).
    std::function<void(const SequenceId&, const ParserParams&)> csiHandler;
    /// Operating-system commands with no handler in `oscHandlers`; when empty they go to
    /// `oscHandlerFallback`.
    std::function<void(std::int64_t code, Bytes data)> oscHandler;

    // The sink, called by the parser.
    void handlePrint(Bytes run, bool printableAscii);
    void feedPlainLines(PlainLines& lines);
    void resetPrintState();
    void execute(std::uint8_t code);
    void dispatchEsc(const SequenceId& sequence);
    void dispatchCsi(const SequenceId& sequence, const ParserParams& params);
    void dispatchOsc(std::int64_t code, Bytes data);
};

extern template class BasicEscapeSequenceParser<EscapeSequenceParser>;

} // namespace veldatron
