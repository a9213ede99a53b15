#include "QtShaper.h"

#include "CellShaper.h"

#include <QGlyphRun>
#include <QTextBoundaryFinder>
#include <QTextLayout>

namespace veldatron {

namespace {

constexpr QChar leftToRightOverride(0x202D);
constexpr QChar popDirectionalFormatting(0x202C);

struct Cluster {
    int start;
    int length;
};

std::vector<Cluster> graphemeClusters(const QString& text)
{
    std::vector<Cluster> clusters;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int start = 0;
    while (start < text.size()) {
        finder.setPosition(start);
        qsizetype next = finder.toNextBoundary();
        if (next <= start)
            next = text.size();
        clusters.push_back({start, int(next - start)});
        start = int(next);
    }
    return clusters;
}

} // namespace

std::optional<ShaperRun> QtShaper::shape(const QString& text, const QFont& font)
{
    if (text.isEmpty())
        return std::nullopt;
    const std::vector<Cluster> clusters = graphemeClusters(text);

    QTextLayout layout(leftToRightOverride + text + popDirectionalFormatting, font);
    layout.setCacheEnabled(true);
    QTextOption option;
    option.setTextDirection(Qt::LeftToRight);
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    if (!CellShaper::emojiFamily().isEmpty()) {
        QList<QTextLayout::FormatRange> formats;
        for (const Cluster& cluster : clusters) {
            if (!CellShaper::prefersEmojiPresentation(QStringView(text).mid(cluster.start,
                                                                          cluster.length)))
                continue;
            QTextLayout::FormatRange range;
            range.start = cluster.start + 1;
            range.length = cluster.length;
            range.format.setFontFamilies(QStringList{CellShaper::emojiFamily(), font.family()});
            formats.append(range);
        }
        if (!formats.isEmpty())
            layout.setFormats(formats);
    }
    layout.beginLayout();
    QTextLine line = layout.createLine();
    layout.endLayout();
    if (!line.isValid())
        return std::nullopt;

    // Qt's positions are y-down from the layout's top; ours are y-up from the baseline.
    const QPointF origin(line.x(), line.y() + line.ascent());
    ShaperRun result;
    bool anyRun = false;
    for (const Cluster& cluster : clusters) {
        const QList<QGlyphRun> runs = layout.glyphRuns(cluster.start + 1, cluster.length);
        for (const QGlyphRun& run : runs) {
            anyRun = true;
            const QList<quint32> indexes = run.glyphIndexes();
            const QList<QPointF> positions = run.positions();
            const qsizetype count = std::min(indexes.size(), positions.size());
            if (count == 0)
                continue;
            ShaperGlyphRun glyphRun;
            glyphRun.font = run.rawFont();
            for (qsizetype i = 0; i < count; ++i) {
                const QPointF position(positions[i].x() - origin.x(),
                                       origin.y() - positions[i].y());
                glyphRun.glyphs.push_back(indexes[i]);
                glyphRun.positions.push_back(position);
                glyphRun.stringIndices.push_back(cluster.start);
                result.positions.push_back(position);
                result.stringIndices.push_back(cluster.start);
            }
            result.glyphRuns.push_back(std::move(glyphRun));
        }
    }
    if (!anyRun)
        return std::nullopt;
    result.glyphCount = int(result.positions.size());
    return result;
}

} // namespace veldatron
