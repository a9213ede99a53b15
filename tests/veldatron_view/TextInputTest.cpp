// Committed text, pastes and input-method compositions.

#include "CaretView.h"
#include "DictationOverlayTextView.h"
#include "ViewFixture.h"

#include <QCoreApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QTextCharFormat>

#include <gtest/gtest.h>

#include <iterator>
#include <random>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

constexpr quint32 keyCodeA = 38;

void pressKey(TerminalView& view, int key, Qt::KeyboardModifiers modifiers, const QString& text,
              quint32 keyCode = 0) {
    QKeyEvent event(QEvent::KeyPress, key, modifiers, keyCode, 0, 0, text);
    QCoreApplication::sendEvent(&view, &event);
}

// An input method's event: the composition so far (empty: none) and the text it commits.
void compose(TerminalView& view, const QString& preedit, const QString& commit = {},
             int cursor = -1) {
    QList<QInputMethodEvent::Attribute> attributes;
    if (!preedit.isEmpty()) {
        QTextCharFormat underline;
        underline.setFontUnderline(true);
        attributes.append({QInputMethodEvent::TextFormat, 0, int(preedit.size()), underline});
        attributes.append(
            {QInputMethodEvent::Cursor, cursor < 0 ? int(preedit.size()) : cursor, 1, QVariant()});
    }
    QInputMethodEvent event(preedit, attributes);
    event.setCommitString(commit);
    QCoreApplication::sendEvent(&view, &event);
}

