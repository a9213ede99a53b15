#pragma once

// Value types of OSC 133 shell integration: what a cell belongs to (prompt, input, output), the
// marks and anchors of prompts, the command-line state, and the settings of prompt clicks.

#include "OptionSet.h"
#include "Position.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace veldatron {

// The kind of a prompt, as the OSC 133 option "k" names it.
enum class SemanticPromptKind : uint8_t { initial, right, continuation, secondary };

// "i", "r", "c", "s".
std::string_view tagName(SemanticPromptKind kind);
// "initial", "right", "continuation", "secondary".
std::string_view description(SemanticPromptKind kind);

// What a cell, or the text being printed, belongs to. A cell stores it as one byte:
// 0 none, 1-4 prompt of kind initial/right/continuation/secondary, 5 input, 6 output.
class SemanticContent {
public:
    enum class Case : uint8_t { prompt, none, input, output };

    static constexpr SemanticContent prompt(SemanticPromptKind kind) {
        return SemanticContent(Case::prompt, kind);
    }
    static const SemanticContent none;
    static const SemanticContent input;
    static const SemanticContent output;

    constexpr SemanticContent() = default;

    constexpr Case kind() const { return m_case; }
    // The prompt's kind; meaningful only for Case::prompt.
    constexpr SemanticPromptKind promptKind() const { return m_promptKind; }

    // The content of a cell code; codes above 6 read as none.
    static constexpr SemanticContent fromCellCode(uint8_t code) {
        if (code >= 1 && code <= 4) {
            return prompt(SemanticPromptKind(code - 1));
        }
        if (code == 5) {
            return SemanticContent(Case::input, SemanticPromptKind::initial);
        }
        if (code == 6) {
            return SemanticContent(Case::output, SemanticPromptKind::initial);
        }
        return SemanticContent();
    }
    constexpr uint8_t cellCode() const {
        switch (m_case) {
        case Case::prompt:
            return uint8_t(1 + uint8_t(m_promptKind));
        case Case::input:
            return 5;
        case Case::output:
            return 6;
        case Case::none:
            break;
        }
        return 0;
    }

    // "none", "input", "output" or "prompt(" + the kind's description + ")".
    std::string description() const;

    friend constexpr bool operator==(const SemanticContent&, const SemanticContent&) = default;

private:
    // Cases other than prompt always carry `initial`, so the defaulted comparison ignores it.
    constexpr SemanticContent(Case c, SemanticPromptKind kind) : m_case(c), m_promptKind(kind) {}

    Case m_case = Case::none;
    SemanticPromptKind m_promptKind = SemanticPromptKind::initial;
};

inline constexpr SemanticContent SemanticContent::none = SemanticContent();
inline constexpr SemanticContent SemanticContent::input = SemanticContent::fromCellCode(5);
inline constexpr SemanticContent SemanticContent::output = SemanticContent::fromCellCode(6);

// Where a prompt starts: a buffer position and the prompt's kind.
struct SemanticPromptAnchor {
    Position position;
    SemanticPromptKind kind = SemanticPromptKind::initial;

    friend constexpr bool operator==(const SemanticPromptAnchor&,
                                     const SemanticPromptAnchor&) = default;
};

// One shell-integration mark of a row (at most one per kind per row). The kind is fixed once
// the mark is made; column and group move with the row's content.
class SemanticMark {
public:
    constexpr SemanticMark(SemanticPromptKind kind, int64_t column, uint64_t group)
        : column(column), group(group), m_kind(kind) {}

    constexpr SemanticPromptKind kind() const { return m_kind; }

    int64_t column;
    // The prompt group (the buffer's group counter) the mark belongs to.
    uint64_t group;

    friend constexpr bool operator==(const SemanticMark&, const SemanticMark&) = default;

private:
    SemanticPromptKind m_kind;
};

// The state of the shell's command line, held by each buffer.
enum class SemanticInputState : uint8_t { idle, prompt, armed, submitted };

// How the shell accepts cursor movement for a prompt click (the OSC 133 "cl" modes).
enum class SemanticPromptCursorClickMode : uint8_t {
    line,
    multiple,
    conservativeVertical,
    smartVertical
};

// What the shell asked for in its OSC 133 options.
class SemanticPromptClickMode {
public:
    enum class Case : uint8_t { cursorKeys, none, clickEventsAbsolute, clickEventsRelative };

