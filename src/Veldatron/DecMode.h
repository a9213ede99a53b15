#pragma once

namespace veldatron {

/// The DEC private modes (CSI ? Pm h / l, DECRQM CSI ? Pm $ p, XTSAVE and XTRESTORE) by their
/// numbers. Set, reset, save, restore and the reports all read this one list; a number missing
/// here is a mode the terminal does not know.
enum class DecMode : int {
    applicationCursorKeys = 1, // DECCKM
    ansi = 2,                  // DECANM
    columns132 = 3,            // DECCOLM
    smoothScroll = 4,          // DECSCLM
    reverseVideo = 5,          // DECSCNM
    originMode = 6,            // DECOM
    autoWrap = 7,              // DECAWM
    autoRepeat = 8,            // DECARM
    x10Mouse = 9,
    showToolbar = 10,
    cursorBlink = 12,
    cursorBlinkMenu = 13,
    cursorBlinkXor = 14,
    printFormFeed = 18, // DECPFF
    printExtent = 19,   // DECPEX
    cursorVisible = 25, // DECTCEM
    showScrollbar = 30,
    allow80To132 = 40,
    moreFix = 41,
    nationalCharacterSets = 42, // DECNRCM
    marginBell = 44,
    reverseWraparound = 45,
    logging = 46,
    alternateScreen = 47,
    // Accepted without effect when set; no report.
    silentlySet63 = 63,
    applicationKeypad = 66,        // DECNKM
    backarrowSendsBackspace = 67,  // DECBKM
    leftRightMargins = 69,         // DECLRMM
    sixelDisplay = 80,             // DECSDM
    keepScreenOnColumnChange = 95, // DECNCSM
    mouseNormal = 1000,
    mouseHighlight = 1001,
    mouseButtonEvent = 1002,
    mouseAnyEvent = 1003,
    focusEvents = 1004,
    mouseUtf8 = 1005,
    mouseSgr = 1006,
    alternateScroll = 1007,
    mouseUrxvt = 1015,
    mouseSgrPixels = 1016,
    eightBitMeta = 1034,
    alternateScreenClearing = 1047,
    saveCursor = 1048,
    alternateScreenSavingCursor = 1049,
    bidiArrowKeySwap = 1243,
    bracketedPaste = 2004,
    synchronizedOutput = 2026,
    bidiBoxMirroring = 2500,
    bidiAutodetectDirection = 2501,
};

/// The ANSI modes (CSI Pm h / l, DECRQM CSI Pm $ p) by their numbers.
enum class AnsiMode : int {
    guardedAreaTransfer = 1,     // GATM
    keyboardAction = 2,          // KAM
    controlRepresentation = 3,   // CRM
    insert = 4,                  // IRM
    statusReportTransfer = 5,    // SRTM
    verticalEditing = 7,         // VEM
    bidirectionalSupport = 8,    // BDSM
    horizontalEditing = 10,      // HEM
    positioningUnit = 11,        // PUM
    sendReceive = 12,            // SRM
    formatEffectorAction = 13,   // FEAM
    formatEffectorTransfer = 14, // FETM
    multipleAreaTransfer = 15,   // MATM
    transferTermination = 16,    // TTM
    selectedAreaTransfer = 17,   // SATM
    tabulationStop = 18,         // TSM
    editingBoundary = 19,        // EBM
    lineFeed = 20,               // LNM
};

} // namespace veldatron