TEST(Paste, BracketedPasteWrapsTheTextAndDropsMarkersInsideIt) {
    ViewFixture f;
    f.view().insertText(QStringLiteral("x"), true);
    EXPECT_EQ(f.host.sends, (std::vector<std::string>{"x"})) << "the program did not ask";

    f.feed("\x1b[?2004h");
    struct Case {
        const char* name;
        QString pasted;
        std::string body;
    };
    const Case cases[] = {
        {"plain text", QStringLiteral("x"), "x"},
        {"an end marker cannot end the paste early",
         QStringLiteral("echo safe\x1b[201~rm -rf ~\r"), "echo saferm -rf ~\r"},
        {"nor a start marker", QStringLiteral("a\x1b[200~b"), "ab"},
        {"markers that removing one puts together", QStringLiteral("a\x1b[20\x1b[201~1~b"),
         "ab"},
        {"an empty paste is the markers alone", QString(), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        f.host.clearSent();
        f.view().insertText(c.pasted, true);
        EXPECT_EQ(f.host.sends, (std::vector<std::string>{"\x1b[200~", c.body, "\x1b[201~"}));
    }
    // Typed text is never bracketed.
    f.host.clearSent();
    f.view().insertText(QStringLiteral("y"));
    EXPECT_EQ(f.host.sends, (std::vector<std::string>{"y"}));

    // The same with the kitty keyboard protocol on: a paste is no key event.
    f.feed("\x1b[=31u");
    f.host.clearSent();
    f.view().insertText(QStringLiteral("ls\x1b[201~\r"), true);
    EXPECT_EQ(f.host.sends, (std::vector<std::string>{"\x1b[200~", "ls\r", "\x1b[201~"}));
}

// Removes markers until none is left, the plain way: what a bracketed paste must send.
QString withoutMarkersByRepetition(QString text) {
    const QString start = QStringLiteral("\x1b[200~");
    const QString end = QStringLiteral("\x1b[201~");
    while (text.contains(start) || text.contains(end)) {
        text.remove(start);
        text.remove(end);
    }
    return text;
}

TEST(Paste, EveryMarkerGoesAlsoFromAMegabyteOfNestedOnes) {
    ViewFixture f;
    f.feed("\x1b[?2004h");
    // Each marker removed completes the next one. Removed layer by layer, the first paste took
    // minutes.
    const qsizetype k = (qsizetype(1) << 20) / 6;
    const QString open = QStringLiteral("\x1b[20").repeated(k);
    struct Case {
        const char* name;
        QString pasted;
        std::string body;
    };
    const Case nested[] = {
        {"end markers", open + QStringLiteral("\x1b[201~") + QStringLiteral("1~").repeated(k), ""},
        {"start markers between text",
         u'a' + open + QStringLiteral("\x1b[200~") + QStringLiteral("0~").repeated(k) + u'b', "ab"},
    };
    for (const Case& c : nested) {
        SCOPED_TRACE(c.name);
        f.host.clearSent();
        f.view().insertText(c.pasted, true);
        EXPECT_EQ(f.host.sends, (std::vector<std::string>{"\x1b[200~", c.body, "\x1b[201~"}));
    }

    // Texts made of marker pieces: what is sent is what removing markers until none is left
    // gives, whatever the nesting.
    const QString pieces[] = {
        QStringLiteral("\x1b[20"), QStringLiteral("\x1b[200~"), QStringLiteral("\x1b[201~"),
        QStringLiteral("0~"),      QStringLiteral("1~"),        QStringLiteral("\x1b"),
        QStringLiteral("["),       QStringLiteral("2"),         QStringLiteral("~"),
        QStringLiteral("x"),       QStringLiteral("\u00e9"),
    };
    std::mt19937 random(24);
    for (int i = 0; i < 2000; ++i) {
        QString pasted;
        for (int n = int(random() % 12); n > 0; --n) {
            pasted += pieces[random() % std::size(pieces)];
        }
        f.host.clearSent();
        f.view().insertText(pasted, true);
        ASSERT_EQ(f.host.sends.size(), 3u);
        EXPECT_EQ(f.host.sends[1], withoutMarkersByRepetition(pasted).toStdString())
            << QString(pasted).replace(QChar(0x1B), u'^').toStdString();
    }
}

TEST(TextInput, KittyModeReportsCommittedTextWithTheKeyThatMadeIt) {
    ViewFixture f;
    f.feed("\x1b[=25u"); // every key, with its text
    pressKey(f.view(), Qt::Key_A, Qt::NoModifier, QStringLiteral("a"), keyCodeA);
    EXPECT_EQ(f.host.sent, "\x1b[97;;97u");

    // Text without a key of its own (two characters from an input method) has key 0.
    f.host.clearSent();
    f.view().insertText(QStringLiteral("ab"));
    EXPECT_EQ(f.host.sent, "\x1b[0;;97:98u");

    // A character after a dead key is reported with the last key press, without its Alt.
    f.view().setOptionAsMetaKey(false);
    f.host.clearSent();
    pressKey(f.view(), Qt::Key_E, Qt::NoModifier, QString(), 26);
    f.view().insertText(QStringLiteral("\u00e9"));
    EXPECT_EQ(f.host.sent, "\x1b[101;;233u");
}

TEST(TextInput, ACompositionIsShownAtTheCaretUntilItIsCommitted) {
    ViewFixture f;
    f.view().resize(600, 400);
    f.feed("$ ");
    f.clock.advance(17ms);
    const QSizeF cell = f.view().cellDimension();

    compose(f.view(), QStringLiteral("ka"));
    EXPECT_TRUE(f.view().hasMarkedText());
    EXPECT_TRUE(f.view().kittyIsComposing());
    EXPECT_EQ(f.view().markedRange(), (TextRange{0, 2}));
    EXPECT_EQ(f.view().markedSelectedRange(), (TextRange{2, 0}));
    EXPECT_EQ(f.host.sent, "") << "nothing reaches the program while composing";
    DictationOverlayTextView* overlay = f.view().markedTextOverlay();
    ASSERT_NE(overlay, nullptr);
    EXPECT_EQ(overlay->text(), QStringLiteral("ka"));
    // The overlay's top edge is the caret's and its first line starts at the caret.
    const QRectF caret = f.view().caretView().frame();
    EXPECT_EQ(overlay->geometry().top(), int(caret.top()));
    EXPECT_EQ(overlay->geometry().left(), 4);
    ASSERT_EQ(overlay->lineFragments().size(), 1);
    EXPECT_DOUBLE_EQ(overlay->lineFragments()[0].left(), caret.left() - 4);
    EXPECT_DOUBLE_EQ(overlay->height(), cell.height());

    compose(f.view(), QString(), QStringLiteral("\u304b"));
    EXPECT_EQ(f.host.sent, "\xe3\x81\x8b");
    EXPECT_FALSE(f.view().hasMarkedText());
    EXPECT_FALSE(f.view().kittyIsComposing());
    EXPECT_EQ(f.view().markedTextOverlay(), nullptr);
    EXPECT_EQ(f.view().markedRange(), TextRange());
}

TEST(TextInput, ALongCompositionWrapsOntoFullLinesBelowTheCaret) {
    ViewFixture f;
    f.view().resize(300, 400);
    const QSizeF cell = f.view().cellDimension();
    f.feed(std::string(20, '.'));
    f.clock.advance(17ms);
    compose(f.view(), QString(60, QLatin1Char('x')));
    DictationOverlayTextView* overlay = f.view().markedTextOverlay();
    ASSERT_NE(overlay, nullptr);
    const QList<QRectF> lines = overlay->lineFragments();
    ASSERT_GE(lines.size(), 2);
    EXPECT_DOUBLE_EQ(lines[0].left(), 20 * cell.width() - 4);
    EXPECT_DOUBLE_EQ(lines[1].left(), 0) << "later lines start at the left inset";
    EXPECT_DOUBLE_EQ(lines[1].top(), cell.height());
    EXPECT_DOUBLE_EQ(overlay->layoutHeight(), lines.size() * cell.height());

    // At the left edge there is nothing to keep clear of.
    f.feed("\r\n");
    f.clock.advance(17ms);
    compose(f.view(), QStringLiteral("x"));
    EXPECT_DOUBLE_EQ(f.view().markedTextOverlay()->lineFragments()[0].left(), 0);

    // Colours: the view's background behind, its foreground for the text.
    EXPECT_EQ(f.view().markedTextOverlay()->overlayBackgroundColor(),
              f.view().nativeBackgroundColor().toQColor());
    EXPECT_EQ(f.view().markedTextOverlay()->textColor(),
              f.view().nativeForegroundColor().toQColor());
}

TEST(TextInput, QueriesOfInputMethods) {
    ViewFixture f;
    f.feed("\x1b[3;6H");
    EXPECT_EQ(f.view().selectedRange(), (TextRange{2 * 80 + 5, 0})) << "the caret's place";

    f.view().setMarkedText(QStringLiteral("abcd"), TextRange{4, 0});
    TextRange actual;
    EXPECT_EQ(f.view().attributedSubstring({3, 10}, &actual), QStringLiteral("d"));
    EXPECT_EQ(actual, (TextRange{3, 1}));
    EXPECT_EQ(f.view().attributedSubstring({4, 1}, &actual), std::nullopt);
    EXPECT_EQ(f.view().attributedSubstring({TextRange::notFound, 1}, &actual), std::nullopt);

    // An empty composition is none, though the input method still composes.
    f.view().setMarkedText(QString(), TextRange{0, 0});
    EXPECT_FALSE(f.view().hasMarkedText());
    EXPECT_EQ(f.view().markedRange(), TextRange());
    EXPECT_EQ(f.view().markedTextOverlay(), nullptr);
    EXPECT_TRUE(f.view().kittyIsComposing());
    f.view().unmarkText();
    EXPECT_FALSE(f.view().kittyIsComposing());

    const QSizeF cell = f.view().cellDimension();
    EXPECT_EQ(f.view().characterIndex(QPointF(3.5 * cell.width(), 2.5 * cell.height())),
              2 * 80 + 3);
    EXPECT_EQ(f.view().inputMethodQuery(Qt::ImEnabled).toBool(), true);
    EXPECT_EQ(f.view().inputMethodQuery(Qt::ImCursorRectangle).toRectF(),
              f.view().caretView().frame());
}

TEST(TextInput, DeleteBackwardDuringACompositionTakesTheLegacyByte) {
    ViewFixture f;
    f.view().setBackspaceSendsControlH(true);
    f.view().setMarkedText(QStringLiteral("k"), TextRange{1, 0});
    f.view().doCommand(TextCommand::deleteBackward);
    EXPECT_EQ(f.host.sent, "\b");
    f.view().unmarkText();
    f.host.clearSent();
    f.view().doCommand(TextCommand::deleteBackward);
    EXPECT_EQ(f.host.sent, "\b") << "through the encoder, which honours Control-H too";
}

} // namespace