    static constexpr SemanticPromptClickMode cursorKeys(SemanticPromptCursorClickMode mode) {
        return SemanticPromptClickMode(Case::cursorKeys, mode);
    }
    static const SemanticPromptClickMode none;
    static const SemanticPromptClickMode clickEventsAbsolute;
    static const SemanticPromptClickMode clickEventsRelative;

    constexpr SemanticPromptClickMode() = default;

    constexpr Case kind() const { return m_case; }
    // Meaningful only for Case::cursorKeys.
    constexpr SemanticPromptCursorClickMode cursorMode() const { return m_mode; }

    friend constexpr bool operator==(const SemanticPromptClickMode&,
                                     const SemanticPromptClickMode&) = default;

private:
    constexpr SemanticPromptClickMode(Case c, SemanticPromptCursorClickMode mode)
        : m_case(c), m_mode(mode) {}

    Case m_case = Case::none;
    SemanticPromptCursorClickMode m_mode = SemanticPromptCursorClickMode::line;
};

inline constexpr SemanticPromptClickMode SemanticPromptClickMode::none = SemanticPromptClickMode();
inline constexpr SemanticPromptClickMode SemanticPromptClickMode::clickEventsAbsolute =
    SemanticPromptClickMode(Case::clickEventsAbsolute, SemanticPromptCursorClickMode::line);
inline constexpr SemanticPromptClickMode SemanticPromptClickMode::clickEventsRelative =
    SemanticPromptClickMode(Case::clickEventsRelative, SemanticPromptCursorClickMode::line);

// Modifier keys held during a click. Every byte value is a valid set.
struct SemanticPromptClickModifiers : OptionSet<SemanticPromptClickModifiers> {
    using OptionSet::OptionSet;

    static const SemanticPromptClickModifiers shift;
    static const SemanticPromptClickModifiers control;
    static const SemanticPromptClickModifiers option;
    static const SemanticPromptClickModifiers command;
};

inline constexpr SemanticPromptClickModifiers SemanticPromptClickModifiers::shift =
    SemanticPromptClickModifiers(uint8_t(1));
inline constexpr SemanticPromptClickModifiers SemanticPromptClickModifiers::control =
    SemanticPromptClickModifiers(uint8_t(2));
inline constexpr SemanticPromptClickModifiers SemanticPromptClickModifiers::option =
    SemanticPromptClickModifiers(uint8_t(4));
inline constexpr SemanticPromptClickModifiers SemanticPromptClickModifiers::command =
    SemanticPromptClickModifiers(uint8_t(8));

// The host's setting for prompt clicks.
class SemanticPromptClickBehavior {
public:
    enum class Case : uint8_t { requireModifier, disabled, enabled };

    // A prompt click is taken only when the click's modifiers are exactly this set.
    static constexpr SemanticPromptClickBehavior
    requireModifier(SemanticPromptClickModifiers modifiers) {
        return SemanticPromptClickBehavior(Case::requireModifier, modifiers);
    }
    static const SemanticPromptClickBehavior disabled;
    static const SemanticPromptClickBehavior enabled;

    constexpr Case kind() const { return m_case; }
    // Meaningful only for Case::requireModifier.
    constexpr SemanticPromptClickModifiers modifiers() const { return m_modifiers; }

    friend constexpr bool operator==(const SemanticPromptClickBehavior&,
                                     const SemanticPromptClickBehavior&) = default;

private:
    constexpr SemanticPromptClickBehavior(Case c, SemanticPromptClickModifiers modifiers)
        : m_case(c), m_modifiers(modifiers) {}

    Case m_case;
    SemanticPromptClickModifiers m_modifiers;
};

inline constexpr SemanticPromptClickBehavior SemanticPromptClickBehavior::disabled =
    SemanticPromptClickBehavior(Case::disabled, SemanticPromptClickModifiers());
inline constexpr SemanticPromptClickBehavior SemanticPromptClickBehavior::enabled =
    SemanticPromptClickBehavior(Case::enabled, SemanticPromptClickModifiers());

// What the view recorded when the mouse button went down, handed over with the click.
struct SemanticPromptPointerSnapshot {
    bool selectionWasActive = false;
    bool didDrag = false;
    int64_t clickCount = 0;
    bool pressWasSemanticEligible = false;

    friend constexpr bool operator==(const SemanticPromptPointerSnapshot&,
                                     const SemanticPromptPointerSnapshot&) = default;
};

} // namespace veldatron
