// veldatron-view-screenshot: runs a shell in a terminal view that prints a colourful test screen
// (a coloured directory listing, the 16 and 256 colours, true colour, text styles, the six
// underline styles, wide and combining characters) and saves a picture of the view, for a
// person to look at. With a second file it also saves a picture of cells that are easy to draw
// wrongly: wide characters with a half overwritten, stacked combining marks (and a line of them
// erased after it was shown), emoji and CJK text, and the blinking caret. That picture is what
// reached the screen, not a fresh paint of the view. With a third file it also saves a picture of
// drawn glyphs: box drawing (a frame of split panes with a status line, dialog boxes in each line
// style), block-element bars, powerline prompt separators, and Arabic, Hebrew and English mixed in
// paragraphs of both directions. scripts/screenshot runs it under Xvfb.
//
//   veldatron-view-screenshot <output.png> [<cells.png> [<glyphs.png>]]

#include "LocalProcessTerminalView.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>

using veldatron::LocalProcessTerminalView;
using veldatron::TerminalView;

namespace {

// The test screen. Ends with a marker the program waits for.
const char* const script = R"SH(
cd "$1" || exit 1
printf '\033[1mls --color\033[m\n'
ls --color=always -F
printf '\n\033[1m16 colours\033[m\n'
for i in 0 1 2 3 4 5 6 7; do printf '\033[4%sm  %s  ' "$i" "$i"; done; printf '\033[m\n'
for i in 0 1 2 3 4 5 6 7; do printf '\033[10%sm  %s  ' "$i" "$i"; done; printf '\033[m\n'
for i in 0 1 2 3 4 5 6 7; do printf '\033[3%sm fg %s ' "$i" "$i"; done; printf '\033[m\n'
for i in 0 1 2 3 4 5 6 7; do printf '\033[1;3%sm bd %s ' "$i" "$i"; done; printf '\033[m\n'
printf '\n\033[1m256 colours\033[m\n'
i=16; while [ $i -lt 232 ]; do printf '\033[48;5;%sm ' "$i"; i=$((i+1)); [ $(( (i-16) % 72 )) -eq 0 ] && printf '\033[m\n'; done
i=232; while [ $i -lt 256 ]; do printf '\033[48;5;%sm   ' "$i"; i=$((i+1)); done; printf '\033[m\n'
printf '\n\033[1mtrue colour\033[m\n'
i=0; while [ $i -lt 96 ]; do r=$((255 - i * 255 / 95)); g=$((i * 510 / 95)); [ $g -gt 255 ] && g=$((510 - g)); b=$((i * 255 / 95)); printf '\033[48;2;%s;%s;%sm ' $r $g $b; i=$((i+1)); done; printf '\033[m\n'
printf '\n\033[1mstyles\033[m\n'
printf '\033[1mbold\033[m \033[2mdim\033[m \033[3mitalic\033[m \033[1;3mbold italic\033[m \033[7minverse\033[m \033[9mstrike\033[m \033[8minvisible\033[m (invisible)\n'
printf '\033[4msingle\033[m \033[4:2mdouble\033[m \033[4:3mcurly\033[m \033[4:4mdotted\033[m \033[4:5mdashed\033[m \033[4:3;58;2;255;80;80mred curly\033[m \033[4;58;5;45mcyan line\033[m\n'
printf '\n\033[1mwide and combining\033[m\n'
printf 'ＡＢＣ full width | e\314\201 a\314\210 n\314\203 combining | \342\230\272 text style\n'
printf '\n\033[38;2;255;200;0mscreenshot ready\033[m\n'
)SH";

