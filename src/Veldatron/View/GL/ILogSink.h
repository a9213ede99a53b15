#pragma once

#include <QString>

#include <vector>

namespace veldatron {

/// Where the GPU renderer writes its log messages. Production code writes to the Qt logging
/// categories "veldatron.MetalAtlas" and "veldatron.MetalProfile" (QtLogSink); tests inject a
/// RecordingLogSink and count messages.
class ILogSink {
public:
    enum class Level { debug, info, error, fault };
    enum class Category { atlas, profile, renderer };

    virtual ~ILogSink() = default;
    virtual void log(Category category, Level level, const QString& message) = 0;
};

class QtLogSink : public ILogSink {
public:
    void log(Category category, Level level, const QString& message) override;
};

/// The process-wide QtLogSink.
ILogSink& defaultLogSink();

/// Keeps every message, for tests.
class RecordingLogSink : public ILogSink {
public:
    struct Entry {
        Category category;
        Level level;
        QString message;
    };
    void log(Category category, Level level, const QString& message) override
    {
        entries.push_back({category, level, message});
    }
    int count(Level level) const
    {
        int n = 0;
        for (const auto& entry : entries)
            n += entry.level == level ? 1 : 0;
        return n;
    }
    std::vector<Entry> entries;
};

} // namespace veldatron
