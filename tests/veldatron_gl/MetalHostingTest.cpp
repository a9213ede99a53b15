#include "CaretView.h"
#include "ManualExecutor.h"
#include "MetalError.h"
#include "TerminalView.h"
#include "TerminalViewMetalHost.h"

#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <QThread>
#include <QWindow>

#include <gtest/gtest.h>

#include <set>
#include <thread>

using namespace veldatron;
using State = MetalRendererStatus::State;

namespace {

class SettableClock final : public MetalRecoveryClock {
public:
    double now() const override { return time; }
    double time = 0;
};

// A renderer without a GPU: a plain widget as its GPU view and a coordinator on virtual time,
// whose idle transitions reach the hosting on the event loop, as the real renderer's do.
class FakeRenderer final : public HostedMetalRenderer {
public:
    FakeRenderer(TerminalView& view, const QRect& frame, MetalRecoveryClock& clock,
                 MetalRecoveryScheduler& scheduler)
        : m_view(new QWidget(&view)) {
        m_view->setObjectName(QStringLiteral("fakeMetalView"));
        m_view->setGeometry(frame);
        m_view->hide();
        MetalFrameCoordinator::Actions actions;
        QPointer<TerminalView> weakView(&view);
        actions.becameIdle = [this, weakView] {
            QMetaObject::invokeMethod(
                weakView.data(),
                [this, weakView] {
                    if (auto* host = dynamic_cast<TerminalViewMetalHost*>(
                            weakView ? weakView->metalHosting() : nullptr)) {
                        host->metalRendererBecameIdle(this);
                    }
                },
                Qt::QueuedConnection);
        };
        m_coordinator = MetalFrameCoordinator::create(clock, scheduler, actions);
    }
    ~FakeRenderer() override { delete m_view.data(); }

    QWidget* metalView() const override { return m_view; }
    MetalFrameCoordinator& frameCoordinator() override { return *m_coordinator; }
    void invalidateCursorBlinkTimer() override { blinkTimerInvalidated = true; }

    bool blinkTimerInvalidated = false;

private:
    QPointer<QWidget> m_view;
    std::shared_ptr<MetalFrameCoordinator> m_coordinator;
};

// A view in a shown window, hosted with a factory that fails on the constructions asked for
// (counted from 1), an uptime clock the test sets, and a log that keeps every line.
class MetalHosting : public ::testing::Test {
protected:
    MetalHosting() {
        window.resize(640, 400);
        view = new TerminalView(&window, QFont(QStringLiteral("DejaVu Sans Mono"), 12),
                                TerminalView::defaultStartupOptions());
        view->setGeometry(0, 0, 640, 400);
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
        QObject::connect(view, &TerminalView::metalRendererStatusChanged, view,
                         [this](const MetalRendererStatus& status) {
                             statuses.push_back(status);
                         });
        MetalHostEnvironment environment;
        environment.factory = [this](TerminalView& target, const QRect& frame) {
            ++constructions;
            if (failures.count(constructions) != 0) {
                throw failure;
            }
            auto renderer = std::make_shared<FakeRenderer>(target, frame, virtualClock, scheduler);
            renderers.push_back(renderer);
            return renderer;
        };
        environment.uptime = &uptime;
        environment.log = &log;
        environment.liveResizeThrottle = true;
        host = &TerminalViewMetalHost::of(*view, environment);
    }

    std::vector<State> states() const {
        std::vector<State> found;
        for (const MetalRendererStatus& status : statuses) {
            found.push_back(status.state);
        }
        return found;
    }

    std::vector<QString> logLines() const {
        std::vector<QString> lines;
        for (const auto& entry : log.entries) {
            if (entry.category == ILogSink::Category::renderer) {
                lines.push_back(entry.message);
            }
        }
        return lines;
    }

    // The current renderer reports a stuck frame.
    void failCurrentFrame() {
        host->metalRenderer(host->metalRenderer(),
                            MetalRendererRecoveryReport{MetalFrameRefusalReason::activeFrame, 1.0,
                                                        MetalTrackedCommandBufferStatus::committed,
                                                        std::nullopt});
    }

