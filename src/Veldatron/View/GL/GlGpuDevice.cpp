#include "GlGpuDevice.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLVersionFunctionsFactory>
#include <QPointer>

#include <limits>
#include <mutex>
#include <utility>
#include <vector>

namespace veldatron {

struct GlNameGarbage {
    std::mutex lock;
    std::vector<GLuint> buffers;
    std::vector<GLuint> textures;
};

namespace {

// The current context's functions when it shares names with `owner`, else null.
QOpenGLFunctions_3_3_Core* sharingFunctions(const QPointer<QOpenGLContext>& owner)
{
    QOpenGLContext* current = QOpenGLContext::currentContext();
    if (!current || !owner || !QOpenGLContext::areSharing(current, owner))
        return nullptr;
    return QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_3_Core>(current);
}

class GlBuffer final : public GpuBuffer {
public:
    GlBuffer(std::size_t length, GLuint name, QOpenGLContext* owner,
             std::shared_ptr<GlNameGarbage> garbage)
        : GpuBuffer(length), m_name(name), m_owner(owner), m_garbage(std::move(garbage))
    {
    }
    ~GlBuffer() override
    {
        if (auto* gl = sharingFunctions(m_owner)) {
            gl->glDeleteBuffers(1, &m_name);
            return;
        }
        std::lock_guard guard(m_garbage->lock);
        m_garbage->buffers.push_back(m_name);
    }
    uint32_t glName() const override { return m_name; }

private:
    GLuint m_name;
    QPointer<QOpenGLContext> m_owner; // a handle may outlive its context
    std::shared_ptr<GlNameGarbage> m_garbage;
};

class GlTexture final : public GpuTexture {
public:
    GlTexture(GpuPixelFormat format, int width, int height, GLuint name, QOpenGLContext* owner,
              std::shared_ptr<GlNameGarbage> garbage)
        : GpuTexture(format, width, height), m_name(name), m_owner(owner),
          m_garbage(std::move(garbage))
    {
    }
    ~GlTexture() override
    {
        if (auto* gl = sharingFunctions(m_owner)) {
            gl->glDeleteTextures(1, &m_name);
            return;
        }
        std::lock_guard guard(m_garbage->lock);
        m_garbage->textures.push_back(m_name);
    }
    uint32_t glName() const override { return m_name; }

private:
    GLuint m_name;
    QPointer<QOpenGLContext> m_owner; // a handle may outlive its context
    std::shared_ptr<GlNameGarbage> m_garbage;
};

struct GlFormat {
    GLint internalFormat;
    GLenum format;
};

GlFormat glFormat(GpuPixelFormat format)
{
    switch (format) {
    case GpuPixelFormat::r8:
        return {GL_R8, GL_RED};
    case GpuPixelFormat::bgra8:
        // The CPU copy stays in blue-green-red-alpha order; GL swizzles it on upload.
        return {GL_RGBA8, GL_BGRA};
    case GpuPixelFormat::rgba8:
        break;
    }
    return {GL_RGBA8, GL_RGBA};
}

} // namespace

std::unique_ptr<GlGpuDevice> GlGpuDevice::create(QOpenGLContext& context)
{
    auto* functions = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_3_Core>(&context);
    if (!functions || !functions->initializeOpenGLFunctions())
        return nullptr;
    return std::unique_ptr<GlGpuDevice>(new GlGpuDevice(context, *functions));
}

GlGpuDevice::GlGpuDevice(QOpenGLContext& context, QOpenGLFunctions_3_3_Core& functions)
    : m_context(context), m_functions(&functions), m_garbage(std::make_shared<GlNameGarbage>())
{
    GLint size = 0;
    m_functions->glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
    m_maxTextureSize = size;
}

GlGpuDevice::~GlGpuDevice()
{
    if (QOpenGLContext::currentContext()
        && QOpenGLContext::areSharing(QOpenGLContext::currentContext(), &m_context))
        collectGarbage();
}

unsigned GlGpuDevice::drainErrors()
{
    GLenum first = GL_NO_ERROR;
    // glGetError keeps one flag per kind of error; a lost context keeps reporting, so the loop
    // is bounded.
    for (int i = 0; i < 16; ++i) {
        const GLenum error = m_functions->glGetError();
        if (error == GL_NO_ERROR)
            break;
        if (first == GL_NO_ERROR)
            first = error;
        if (error == GL_OUT_OF_MEMORY)
            m_outOfMemory = true;
    }
    return first;
}

std::shared_ptr<GpuBuffer> GlGpuDevice::makeBuffer(std::size_t length, GpuBufferUsage usage)
{
    if (length == 0 || length > std::size_t(std::numeric_limits<GLsizeiptr>::max()))
        return nullptr;
    drainErrors();
    GLuint name = 0;
    m_functions->glGenBuffers(1, &name);
    if (name == 0)
        return nullptr;
    m_functions->glBindBuffer(GL_ARRAY_BUFFER, name);
    m_functions->glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(length), nullptr,
                              usage == GpuBufferUsage::staticDraw ? GL_STATIC_DRAW
                                                                  : GL_STREAM_DRAW);
    if (drainErrors() != GL_NO_ERROR) {
        m_functions->glDeleteBuffers(1, &name);
        return nullptr;
    }
    return std::make_shared<GlBuffer>(length, name, &m_context, m_garbage);
}

