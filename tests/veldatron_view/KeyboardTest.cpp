// Keys delivered to the view as the platform delivers them (QKeyEvents with their native
// fields), read back as the bytes the program in the terminal receives.

#include "ViewFixture.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

// X11 key codes and symbols of the keys the tests press.
constexpr quint32 keyCodeA = 38;
constexpr quint32 keysymShiftL = 0xffe1;
constexpr quint32 keysymShiftR = 0xffe2;
constexpr quint32 keysymControlL = 0xffe3;
constexpr quint32 lockMask = 0x2;

// A key event with its native fields: the X11 key code and symbol, the X11 modifier mask.
struct Key {
    Key(int key, Qt::KeyboardModifiers modifiers = {}, QString text = {}, quint32 keyCode = 0,
        quint32 keysym = 0, quint32 nativeModifiers = 0, bool autoRepeat = false)
        : key(key), modifiers(modifiers), text(std::move(text)), keyCode(keyCode), keysym(keysym),
          nativeModifiers(nativeModifiers), autoRepeat(autoRepeat) {}

    int key;
    Qt::KeyboardModifiers modifiers;
    QString text;
    quint32 keyCode;
    quint32 keysym;
    quint32 nativeModifiers;
    bool autoRepeat;
};

void deliver(QWidget& view, QEvent::Type type, const Key& k) {
    QKeyEvent event(type, k.key, k.modifiers, k.keyCode, k.keysym, k.nativeModifiers, k.text,
                    k.autoRepeat);
    QCoreApplication::sendEvent(&view, &event);
}

std::string press(ViewFixture& f, const Key& k) {
    f.host.clearSent();
    deliver(f.view(), QEvent::KeyPress, k);
    return f.host.sent;
}

std::string release(ViewFixture& f, const Key& k) {
    f.host.clearSent();
    deliver(f.view(), QEvent::KeyRelease, k);
    return f.host.sent;
}

struct KeyCase {
    const char* name;
    Key key;
    std::string expected;
};

void expectPresses(ViewFixture& f, std::initializer_list<KeyCase> cases) {
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(press(f, c.key), c.expected);
    }
}

const auto ctrl = Qt::ControlModifier;
const auto shift = Qt::ShiftModifier;
const auto alt = Qt::AltModifier;
const auto super = Qt::MetaModifier;
const auto keypad = Qt::KeypadModifier;

// Lines to scroll back over: 100 lines of output on 25 rows.
void fillScrollback(ViewFixture& f) {
    for (int i = 0; i < 100; ++i) {
        f.feed("line " + std::to_string(i) + "\r\n");
    }
    f.clock.advance(17ms);
}

