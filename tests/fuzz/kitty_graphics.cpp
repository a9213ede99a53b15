// Kitty graphics commands (APC G): control blocks built from the input over every key the
// protocol reads, with payloads of the input's bytes as base64, compressed or not, and with
// chunking; fed whole and cut into pieces. Checks that both give the same replies and store, and
// that the store keeps its invariants (the byte total, numbers naming stored images, bitmaps of
// their stated size, a bounded pending transmission).
//
// Only the direct medium is fuzzed (and unknown media): file and shared-memory names chosen by
// the fuzzer could reach real files of the machine, and the temporary-file medium deletes.

#include "ImageFuzzSupport.h"
#include "KittyGraphicsPayload.h"
#include "TextDecoding.h"

#include <zlib.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace veldatron;
using namespace veldatron::testing;

class Input {
public:
    explicit Input(std::string_view bytes) : m_bytes(bytes) {}
    bool done() const { return m_at >= m_bytes.size(); }
    uint8_t byte() { return done() ? 0 : uint8_t(m_bytes[m_at++]); }
    std::string_view take(size_t n) {
        n = std::min(n, m_bytes.size() - m_at);
        const std::string_view out = m_bytes.substr(m_at, n);
        m_at += n;
        return out;
    }

private:
    std::string_view m_bytes;
    size_t m_at = 0;
};

std::string value(Input& in) {
    static constexpr std::array<std::string_view, 20> values = {"0",
                                                                "1",
                                                                "2",
                                                                "3",
                                                                "4",
                                                                "5",
                                                                "8",
                                                                "24",
                                                                "32",
                                                                "100",
                                                                "-1",
                                                                "+7",
                                                                "",
                                                                "4294967295",
                                                                "4294967296",
                                                                "9223372036854775807",
                                                                "-9223372036854775808",
                                                                "10000",
                                                                "10001",
                                                                "x"};
    const uint8_t b = in.byte();
    if (b < 200) {
        return std::string(values[b % values.size()]);
    }
    return std::to_string(int(b - 200) * 37 - 300);
}

std::string command(Input& in) {
    static constexpr std::array<char, 29> keys = {'a', 'q', 'f', 's', 'v', 'x', 'y', 'w', 'h', 'S',
                                                  'O', 'i', 'I', 'p', 'P', 'Q', 'H', 'V', 'X', 'Y',
                                                  'U', 'z', 'm', 'o', 'c', 'r', 'C', 'd', 't'};
    static constexpr std::array<std::string_view, 9> actions = {"t", "T", "q", "p", "d",
                                                                "D", "x", "",  "T"};
    static constexpr std::array<std::string_view, 14> deletes = {"a", "A", "i", "I", "n", "N", "c",
                                                                 "p", "q", "x", "y", "z", "r", "1"};
    std::string control;
    const int pairs = in.byte() % 9;
    for (int k = 0; k < pairs; ++k) {
        const char key = keys[in.byte() % keys.size()];
        control += control.empty() ? "" : ",";
        control += key;
        control += '=';
        switch (key) {
        case 'a':
            control += actions[in.byte() % actions.size()];
            break;
        case 'd':
            control += deletes[in.byte() % deletes.size()];
            break;
        case 't':
            control += in.byte() % 4 == 0 ? "x" : "d";
            break;
        case 'o':
            control += in.byte() % 4 == 0 ? "y" : "z";
            break;
        default:
            control += value(in);
        }
    }
    std::string payload;
    const uint8_t kind = in.byte();
    const std::string_view raw = in.take(in.byte() % 96);
    const auto bytes = TextDecoding::bytesOf(raw);
    if (kind % 4 == 0) {
        uLongf size = compressBound(uLong(bytes.size()));
        std::vector<uint8_t> packed(size);
        compress2(packed.data(), &size, bytes.data(), uLong(bytes.size()), 6);
        packed.resize(size);
        payload = TextDecoding::base64Encode(packed);
    } else if (kind % 4 == 1) {
        payload = std::string(raw);
    } else {
        payload = TextDecoding::base64Encode(bytes);
    }
    return "\x1b_G" + control + (kind % 8 == 7 ? "" : ";" + payload) + "\x1b\\";
}

void checkStore(Terminal& terminal) {
    const KittyGraphicsState& state = terminal.kittyGraphicsState();
    int64_t total = 0;
    for (const auto& [id, image] : state.imagesById) {
        total += image.byteSize;
        if (const RgbaImage* rgba = image.payload.rgbaImage()) {
            check(rgba->isValid(), "a stored bitmap has its stated size");
        }
    }
    check(total == state.totalImageBytes, "the byte total");
    for (const auto& [number, id] : state.imageNumbers) {
        check(state.imagesById.count(id) == 1, "a number names a stored image");
    }
    if (state.pending) {
        check(int64_t(state.pending->base64Payload.size()) <= state.maxPendingBytes,
              "the pending transmission is bounded");
    }
    check(!terminal.kittyPlacementContext(), "no placement context outside a display");
    checkCursorOnScreen(terminal);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const uint8_t selector = data[0];
    Input in(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
    std::string stream;
    while (!in.done() && stream.size() < (1u << 16)) {
        stream += command(in);
        // Now and then text, an erase, a screen switch or a reset between the commands.
        static constexpr std::array<std::string_view, 6> between = {"x\r\n",
                                                                    "\x1b[2J",
                                                                    "\x1b[?1049h",
                                                                    "\x1b[?1049l",
                                                                    "\x1b"
                                                                    "c",
                                                                    "\r\n\r\n\r\n"};
        if (in.byte() % 5 == 0) {
            stream += between[in.byte() % between.size()];
        }
    }
    const TerminalSpec spec{.cols = 4 + selector % 9,
                            .rows = 2 + selector % 4,
                            .scrollback = selector % 3 == 0 ? 0 : 5};

    TerminalFixture whole(spec);
    if (selector & 0x40) {
        whole.host.cellSize = CellSize{1 + selector % 7, 1 + selector % 11};
    }
    TerminalOptions options = whole.terminal.options();
    options.kittyImageCacheLimitBytes = (selector & 0x80) ? 64 : 1 << 20;
    whole.terminal.setOptions(options);
    whole.terminal.kittyGraphicsState().maxPendingBytes = 4096;
    whole.feed(stream);
    checkStore(whole.terminal);

    TerminalFixture split(spec);
    split.host.cellSize = whole.host.cellSize;
    split.terminal.setOptions(options);
    split.terminal.kittyGraphicsState().maxPendingBytes = 4096;
    feedInPieces(split, stream, selector, 13, [&] { checkStore(split.terminal); });
    check(whole.host.replies == split.host.replies, "replies depend on how the input was split");
    check(whole.host.calls == split.host.calls, "host calls depend on how the input was split");
    return 0;
}
