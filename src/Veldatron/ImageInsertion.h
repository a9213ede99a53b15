#pragma once

#include "FunctionRef.h"
#include "KittyPlacementImage.h"
#include "RgbaImage.h"
#include "TerminalDelegate.h"

#include <cstdint>
#include <memory>

namespace veldatron {

class Terminal;

// Inserting an inline image at the cursor, as a host does when the terminal hands it one: the
// image is sized in cells, cut into one slice per cell row, each slice attached to the row it
// covers, with a line feed after each. The host supplies only the pictures of the slices; the
// sizing and the work on the terminal are the same for every host (a view, a renderer, a terminal
// without a view).
//
// Sizes are in points (the view's unit; a host without a view uses pixels, at a scale of 1).

// The display size of an image and the cells it covers.
struct ImageInsertionPlan {
    double displayWidth = 0;
    double displayHeight = 0;
    int64_t cols = 0;
    int64_t rows = 0;

    friend bool operator==(const ImageInsertionPlan&, const ImageInsertionPlan&) = default;
};

// How large to show an image, and whether to keep its aspect ratio.
struct ImageSizeRequests {
    ImageSizeRequest width;
    ImageSizeRequest height;
    bool preserveAspectRatio = true;
};

// Where the image goes: the cell size, the view's frame and its backing scale.
struct ImageInsertionGeometry {
    double cellWidth = 0;
    double cellHeight = 0;
    double frameWidth = 0;
    double frameHeight = 0;
    double backingScale = 1;
};

// The requests for a bitmap: those of the kitty placement being shown, or for any other picture
// (sixel) its natural size, at most the frame's width.
ImageSizeRequests bitmapSizeRequests(const Terminal& terminal, double frameWidth, int bitmapWidth);

// The display size of an image of `width` x `height` points (`pixelWidth` x `pixelHeight`
// pixels) and the cells it covers. Rows are bounded by what the screen keeps (its rows and
// scrollback): slices beyond that would leave the ring while they are made.
ImageInsertionPlan planImageInsertion(const Terminal& terminal, const ImageInsertionGeometry& at,
                                      double width, double height, double pixelWidth,
                                      double pixelHeight, const ImageSizeRequests& requests);

// Attaches the slices at the cursor: the placement record (when a kitty placement with both ids
// is being shown), then for each row a slice from `makeSlice` (its index from 0, top first; null
// leaves the slice out, with no line feed), tagged with the placement, attached, and a line feed;
// then the cursor as the placement asks.
void commitImageInsertion(
    Terminal& terminal, const ImageInsertionPlan& plan,
    FunctionRef<std::shared_ptr<KittyPlacementImage>(int64_t index, int col)> makeSlice);

// A slice that shows rows of a straight RGBA picture (shared by all slices of the picture): the
// slices of a host without a view.
class RgbaImageSlice final : public KittyPlacementImage {
public:
    RgbaImageSlice(std::shared_ptr<const RgbaImage> picture, double sourceTop, double sourceHeight,
                   int pixelWidth, int pixelHeight, int col, const ImageInsertionPlan& plan)
        : KittyPlacementImage(pixelWidth, pixelHeight, col), m_picture(std::move(picture)),
          m_sourceTop(sourceTop), m_sourceHeight(sourceHeight), m_plan(plan) {}

    const std::shared_ptr<const RgbaImage>& picture() const { return m_picture; }
    // The picture's rows this slice shows, in the picture's pixels (the last slice may reach
    // below the picture).
    double sourceTop() const { return m_sourceTop; }
    double sourceHeight() const { return m_sourceHeight; }
    // The cells of the whole picture.
    const ImageInsertionPlan& plan() const { return m_plan; }

private:
    std::shared_ptr<const RgbaImage> m_picture;
    double m_sourceTop;
    double m_sourceHeight;
    ImageInsertionPlan m_plan;
};

// The whole insertion for a host without a view, whose cells are `cell` pixels and whose frame
// is the screen: the picture at the cursor in RgbaImageSlices.
void insertRgbaImage(Terminal& terminal, std::shared_ptr<const RgbaImage> picture,
                     const ImageSizeRequests& requests, CellSize cell);

} // namespace veldatron
