#include "ILogSink.h"

#include <QLoggingCategory>

namespace veldatron {

namespace {
Q_LOGGING_CATEGORY(metalAtlasLog, "veldatron.MetalAtlas")
Q_LOGGING_CATEGORY(metalProfileLog, "veldatron.MetalProfile")
Q_LOGGING_CATEGORY(metalRendererLog, "veldatron.MetalRenderer")

const QLoggingCategory& categoryFor(ILogSink::Category category)
{
    switch (category) {
    case ILogSink::Category::atlas:
        return metalAtlasLog();
    case ILogSink::Category::profile:
        return metalProfileLog();
    case ILogSink::Category::renderer:
        return metalRendererLog();
    }
    return metalRendererLog();
}
} // namespace

void QtLogSink::log(Category category, Level level, const QString& message)
{
    const QLoggingCategory& cat = categoryFor(category);
    switch (level) {
    case Level::debug:
        qCDebug(cat).noquote() << message;
        break;
    case Level::info:
        qCInfo(cat).noquote() << message;
        break;
    case Level::error:
        qCWarning(cat).noquote() << message;
        break;
    case Level::fault:
        qCCritical(cat).noquote() << message;
        break;
    }
}

ILogSink& defaultLogSink()
{
    static QtLogSink sink;
    return sink;
}

} // namespace veldatron
