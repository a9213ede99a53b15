#include "GlFrameBackend.h"

#include "GlGpuDevice.h"

#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions_3_3_Core>
#include <QTimer>

#include <cmath>

#ifndef GL_GUILTY_CONTEXT_RESET
#define GL_GUILTY_CONTEXT_RESET 0x8253
#define GL_INNOCENT_CONTEXT_RESET 0x8254
#define GL_UNKNOWN_CONTEXT_RESET 0x8255
#endif

namespace veldatron {

namespace {

using GetGraphicsResetStatus = GLenum (*)();

GetGraphicsResetStatus resetStatusFunction(QOpenGLContext& context)
{
    for (const char* name :
         {"glGetGraphicsResetStatus", "glGetGraphicsResetStatusKHR", "glGetGraphicsResetStatusARB"}) {
        if (auto function = reinterpret_cast<GetGraphicsResetStatus>(context.getProcAddress(name)))
            return function;
    }
    return nullptr;
}

} // namespace

std::optional<std::string> glContextFailure(QOpenGLContext& context, GlGpuDevice& device)
{
    if (auto resetStatus = resetStatusFunction(context)) {
        switch (resetStatus()) {
        case GL_NO_ERROR:
            break;
        case GL_GUILTY_CONTEXT_RESET:
            return "graphics reset: guilty";
        case GL_INNOCENT_CONTEXT_RESET:
            return "graphics reset: innocent";
        default:
            return "graphics reset: unknown";
        }
    }
    if (!context.isValid())
        return "graphics reset: unknown";
    if (device.takeOutOfMemory())
        return "GL error 0x0505";
    return std::nullopt;
}

// The fence's poll timer. The last handler of a frame may release the command buffer from within
// the timer's own timeout, so the timer is deleted later, not with the command buffer.
struct GlCommandBuffer::Poller {
    QTimer* timer = new QTimer;
    ~Poller()
    {
        timer->stop();
        QObject::disconnect(timer, nullptr, nullptr, nullptr);
        timer->deleteLater();
    }
};

GlCommandBuffer::GlCommandBuffer(GlGpuDevice& device, std::function<bool()> makeCurrent)
    : m_device(device), m_makeCurrent(std::move(makeCurrent))
{
}

GlCommandBuffer::~GlCommandBuffer()
{
    if (m_fence && QOpenGLContext::currentContext()
        && QOpenGLContext::areSharing(QOpenGLContext::currentContext(), &m_device.context()))
        m_device.functions().glDeleteSync(static_cast<GLsync>(m_fence));
}

void GlCommandBuffer::addCompletedHandler(
    std::function<void(MetalTrackedCommandBufferStatus, std::optional<std::string>)> handler)
{
    m_handlers.push_back(std::move(handler));
}

void GlCommandBuffer::commit()
{
    if (m_status != MetalTrackedCommandBufferStatus::enqueued)
        return;
    QOpenGLFunctions_3_3_Core& gl = m_device.functions();
    m_fence = gl.glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    gl.glFlush();
    m_status = MetalTrackedCommandBufferStatus::committed;
    if (!m_fence) {
        finish(MetalTrackedCommandBufferStatus::error,
               glContextFailure(m_device.context(), m_device).value_or("GL fence not created"));
        return;
    }
    m_poller = std::make_unique<Poller>();
    m_poller->timer->setTimerType(Qt::PreciseTimer);
    m_poller->timer->setInterval(1);
    QObject::connect(m_poller->timer, &QTimer::timeout, m_poller->timer, [this] { poll(); });
    m_poller->timer->start();
}

bool GlCommandBuffer::poll()
{
    if (m_status == MetalTrackedCommandBufferStatus::completed
        || m_status == MetalTrackedCommandBufferStatus::error)
        return true;
    if (!m_fence || (m_makeCurrent && !m_makeCurrent()))
        return false;
    if (auto failure = glContextFailure(m_device.context(), m_device)) {
        finish(MetalTrackedCommandBufferStatus::error, failure);
        return true;
    }
    QOpenGLFunctions_3_3_Core& gl = m_device.functions();
    const GLenum result =
        gl.glClientWaitSync(static_cast<GLsync>(m_fence), GL_SYNC_FLUSH_COMMANDS_BIT, 0);
    if (result == GL_TIMEOUT_EXPIRED)
        return false;
    gl.glDeleteSync(static_cast<GLsync>(m_fence));
    m_fence = nullptr;
    if (result == GL_WAIT_FAILED)
        finish(MetalTrackedCommandBufferStatus::error,
               glContextFailure(m_device.context(), m_device).value_or("GL fence wait failed"));
    else
        finish(MetalTrackedCommandBufferStatus::completed, std::nullopt);
    return true;
}

void GlCommandBuffer::finish(MetalTrackedCommandBufferStatus status,
                             std::optional<std::string> error)
{
    if (m_poller)
        m_poller->timer->stop();
    m_status = status;
    m_error = error;
    // A handler may drop the last reference to this object: run them from a local list.
    auto handlers = std::exchange(m_handlers, {});
    for (auto& handler : handlers)
        handler(status, error);
}

GlFrameBackend::GlFrameBackend(GlGpuDevice& device, const RenderPipelines& pipelines,
                               unsigned sampler, Target target)
    : m_device(device), m_pipelines(pipelines), m_sampler(sampler), m_target(std::move(target)),
      m_vertexArrays(device.functions())
{
}

GlFrameBackend::~GlFrameBackend() = default;

void GlFrameBackend::releaseGlObjects()
{
    m_vertexArrays.release();
    m_intermediate.reset();
}

QSize GlFrameBackend::drawablePixels() const
{
    return QSize(int(std::lround(m_drawableSize.width())),
                 int(std::lround(m_drawableSize.height())));
}

QSize GlFrameBackend::targetPixels() const
{
    return m_target.framebufferSize ? m_target.framebufferSize() : drawablePixels();
}

unsigned GlFrameBackend::drawFramebuffer()
{
    const QSize drawable = drawablePixels();
    if (drawable == targetPixels()) {
        m_intermediate.reset();
        return m_target.framebuffer();
    }
    if (!m_intermediate || m_intermediate->size() != drawable)
        m_intermediate = std::make_unique<QOpenGLFramebufferObject>(drawable);
    return m_intermediate->isValid() ? m_intermediate->handle() : 0;
}

bool GlFrameBackend::hasCurrentDrawable()
{
    return m_device.context().isValid() && m_target.framebuffer && m_target.framebuffer() != 0
           && m_drawableSize.width() >= 1 && m_drawableSize.height() >= 1;
}

bool GlFrameBackend::hasRenderPassDescriptor()
{
    if (!m_target.framebuffer)
        return false;
    QOpenGLFunctions_3_3_Core& gl = m_device.functions();
    gl.glBindFramebuffer(GL_FRAMEBUFFER, m_target.framebuffer());
    if (gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
        return false;
    const unsigned framebuffer = drawFramebuffer();
    if (framebuffer == 0)
        return false;
    gl.glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    return gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
}

std::shared_ptr<IGpuCommandBuffer> GlFrameBackend::makeCommandBuffer()
{
    if (glContextFailure(m_device.context(), m_device))
        return nullptr;
    m_device.collectGarbage();
    return std::make_shared<GlCommandBuffer>(m_device, m_target.makeCurrent);
}

std::unique_ptr<IEncoder> GlFrameBackend::makeRenderEncoder(IGpuCommandBuffer&, Float4 clearColor)
{
    QOpenGLFunctions_3_3_Core& gl = m_device.functions();
    // An error left over from outside the frame would be blamed on this frame's draws.
    if (gl.glGetError() != GL_NO_ERROR)
        return nullptr;
    gl.glBindFramebuffer(GL_FRAMEBUFFER, drawFramebuffer());
    gl.glViewport(0, 0, drawablePixels().width(), drawablePixels().height());
    // Plain RGBA8 without sRGB conversion: the colours are written as given.
    gl.glDisable(GL_FRAMEBUFFER_SRGB);
    gl.glClearColor(clearColor.r, clearColor.g, clearColor.b, clearColor.a);
    gl.glClear(GL_COLOR_BUFFER_BIT);
    return std::make_unique<GlEncoder>(gl, m_pipelines, m_sampler, m_vertexArrays);
}

void GlFrameBackend::addPresentedHandler(std::function<void()> handler)
{
    m_presentedHandlers.push_back(std::move(handler));
}

void GlFrameBackend::present(IGpuCommandBuffer&)
{
    if (m_intermediate) {
        // The frame was drawn at the override's scale: scale it onto the target.
        QOpenGLFunctions_3_3_Core& gl = m_device.functions();
        const QSize from = m_intermediate->size();
        const QSize to = targetPixels();
        gl.glBindFramebuffer(GL_READ_FRAMEBUFFER, m_intermediate->handle());
        gl.glBindFramebuffer(GL_DRAW_FRAMEBUFFER, m_target.framebuffer());
        gl.glBlitFramebuffer(0, 0, from.width(), from.height(), 0, 0, to.width(), to.height(),
                             GL_COLOR_BUFFER_BIT, GL_LINEAR);
        gl.glBindFramebuffer(GL_FRAMEBUFFER, m_target.framebuffer());
    }
    auto handlers = std::exchange(m_presentedHandlers, {});
    if (!m_target.presentsOnSwap) {
        for (auto& handler : handlers)
            handler();
        return;
    }
    for (auto& handler : handlers)
        m_pendingPresented.push_back(std::move(handler));
}

void GlFrameBackend::drawablePresented()
{
    auto handlers = std::exchange(m_pendingPresented, {});
    for (auto& handler : handlers)
        handler();
}

void GlFrameBackend::setNeedsDisplay()
{
    if (m_target.setNeedsDisplay)
        m_target.setNeedsDisplay();
}

} // namespace veldatron