TEST(LegacyKeys, EveryKindOfKeyReachesTheProgram) {
    ViewFixture f;
    expectPresses(f, {
        {"a letter", {Qt::Key_A, {}, "a"}, "a"},
        {"a shifted letter", {Qt::Key_A, shift, "A"}, "A"},
        {"Return", {Qt::Key_Return, {}, "\r"}, "\r"},
        {"Tab", {Qt::Key_Tab, {}, "\t"}, "\t"},
        {"Shift+Tab", {Qt::Key_Backtab, shift, ""}, "\x1b[Z"},
        {"Escape", {Qt::Key_Escape, {}, "\x1b"}, "\x1b"},
        {"Backspace", {Qt::Key_Backspace, {}, "\b"}, "\x7f"},
        {"Up", {Qt::Key_Up}, "\x1b[A"},
        {"Shift+Up", {Qt::Key_Up, shift}, "\x1b[1;2A"},
        {"Ctrl+Left", {Qt::Key_Left, ctrl}, "\x1b[1;5D"},
        {"Home", {Qt::Key_Home}, "\x1b[H"},
        {"End", {Qt::Key_End}, "\x1b[F"},
        {"Delete", {Qt::Key_Delete}, "\x1b[3~"},
        {"Insert", {Qt::Key_Insert}, "\x1b[2~"},
        {"Shift+Page Up is a key, not a scroll", {Qt::Key_PageUp, shift}, "\x1b[5;2~"},
        {"F1", {Qt::Key_F1}, "\x1bOP"},
        {"F3", {Qt::Key_F3}, "\x1bOR"},
        {"Ctrl+F5", {Qt::Key_F5, ctrl}, "\x1b[15;5~"},
        {"F13 is Shift+F1", {Qt::Key_F13}, "\x1b[1;2P"},
        {"Ctrl+a", {Qt::Key_A, ctrl, "\x01"}, "\x01"},
        {"Ctrl+Shift+a", {Qt::Key_A, ctrl | shift, "\x01"}, "\x01"},
        {"Ctrl+[", {Qt::Key_BracketLeft, ctrl, "\x1b"}, "\x1b"},
        {"Ctrl+Space", {Qt::Key_Space, ctrl, " "}, std::string(1, '\0')},
        {"Ctrl+6", {Qt::Key_6, ctrl, "6"}, "\x1e"},
        {"Ctrl+2 sends nothing", {Qt::Key_2, ctrl, "2"}, ""},
        {"Ctrl+/ sends nothing", {Qt::Key_Slash, ctrl, "/"}, ""},
        {"Alt+x", {Qt::Key_X, alt, "x"}, "\x1bx"},
        {"Alt+Left goes to the encoder first", {Qt::Key_Left, alt}, "\x1b[1;3D"},
        {"Alt+Backspace", {Qt::Key_Backspace, alt, "\b"}, "\x1b\x7f"},
        {"keypad digit", {Qt::Key_5, keypad, "5"}, "5"},
        {"keypad Enter", {Qt::Key_Enter, keypad, "\r"}, "\r"},
        {"keypad Left never uses SS3", {Qt::Key_Left, keypad}, "\x1b[D"},
        {"Super+a is the application's", {Qt::Key_A, super, "a"}, ""},
        {"Super+Left goes to the line's start", {Qt::Key_Left, super}, "\x1b" "b"},
    });
    // Alt as Meta sends ESC and the key as two writes.
    press(f, {Qt::Key_X, alt, "x"});
    EXPECT_EQ(f.host.sends, (std::vector<std::string>{"\x1b", "x"}));
}

TEST(LegacyKeys, ApplicationCursorModeChangesTheCursorKeysOnly) {
    ViewFixture f;
    f.feed("\x1b[?1h");
    expectPresses(f, {
        {"Up", {Qt::Key_Up}, "\x1bOA"},
        {"Left", {Qt::Key_Left}, "\x1bOD"},
        {"Home", {Qt::Key_Home}, "\x1bOH"},
        {"Shift+Up keeps the CSI form", {Qt::Key_Up, shift}, "\x1b[1;2A"},
        {"Page Up goes to the program", {Qt::Key_PageUp}, "\x1b[5~"},
        {"Return", {Qt::Key_Return, {}, "\r"}, "\r"},
    });
}

TEST(LegacyKeys, PageKeysScrollTheViewOnTheNormalScreen) {
    ViewFixture f;
    fillScrollback(f);
    Buffer& buffer = f.terminal().buffer();
    const int bottom = buffer.yDisp();
    ASSERT_GT(bottom, 25);
    EXPECT_EQ(press(f, {Qt::Key_PageUp}), "");
    EXPECT_EQ(buffer.yDisp(), bottom - 25);
    EXPECT_EQ(press(f, {Qt::Key_PageUp, {}, "", 0, 0, lockMask}), "") << "Caps Lock aside";
    EXPECT_EQ(buffer.yDisp(), bottom - 50);
    EXPECT_EQ(press(f, {Qt::Key_PageDown}), "");
    EXPECT_EQ(buffer.yDisp(), bottom - 25);
    // Typing goes back to the live screen.
    EXPECT_EQ(press(f, {Qt::Key_A, {}, "a"}), "a");
    EXPECT_EQ(buffer.yDisp(), bottom);

    // The alternate screen has no scrollback: the program gets the keys.
    f.feed("\x1b[?1049h");
    EXPECT_EQ(press(f, {Qt::Key_PageUp}), "\x1b[5~");
    EXPECT_EQ(press(f, {Qt::Key_PageDown}), "\x1b[6~");
}

TEST(LegacyKeys, AltIsLeftToTheLayoutWhenItIsNotMeta) {
    ViewFixture f;
    f.view().setOptionAsMetaKey(false);
    expectPresses(f, {
        {"a character the layout composes with Alt", {Qt::Key_E, alt, "\u00e9"}, "\xc3\xa9"},
        {"Alt+Left is a word movement nobody handles", {Qt::Key_Left, alt}, ""},
        {"Alt+Delete still deletes", {Qt::Key_Delete, alt}, "\x1b[3~"},
        {"Alt+F1", {Qt::Key_F1, alt}, "\x1bOP"},
    });
    // Super+Alt+o turns Alt as Meta back on.
    EXPECT_EQ(press(f, {Qt::Key_O, super | alt, "o"}), "");
    EXPECT_TRUE(f.view().optionAsMetaKey());
    EXPECT_EQ(press(f, {Qt::Key_X, alt, "x"}), "\x1bx");
}

