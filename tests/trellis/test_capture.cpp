// The mouse capture loop: the order of its callbacks, what the record holds at
// each, and that events it does not take wait until it returns.
#include "TrellisTesting.h"

#include "AppKit/NSView.h"
#include "UICocoaMouseKeys/protocol_MouseCapture.h"

#include <string>
#include <vector>

namespace {

struct Step {
    std::string name;
    BOOL isIdle;
    bool hasEvent;
    NSPoint location;
    BOOL shiftTracking;
    NSPoint shiftIdleLocation;
};

std::vector<std::string> names(const std::vector<Step>& steps)
{
    std::vector<std::string> out;
    for (const auto& step : steps)
        out.push_back(step.name);
    return out;
}

// Records every callback; a press starts a capture, as a window's press
// handler does.
class RecordingWindow : public NSWindow {
    OBJC_CLASS(RecordingWindow, NSWindow)
public:
    std::vector<Step> steps;
    std::function<void(self_MouseCapture*)> onMove;
    self_MouseCapture last{};

    void record(const char* name, self_MouseCapture* c)
    {
        steps.push_back({name, c->isIdle, c->event != nullptr, c->location, c->shiftTracking, c->shiftIdleLocation});
        last = *c;
    }
    void mouseCaptureBegin(self_MouseCapture* c) override { record("begin", c); }
    void mouseCaptureMove(self_MouseCapture* c) override
    {
        record("move", c);
        if (onMove)
            onMove(c);
    }
    void mouseCaptureIdle(self_MouseCapture* c) override { record("idle", c); }
    void mouseCaptureUp(self_MouseCapture* c) override { record("up", c); }
    void mouseCaptureEnd(self_MouseCapture* c) override { record("end", c); }
    void mouseDown(NSEvent* event) override
    {
        self_MouseCapture capture;
        self_MouseCapture_Construct(&capture, event);
        protocol_MouseCaptureEventLoop(&capture);
    }
    void keyDown(NSEvent* event) override { steps.push_back({"key", NO, true, NSZeroPoint, NO, NSZeroPoint}); }
};
OBJC_IMPLEMENTATION(RecordingWindow, NSWindow) {}

class RecordingView : public NSView {
    OBJC_CLASS(RecordingView, NSView)
public:
    std::vector<Step> steps;
    void record(const char* name, self_MouseCapture* c)
    {
        steps.push_back({name, c->isIdle, c->event != nullptr, c->location, c->shiftTracking, c->shiftIdleLocation});
    }
    void mouseCaptureBegin(self_MouseCapture* c) override { record("begin", c); }
    void mouseCaptureMove(self_MouseCapture* c) override { record("move", c); }
    void mouseCaptureUp(self_MouseCapture* c) override { record("up", c); }
    void mouseCaptureEnd(self_MouseCapture* c) override { record("end", c); }
};
OBJC_IMPLEMENTATION(RecordingView, NSView) {}

class RecordingObject : public NSObject {
    OBJC_CLASS(RecordingObject, NSObject)
public:
    int callbacks = 0;
    void mouseCaptureBegin(self_MouseCapture*) override { ++callbacks; }
    void mouseCaptureMove(self_MouseCapture*) override { ++callbacks; }
    void mouseCaptureEnd(self_MouseCapture*) override { ++callbacks; }
};
OBJC_IMPLEMENTATION(RecordingObject, NSObject) {}

class CaptureLoop : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        window = static_cast<RecordingWindow*>(
            RecordingWindow::alloc()->initWithContentRect(NSMakeRect(100, 100, 200, 150), 0, NSBackingStoreBuffered, NO));
        window->autorelease();
        window->orderFront(nil);
    }

    // Runs a capture on the window for a press at `down`.
    void capture(NSPoint down, NSUInteger flags = 0)
    {
        NSEvent* press = NSEvent::mouseEventWithType(NSLeftMouseDown, down, flags, window, 1);
        self_MouseCapture record;
        self_MouseCapture_Construct(&record, press);
        window->protocol_MouseCaptureEventLoop(&record);
        final = record;
    }

    RecordingWindow* window = nullptr;
    self_MouseCapture final{};
};

TEST_F(CaptureLoop, PressAndReleaseWithoutMotionIsBeginMoveUpEnd)
{
    queueMouse(window, NSLeftMouseUp, NSMakePoint(150, 150));
    capture(NSMakePoint(150, 150));
    EXPECT_EQ(names(window->steps), (std::vector<std::string>{"begin", "move", "up", "end"}));
    EXPECT_TRUE(NSEqualPoints(final.location, final.downLocation));
    EXPECT_EQ(final.event->type(), NSLeftMouseUp);
    EXPECT_FALSE(final.shiftTracking);
}

TEST_F(CaptureLoop, QueuedDragsAreTakenWithoutWaitingThenOneIdleBeforeWaitingAgain)
{
    for (int i = 1; i <= 3; ++i)
        queueMouse(window, NSLeftMouseDragged, NSMakePoint(150 + i, 150 - i));
    later(30, [this] { queueMouse(window, NSLeftMouseUp, NSMakePoint(160, 140)); });
    capture(NSMakePoint(150, 150));

    EXPECT_EQ(names(window->steps),
              (std::vector<std::string>{"begin", "move", "move", "move", "idle", "move", "up", "end"}));
    const Step& idle = window->steps[4];
    EXPECT_TRUE(idle.isIdle);
    EXPECT_FALSE(idle.hasEvent);
    EXPECT_TRUE(NSEqualPoints(idle.location, NSMakePoint(153, 147)));
    for (const Step& step : window->steps) {
        if (step.name != "idle") {
            EXPECT_FALSE(step.isIdle) << step.name;
        }
    }
    // The release got its move first: the last move reports where it was.
    EXPECT_TRUE(NSEqualPoints(window->steps[5].location, NSMakePoint(160, 140)));
    // Without Shift the Shift locations stay at zero.
    EXPECT_TRUE(NSEqualPoints(final.shiftDownLocation, NSZeroPoint));
    EXPECT_TRUE(NSEqualPoints(final.shiftIdleLocation, NSZeroPoint));
}

