#pragma once

// A parser wired to recording handlers: every call it makes becomes one line of text, so tests
// compare what the parser did as a list of strings.

#include "DcsHandler.h"
#include "EscapeSequenceParser.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace veldatron::test {

/// Bytes as text: printable ASCII as is, everything else (and '"', '\\') as \xHH.
std::string escapeBytes(std::span<const std::uint8_t> bytes);
/// Parameters as the program wrote them: values joined by their separators, omitted ones empty.
std::string formatParams(const ParserParams& params);
std::span<const std::uint8_t> asBytes(std::string_view text);

class RecordingDcsHandler : public DcsHandler {
public:
    RecordingDcsHandler(std::string name, std::vector<std::string>& log)
        : m_name(std::move(name)), m_log(log) {}
    void hook(std::span<const std::uint8_t> collect, const ParserParams& parameters,
              std::uint8_t flag) override;
    void put(std::span<const std::uint8_t> data) override;
    void unhook() override;

private:
    std::string m_name;
    std::vector<std::string>& m_log;
};

class ParserRecorder {
public:
    ParserRecorder();

    void feed(std::string_view chunk) { parser.parse(asBytes(chunk)); }
    void feed(const std::vector<std::string>& chunks);

    /// The log with adjacent print lines joined, and adjacent put lines of one handler joined:
    /// how runs are cut depends on where the chunks end, what they carry does not.
    std::vector<std::string> merged() const;

    std::vector<std::string> log;
    int printStateResets = 0;
    bool printHintMismatch = false; // a run's printableAscii flag disagreed with its bytes
    RecordingDcsHandler sixel{"sixel", log};
    RecordingDcsHandler decrqss{"decrqss", log};
    EscapeSequenceParser parser;
};

} // namespace veldatron::test
