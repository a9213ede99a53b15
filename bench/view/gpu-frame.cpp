// bench-gpu-frame: full frames of a 120 x 40 terminal view drawn by the GPU renderer (OpenGL,
// into an offscreen framebuffer, waiting for the GPU to finish each frame) next to the raster
// renderer (QPainter into an image), in one run, for screens of plain text, dense colour, mixed
// widths (unicode) and box drawing. "full" rebuilds every row's draw data; "cached" redraws
// from the GPU renderer's row cache (nothing changed, as when only the cursor blinks). The CPU
// part is the time until the frame is submitted; the rest is the GPU's (on Mesa's software
// renderer, the CPU's again).
//
//   xvfb-run -a bench-gpu-frame [frames]
//
// Needs a GL 3.3 core context (Mesa's software renderer under Xvfb will do; its numbers are
// the CPU's). Fonts come from fontconfig: DejaVu Sans Mono.

#include "BenchView.h"
#include "ExecutorClock.h"
#include "GlFrameBackend.h"
#include "GlGpuDevice.h"
#include "ManualExecutor.h"
#include "MetalTerminalRenderer.h"
#include "TerminalView.h"
#include "ViewRendererHost.h"

#include <QApplication>
#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QOpenGLFunctions_3_3_Core>
#include <QPainter>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace veldatron;
using namespace bench_screens;
using veldatron::testing::ExecutorClock;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double rasterMsPerFrame(TerminalView& view, int frames) {
    QImage image(view.size(), QImage::Format_RGB32);
    const QRectF all(view.rect());
    const auto paint = [&] {
        QPainter painter(&image);
        view.drawTerminalContents(all, painter, view.terminal().buffer().yDisp());
    };
    for (int i = 0; i < 5; ++i) {
        paint();
    }
    const auto start = Clock::now();
    for (int i = 0; i < frames; ++i) {
        paint();
    }
    return msSince(start) / frames;
}

// The GPU renderer over an offscreen framebuffer of the view's size.
class GpuFrames {
public:
    GpuFrames(TerminalView& view, QOpenGLContext& context, QOffscreenSurface& surface)
        : m_context(context), m_surface(surface), m_host(view) {
        m_host.size = QSizeF(view.size());
        m_renderer = MetalTerminalRenderer::create(m_host, context, m_clock, m_scheduler);
        m_fbo = std::make_unique<QOpenGLFramebufferObject>(view.size());
        GlFrameBackend::Target target;
        target.framebuffer = [this] { return m_fbo->handle(); };
        target.makeCurrent = [this] { return m_context.makeCurrent(&m_surface); };
        m_backend = std::make_unique<GlFrameBackend>(*m_renderer->glDevice(),
                                                     *m_renderer->pipelines(),
                                                     m_renderer->sampler(), target);
        m_functions = &m_renderer->glDevice()->functions();
    }
    ~GpuFrames() { m_backend->releaseGlObjects(); }

    struct Timing {
        double cpu = 0;
        double total = 0;
    };

    // `full`: every visible row is rebuilt, as after a change of the whole screen.
    Timing msPerFrame(int frames, bool full) {
        for (int i = 0; i < 5; ++i) {
            frame(full);
        }
        Timing sum;
        for (int i = 0; i < frames; ++i) {
            const Timing one = frame(full);
            sum.cpu += one.cpu;
            sum.total += one.total;
        }
        return {sum.cpu / frames, sum.total / frames};
    }

private:
    // One frame: the time until draw() returns (the CPU's part: draw data, uploads, encoding)
    // and until the GPU has finished it; then its completion is let through (untimed) so that
    // the next frame is admitted.
    Timing frame(bool full) {
        Terminal& terminal = *m_host.terminal();
        if (full) {
            const int yDisp = terminal.buffer().yDisp();
            m_host.dirtyRange = std::pair(yDisp, yDisp + terminal.rows() - 1);
        }
        const auto start = Clock::now();
        m_renderer->draw(*m_backend);
        const double cpu = msSince(start);
        m_functions->glFinish();
        const double total = msSince(start);
        while (m_renderer->frameCoordinator().activeFrame()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        return {cpu, total};
    }

    QOpenGLContext& m_context;
    QOffscreenSurface& m_surface;
    ViewRendererHost m_host;
    ManualExecutor m_executor;
    ExecutorClock m_clock{m_executor};
    DispatchMetalRecoveryScheduler m_scheduler{m_executor};
    std::unique_ptr<MetalTerminalRenderer> m_renderer;
    std::unique_ptr<QOpenGLFramebufferObject> m_fbo;
    std::unique_ptr<GlFrameBackend> m_backend;
    QOpenGLFunctions_3_3_Core* m_functions = nullptr;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;

    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    QOffscreenSurface surface;
    surface.setFormat(format);
    surface.create();
    QOpenGLContext context;
    context.setFormat(format);
    if (!context.create() || !context.makeCurrent(&surface)) {
        std::fprintf(stderr, "bench-gpu-frame: no GL 3.3 core context (run under xvfb-run)\n");
        return 1;
    }

    const auto ownedView = makeView();
    TerminalView& view = *ownedView;
    fitToCells(view);
    const QSizeF cell = view.cellDimension();
    std::printf("bench-gpu-frame: %dx%d cells of %.0fx%.0f px (%dx%d px), %d frames each, %s\n",
                view.terminal().cols(), view.terminal().rows(), cell.width(), cell.height(),
                view.width(), view.height(), frames,
                reinterpret_cast<const char*>(context.functions()->glGetString(GL_RENDERER)));
    std::printf("  %-14s %10s   %-23s   %-23s\n", "screen", "raster", "GPU full (CPU part)",
                "GPU cached (CPU part)");

    struct Screen {
        const char* name;
        std::string bytes;
    };
    const Screen screens[] = {
        {"plain text", plainScreen()},
        {"dense colour", colourScreen()},
        {"unicode", mixedScreen()},
        {"box drawing", boxScreen()},
    };
    GpuFrames gpu(view, context, surface);
    for (const Screen& screen : screens) {
        view.feed(QString::fromUtf8(screen.bytes.data(), qsizetype(screen.bytes.size())));
        const double raster = rasterMsPerFrame(view, frames);
        context.makeCurrent(&surface);
        const auto full = gpu.msPerFrame(frames, true);
        const auto cached = gpu.msPerFrame(frames, false);
        std::printf("  %-14s %7.3f ms   %7.3f ms (%6.3f ms)   %7.3f ms (%6.3f ms)\n", screen.name,
                    raster, full.total, full.cpu, cached.total, cached.cpu);
    }
    return 0;
}
