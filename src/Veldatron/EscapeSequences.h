#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// The byte strings sent to the program in the terminal for keys and pastes in the legacy
// (non-kitty) keyboard encoding. Choosing between the App and Normal forms by the terminal's
// cursor-key mode (DECCKM) is the caller's job.
namespace veldatron::EscapeSequences {

namespace detail {
// The bytes of a string literal without its terminating NUL.
template <size_t N> constexpr std::array<uint8_t, N - 1> bytes(const char (&text)[N]) {
    std::array<uint8_t, N - 1> out{};
    for (size_t i = 0; i + 1 < N; ++i) {
        out[i] = uint8_t(text[i]);
    }
    return out;
}
} // namespace detail

// Octal \033 rather than \x1b: a hex escape would swallow a following letter a-f.
inline constexpr auto cmdNewLine = detail::bytes("\n");
inline constexpr auto cmdRet = detail::bytes("\r");
inline constexpr auto cmdEsc = detail::bytes("\033");
inline constexpr auto cmdDel = detail::bytes("\177");
inline constexpr auto cmdDelKey = detail::bytes("\033[3~");
inline constexpr auto moveUpApp = detail::bytes("\033OA");
inline constexpr auto moveUpNormal = detail::bytes("\033[A");
inline constexpr auto moveDownApp = detail::bytes("\033OB");
inline constexpr auto moveDownNormal = detail::bytes("\033[B");
inline constexpr auto moveLeftApp = detail::bytes("\033OD");
inline constexpr auto moveLeftNormal = detail::bytes("\033[D");
inline constexpr auto moveRightApp = detail::bytes("\033OC");
inline constexpr auto moveRightNormal = detail::bytes("\033[C");
inline constexpr auto moveHomeApp = detail::bytes("\033OH");
inline constexpr auto moveHomeNormal = detail::bytes("\033[H");
inline constexpr auto moveEndApp = detail::bytes("\033OF");
inline constexpr auto moveEndNormal = detail::bytes("\033[F");
inline constexpr auto cmdTab = detail::bytes("\t");
inline constexpr auto cmdBackTab = detail::bytes("\033[Z");
inline constexpr auto cmdPageUp = detail::bytes("\033[5~");
inline constexpr auto cmdPageDown = detail::bytes("\033[6~");
inline constexpr auto cmdInsert = detail::bytes("\033[2~");
// Word left and right (Meta-b, Meta-f).
inline constexpr auto emacsBack = detail::bytes("\033b");
inline constexpr auto emacsForward = detail::bytes("\033f");
inline constexpr auto controlLeft = detail::bytes("\033[1;5D");
inline constexpr auto controlRight = detail::bytes("\033[1;5C");

namespace detail {
inline constexpr auto f1 = bytes("\033OP");
inline constexpr auto f2 = bytes("\033OQ");
inline constexpr auto f3 = bytes("\033OR");
inline constexpr auto f4 = bytes("\033OS");
inline constexpr auto f5 = bytes("\033[15~");
inline constexpr auto f6 = bytes("\033[17~");
inline constexpr auto f7 = bytes("\033[18~");
inline constexpr auto f8 = bytes("\033[19~");
inline constexpr auto f9 = bytes("\033[20~");
inline constexpr auto f10 = bytes("\033[21~");
inline constexpr auto f11 = bytes("\033[23~");
inline constexpr auto f12 = bytes("\033[24~");
} // namespace detail

// F1 to F12 without modifiers; index 0 is F1. The tilde numbers skip 16 and 22.
inline constexpr std::array<std::span<const uint8_t>, 12> cmdF{
    detail::f1, detail::f2, detail::f3, detail::f4,  detail::f5,  detail::f6,
    detail::f7, detail::f8, detail::f9, detail::f10, detail::f11, detail::f12,
};

// Written before and after pasted text while bracketed paste mode (DEC mode 2004) is on. A host
// may replace them; the view reads them at every paste. Main thread only, like the view.
inline std::vector<uint8_t> bracketedPasteStart{0x1B, '[', '2', '0', '0', '~'};
inline std::vector<uint8_t> bracketedPasteEnd{0x1B, '[', '2', '0', '1', '~'};

} // namespace veldatron::EscapeSequences