    ManualExecutor executor;
    DispatchMetalRecoveryScheduler scheduler{executor};
    SettableClock virtualClock;
    SettableClock uptime;
    RecordingLogSink log;
    QWidget window;
    TerminalView* view = nullptr;
    TerminalViewMetalHost* host = nullptr;
    int constructions = 0;
    std::set<int> failures;
    MetalError failure = MetalError::pipelineCreationFailed(QStringLiteral("text/color/cell"));
    std::vector<std::weak_ptr<FakeRenderer>> renderers;
    std::vector<MetalRendererStatus> statuses;
};

TEST_F(MetalHosting, TurningOnPutsOneGpuViewBetweenTheTextAndTheScrollBar) {
    view->setUseMetal(true);
    view->setUseMetal(true);
    EXPECT_EQ(constructions, 1);
    ASSERT_TRUE(view->isUsingMetalRenderer());
    QWidget* metalView = host->metalView();
    ASSERT_NE(metalView, nullptr);
    EXPECT_EQ(metalView->parentWidget(), view);
    EXPECT_TRUE(metalView->isVisible());
    EXPECT_EQ(metalView->geometry(), view->rect());
    EXPECT_FALSE(view->caretView().isVisible()) << "the renderer draws the cursor";
    const QObjectList& children = view->children();
    EXPECT_LT(children.indexOf(metalView), children.indexOf(view->scroller()))
        << "the scroll bar stays above";
    EXPECT_EQ(states(), (std::vector{State::waitingForFirstFrame}));

    view->resize(500, 300);
    EXPECT_EQ(metalView->geometry(), view->rect()) << "it covers the view as it resizes";

    view->setUseMetal(false);
    EXPECT_FALSE(view->isUsingMetalRenderer());
    EXPECT_EQ(host->metalView(), nullptr);
    EXPECT_TRUE(view->caretView().isVisible());
    EXPECT_TRUE(renderers[0].expired()) << "a renderer with nothing on the GPU is let go";
    EXPECT_EQ(states(), (std::vector{State::waitingForFirstFrame, State::disabled}));
}

TEST_F(MetalHosting, ARendererThatCannotBeMadeLeavesTheViewAsItWas) {
    failures = {1};
    EXPECT_THROW(view->setUseMetal(true), MetalError);
    EXPECT_FALSE(view->isUsingMetalRenderer());
    EXPECT_EQ(host->metalView(), nullptr);
    EXPECT_TRUE(view->caretView().isVisible());
    EXPECT_TRUE(statuses.empty());
}

TEST_F(MetalHosting, ASecondFailureWithinThirtySecondsFallsBackToTheRasterRenderer) {
    view->setUseMetal(true);
    const auto presented = std::chrono::system_clock::now();
    host->metalRenderer(host->metalRenderer(), presented);

    uptime.time = 100;
    failCurrentFrame();
    EXPECT_EQ(constructions, 2) << "replaced";
    EXPECT_TRUE(view->isUsingMetalRenderer());
    EXPECT_EQ(host->automaticMetalRecoveryPolicy().lastReplacementAt, 100.0);
    host->metalRenderer(host->metalRenderer(), presented);

    uptime.time = 110;
    failCurrentFrame();
    EXPECT_EQ(constructions, 2) << "not replaced again";
    EXPECT_FALSE(view->isUsingMetalRenderer());
    EXPECT_EQ(host->metalView(), nullptr);
    EXPECT_TRUE(view->caretView().isVisible());
    EXPECT_EQ(host->automaticMetalRecoveryPolicy().lastReplacementAt, 100.0);

    EXPECT_EQ(states(), (std::vector{State::waitingForFirstFrame, State::healthy,
                                     State::recovering, State::healthy, State::recovering,
                                     State::fellBackToCoreGraphics}));
    EXPECT_EQ(statuses[3].presentedFrameCount, 2u);
    EXPECT_EQ(statuses.back().presentedFrameCount, 2u) << "count and date are kept";
    EXPECT_EQ(statuses.back().lastFramePresentedAt, presented);

    const std::vector<QString> expected = {
        "Veldatron Metal recovery reason=activeFrame duration=1.000 status=committed error=none "
        "action=replace-metal",
        "Veldatron Metal recovery reason=activeFrame duration=1.000 status=committed error=none "
        "action=core-graphics",
        "Veldatron: Metal renderer rebind failed; falling back to CoreGraphics: Failed to create "
        "Metal command queue."};
    EXPECT_EQ(logLines(), expected);

    // Turning it off while fallen back shows it as off.
    view->setUseMetal(false);
    EXPECT_EQ(view->metalRendererStatus().state, State::disabled);

    // Turning it on again starts a fresh policy: the next failure is replaced.
    view->setUseMetal(true);
    EXPECT_EQ(host->automaticMetalRecoveryPolicy().lastReplacementAt, std::nullopt);
    uptime.time = 115;
    failCurrentFrame();
    EXPECT_TRUE(view->isUsingMetalRenderer());
    EXPECT_EQ(constructions, 4);
}

TEST_F(MetalHosting, FailuresFortySecondsApartAreBothReplaced) {
    view->setUseMetal(true);
    uptime.time = 5;
    failCurrentFrame();
    uptime.time = 45;
    failCurrentFrame();
    EXPECT_EQ(constructions, 3);
    EXPECT_TRUE(view->isUsingMetalRenderer());
    EXPECT_EQ(host->automaticMetalRecoveryPolicy().lastReplacementAt, 45.0);
    EXPECT_EQ(states(), (std::vector{State::waitingForFirstFrame, State::recovering}))
        << "recovering is set once while it lasts";
}

TEST_F(MetalHosting, AReplacementThatCannotBeMadeFallsBackWithItsError) {
    view->setUseMetal(true);
    failures = {2};
    failCurrentFrame();
    EXPECT_FALSE(view->isUsingMetalRenderer());
    EXPECT_EQ(host->metalView(), nullptr);
    ASSERT_EQ(logLines().size(), 2u);
    EXPECT_EQ(logLines()[1], "Veldatron: Metal renderer rebind failed; falling back to "
                             "CoreGraphics: Failed to create Metal pipeline: text/color/cell");
    EXPECT_EQ(states(), (std::vector{State::waitingForFirstFrame, State::recovering,
                                     State::fellBackToCoreGraphics}));
}

TEST_F(MetalHosting, OnlyTheCurrentRendererIsListenedTo) {
    view->setUseMetal(true);
    HostedMetalRenderer* first = host->metalRenderer();
    failCurrentFrame();
    statuses.clear();
    host->metalRenderer(first, std::chrono::system_clock::now());
    host->metalRenderer(first, MetalRendererRecoveryReport{});
    EXPECT_TRUE(statuses.empty());
    EXPECT_EQ(constructions, 2);
}

TEST_F(MetalHosting, AReplacedRendererLivesUntilItsFrameLeavesTheGpu) {
    view->setUseMetal(true);
    auto first = renderers[0].lock();
    MetalFrameCoordinator& coordinator = first->frameCoordinator();
    const auto token = coordinator.beginFrame();
    ASSERT_TRUE(token);
    coordinator.didSubmit(
        *token, [] { return MetalTrackedCommandBufferStatus::committed; },
        [] { return std::nullopt; });
    failCurrentFrame();
    EXPECT_TRUE(coordinator.isInvalidated());
    EXPECT_TRUE(first->blinkTimerInvalidated);
    ASSERT_EQ(host->retiredMetalRenderers().size(), 1u);
    EXPECT_EQ(host->retiredMetalRenderers()[0].get(), first.get());
    EXPECT_FALSE(first->metalView()->isVisible()) << "out of sight, its GL context kept";

    // Falling back retires the replacement, which has nothing on the GPU: nothing more is kept.
    failures = {3};
    uptime.time = 100;
    failCurrentFrame();
    EXPECT_EQ(host->retiredMetalRenderers().size(), 1u);

    first.reset();
    coordinator.complete(*token, MetalTrackedCommandBufferStatus::completed, std::nullopt);
    QCoreApplication::processEvents();
    EXPECT_TRUE(host->retiredMetalRenderers().empty());
    EXPECT_TRUE(renderers[0].expired());
}

TEST_F(MetalHosting, MovingToAnotherWindowRebuildsTheRendererOnce) {
    view->setUseMetal(true);
    QWidget other;
    other.resize(640, 400);
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));

    view->setParent(&other);
    view->show();
    EXPECT_EQ(constructions, 2);
    EXPECT_EQ(host->metalView()->parentWidget(), view);
    EXPECT_TRUE(host->metalView()->isVisible());
    EXPECT_EQ(states(), (std::vector{State::waitingForFirstFrame, State::recovering}));
    EXPECT_EQ(host->automaticMetalRecoveryPolicy().lastReplacementAt, std::nullopt)
        << "a new window is no replacement";

    // Taken out and put back into the window it was made for: nothing to rebuild.
    view->setParent(nullptr);
    view->setParent(&other);
    view->show();
    EXPECT_EQ(constructions, 2);
    view->setParent(&window); // before `other` goes
}

