// The window chrome on a real display, for the end-to-end test and for a look
// at it: a plain window below ("Below", which reports the clicks it gets on
// standard output), the splash skin ("Welcome to Sentrel": moves, resizes from its
// bottom-right corner within 300x200 to 600x400) and the about box
// ("About Sentrel": hides when clicked). The screen is assumed 1280x1024.
// SENTREL_EVENT_DEBUG=1 in the environment traces the event queue.
#include "AppKit/NSApplication.h"
#include "AppKit/NSGraphics.h"
#include "AppKit/NSView.h"
#include "CocoaGraphics/PDFSkinView.h"
#include "CocoaGraphics/PDFSkinWindow.h"

#include <cstdio>

namespace {

class ClickReportingView : public NSView {
    OBJC_CLASS(ClickReportingView, NSView)
public:
    void drawRect(NSRect) override
    {
        NSColor::colorWithCalibratedRed(0.85f, 0.9f, 0.85f, 1)->set();
        NSRectFill(bounds());
    }
    void mouseDown(NSEvent* event) override
    {
        const NSPoint p = event->locationInWindow();
        std::printf("below clicked %g %g\n", p.x, p.y);
        std::fflush(stdout);
    }
};
OBJC_IMPLEMENTATION(ClickReportingView, NSView) {}

template <class Window, class View>
Window* skinned(NSRect frame, const char* title)
{
    auto* window = static_cast<Window*>(Window::alloc()->initWithContentRect(frame, 0, NSBackingStoreBuffered, NO));
    window->setTitle(NSString::stringWithUTF8(title));
    auto* view = View::alloc()->initWithFrame(NSMakeRect(0, 0, frame.size.width, frame.size.height));
    window->setContentView(view);
    view->release();
    view->awakeFromNib();
    return window;
}

} // namespace

int main(int argc, char** argv)
{
    AutoreleasePoolScope pool;
    NSApplication* app = NSApplication::sharedApplication(argc, argv);

    // Borderless, so that a click on it neither makes it key nor raises it.
    NSWindow* below = NSWindow::alloc()->initWithContentRect(NSMakeRect(0, 0, 1280, 1024), NSBorderlessWindowMask,
                                                             NSBackingStoreBuffered, NO);
    below->setTitle(NSSTR("Below"));
    auto* view = ClickReportingView::alloc()->initWithFrame(NSMakeRect(0, 0, 1280, 1024));
    below->setContentView(view);
    view->release();
    below->orderFront(nil);

    PDFSkinWindow* splash = skinned<PDFSkinWindow, PDFSkinViewScaled>(NSMakeRect(100, 400, 440, 300), "Welcome to Sentrel");
    splash->setMinSize(NSMakeSize(300, 200));
    splash->setMaxSize(NSMakeSize(600, 400));
    splash->makeKeyAndOrderFront(nil);

    PDFSkinAboutBox* about = skinned<PDFSkinAboutBox, PDFSkinAboutBoxView>(NSMakeRect(700, 500, 320, 200), "About Sentrel");
    about->orderFront(nil);

    std::printf("ready\n");
    std::fflush(stdout);
    app->run();
    return 0;
}
