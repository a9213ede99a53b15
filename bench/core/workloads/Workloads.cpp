#include "Workloads.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace bench {
namespace {

// splitmix64: small, fast and fixed forever, unlike the standard library's distributions.
class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    /// Uniform in [0, n).
    unsigned below(unsigned n) { return static_cast<unsigned>(next() % n); }
    unsigned between(unsigned from, unsigned to) { return from + below(to - from + 1); }
    template <typename T, std::size_t N> const T& pick(const T (&items)[N]) {
        return items[below(static_cast<unsigned>(N))];
    }

private:
    std::uint64_t m_state;
};

// Appends one scalar as UTF-8.
void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    char text[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

const char* const words[] = {
    "request", "handled", "worker",  "cache",   "miss",    "hit",    "upstream", "timeout",
    "retry",   "queue",   "flushed", "session", "opened",  "closed", "user",     "token",
    "refresh", "index",   "build",   "target",  "linking", "done",   "warning",  "error",
    "commit",  "branch",  "merge",   "fetch",   "payload", "bytes",  "latency",  "shard"};
const char* const levels[] = {"INFO ", "DEBUG", "WARN ", "INFO ", "ERROR", "TRACE"};
const unsigned statuses[] = {200, 200, 200, 204, 304, 404, 500};
const unsigned sgrStyles[] = {0, 1, 3, 4, 7, 22, 39};
const char* const paths[] = {"/api/v1/items",  "/api/v1/users", "/healthz", "/v1/rules",
                             "/static/app.js", "/v1/sessions",  "/metrics"};

// Plain ASCII log lines of 60 to 160 bytes, as a server or build tool prints them.
std::string asciiLog(std::size_t bytes) {
    Random r(1);
    std::string out;
    out.reserve(bytes + 256);
    unsigned seconds = 0;
    while (out.size() < bytes) {
        seconds += r.below(3);
        std::string line =
            format("2025-03-14T%02u:%02u:%02u.%03uZ %s [worker-%02u] ", 8 + seconds / 3600 % 12,
                   seconds / 60 % 60, seconds % 60, r.below(1000), r.pick(levels), r.below(32));
        line += format("GET %s/%u status=%u bytes=%u dur=%u.%ums", r.pick(paths), r.below(100000),
                       r.pick(statuses), r.below(65536), r.below(400), r.below(10));
        const unsigned target = r.between(60, 160);
        while (line.size() + 2 < target) {
            line += ' ';
            line += r.pick(words);
        }
        line.resize(target - 2 < line.size() ? target - 2 : line.size());
        out += line;
        out += "\r\n";
    }
    return out;
}

// Every cell with its own colours: 256-colour and true-colour SGR before most characters, as
// syntax-highlighted diffs and colour tests produce.
std::string denseColour(std::size_t bytes) {
    Random r(2);
    std::string out;
    out.reserve(bytes + 256);
    while (out.size() < bytes) {
        for (int col = 0; col < 80; ++col) {
            switch (r.below(4)) {
            case 0:
                out += format("\x1b[38;5;%um", r.below(256));
                break;
            case 1:
                out += format("\x1b[38;2;%u;%u;%um", r.below(256), r.below(256), r.below(256));
                break;
            case 2:
                out += format("\x1b[%u;48;5;%um", r.pick(sgrStyles), r.below(256));
                break;
            default:
                break; // same colours as the previous cell
            }
            out += static_cast<char>('!' + r.below(94));
        }
        out += "\x1b[0m\r\n";
    }
    return out;
}

// Text beyond ASCII: CJK (two columns), accents as combining marks, Cyrillic and Greek, box
// drawing, and emoji alone, with skin tones, with VS16, as flags and as ZWJ families.
std::string unicodeText(std::size_t bytes) {
    static const char* const pieces[] = {
        "你好",
        "世界",
        "日本語の文章",
        "한국어",
        "e\xcc\x81",
        "a\xcc\x8a",
        "Привет",
        "Ελληνικά",
        "naïve café",
        "─┼─",
        "│",
        "😀",
        "👍🏽",
        "☺\xef\xb8\x8f",
        "🇩🇪",
        "🇯🇵",
        "👨‍👩‍👧‍👦",
        "🏳️‍🌈",
        "→ ≠ ∞",
        "ﬁ",
        "Ⅻ",
        "العربية",
        "עברית",
        "plain ascii",
    };
    Random r(3);
    std::string out;
    out.reserve(bytes + 256);
    while (out.size() < bytes) {
        const unsigned count = r.between(4, 14);
        for (unsigned i = 0; i < count; ++i) {
            out += r.pick(pieces);
            out += r.below(3) ? " " : "";
        }
        out += "\r\n";
    }
    return out;
}

// Text beyond ASCII with thousands of distinct grapheme clusters, in random combination: CJK,
// Hangul and kana; Latin letters with one or two combining marks; Greek and Cyrillic; emoji
// alone, with a skin tone, with VS16, as ZWJ families and as flags of any two letters.
std::string unicodeMix(std::size_t bytes) {
    static const char32_t hands[] = {0x1F44A, 0x1F44B, 0x1F44C, 0x1F44D, 0x1F44E, 0x1F44F,
                                     0x1F450, 0x1F64B, 0x1F64C, 0x1F64F};
    static const char32_t textEmoji[] = {0x263A, 0x2764, 0x2714, 0x2600, 0x2601, 0x270C,
                                         0x2744, 0x2B50, 0x26A1, 0x2708};
    static const char32_t people[] = {0x1F468, 0x1F469, 0x1F466, 0x1F467};
    Random r(8);
    std::string out;
    out.reserve(bytes + 256);
    const auto word = [&](char32_t from, char32_t to, unsigned length) {
        for (unsigned i = 0; i < length; ++i) {
            appendUtf8(out, from + r.below(static_cast<unsigned>(to - from + 1)));
        }
    };
    while (out.size() < bytes) {
        const unsigned count = r.between(4, 12);
        for (unsigned i = 0; i < count; ++i) {
            switch (r.below(10)) {
            case 0:
                word(0x4E00, 0x9FFF, r.between(2, 6)); // CJK ideographs
                break;
            case 1:
                word(0xAC00, 0xD7A3, r.between(2, 5)); // Hangul syllables
                break;
            case 2:
                word(0x3041, 0x3096, r.between(2, 5)); // hiragana
                word(0x30A1, 0x30FA, r.between(1, 3)); // katakana
                break;
            case 3:
            case 4:
                // Twenty letters with one or two of sixteen marks: thousands of clusters.
                for (unsigned n = r.between(3, 8); n > 0; --n) {
                    appendUtf8(out, U'a' + r.below(20));
                    for (unsigned marks = r.between(1, 2); marks > 0; --marks) {
                        appendUtf8(out, 0x0300 + r.below(16));
                    }
                }
                break;
            case 5:
                word(0x03B1, 0x03C9, r.between(3, 9)); // Greek
                break;
            case 6:
                word(0x0430, 0x044F, r.between(3, 9)); // Cyrillic
                break;
            case 7:
                switch (r.below(4)) {
                case 0:
                    appendUtf8(out, 0x1F600 + r.below(80));
                    break;
                case 1:
                    appendUtf8(out, r.pick(hands));
                    appendUtf8(out, 0x1F3FB + r.below(5)); // skin tone
                    break;
                case 2:
                    appendUtf8(out, r.pick(textEmoji));
                    appendUtf8(out, 0xFE0F);
                    break;
                default:
                    appendUtf8(out, 0x1F1E6 + r.below(26)); // flag
                    appendUtf8(out, 0x1F1E6 + r.below(26));
                    break;
                }
                break;
            case 8:
                // A family of two to four.
                for (unsigned members = r.between(2, 4), m = 0; m < members; ++m) {
                    if (m > 0) {
                        appendUtf8(out, 0x200D);
                    }
                    appendUtf8(out, r.pick(people));
                }
                break;
            default:
                out += r.pick(words);
                break;
            }
            out += ' ';
        }
        out += "\r\n";
    }
    return out;
}

// Many short lines (1 to 12 bytes), each a line feed that scrolls: `seq`, `yes`, progress output.
std::string shortLines(std::size_t bytes) {
    Random r(4);
    std::string out;
    out.reserve(bytes + 64);
    unsigned n = 0;
    while (out.size() < bytes) {
        switch (r.below(3)) {
        case 0:
            out += std::to_string(n++);
            break;
        case 1:
            out += "y";
            break;
        default:
            out += std::string(r.between(1, 12), static_cast<char>('a' + r.below(26)));
            break;
        }
        out += "\r\n";
    }
    return out;
}

// Scrolling inside a region: a pager or a chat pane with fixed header and footer. Sets a scroll
// region, writes lines at its bottom (each line feed scrolls the region), inserts and deletes
// lines, scrolls up and down, and reverse-indexes at the top.
std::string regionScroll(std::size_t bytes) {
    Random r(5);
    std::string out;
    out.reserve(bytes + 256);
    while (out.size() < bytes) {
        const unsigned top = r.between(2, 6);
        const unsigned bottom = r.between(16, 23);
        out += format("\x1b[%u;%ur\x1b[%u;1H", top, bottom, bottom);
        for (int i = 0; i < 40; ++i) {
            out += "\n\r";
            out += r.pick(words);
            out += ' ';
            out += r.pick(words);
            out += format(" %u", r.below(100000));
            switch (r.below(8)) {
            case 0:
                out += format("\x1b[%u;1H\x1bM\x1b[%u;1H", top, bottom);
                break;
            case 1:
                out += format("\x1b[%uS", r.between(1, 3));
                break;
            case 2:
                out += format("\x1b[%uT\x1b[%u;1H", r.between(1, 3), bottom);
                break;
            case 3:
                out += format("\x1b[%u;1H\x1b[%uL\x1b[%u;1H", top + 1, r.between(1, 2), bottom);
                break;
            case 4:
                out += format("\x1b[%u;1H\x1b[%uM\x1b[%u;1H", top + 1, r.between(1, 2), bottom);
                break;
            default:
                break;
            }
        }
        out += "\x1b[r";
    }
    return out;
}

// Cursor motion with little text: absolute and relative moves, column and row positioning,
// erases, saved and restored cursor, as editors and progress displays move around.
std::string cursorMotion(std::size_t bytes) {
    Random r(6);
    std::string out;
    out.reserve(bytes + 64);
    while (out.size() < bytes) {
        switch (r.below(10)) {
        case 0:
        case 1:
            out += format("\x1b[%u;%uH", r.between(1, 24), r.between(1, 80));
            break;
        case 2:
            out += format("\x1b[%uA", r.between(1, 5));
            break;
        case 3:
            out += format("\x1b[%uB", r.between(1, 5));
            break;
        case 4:
            out += format("\x1b[%uC", r.between(1, 10));
            break;
        case 5:
            out += format("\x1b[%uD", r.between(1, 10));
            break;
        case 6:
            out += format("\x1b[%uG\x1b[%ud", r.between(1, 80), r.between(1, 24));
            break;
        case 7:
            out += r.below(2) ? "\x1b[K" : format("\x1b[%uX", r.between(1, 8));
            break;
        case 8:
            out += "\x1b"
                   "7\x1b[1;70H12:34\x1b"
                   "8";
            break;
        default:
            break;
        }
        out += r.pick(words);
    }
    return out;
}

// Cursor motion with one character per move, as an editor or a game redraws single cells:
// absolute, column and relative moves, each followed by one character.
std::string cursorCharacters(std::size_t bytes) {
    Random r(9);
    std::string out;
    out.reserve(bytes + 64);
    while (out.size() < bytes) {
        switch (r.below(6)) {
        case 0:
        case 1:
            out += format("\x1b[%u;%uH", r.between(1, 40), r.between(1, 120));
            break;
        case 2:
            out += format("\x1b[%uG", r.between(1, 120));
            break;
        case 3:
            out += format("\x1b[%uC", r.between(1, 10));
            break;
        case 4:
            out += format("\x1b[%uD", r.between(1, 10));
            break;
        default:
            out += r.below(2) ? "\x1b[A" : "\x1b[B";
            break;
        }
        out += static_cast<char>('!' + r.below(94));
    }
    return out;
}

// Full-screen redraws as TUIs send them: each frame inside synchronized output (mode 2026) with
// the cursor hidden, a coloured title bar, boxed panes with lines of highlighted text, a status
// line in reverse video and the cursor put back.
std::string tuiRedraw(std::size_t bytes) {
    Random r(7);
    std::string out;
    out.reserve(bytes + 4096);
    while (out.size() < bytes) {
        out += "\x1b[?2026h\x1b[?25l\x1b[H";
        out += "\x1b[1;38;2;220;220;220;48;2;40;44;52m agent \xe2\x94\x82 session ";
        out += std::to_string(r.below(1000));
        out += "\x1b[K\x1b[0m";
        for (unsigned row = 2; row < 24; ++row) {
            out += format("\x1b[%u;1H\x1b[38;5;240m\xe2\x94\x82\x1b[0m ", row);
            const unsigned spans = r.between(1, 6);
            for (unsigned s = 0; s < spans; ++s) {
                out += format("\x1b[%s38;5;%um", r.below(4) ? "" : "1;", r.below(256));
                out += r.pick(words);
                out += ' ';
                out += r.pick(words);
                out += "\x1b[0m ";
            }
            out += "\x1b[K";
            out += format("\x1b[%u;80H\x1b[38;5;240m\xe2\x94\x82\x1b[0m", row);
        }
        out +=
            format("\x1b[24;1H\x1b[7m NORMAL \x1b[27m %s:%u \x1b[K", r.pick(paths), r.below(5000));
        out += format("\x1b[%u;%uH\x1b[?25h\x1b[?2026l", r.between(2, 23), r.between(3, 78));
    }
    return out;
}

} // namespace

const std::vector<Workload>& workloads() {
    static const std::vector<Workload> all = {
        {"ascii-log", "plain ASCII log lines", asciiLog},
        {"dense-colour", "a colour change before most cells", denseColour},
        {"unicode", "wide, combining, RTL and emoji sequences", unicodeText},
        {"unicode-mix", "thousands of distinct clusters in random mix", unicodeMix},
        {"short-lines", "many short scrolling lines", shortLines},
        {"region-scroll", "scrolling inside a scroll region", regionScroll},
        {"cursor-motion", "cursor motion with little text", cursorMotion},
        {"cursor-chars", "one character after each cursor move", cursorCharacters},
        {"tui-redraw", "TUI redraws inside synchronized output", tuiRedraw},
    };
    return all;
}

const Workload* findWorkload(const std::string& name) {
    for (const Workload& w : workloads()) {
        if (name == w.name) {
            return &w;
        }
    }
    return nullptr;
}

} // namespace bench