TEST_F(MetalHosting, RetryingNeedsAShownViewWithAnArea) {
    EXPECT_FALSE(view->isMetalRendererEligibleForRetry()) << "GPU drawing is off";
    view->setUseMetal(true);
    EXPECT_TRUE(view->isMetalRendererEligibleForRetry());
    view->hide();
    EXPECT_FALSE(view->isMetalRendererEligibleForRetry());
    view->show();
    view->resize(0, 400);
    EXPECT_FALSE(view->isMetalRendererEligibleForRetry());
    view->resize(640, 400);
    window.showMinimized();
    EXPECT_FALSE(view->isMetalRendererEligibleForRetry());
}

TEST_F(MetalHosting, AfterFallingBackTheRasterRendererDrawsTheNextFrame) {
    view->setUseMetal(true);
    uptime.time = 1;
    failCurrentFrame();
    failCurrentFrame();
    ASSERT_FALSE(view->isUsingMetalRenderer());

    view->feed(QStringLiteral("\x1b[31mXXXXXXXX"));
    view->displayImmediately();
    const QImage frame = view->grab().toImage();
    const QColor background = view->effectiveNativeBackgroundColor().toQColor();
    int red = 0;
    for (int y = 0; y < int(view->cellDimension().height()); ++y) {
        for (int x = 0; x < int(8 * view->cellDimension().width()); ++x) {
            const QColor pixel = frame.pixelColor(x, y);
            red += pixel != background && pixel.red() > pixel.green() + 60 ? 1 : 0;
        }
    }
    EXPECT_GT(red, 20) << "the red text of the first row is painted";
}

