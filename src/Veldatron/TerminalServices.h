#pragma once

#include "Line.h"
#include "Position.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace veldatron {

class Buffer;
class SelectionService;

// What the screen model asks of the terminal that owns it. `Terminal` implements it; selection
// and search hold the terminal through it, so they can be built and tested against a small fake
// before the engine exists. Everything here runs on the thread that owns the terminal.
class TerminalServices {
public:
    virtual ~TerminalServices() = default;

    // The terminal's column count; selection and search use it rather than the buffer's own.
    virtual int cols() const = 0;
    // The screen in use: the normal or the alternate buffer.
    virtual Buffer& buffer() = 0;
    // The character (grapheme cluster) of a cell code: the scalar itself, the interned cluster
    // from 0x400001 up, or " " for an invalid code or one never interned.
    virtual std::u32string character(int32_t code) const = 0;
    // Tells the host that the selection changed (TerminalDelegate::selectionChanged).
    virtual void selectionChanged() = 0;
    // Keeps a weak reference to a selection so the terminal's scrolls can adjust it; a
    // selection that is gone is skipped.
    virtual void registerSelection(std::weak_ptr<SelectionService> selection) = 0;
    // The text of `buffer` from `start` (included) to `end` (excluded), buffer rows, one Line per
    // logical line, top to bottom.
    virtual std::vector<Line> _getSelectedLines(Position start, Position end, Buffer& buffer) = 0;
    // The text between two positions of the current buffer (in either order; the later one
    // excluded), UTF-8, logical lines separated by "\n"; empty when the earlier row is not a
    // line of the buffer.
    virtual std::string getText(Position start, Position end) = 0;
};

} // namespace veldatron
