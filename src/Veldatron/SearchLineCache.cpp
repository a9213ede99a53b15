#include "SearchLineCache.h"

#include "Buffer.h"
#include "TerminalServices.h"

#include <algorithm>
#include <chrono>

namespace veldatron {

namespace {

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

int64_t SearchLineCache::Entry::characterIndex(int32_t utf16) const {
    if (characterStarts.empty()) {
        return utf16;
    }
    const auto after = std::upper_bound(characterStarts.begin(), characterStarts.end(), utf16);
    return std::max<int64_t>(after - characterStarts.begin() - 1, 0);
}

SearchLineCache::SearchLineCache(TerminalServices& terminal, Clock clock)
    : m_terminal(terminal), m_clock(clock ? std::move(clock) : Clock(steadySeconds)) {}

void SearchLineCache::initLinesCache() {
    const double now = m_clock();
    const size_t lineCount = size_t(m_terminal.buffer().lines().count());
    const bool keep = m_linesCache && now - m_lastAccessTimestamp < maximumIdleSeconds &&
                      m_linesCache->size() == lineCount;
    if (!keep) {
        m_linesCache.emplace(lineCount);
    }
    m_lastAccessTimestamp = now;
}

void SearchLineCache::setLineInCache(int64_t row, Entry entry) {
    if (m_linesCache && row >= 0 && size_t(row) < m_linesCache->size()) {
        (*m_linesCache)[size_t(row)] = std::make_unique<Entry>(std::move(entry));
    }
}

const SearchLineCache::Entry* SearchLineCache::lineInCache(int64_t row) const {
    if (!m_linesCache || row < 0 || size_t(row) >= m_linesCache->size()) {
        return nullptr;
    }
    return (*m_linesCache)[size_t(row)].get();
}

void SearchLineCache::invalidate() {
    m_linesCache.reset();
    m_lastAccessTimestamp = 0;
}

bool SearchLineCache::dropsLastCell(int64_t row) const {
    CircularBufferLineList& lines = m_terminal.buffer().lines();
    if (row < 0 || row + 1 >= lines.count() || !lines[int(row) + 1].isWrapped()) {
        return false;
    }
    const BufferLine& line = lines[int(row)];
    const int last = line.count() - 1;
    // Only a real blank: the empty right half of a wide character that ends the row is part of
    // that character, whatever starts the next row.
    return last >= 0 && line[last].code() == 0 && line[last].width() <= 1 &&
           !(last >= 1 && line[last - 1].width() == 2) && lines[int(row) + 1][0].width() == 2;
}

SearchLineCache::Entry SearchLineCache::translateBufferLineToStringWithWrap(int64_t lineIndex,
                                                                            bool trimRight) const {
    Entry entry;
    entry.lineOffsets.push_back(0);
    CircularBufferLineList& lines = m_terminal.buffer().lines();
    const int count = lines.count();
    if (lineIndex < 0 || lineIndex >= count) {
        return entry;
    }
    std::u16string& text = entry.lineAsString;
    std::vector<int32_t>& starts = entry.characterStarts;
    int64_t characters = 0;
    // Characters of one UTF-16 unit need no table of starts; the table is made at the first
    // character that takes two units or more.
    const auto addCharacter = [&](const char16_t* units, size_t length) {
        if (length != 1 && starts.empty()) {
            starts.reserve(text.size() + 16);
            for (size_t i = 0; i < text.size(); ++i) {
                starts.push_back(int32_t(i));
            }
        }
        if (!starts.empty() || length != 1) {
            starts.push_back(int32_t(text.size()));
        }
        text.append(units, length);
        ++characters;
    };
    for (int row = int(lineIndex);; ++row) {
        const BufferLine& line = lines[row];
        const bool nextIsWrapped = row + 1 < count && lines[row + 1].isWrapped();
        int taken = line.count();
        if (trimRight && !nextIsWrapped) {
            taken = std::min(taken, std::max(line.getTrimmedLength(), 0));
        }
        if (dropsLastCell(row)) {
            --taken;
        }
        text.reserve(text.size() + size_t(std::max(taken, 0)));
        for (int col = 0; col < taken; ++col) {
            const CharData& cell = line[col];
            const int32_t code = cell.code();
            if (code > 0 && code < 0xD800) {
                const char16_t unit = char16_t(code);
                addCharacter(&unit, 1);
            } else if (code == 0) {
                if (col > 0 && line[col - 1].width() == 2) {
                    continue;
                }
                const char16_t blank = u' ';
                addCharacter(&blank, 1);
            } else {
                // Other scalars, interned clusters, and codes that name no character (" ").
                std::u16string units;
                for (char32_t c : m_terminal.character(code)) {
                    if (c >= 0x10000) {
                        units.push_back(char16_t(0xD800 + ((c - 0x10000) >> 10)));
                        units.push_back(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
                    } else {
                        units.push_back(char16_t(c == 0 ? u' ' : c));
                    }
                }
                addCharacter(units.data(), units.size());
            }
        }
        if (!nextIsWrapped) {
            break;
        }
        entry.lineOffsets.push_back(characters);
    }
    if (!starts.empty()) {
        starts.push_back(int32_t(text.size()));
    }
    return entry;
}

} // namespace veldatron
