// bench-gpu-data: the GPU renderer's draw data for full frames of a 120 x 40 terminal view
// (every row's backgrounds, glyph quads, decorations and custom glyphs, and the cursor), built
// from a warm glyph cache, in frames per second, for screens of plain text, dense colour,
// mixed widths, box drawing and right-to-left paragraphs. No GPU is needed: the atlases upload
// into memory.
//
//   QT_QPA_PLATFORM=offscreen bench-gpu-data [frames [scale]]
//
// The aim is a whole frame in under 1 ms. Fonts come from fontconfig: DejaVu Sans Mono.

#include "BenchView.h"
#include "CursorDrawBuilder.h"
#include "FakeGpuDevice.h"
#include "GlyphProvider.h"
#include "QtGlyphRasterizer.h"
#include "QtShaper.h"
#include "RowDrawBuilder.h"
#include "ViewRendererHost.h"

#include <QApplication>
#include <QFontMetricsF>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

using namespace veldatron;
using namespace bench_screens;

namespace {

using Clock = std::chrono::steady_clock;

struct Frame {
    std::size_t records = 0;
};

Frame buildFrame(ViewRendererHost& host, RowDrawBuilder& builder, GlyphProvider& glyphs,
                 double scale) {
    Terminal& terminal = *host.terminal();
    Buffer& buffer = terminal.buffer();
    const QSizeF cell = host.view().cellDimension();
    const QRawFont& normal = host.fontSet().rawFont(FontStyle::normal);
    const double yOffset = std::ceil(normal.descent() + normal.leading());
    const int yDisp = buffer.yDisp();
    Frame frame;
    for (int row = yDisp; row < yDisp + terminal.rows(); ++row) {
        const RowDrawData data =
            builder.buildRowDrawData(row, buffer, yDisp, cell.width(), cell.height(), yOffset,
                                     host.bounds().width() * scale, scale, {});
        frame.records += data.backgroundCells.size() + data.glyphCellsGray.size() +
                         data.glyphCellsColor.size() + data.decorationCells.size();
    }
    const CursorDrawData cursor = buildCursorDrawData(
        host, glyphs, true, scale, cell.width(), cell.height(), normal.descent(), normal.leading(),
        yDisp, yDisp, yDisp + terminal.rows() - 1);
    frame.records += cursor.colorVertices.size() / 6;
    return frame;
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    const double scale = argc > 2 ? std::max(1.0, std::atof(argv[2])) : 1.0;

    const auto ownedView = makeView();
    TerminalView& view = *ownedView;
    ViewRendererHost host(view);
    const QSizeF cell = view.cellDimension();
    host.size = QSizeF(cols * cell.width(), rows * cell.height());
    host.backing = scale;

    FakeGpuDevice device;
    QtShaper shaper;
    QtGlyphRasterizer rasterizer;
    auto glyphs = GlyphProvider::create(device, shaper, rasterizer);
    RowDrawBuilder builder(host, *glyphs);
    std::printf("bench-gpu-data: %dx%d cells of %.0fx%.0f px at scale %.1f, %d frames each\n", cols,
                rows, cell.width(), cell.height(), scale, frames);

    const struct {
        const char* name;
        std::string bytes;
    } screens[] = {
        {"plain text", plainScreen()},          {"dense colour", colourScreen()},
        {"mixed widths", mixedScreen()},        {"box drawing", boxScreen()},
        {"right to left", rightToLeftScreen()},
    };
    for (const auto& screen : screens) {
        view.feed(QString::fromUtf8(screen.bytes.data(), qsizetype(screen.bytes.size())));
        // Warm: shaping, glyph bitmaps and atlas places are made once.
        Frame frame;
        for (int i = 0; i < 5; ++i)
            frame = buildFrame(host, builder, *glyphs, scale);
        const auto start = Clock::now();
        for (int i = 0; i < frames; ++i)
            buildFrame(host, builder, *glyphs, scale);
        const double ms =
            std::chrono::duration<double, std::milli>(Clock::now() - start).count() / frames;
        std::printf("  %-14s %7.3f ms/frame  %8.1f frames/s  (%zu records)\n", screen.name, ms,
                    1000.0 / ms, frame.records);
    }
    return 0;
}
