// The application: the window system's connection, the event queue and the
// event loop.
//
// Every mouse-button, pointer-motion and key event of the application's
// windows enters one queue, in the order the window system delivered them.
// The run loop hands queued events out one at a time (sendEvent: to the
// event's window); a handler that wants particular events -- the mouse
// capture loop waiting for a drag or the release of the button -- takes them
// out of the queue with nextEventMatchingMask, and every other event stays
// queued and is handled, in order, once that handler has returned.
#pragma once

#include "AppKit/NSResponder.h"

#include <deque>
#include <vector>

class NSDate;
class NSApplication;
class NSMenu;
class NSWindow;

// What the application asks of its delegate. A delegate object derives from
// this as well as from its platform base class.
class NSApplicationDelegate {
public:
    virtual ~NSApplicationDelegate() = default;
    virtual BOOL applicationShouldOpenUntitledFile(NSApplication* sender) { return YES; }
    virtual void applicationDidFinishLaunching(NSObject* notification) {}
    virtual BOOL applicationShouldTerminate(NSApplication* sender) { return YES; }
    virtual void applicationWillTerminate(NSObject* notification) {}
};

extern NSString* const NSDefaultRunLoopMode;
extern NSString* const NSEventTrackingRunLoopMode;

class NSApplication : public NSResponder {
    OBJC_CLASS(NSApplication, NSResponder)
public:
    // The application object, made (with the window system's connection) on
    // first use. argc/argv are the program's; later calls ignore them.
    static NSApplication* sharedApplication();
    static NSApplication* sharedApplication(int argc, char** argv);

    // Runs the event loop until terminate:.
    void run();
    void stop(id sender);
    // Asks the delegate, then leaves the event loop; run returns.
    void terminate(id sender);

    NSObject* delegate() const { return m_delegate; }
    void setDelegate(NSObject* delegate) { m_delegate = delegate; }   // not retained
    NSMenu* mainMenu() const { return m_mainMenu; }
    void setMainMenu(NSMenu* menu);

    NSWindow* keyWindow() const { return m_keyWindow; }

    // The next queued event whose type is in `mask` (and, when `window` is
    // given, that belongs to that window), removed from the queue when
    // `dequeue` is YES. Until `expiration` the call waits for the window
    // system to deliver one; with distantPast it only collects what the
    // window system has already delivered and answers nil at once when no
    // such event is queued.
    NSEvent* nextEventMatchingMask(NSUInteger mask, NSDate* expiration, NSString* mode, BOOL dequeue,
                                   NSWindow* window = nullptr);
    // Adds an event to the queue: at its end, or at its start.
    void postEvent(NSEvent* event, BOOL atStart);
    // Hands an event to its window.
    void sendEvent(NSEvent* event);
    // How many events wait in the queue.
    NSUInteger queuedEventCount() const { return m_queue.size(); }
    // Hands out every queued event, in order, unless an event is being
    // handled already (its handler may be taking events itself); the event
    // loop calls this whenever the window system has queued something.
    void dispatchQueuedEvents();

    // Window bookkeeping, for NSWindow.
    void windowDidCreate(NSWindow* window);
    void windowWillDealloc(NSWindow* window);
    void setKeyWindow(NSWindow* window);

protected:
    NSApplication();
    ~NSApplication() override;

private:
    NSEvent* takeEvent(NSUInteger mask, NSWindow* window, BOOL dequeue);

    std::deque<Retained<NSEvent>> m_queue;
    std::vector<NSWindow*> m_windows;   // not retained
    NSWindow* m_keyWindow = nullptr;    // not retained
    NSObject* m_delegate = nullptr;     // not retained
    Retained<NSMenu> m_mainMenu;
    int m_dispatchDepth = 0;
};

// The application object, once sharedApplication has made it.
extern NSApplication* NSApp;

// The window system's library version; the view classes compare it with
// the versions that changed how a window's shadow is refreshed.
extern const double NSAppKitVersionNumber;
