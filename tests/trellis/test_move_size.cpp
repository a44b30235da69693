// Moving and resizing windows by mouse: the hit regions, the arithmetic of
// each corner with its constraints, the screen-top clamp and single clicks.
#include "TrellisTesting.h"

#include "AppKit/NSView.h"
#include "UICocoaMouseKeys/NSWindow_MouseMoveSize.h"

namespace {

class ClickCountingWindow : public NSWindow {
    OBJC_CLASS(ClickCountingWindow, NSWindow)
public:
    int clicks = 0;
    int dragSteps = 0;
    bool squareAspect = false;
    void windowMouseMoveSize_SingleClick() override { ++clicks; }
    void windowMouseMoveSize_OnDragMoved() override { ++dragSteps; }
    NSSize windowMouseMoveSize_ConstrainAspectRatio(NSSize size) override
    {
        if (squareAspect)
            size.height = size.width;
        return size;
    }
};
OBJC_IMPLEMENTATION(ClickCountingWindow, NSWindow) {}

class MoveSize : public WindowTest {
protected:
    static constexpr NSRect kStart = {{200, 150}, {300, 200}};

    void SetUp() override
    {
        WindowTest::SetUp();
        window = static_cast<ClickCountingWindow*>(
            ClickCountingWindow::alloc()->initWithContentRect(kStart, 0, NSBackingStoreBuffered, NO));
        window->autorelease();
        window->orderFront(nil);
    }

    NSEvent* press(NSPoint screen) { return NSEvent::mouseEventWithType(NSLeftMouseDown, screen, 0, window, 1); }

    // A press at `down` (screen), one drag by `delta`, the release there.
    void standardDrag(NSPoint down, NSPoint delta)
    {
        const NSPoint to = NSMakePoint(down.x + delta.x, down.y + delta.y);
        queueMouse(window, NSLeftMouseDragged, to);
        queueMouse(window, NSLeftMouseUp, to);
        window->windowMouseMoveSize_StandardBehaviour(press(down));
    }

    void regionDrag(NSPoint down, NSPoint delta, NSWindow_HitTest region)
    {
        const NSPoint to = NSMakePoint(down.x + delta.x, down.y + delta.y);
        queueMouse(window, NSLeftMouseDragged, to);
        queueMouse(window, NSLeftMouseUp, to);
        window->windowMouseMoveSize_FromHitRegion(press(down), region);
    }

    static void expectFrame(NSRect actual, NSRect expected)
    {
        EXPECT_FLOAT_EQ(actual.origin.x, expected.origin.x);
        EXPECT_FLOAT_EQ(actual.origin.y, expected.origin.y);
        EXPECT_FLOAT_EQ(actual.size.width, expected.size.width);
        EXPECT_FLOAT_EQ(actual.size.height, expected.size.height);
    }