void GlGpuDevice::writeBuffer(GpuBuffer& buffer, std::size_t offset, const void* bytes,
                              std::size_t length)
{
    if (length == 0 || offset > buffer.length() || length > buffer.length() - offset)
        return;
    m_functions->glBindBuffer(GL_ARRAY_BUFFER, buffer.glName());
    m_functions->glBufferSubData(GL_ARRAY_BUFFER, GLintptr(offset), GLsizeiptr(length), bytes);
}

std::shared_ptr<GpuTexture> GlGpuDevice::makeTexture(GpuPixelFormat format, int width, int height)
{
    if (width <= 0 || height <= 0 || width > m_maxTextureSize || height > m_maxTextureSize)
        return nullptr;
    drainErrors();
    GLuint name = 0;
    m_functions->glGenTextures(1, &name);
    if (name == 0)
        return nullptr;
    const GlFormat gl = glFormat(format);
    m_functions->glActiveTexture(GL_TEXTURE0);
    m_functions->glBindTexture(GL_TEXTURE_2D, name);
    m_functions->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
    m_functions->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    m_functions->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    m_functions->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    m_functions->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    m_functions->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    // A new texture's contents are undefined in GL; the atlas relies on zeros.
    const std::vector<uint8_t> zeros(std::size_t(width) * std::size_t(height)
                                     * std::size_t(bytesPerPixel(format)));
    m_functions->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    m_functions->glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    m_functions->glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    m_functions->glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    m_functions->glTexImage2D(GL_TEXTURE_2D, 0, gl.internalFormat, width, height, 0, gl.format,
                              GL_UNSIGNED_BYTE, zeros.data());
    if (drainErrors() != GL_NO_ERROR) {
        m_functions->glDeleteTextures(1, &name);
        return nullptr;
    }
    return std::make_shared<GlTexture>(format, width, height, name, &m_context, m_garbage);
}

void GlGpuDevice::replaceRegion(GpuTexture& texture, int x, int y, int width, int height,
                                const uint8_t* bytes, std::size_t bytesPerRow)
{
    const int bpp = bytesPerPixel(texture.format());
    if (width <= 0 || height <= 0 || x < 0 || y < 0 || x > texture.width() - width
        || y > texture.height() - height || bytesPerRow % std::size_t(bpp) != 0
        || bytesPerRow < std::size_t(width) * std::size_t(bpp))
        return;
    const GlFormat gl = glFormat(texture.format());
    m_functions->glActiveTexture(GL_TEXTURE0);
    m_functions->glBindTexture(GL_TEXTURE_2D, texture.glName());
    m_functions->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    m_functions->glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(bytesPerRow / std::size_t(bpp)));
    m_functions->glTexSubImage2D(GL_TEXTURE_2D, 0, x, y, width, height, gl.format,
                                 GL_UNSIGNED_BYTE, bytes);
    m_functions->glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
}

void GlGpuDevice::collectGarbage()
{
    std::vector<GLuint> buffers;
    std::vector<GLuint> textures;
    {
        std::lock_guard guard(m_garbage->lock);
        buffers.swap(m_garbage->buffers);
        textures.swap(m_garbage->textures);
    }
    if (!buffers.empty())
        m_functions->glDeleteBuffers(GLsizei(buffers.size()), buffers.data());
    if (!textures.empty())
        m_functions->glDeleteTextures(GLsizei(textures.size()), textures.data());
}

bool GlGpuDevice::takeOutOfMemory()
{
    drainErrors();
    return std::exchange(m_outOfMemory, false);
}

} // namespace veldatron
