#pragma once

namespace veldatron {

// An image anchored in a row (an inline image of the view, or a kitty placement). Rows only
// store, count and drop them; the view and the graphics code implement this interface.
class TerminalImage {
public:
    virtual ~TerminalImage() = default;

    virtual int pixelWidth() const = 0;
    virtual int pixelHeight() const = 0;
    // The column at which the image starts.
    virtual int col() const = 0;
    virtual void setCol(int col) = 0;
};

} // namespace veldatron
