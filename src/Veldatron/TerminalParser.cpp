// The parse loop compiled for the terminal: the terminal's inline entry points (printing, CR and
// LF) become part of it.

#include "EscapeSequenceParserImpl.h"
#include "Terminal.h"
#include "TerminalCellRun.h"

namespace veldatron {

template class BasicEscapeSequenceParser<Terminal>;

} // namespace veldatron