TEST_F(CaptureLoop, ShiftAtThePressSamplesAtIdleInsteadOfMoving)
{
    queueMouse(window, NSLeftMouseDragged, NSMakePoint(151, 151));
    queueMouse(window, NSLeftMouseDragged, NSMakePoint(170, 130));
    later(30, [this] { queueMouse(window, NSLeftMouseUp, NSMakePoint(171, 129)); });
    capture(NSMakePoint(150, 150), NSShiftKeyMask);

    EXPECT_EQ(names(window->steps), (std::vector<std::string>{"begin", "idle", "up", "end"}));
    const Step& idle = window->steps[1];
    EXPECT_FALSE(idle.isIdle);
    EXPECT_TRUE(idle.shiftTracking);
    EXPECT_TRUE(NSEqualPoints(idle.shiftIdleLocation, NSMakePoint(170, 130)));
    EXPECT_TRUE(window->steps[2].shiftTracking);    // still on at the up callback
    EXPECT_FALSE(window->steps[3].shiftTracking);   // off before the end callback
    EXPECT_TRUE(NSEqualPoints(final.shiftDownLocation, NSMakePoint(150, 150)));
}

TEST_F(CaptureLoop, AKeyPressedDuringTheCaptureIsHandledAfterIt)
{
    // The whole path: the press is dispatched from the queue, its handler
    // runs the capture, which takes the drag and the release only.
    queueMouse(window, NSLeftMouseDown, NSMakePoint(150, 150));
    queueMouse(window, NSLeftMouseDragged, NSMakePoint(155, 150));
    NSApp->postEvent(NSEvent::keyEventWithType(NSKeyDown, 0, window, NSSTR("a"), 38), NO);
    queueMouse(window, NSLeftMouseUp, NSMakePoint(156, 150));
    NSApp->dispatchQueuedEvents();

    EXPECT_EQ(names(window->steps), (std::vector<std::string>{"begin", "move", "move", "up", "end", "key"}));
    EXPECT_EQ(NSApp->queuedEventCount(), 0u);
}

TEST_F(CaptureLoop, WindowLocationsAreOnTheScreenEvenWhileTheWindowMoves)
{
    window->onMove = [this](self_MouseCapture* c) {
        NSRect f = window->frame();
        window->setFrameOrigin(NSMakePoint(f.origin.x + 40, f.origin.y - 25));
    };
    queueMouse(window, NSLeftMouseDragged, NSMakePoint(160, 150));
    queueMouse(window, NSLeftMouseDragged, NSMakePoint(170, 150));
    queueMouse(window, NSLeftMouseUp, NSMakePoint(180, 150));
    capture(NSMakePoint(150, 150));
    ASSERT_EQ(names(window->steps), (std::vector<std::string>{"begin", "move", "move", "move", "up", "end"}));
    EXPECT_TRUE(NSEqualPoints(window->steps[1].location, NSMakePoint(160, 150)));
    EXPECT_TRUE(NSEqualPoints(window->steps[2].location, NSMakePoint(170, 150)));
    EXPECT_TRUE(NSEqualPoints(window->steps[3].location, NSMakePoint(180, 150)));
}

TEST_F(CaptureLoop, ViewLocationsAreInTheView)
{
    auto* view = static_cast<RecordingView*>(RecordingView::alloc()->initWithFrame(NSMakeRect(10, 20, 100, 50)));
    window->contentView()->addSubview(view);
    view->release();
    queueMouse(window, NSLeftMouseUp, NSMakePoint(100 + 10 + 30, 100 + 20 + 7));
    NSEvent* press = NSEvent::mouseEventWithType(NSLeftMouseDown, NSMakePoint(100 + 10 + 5, 100 + 20 + 5), 0, window, 1);
    self_MouseCapture record;
    self_MouseCapture_Construct(&record, press);
    view->protocol_MouseCaptureEventLoop(&record);
    EXPECT_EQ(names(view->steps), (std::vector<std::string>{"begin", "move", "up", "end"}));
    EXPECT_TRUE(NSEqualPoints(record.downLocation, NSMakePoint(5, 5)));
    EXPECT_TRUE(NSEqualPoints(record.location, NSMakePoint(30, 7)));
}

TEST_F(CaptureLoop, NeitherWindowNorViewInAWindowGetsNoCallback)
{
    NSEvent* press = NSEvent::mouseEventWithType(NSLeftMouseDown, NSMakePoint(150, 150), 0, window, 1);
    queueMouse(window, NSLeftMouseUp, NSMakePoint(150, 150));

    auto* object = RecordingObject::alloc();
    self_MouseCapture record;
    self_MouseCapture_Construct(&record, press);
    object->protocol_MouseCaptureEventLoop(&record);
    EXPECT_EQ(object->callbacks, 0);
    object->release();

    auto* loose = static_cast<RecordingView*>(RecordingView::alloc()->initWithFrame(NSMakeRect(0, 0, 10, 10)));
    self_MouseCapture_Construct(&record, press);
    loose->protocol_MouseCaptureEventLoop(&record);
    EXPECT_TRUE(loose->steps.empty());
    loose->release();
    // The release was not taken.
    EXPECT_EQ(NSApp->queuedEventCount(), 1u);
}

} // namespace
