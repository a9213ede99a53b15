#pragma once

#include "Executor.h"
#include "LocalProcess.h"
#include "LocalProcessDelegate.h"
#include "Terminal.h"
#include "TerminalDelegate.h"
#include "TerminalOptions.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace veldatron {

/// A terminal and a child process joined without a view: the child's output is parsed into the
/// terminal's screen, the terminal's replies go back to the child, and the child's end is handed
/// to `onEnd`. For hosts that need the emulator but draw nothing (tools, tests, automation).
///
/// The object owns its terminal and its process and is the delegate of both. No child is started
/// by construction: the owner calls `process().startProcess(...)`. The terminal stays after the
/// child has ended, so the final screen can be read.
///
/// Threads: everything but `send` belongs to the executor's thread (construction and destruction
/// included), and the executor must outlive the object. The terminal's callbacks, the parsing of
/// output and `onEnd` all run there. `send` may be called from any thread; its bytes go to the
/// child at once, in order with everything sent before.
///
/// Subclasses may answer more of the terminal's questions (window reports, titles) by overriding
/// further `TerminalDelegate` operations.
class HeadlessTerminal : public TerminalDelegate, public LocalProcessDelegate {
public:
    /// Receives the raw wait status of the child (always present; see LocalProcessDelegate). It
    /// must not destroy the object it is called by: post that to the executor instead.
    using EndHandler = std::function<void(std::optional<std::int32_t>)>;
    /// A bitmap the terminal produced (a sixel or kitty image): straight RGBA, four bytes a
    /// pixel, rows top to bottom.
    struct Image {
        std::vector<std::uint8_t> bytes;
        int width = 0;
        int height = 0;
    };

    /// `queue` runs the callbacks. With `Delivery::queued` it is the host's main executor, and
    /// output arrives in time-sliced passes that pause reading while much of it waits; with
    /// `Delivery::synchronous` each chunk is parsed on `queue` while the reader waits.
    HeadlessTerminal(Executor& queue, TerminalOptions options, EndHandler onEnd,
                     LocalProcess::Delivery delivery = LocalProcess::Delivery::queued);
    /// Hangs up a child that still runs, without signalling it (it is reaped in the background).
    ~HeadlessTerminal() override;
    HeadlessTerminal(const HeadlessTerminal&) = delete;
    HeadlessTerminal& operator=(const HeadlessTerminal&) = delete;

    Terminal& terminal() { return *m_terminal; }
    const Terminal& terminal() const { return *m_terminal; }
    LocalProcess& process() { return *m_process; }
    const LocalProcess& process() const { return *m_process; }
    Executor& queue() const { return m_queue; }
    const EndHandler& onEnd() const { return m_onEnd; }
    void setOnEnd(EndHandler onEnd) { m_onEnd = std::move(onEnd); }
    /// The working directory the program last reported (OSC 7), none before.
    const std::optional<std::string>& dir() const { return m_dir; }
    void setDir(std::optional<std::string> dir) { m_dir = std::move(dir); }
    /// The bitmaps the terminal produced, in arrival order. Nothing removes them but the owner.
    std::vector<Image>& images() { return m_images; }
    const std::vector<Image>& images() const { return m_images; }

    /// User input for the child. The bytes go out at once; whether they submit the shell's
    /// command line is noted afterwards, on the executor (so the child may see a submitted line
    /// before the terminal's shell-integration state says so). Dropped while no child runs.
    void send(std::span<const std::uint8_t> data);
    /// The UTF-8 bytes of the text, through `send`.
    void send(std::string_view text);
    /// A new scrollback size for the normal screen (none: no scrollback); redraws everything.
    void changeScrollback(std::optional<int> lines);

    // ---- LocalProcessDelegate -------------------------------------------------------------
    void processTerminated(LocalProcess& source, std::optional<std::int32_t> exitCode) override;
    void dataReceived(std::span<const std::uint8_t> slice) override;
    /// The terminal's rows and columns, and 16 by 16 pixels.
    winsize getWindowSize() override;

    // ---- TerminalDelegate -----------------------------------------------------------------
    /// The terminal's replies, written to the child as user input is (dropped while none runs).
    void send(Terminal& source, std::span<const std::uint8_t> data) override;
    void mouseModeChanged(Terminal& source) override;
    void hostCurrentDirectoryUpdated(Terminal& source) override;
    void createImageFromBitmap(Terminal& source, std::vector<std::uint8_t>& bytes, int width,
                               int height) override;

private:
    std::unique_ptr<Terminal> m_terminal;
    std::unique_ptr<LocalProcess> m_process; // ends before the terminal
    EndHandler m_onEnd;
    std::optional<std::string> m_dir;
    Executor& m_queue;
    std::vector<Image> m_images;
    // The submission checks posted by `send` hold this weakly: the object may end before they run.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace veldatron