TEST(LegacyKeys, BackspaceCanSendControlH) {
    ViewFixture f;
    f.view().setBackspaceSendsControlH(true);
    EXPECT_EQ(press(f, {Qt::Key_Backspace, {}, "\b"}), "\b");
    EXPECT_EQ(press(f, {Qt::Key_Backspace, alt, "\b"}), "\x1b\x7f")
        << "Alt as Meta sends the key's own character";
}

TEST(LegacyKeys, ModifierKeysAloneSendNothing) {
    ViewFixture f;
    EXPECT_EQ(press(f, {Qt::Key_Shift, shift, "", 50, keysymShiftL}), "");
    EXPECT_EQ(press(f, {Qt::Key_Control, ctrl, "", 37, keysymControlL}), "");
    EXPECT_TRUE(f.view().commandActive()) << "Ctrl is the link modifier";
    EXPECT_EQ(release(f, {Qt::Key_Control, ctrl, "", 37, keysymControlL}), "");
    EXPECT_FALSE(f.view().commandActive());
    EXPECT_EQ(release(f, {Qt::Key_A, {}, "a"}), "") << "releases are not reported";
}

TEST(KittyKeys, DisambiguatedKeys) {
    ViewFixture f;
    f.feed("\x1b[>1u");
    ASSERT_EQ(f.terminal().keyboardEnhancementFlags(), KittyKeyboardFlags::disambiguate);
    expectPresses(f, {
        {"Escape", {Qt::Key_Escape, {}, "\x1b"}, "\x1b[27u"},
        {"a letter types itself", {Qt::Key_A, {}, "a", keyCodeA}, "a"},
        {"Ctrl+a", {Qt::Key_A, ctrl, "\x01", keyCodeA}, "\x1b[97;5u"},
        {"Alt+a", {Qt::Key_A, alt, "a", keyCodeA}, "\x1b[97;3u"},
        {"Caps Lock with Ctrl+a", {Qt::Key_A, ctrl, "\x01", keyCodeA, 0, lockMask},
         "\x1b[97;69u"},
        {"Return", {Qt::Key_Return, {}, "\r"}, "\r"},
        {"Ctrl+Return", {Qt::Key_Return, ctrl, "\r"}, "\x1b[13;5u"},
        {"Shift+Return", {Qt::Key_Return, shift, "\r"}, "\x1b[13;2u"},
        {"Shift+Tab", {Qt::Key_Backtab, shift, ""}, "\x1b[9;2u"},
        {"Backspace", {Qt::Key_Backspace, {}, "\b"}, "\x7f"},
        {"Up ignores application cursor mode", {Qt::Key_Up}, "\x1b[A"},
        {"F3", {Qt::Key_F3}, "\x1b[13~"},
        {"Page Up is a key", {Qt::Key_PageUp}, "\x1b[5~"},
        {"Super+a", {Qt::Key_A, super, "a", keyCodeA}, ""},
    });
}

TEST(KittyKeys, EveryKeyWithTextEventTypesAndAlternates) {
    ViewFixture f;
    f.feed("\x1b[=31u"); // every enhancement
    expectPresses(f, {
        {"a letter with its text", {Qt::Key_A, {}, "a", keyCodeA}, "\x1b[97;;97u"},
        {"Shift+a with its shifted key", {Qt::Key_A, shift, "A", keyCodeA}, "\x1b[97:65;2;65u"},
        {"a held key repeats", {Qt::Key_A, {}, "a", keyCodeA, 0, 0, true}, "\x1b[97;1:2;97u"},
        {"a Cyrillic layout reports the US key", {0x0424, {}, "\u0444", keyCodeA},
         "\x1b[1092::97;;1092u"},
        {"Return", {Qt::Key_Return, {}, "\r"}, "\x1b[13u"},
        {"Left Shift", {Qt::Key_Shift, shift, "", 50, keysymShiftL}, "\x1b[57441;2u"},
        {"Right Shift", {Qt::Key_Shift, shift, "", 62, keysymShiftR}, "\x1b[57447;2u"},
    });
    EXPECT_EQ(release(f, {Qt::Key_A, {}, "a", keyCodeA}), "\x1b[97;1:3u");
    EXPECT_EQ(release(f, {Qt::Key_Shift, {}, "", 50, keysymShiftL}), "\x1b[57441;1:3u")
        << "a release holds no Shift however the platform reports it";
    EXPECT_EQ(release(f, {Qt::Key_A, {}, "a", keyCodeA, 0, 0, true}), "")
        << "X11's auto-repeat release: the key is still down";
}