TEST_F(MetalHosting, AStatusSetOnAnotherThreadIsAnnouncedOnTheViewsThread) {
    const MetalRendererStatus status{State::healthy, 7, std::nullopt};
    QThread* announcedOn = nullptr;
    QObject::connect(view, &TerminalView::metalRendererStatusChanged, view,
                     [&](const MetalRendererStatus&) { announcedOn = QThread::currentThread(); });
    std::thread([&] { view->setMetalRendererStatus(status); }).join();
    EXPECT_TRUE(statuses.empty()) << "not from the other thread";
    QCoreApplication::processEvents();
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_EQ(statuses[0], status);
    EXPECT_EQ(announcedOn, view->thread());
    view->setMetalRendererStatus(status);
    EXPECT_EQ(statuses.size(), 2u) << "announced again, unchanged as it is";
}

TEST(MetalLiveResizeThrottle, IsTurnedOffOnlyByItsThreeOffValues) {
    const std::vector<std::pair<const char*, bool>> cases = {
        {nullptr, true}, {"0", false},  {"false", false}, {"FALSE", false},
        {"False", true}, {"no", true},  {"1", true},      {"", true}};
    for (const auto& [value, enabled] : cases) {
        SCOPED_TRACE(value == nullptr ? "unset" : value);
        EXPECT_EQ(metalLiveResizeThrottleEnabledFor(value), enabled);
    }
}

TEST(MetalRecoveryLog, NamesEveryFieldAndKeepsTheErrorText) {
    EXPECT_EQ(MetalRecoveryController::recoveryLogLine(
                  {MetalFrameRefusalReason::missingRenderPassDescriptor, 1.23456, std::nullopt,
                   std::nullopt},
                  false),
              "Veldatron Metal recovery reason=missingRenderPassDescriptor duration=1.235 "
              "status=none error=none action=replace-metal");
    EXPECT_EQ(MetalRecoveryController::recoveryLogLine(
                  {MetalFrameRefusalReason::activeFrame, 0.5, MetalTrackedCommandBufferStatus::error,
                   "GL error 0x0505 at %1"},
                  true),
              "Veldatron Metal recovery reason=activeFrame duration=0.500 status=error "
              "error=GL error 0x0505 at %1 action=core-graphics");
}

} // namespace

namespace {

// Here the platform composites no GL widgets (offscreen): turning GPU drawing on fails as for
// a machine without a GPU, and the view goes on drawing itself.
TEST(MetalHostingWithoutGlWidgets, TurningOnThrowsAndTheViewKeepsDrawing) {
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
        GTEST_SKIP() << "runs on the offscreen platform";
    }
    QWidget window;
    window.resize(320, 200);
    auto* view = new TerminalView(&window, QFont(QStringLiteral("DejaVu Sans Mono"), 12),
                                  TerminalView::defaultStartupOptions());
    view->setGeometry(window.rect());
    window.show();
    try {
        view->setUseMetal(true);
        ADD_FAILURE() << "no GPU view here";
    } catch (const MetalError& error) {
        EXPECT_EQ(error.kind(), MetalError::Kind::deviceUnavailable);
        EXPECT_EQ(error.description(), "No Metal device is available.");
    }
    EXPECT_FALSE(view->isUsingMetalRenderer());
    EXPECT_EQ(view->metalRendererStatus().state, MetalRendererStatus::State::disabled);
    QCoreApplication::processEvents();
    EXPECT_FALSE(view->grab().isNull());
}

} // namespace
