#include "FramePass.h"

#include "BufferPool.h"
#include "IRendererHost.h"
#include "ImageTextures.h"

#include "Buffer.h"
#include "Terminal.h"
#include "TerminalBidi.h"

#include <cmath>

namespace veldatron {

namespace {

template <typename Record>
std::shared_ptr<GpuBuffer> exactBuffer(IGpuDevice& device, const std::vector<Record>& records,
                                       int& count)
{
    count = 0;
    if (records.empty())
        return nullptr;
    auto buffer =
        device.makeBuffer(records.data(), records.size() * sizeof(Record), GpuBufferUsage::staticDraw);
    if (buffer)
        count = int(records.size());
    return buffer;
}

template <typename T>
void append(std::vector<T>& to, const std::vector<T>& from)
{
    to.insert(to.end(), from.begin(), from.end());
}

void appendRow(FrameDrawData& frame, const RowDrawData& row)
{
    append(frame.backgroundCells, row.backgroundCells);
    append(frame.powerlineJoinCells, row.powerlineJoinCells);
    append(frame.glyphCellsGray, row.glyphCellsGray);
    append(frame.glyphCellsColor, row.glyphCellsColor);
    append(frame.decorationCells, row.decorationCells);
    append(frame.underImageDraws, row.underImageDraws);
    append(frame.placeholderImageDraws, row.placeholderImageDraws);
    append(frame.overImageDraws, row.overImageDraws);
    append(frame.otherImageDraws, row.otherImageDraws);
}

} // namespace

FramePass::FramePass(IRendererHost& host, IGpuDevice& device, ImageTextures& images,
                     IFrameContent& content)
    : m_host(host), m_device(device), m_images(images), m_content(content)
{
}

std::optional<VisibleRows> FramePass::visibleRowRange(Buffer& buffer)
{
    const int count = buffer.lines().count();
    if (count == 0)
        return std::nullopt;
    const int first = buffer.yDisp();
    const int last = int(std::min<int64_t>(int64_t(first) + buffer.rows() - 1, count - 1));
    if (last < first)
        return std::nullopt;
    return VisibleRows{first, last, first};
}

RowDrawBuffers FramePass::makeRowBuffers(const RowDrawData& data)
{
    RowDrawBuffers buffers;
    buffers.backgroundBuffer = exactBuffer(m_device, data.backgroundCells, buffers.backgroundCount);
    buffers.powerlineJoinBuffer =
        exactBuffer(m_device, data.powerlineJoinCells, buffers.powerlineJoinCount);
    buffers.glyphGrayBuffer = exactBuffer(m_device, data.glyphCellsGray, buffers.glyphGrayCount);
    buffers.glyphColorBuffer = exactBuffer(m_device, data.glyphCellsColor, buffers.glyphColorCount);
    buffers.decorationBuffer = exactBuffer(m_device, data.decorationCells, buffers.decorationCount);
    buffers.underImageBuffers = makeImageDrawBuffers(m_device, data.underImageDraws);
    buffers.placeholderImageBuffers = makeImageDrawBuffers(m_device, data.placeholderImageDraws);
    buffers.overImageBuffers = makeImageDrawBuffers(m_device, data.overImageDraws);
    buffers.otherImageBuffers = makeImageDrawBuffers(m_device, data.otherImageDraws);
    return buffers;
}

RowDrawData FramePass::buildRow(int row, Buffer& buffer, const VisibleRows& visible, double scale,
                                const VirtualPlacements& placements)
{
    return m_content.buildRowDrawData(row, buffer, visible.yDisp, m_cellWidth, m_cellHeight,
                                      m_yOffset, scale * m_viewWidth, scale, placements);
}

DrawData FramePass::buildDrawDataPass(double scale)
{
    Terminal* terminal = m_host.terminal();
    m_images.prune(terminal ? &terminal->kittyGraphicsState() : nullptr);
    const std::optional<QSizeF> cell = m_host.cellDimension();
    if (!terminal || !cell)
        return {};

    Buffer& buffer = terminal->buffer();
    const QRawFont& font = m_host.fontSet().rawFont(FontStyle::normal);
    const double descent = font.descent();
    const double leading = font.leading();
    m_cellWidth = cell->width();
    m_cellHeight = cell->height();
    m_yOffset = std::ceil(descent + leading);
    m_viewWidth = m_host.bounds().width();

    const auto visible = visibleRowRange(buffer);
    if (!visible)
        return {};

    const MetalBufferingMode mode = m_host.metalBufferingMode();
    if (m_cacheBufferingMode != mode) {
        if (mode == MetalBufferingMode::perFrameAggregated) {
            for (auto& [row, entry] : m_rowCache)
                entry.buffers.reset();
        }
        m_cacheBufferingMode = mode;
    }

    const KittyGraphicsState& kitty = terminal->kittyGraphicsState();
    const bool isAltBuffer = terminal->isCurrentBufferAlternate();
    const CacheSignature signature{
        scale,
        m_cellWidth,
        m_cellHeight,
        m_host.bounds().width(),
        m_host.bounds().height(),
        buffer.yDisp(),
        buffer.rows(),
        buffer.cols(),
        m_host.fontSet().normal.family(),
        font.pixelSize(),
        isAltBuffer,
        {kitty.imagesById.size(), kitty.placementsByKey.size(), kitty.nextImageId,
         kitty.nextPlacementId},
        m_host.bidiHostPolicy(),
    };
    const bool signatureChanged = m_cacheSignature != signature;
    if (signatureChanged)
        m_rowCache.clear();
    m_cacheSignature = signature;

    bool fullRebuild = true;
    std::erase_if(m_rowCache, [&](const auto& entry) {
        return entry.first < visible->first || entry.first > visible->last;
    });
    const auto taken = m_host.takeMetalDirtyRange();
    std::optional<std::pair<int, int>> dirty;
    if (!signatureChanged && !m_rowCache.empty()) {
        fullRebuild = false;
        if (taken) {
            const int lo = std::max(taken->first, visible->first);
            const int hi = std::min(taken->second, visible->last);
            if (hi >= lo)
                dirty = std::pair(lo, hi);
        }
    }

    DrawData out;
    if (mode == MetalBufferingMode::perFrameAggregated)
        out.frame = FrameDrawData{};

    VirtualPlacements placements;
    for (const auto& [key, record] : kitty.placementsByKey) {
        if (record.isVirtual && record.isAlternateBuffer == isAltBuffer)
            placements[record.imageId].push_back(record);
    }

    const int maximumRows = terminal->options().maximumBidiParagraphRows;
    for (int row = visible->first; row <= visible->last; ++row) {
        const BufferLinePtr& line = buffer.lines().line(row);
        const uint64_t generation = line->generation();
        const uint64_t revision = TerminalBidi::layoutRevision(row, buffer, maximumRows);

        auto cached = m_rowCache.find(row);
        const bool valid = cached != m_rowCache.end() && cached->second.lineRef.get() == line.get()
                           && cached->second.lineSerial == line->serial()
                           && cached->second.generation == generation
                           && cached->second.bidiParagraphRevision == revision;
        const bool isDirty = dirty && dirty->first <= row && row <= dirty->second;

        RowCacheEntry* entry = nullptr;
        if (fullRebuild || !valid || isDirty) {
            RowCacheEntry fresh{line, line->serial(), generation, revision, std::nullopt,
                                std::nullopt};
            fresh.data = buildRow(row, buffer, *visible, scale, placements);
            if (mode == MetalBufferingMode::perRowPersistent)
                fresh.buffers = makeRowBuffers(*fresh.data);
            entry = &(m_rowCache[row] = std::move(fresh));
        } else {
            entry = &cached->second;
            if (!entry->data)
                entry->data = buildRow(row, buffer, *visible, scale, placements);
            if (mode == MetalBufferingMode::perRowPersistent && !entry->buffers)
                entry->buffers = makeRowBuffers(*entry->data);
        }

        if (entry->buffers)
            out.rows.push_back(*entry->buffers);
        else if (out.frame)
            appendRow(*out.frame, *entry->data);
    }

    m_content.buildCursorDrawData(scale, m_cellWidth, m_cellHeight, descent, leading,
                                  visible->yDisp, visible->first, visible->last, out);
    return out;
}

} // namespace veldatron