TEST(KittyKeys, ReleasesAreReportedOnlyWhenTheProgramAskedForThem) {
    ViewFixture f;
    f.feed("\x1b[>1u");
    EXPECT_EQ(release(f, {Qt::Key_Up}), "");
    f.feed("\x1b[=2u"); // event types, but not every key
    EXPECT_EQ(press(f, {Qt::Key_Up}), "\x1b[A");
    EXPECT_EQ(release(f, {Qt::Key_Up}), "\x1b[1;1:3A");
    EXPECT_EQ(release(f, {Qt::Key_A, {}, "a", keyCodeA}), "");
    EXPECT_EQ(release(f, {Qt::Key_Return, ctrl, "\r"}), "");
    EXPECT_EQ(release(f, {Qt::Key_A, ctrl, "\x01", keyCodeA}), "\x1b[97;5:3u");
    EXPECT_EQ(press(f, {Qt::Key_Shift, shift, "", 50, keysymShiftL}), "")
        << "modifier keys only with every key reported";
}

TEST(KittyKeys, AltToggleOnlyToggles) {
    ViewFixture f;
    f.feed("\x1b[>1u");
    EXPECT_EQ(press(f, {Qt::Key_O, super | alt, "o"}), "");
    EXPECT_FALSE(f.view().optionAsMetaKey());
    // Alt now composes: the layout's character is plain text.
    EXPECT_EQ(press(f, {Qt::Key_G, alt, "\u00a9"}), "\xc2\xa9");
}

// The platform's focus chain and window shortcuts see keys before the view does.
class FocusedViewTest : public ::testing::Test {
protected:
    FocusedViewTest() {
        auto* layout = new QVBoxLayout(&m_window);
        layout->addWidget(&m_fixture.view());
        layout->addWidget(new QLineEdit(&m_window));
        m_window.resize(400, 400);
        m_window.show();
        QApplication::setActiveWindow(&m_window);
        m_fixture.view().setFocus();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&m_window));
    }
    ~FocusedViewTest() override { m_fixture.view().setParent(nullptr); }

    QWidget m_window;
    ViewFixture m_fixture;
};

TEST_F(FocusedViewTest, TabAndWindowShortcutsOnCtrlGoToTheProgram) {
    ViewFixture& f = m_fixture;
    auto* newWindow = new QAction(&m_window);
    newWindow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    m_window.addAction(newWindow);
    int triggered = 0;
    QObject::connect(newWindow, &QAction::triggered, [&] { ++triggered; });

    auto* applicationCommand = new QAction(&m_window);
    applicationCommand->setShortcut(QKeySequence(Qt::META | Qt::Key_N));
    m_window.addAction(applicationCommand);
    int commands = 0;
    QObject::connect(applicationCommand, &QAction::triggered, [&] { ++commands; });

    f.host.clearSent();
    QTest::keyClick(&f.view(), Qt::Key_Tab);
    QTest::keyClick(&f.view(), Qt::Key_Backtab, shift);
    QTest::keyClick(&f.view(), Qt::Key_N, ctrl);
    EXPECT_EQ(f.host.sent, "\t\x1b[Z\x0e");
    EXPECT_EQ(triggered, 0);
    EXPECT_EQ(QApplication::focusWidget(), &f.view()) << "Tab moved no focus";
    // Super keys stay the application's.
    QTest::keyClick(&f.view(), Qt::Key_N, super);
    EXPECT_EQ(commands, 1);
    EXPECT_EQ(f.host.sent, "\t\x1b[Z\x0e");
}

TEST_F(FocusedViewTest, CtrlShiftVPastesTheClipboard) {
    ViewFixture& f = m_fixture;
    QApplication::clipboard()->setText(QStringLiteral("echo hi"));
    f.host.clearSent();
    QTest::keyClick(&f.view(), Qt::Key_V, ctrl | shift);
    EXPECT_EQ(f.host.sent, "echo hi");
}

} // namespace
