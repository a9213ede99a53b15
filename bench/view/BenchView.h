#pragma once

// The view the view benchmarks draw into: `cols` × `rows` cells of DejaVu Sans Mono at 15 px, the
// font of the tests.

#include "BenchScreens.h"
#include "TerminalView.h"

#include <QFont>
#include <QScrollBar>

#include <cmath>
#include <memory>

namespace bench_screens {

inline veldatron::TerminalOptions viewOptions() {
    veldatron::TerminalOptions options = veldatron::TerminalView::defaultStartupOptions();
    options.cols = cols;
    options.rows = rows;
    return options;
}

inline std::unique_ptr<veldatron::TerminalView> makeView() {
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(15);
    return std::make_unique<veldatron::TerminalView>(nullptr, font, viewOptions());
}

// Sizes the view to hold exactly its cells beside the scroll bar, as a window would.
inline void fitToCells(veldatron::TerminalView& view) {
    const QSizeF cell = view.cellDimension();
    view.resize(int(std::ceil(cols * cell.width())) + view.scroller()->sizeHint().width(),
                int(std::ceil(rows * cell.height())));
    view.processSizeChange(QSizeF(view.size()));
}

} // namespace bench_screens