// Cells easy to draw wrongly. The sleeps let each state reach the screen before the next edit.
const char* const cellsScript = R"SH(
printf '\033[1mwide characters with one half overwritten\033[m (a lone half is blank)\n'
printf 'ab\346\227\245\346\234\254\350\252\236\033[2Dx\n'
printf 'ab\346\227\245\346\234\254\350\252\236\033[5D\033[P\n'
printf 'ab\346\227\245\346\234\254\350\252\236\033[3Dy\n'
printf '\n\033[1mstacked marks\033[m (over their base)\n\n\n'
printf 'A\314\201\314\201\314\201\314\201|o\314\202\314\201|y\314\247|g\314\243\314\243| A with six: A\314\201\314\201\314\201\314\201\314\201\314\201|\n\n'
printf 'below: an A with six accents, erased once shown:\n'
printf 'A\314\201\314\201\314\201\314\201\314\201\314\201 and more\n'
sleep 0.5
printf '\033[1A\033[2K\n'
printf 'written after it; no accent may be left above\n'
printf '\n\033[1memoji and CJK\033[m\n'
printf '\360\237\230\200 \342\235\244\357\270\217 \342\232\241 \360\237\221\215 | text style: \342\235\244 \342\230\272 | \346\274\242\345\255\227 \343\201\213\343\201\252 \355\225\234\352\270\200\n'
printf '\n\033[1mthe default blinking caret\033[m (fading)\n'
printf '\033[38;2;255;200;0mscreenshot ready\033[m '
)SH";

const char* const glyphsScript = R"SH(
printf '\033[1mbox drawing\033[m\n'
printf '%s\n' \
'vim src/main.c                     │$ make test                          ' \
'  1 int main(void)                 │cc -O2 -o main main.c                ' \
'  2 {                              │./main --selftest                    ' \
'  3     return run();              │all 12 tests passed                  ' \
'───────────────────────────────────┼─────────────────────────────────────' \
'top - 12:00:01 up 3 days           │$ git log --oneline                  ' \
'Tasks: 212 total, 1 running        │4a53b0b Prefetch recycled rows       '
printf '\033[30;42m[0] 0:vim  1:make* 2:top-                              "host" 12:00 01-Jan\033[m\n\n'
printf '%s\n' \
'  ┌──────── Install ────────┐   ╔══ double ══╗  ┏━━ heavy ━━━┓  ╭─ rounded ──╮' \
'  │ Install the package?    │▒  ║ ╔════╦═══╗ ║  ┃ ┏━━━━┳━━━┓ ┃  │ ╱╲  ╳  ╲╱  │' \
'  ├─────────────────────────┤▒  ║ ╠════╬═══╣ ║  ┃ ┣━━━━╋━━━┫ ┃  │ ┄┄┄ ┈┈┈ ╌╌ │' \
'  │   < Yes >     < No >    │▒  ║ ╚════╩═══╝ ║  ┃ ┗━━━━┻━━━┛ ┃  │ ┆ ┊ ╎ ┇ ┋ ╏│' \
'  └─────────────────────────┘▒  ╚════════════╝  ┗━━━━━━━━━━━━┛  ╰────────────╯' \
'   ▒▒▒▒▒▒▒▒▒▒▒▒▒▒▒▒▒▒▒▒▒▒▒▒▒▒▒  ╒═╤═╕ ╓─╥─╖     ┍━┯━┑ ┎─┰─┒     ╽╿ ╼╾ ┞┟┡┢┦┧┩┪'
printf '\n\033[1mblock elements\033[m\n'
printf 'cpu  \033[32m█████████████▋\033[m       68%%   mem \033[33m████████▎\033[m            42%%\n'
printf 'load \033[36m▁▂▃▄▅▆▇█▇▆▅▄▃▂▁▂▃▅▇\033[m   shades ░░▒▒▓▓██  quadrants ▖▗▘▙▚▛▜▝▞▟  ▏▎▍▌▋▊▉█ ▀▔▕▐\n'
printf '\n\033[1mpowerline\033[m\n'
printf '\033[30;42m user \033[32;44m\356\202\260\033[97;44m ~/src/veldatron \033[34;45m\356\202\260\033[97;45m main +2 \033[35;49m\356\202\260\033[m $ '
printf '      \033[33m\356\202\266\033[30;43m 12:00 \033[33;49m\356\202\264\033[m \033[31m\356\202\262\033[97;41m exit 1 \033[m\n'
printf '\n\033[1mright to left\033[m\n'
printf 'English with עברית (שלום) and العربية: مرحبا بالعالم، 2024 [ok] — then English again.\n'
printf 'هذه فقرة عربية طويلة تلتف على سطرين لتظهر ترتيب الخلايا من اليمين إلى اليسار، مع كلمات English words و עברית שלום وأرقام 12345 (بين قوسين) والسلام عليكم حتى نهاية السطر الثاني.\n'
printf 'שלום עולם: זוהי פסקה בעברית עם מספר 42 ו-English באמצע [סוגריים].\n'
printf '\n\033[38;2;255;200;0mscreenshot ready\033[m\n'
)SH";