    ClickCountingWindow* window = nullptr;
};

TEST_F(MoveSize, HitRegionsAreTheCornerSquaresInOrderWithTheTopEdgeOutside)
{
    auto at = [this](float x, float y, NSSize corner = {32, 32}) {
        return window->windowMouseMoveSize_MouseHitTest(press(window->convertBaseToScreen(NSMakePoint(x, y))), corner);
    };
    EXPECT_EQ(at(0, 199), kNSWindow_HitTest_TopLeft);
    EXPECT_EQ(at(299, 199), kNSWindow_HitTest_TopRight);
    EXPECT_EQ(at(0, 0), kNSWindow_HitTest_BottomLeft);
    EXPECT_EQ(at(299, 0), kNSWindow_HitTest_BottomRight);
    EXPECT_EQ(at(150, 100), kNSWindow_HitTest_None);
    EXPECT_EQ(at(31, 168), kNSWindow_HitTest_TopLeft);
    EXPECT_EQ(at(32, 168), kNSWindow_HitTest_None);
    // The top and right edges belong to no square.
    EXPECT_EQ(at(10, 200), kNSWindow_HitTest_None);
    EXPECT_EQ(at(300, 10), kNSWindow_HitTest_None);
    // Squares larger than half the content overlap: the first in order wins.
    EXPECT_EQ(at(150, 100, NSMakeSize(200, 150)), kNSWindow_HitTest_TopLeft);
    EXPECT_EQ(at(250, 60, NSMakeSize(200, 150)), kNSWindow_HitTest_TopRight);
    EXPECT_EQ(at(250, 10, NSMakeSize(200, 150)), kNSWindow_HitTest_BottomRight);
}

TEST_F(MoveSize, StandardBottomRightCornerResizesKeepingTopAndLeft)
{
    standardDrag(NSMakePoint(kStart.origin.x + 290, kStart.origin.y + 10), NSMakePoint(10, -10));
    expectFrame(window->frame(), NSMakeRect(200, 140, 310, 210));
    EXPECT_EQ(window->clicks, 0);
}

TEST_F(MoveSize, StandardPressInAnotherCornerMoves)
{
    standardDrag(NSMakePoint(kStart.origin.x + 5, kStart.origin.y + 195), NSMakePoint(-30, 12));
    expectFrame(window->frame(), NSMakeRect(170, 162, 300, 200));
    EXPECT_EQ(window->dragSteps, 2);   // the drag and the release
}

TEST_F(MoveSize, EveryCornerFollowsThePointerAndTheOppositeEdgesStay)
{
    const NSPoint d = NSMakePoint(20, 15);
    struct Case {
        NSWindow_HitTest region;
        NSRect expected;
    } cases[] = {
        {kNSWindow_HitTest_TopLeft, NSMakeRect(220, 150, 280, 215)},
        {kNSWindow_HitTest_TopRight, NSMakeRect(200, 150, 320, 215)},
        {kNSWindow_HitTest_BottomLeft, NSMakeRect(220, 165, 280, 185)},
        {kNSWindow_HitTest_BottomRight, NSMakeRect(200, 165, 320, 185)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.region);
        window->setFrame(kStart, YES);
        regionDrag(NSMakePoint(300, 250), d, c.region);
        expectFrame(window->frame(), c.expected);
    }
}

TEST_F(MoveSize, AMinimumSlidesTheWindowUnderThePointer)
{
    window->setMinSize(NSMakeSize(200, 50));
    // Bottom-right corner pulled 150 to the left: proposed width 150.
    standardDrag(NSMakePoint(kStart.origin.x + 295, kStart.origin.y + 5), NSMakePoint(-150, 0));
    expectFrame(window->frame(), NSMakeRect(kStart.origin.x - 50, kStart.origin.y, 200, 200));
}

TEST_F(MoveSize, MaximumWinsOverAMinimumAboveItAndTheAspectHookComesLast)
{
    window->setMinSize(NSMakeSize(400, 400));
    window->setMaxSize(NSMakeSize(350, 360));
    regionDrag(NSMakePoint(300, 250), NSMakePoint(5, -5), kNSWindow_HitTest_BottomRight);
    EXPECT_FLOAT_EQ(window->frame().size.width, 350);
    EXPECT_FLOAT_EQ(window->frame().size.height, 360);

    window->setMinSize(NSMakeSize(1, 1));
    window->setMaxSize(NSMakeSize(5000, 5000));
    window->setFrame(kStart, YES);
    window->squareAspect = true;
    regionDrag(NSMakePoint(300, 250), NSMakePoint(40, 0), kNSWindow_HitTest_TopRight);
    EXPECT_FLOAT_EQ(window->frame().size.width, 340);
    EXPECT_FLOAT_EQ(window->frame().size.height, 340);
}

TEST_F(MoveSize, StandardMoveStopsAtTheScreenTopTheRegionFormDoesNot)
{
    const NSRect s = screen();
    const float up = s.origin.y + s.size.height;   // far enough to pass the top
    standardDrag(NSMakePoint(300, 250), NSMakePoint(0, up));
    EXPECT_FLOAT_EQ(NSMaxY(window->frame()), NSMaxY(s));
    EXPECT_FLOAT_EQ(window->frame().origin.x, kStart.origin.x);

    window->setFrame(kStart, YES);
    regionDrag(NSMakePoint(300, 250), NSMakePoint(0, up), kNSWindow_HitTest_None);
    EXPECT_FLOAT_EQ(window->frame().origin.y, kStart.origin.y + up);
}

TEST_F(MoveSize, ReleaseWhereThePressWasIsOneSingleClick)
{
    queueMouse(window, NSLeftMouseUp, NSMakePoint(300, 250));
    window->windowMouseMoveSize_StandardBehaviour(press(NSMakePoint(300, 250)));
    EXPECT_EQ(window->clicks, 1);
    expectFrame(window->frame(), kStart);

    // Dragged away and back: still a click.
    queueMouse(window, NSLeftMouseDragged, NSMakePoint(340, 270));
    queueMouse(window, NSLeftMouseUp, NSMakePoint(300, 250));
    window->windowMouseMoveSize_StandardBehaviour(press(NSMakePoint(300, 250)));
    EXPECT_EQ(window->clicks, 2);
    expectFrame(window->frame(), kStart);

    // Dragged elsewhere: no click.
    standardDrag(NSMakePoint(300, 250), NSMakePoint(3, 0));
    EXPECT_EQ(window->clicks, 2);
}

TEST_F(MoveSize, TheRecordMeasuresMotionDownward)
{
    NSWindow_MouseMoveSize record(press(NSMakePoint(10, 10)), kNSWindow_HitTest_TopRight);
    EXPECT_EQ(record.operation, kNSWindow_Operation_None);
    EXPECT_EQ(record.hitRegion, kNSWindow_HitTest_TopRight);
    record.downLocation = NSMakePoint(10, 10);
    record.location = NSMakePoint(14, 3);
    EXPECT_TRUE(NSEqualPoints(record.MouseMoveDelta(), NSMakePoint(4, 7)));
}

} // namespace
