#pragma once

// What the terminal does when a scroll region that starts at the top of the screen and reaches
// the end of the ring scrolls up one line (a line feed on the last row, an autowrap there): a full
// ring recycles its oldest row as the new bottom row; otherwise a copy of the cached blank line is
// pushed and the screen moves down. Shared by the benchmarks until the terminal provides it.

#include "Buffer.h"
#include "BufferLine.h"

inline void scrollUp(veldatron::Buffer& buffer, const veldatron::BufferLine& blankLine,
                     bool isWrapped) {
    veldatron::CircularBufferLineList& lines = buffer.lines();
    if (lines.isFull()) {
        lines.recycle(veldatron::Attribute());
        veldatron::BufferLine& bottom = lines[lines.count() - 1];
        bottom.setIsWrapped(isWrapped);
        bottom.setBidiState(buffer.defaultBidiState);
        ++buffer.linesTop;
    } else {
        veldatron::BufferLinePtr line = veldatron::BufferLine::create(blankLine);
        line->setIsWrapped(isWrapped);
        lines.push(std::move(line));
        buffer.setYBase(buffer.yBase() + 1);
    }
    buffer.setYDisp(buffer.yBase());
}