bool prepareListing(const QString& dir) {
    const QDir root(dir);
    if (!root.mkpath(QStringLiteral("src")) || !root.mkpath(QStringLiteral("docs"))) {
        return false;
    }
    const auto touch = [&](const QString& name, bool executable) {
        QFile file(root.filePath(name));
        if (!file.open(QIODevice::WriteOnly)) {
            return false;
        }
        file.write("x\n");
        file.close();
        if (executable) {
            file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
        }
        return true;
    };
    return touch(QStringLiteral("README.md"), false) && touch(QStringLiteral("build.sh"), true) &&
           touch(QStringLiteral("archive.tar.gz"), false) &&
           touch(QStringLiteral("picture.png"), false) &&
           QFile::link(root.filePath(QStringLiteral("README.md")),
                       root.filePath(QStringLiteral("link-to-readme")));
}

// Runs `script` in a shown view, its font `fontPixelSize` pixels high, until it prints "screenshot
// ready" and returns the view, or none with a message.
std::unique_ptr<LocalProcessTerminalView> runScene(const char* script, const QString& directory,
                                                   int fontPixelSize) {
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(fontPixelSize);
    auto view = std::make_unique<LocalProcessTerminalView>(nullptr, font,
                                                           TerminalView::defaultStartupOptions());
    view->setWindowTitle(QStringLiteral("Terminal view"));
    view->resize(1000, 760);
    view->show();
    if (!QTest::qWaitForWindowExposed(view.get())) {
        std::fprintf(stderr, "veldatron-view-screenshot: the window never showed\n");
        return nullptr;
    }
    view->activateWindow();
    view->setFocus();
    view->startProcess(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"), QString::fromUtf8(script), QStringLiteral("sh"), directory},
        QStringList{QStringLiteral("PATH=/usr/bin:/bin"), QStringLiteral("TERM=xterm-256color"),
                    QStringLiteral("LANG=C.UTF-8"), QStringLiteral("LS_COLORS=")});
    const bool ready = QTest::qWaitFor(
        [&] {
            veldatron::Buffer& buffer = view->terminal().buffer();
            for (int row = 0; row < buffer.lines().count(); ++row) {
                const std::u32string line =
                    view->terminal().translateBufferLineToString(buffer, row, 0, -1);
                if (line.find(U"screenshot ready") != std::u32string::npos) {
                    return true;
                }
            }
            return false;
        },
        20000);
    if (!ready) {
        std::fprintf(stderr, "veldatron-view-screenshot: the test screen never finished\n");
        return nullptr;
    }
    QTest::qWait(100); // the last coalesced display pass
    return view;
}

bool save(const QImage& image, const char* path) {
    const QString output = QString::fromLocal8Bit(path);
    QDir().mkpath(QFileInfo(output).absolutePath());
    if (!image.save(output)) {
        std::fprintf(stderr, "veldatron-view-screenshot: cannot write %s\n", path);
        return false;
    }
    std::printf("%s\n", path);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr,
                     "usage: veldatron-view-screenshot <output.png> [<cells.png> [<glyphs.png>]]\n");
        return 2;
    }
    QTemporaryDir listing;
    if (!listing.isValid() || !prepareListing(listing.path())) {
        std::fprintf(stderr, "veldatron-view-screenshot: cannot prepare the listing\n");
        return 1;
    }
    {
        const auto view = runScene(script, listing.path(), 15);
        if (!view || !save(view->grab().toImage(), argv[1])) {
            return 1;
        }
    }
    if (argc >= 3) {
        const auto view = runScene(cellsScript, listing.path(), 24); // large, to see the marks
        // What the window shows now, a frame of the caret's fade included: the pixels the
        // repaints left, not a fresh paint of everything.
        QTest::qWait(350);
        if (!view) {
            return 1;
        }
        QImage shown = QGuiApplication::primaryScreen()->grabWindow(view->winId()).toImage();
        if (shown.isNull()) {
            shown = view->grab().toImage(); // a platform without screen grabs
        }
        if (!save(shown, argv[2])) {
            return 1;
        }
    }
    if (argc == 4) {
        const auto view = runScene(glyphsScript, listing.path(), 15);
        if (!view || !save(view->grab().toImage(), argv[3])) {
            return 1;
        }
    }
    return 0;
}
