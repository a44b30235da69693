#include "AppKit/NSApplication.h"

#include "AppKit/NSMenu.h"
#include "AppKit/NSNib.h"
#include "AppKit/NSWindow.h"
#include "AppKit/WindowSystem.h"
#include "Foundation/NSException.h"
#include "Foundation/NSLog.h"
#include "Foundation/NSOperationQueue.h"
#include "Foundation/NSValue.h"

#include <QApplication>
#include <QDeadlineTimer>

#include <algorithm>
#include <cstdlib>

NSApplication* NSApp = nullptr;
// The version of the window system's library: that of the platform release
// whose behaviour this layer follows.
const double NSAppKitVersionNumber = 1138.0;

NSString* const NSDefaultRunLoopMode = NSStringLiteral("kCFRunLoopDefaultMode");
NSString* const NSEventTrackingRunLoopMode = NSStringLiteral("NSEventTrackingRunLoopMode");

OBJC_IMPLEMENTATION(NSApplication, NSResponder)
{
    cls.action("terminate", &NSApplication::terminate);
    cls.property("delegate", &NSApplication::delegate, &NSApplication::setDelegate);
}

namespace {
// SENTREL_EVENT_DEBUG=1: every event handed out by the run loop is logged.
const bool sTraceEvents = [] {
    const char* trace = std::getenv("SENTREL_EVENT_DEBUG");
    return trace && *trace && *trace != '0';
}();
} // namespace

NSApplication::NSApplication()
{
    NSNibRegisterNamedObject("application", [] { return static_cast<NSObject*>(NSApp); });
}
NSApplication::~NSApplication() = default;

NSApplication* NSApplication::sharedApplication()
{
    static char name[] = "sentrel";
    static char* argv[] = {name, nullptr};
    return sharedApplication(1, argv);
}

NSApplication* NSApplication::sharedApplication(int argc, char** argv)
{
    if (!NSApp) {
        WindowSystem::connect(argc, argv);
        // Work that background tasks hand to the main thread runs from the
        // event loop, soon after it is queued.
        NSOperationQueue::mainQueue()->setWaker([] {
            QMetaObject::invokeMethod(qApp, [] { NSOperationQueue::mainQueue()->runMainQueue(); }, Qt::QueuedConnection);
        });
        NSApp = new NSApplication();
        NSApp->makeImmortal();
    }
    return NSApp;
}

void NSApplication::run()
{
    dispatchQueuedEvents();
    QApplication::exec();
}

void NSApplication::stop(id sender) { QCoreApplication::quit(); }

void NSApplication::terminate(id sender)
{
    if (auto* delegate = dynamic_cast<NSApplicationDelegate*>(m_delegate)) {
        if (!delegate->applicationShouldTerminate(this))
            return;
        delegate->applicationWillTerminate(this);
    }
    QCoreApplication::quit();
}

void NSApplication::setMainMenu(NSMenu* menu)
{
    m_mainMenu = menu;
    for (NSWindow* window : m_windows)
        if (window->host())
            window->host()->installMenus();
}

void NSApplication::windowDidCreate(NSWindow* window) { m_windows.push_back(window); }

void NSApplication::windowWillDealloc(NSWindow* window)
{
    m_windows.erase(std::remove(m_windows.begin(), m_windows.end(), window), m_windows.end());
    if (m_keyWindow == window)
        m_keyWindow = nullptr;
    for (auto& event : m_queue)
        if (event->window() == window)
            event->setWindow(nullptr);
}

void NSApplication::setKeyWindow(NSWindow* window) { m_keyWindow = window; }

void NSApplication::postEvent(NSEvent* event, BOOL atStart)
{
    if (!event)
        return;
    if (atStart)
        m_queue.emplace_front(event);
    else
        m_queue.emplace_back(event);
    WindowSystem::scheduleDispatch();
}

NSEvent* NSApplication::takeEvent(NSUInteger mask, NSWindow* window, BOOL dequeue)
{
    for (auto it = m_queue.begin(); it != m_queue.end(); ++it) {
        NSEvent* event = *it;
        if (!(mask & NSEventMaskFromType(event->type())))
            continue;
        if (window && event->window() != window)
            continue;
        event->retain()->autorelease();
        if (dequeue)
            m_queue.erase(it);
        return event;
    }
    return nil;
}

NSEvent* NSApplication::nextEventMatchingMask(NSUInteger mask, NSDate* expiration, NSString* mode, BOOL dequeue,
                                              NSWindow* window)
{
    // While a caller takes events itself, the queue is not dispatched: what
    // it does not take waits until it is done.
    struct Taking {
        NSApplication* app;
        explicit Taking(NSApplication* a) : app(a) { ++app->m_dispatchDepth; }
        ~Taking()
        {
            if (--app->m_dispatchDepth == 0 && !app->m_queue.empty())
                WindowSystem::scheduleDispatch();
        }
    } taking(this);

    // What is queued already; else what the window system has delivered so far.
    if (NSEvent* event = takeEvent(mask, window, dequeue))
        return event;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (NSEvent* event = takeEvent(mask, window, dequeue))
        return event;
    const bool waitForever = expiration == NSDate::distantFuture();
    const double wait = expiration ? expiration->timeIntervalSinceReferenceDate() - NSDate::date()->timeIntervalSinceReferenceDate() : 0;
    if (!waitForever && wait <= 0)
        return nil;
    QDeadlineTimer deadline = waitForever ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(qint64(wait * 1000));
    while (!deadline.hasExpired()) {
        if (waitForever)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        else
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents,
                                            int(std::max<qint64>(1, deadline.remainingTime())));
        if (NSEvent* event = takeEvent(mask, window, dequeue))
            return event;
    }
    return nil;
}

void NSApplication::sendEvent(NSEvent* event)
{
    if (NSWindow* window = event ? event->window() : nullptr)
        window->sendEvent(event);
}

void NSApplication::dispatchQueuedEvents()
{
    // A handler that is running may be taking events itself (a capture
    // loop); the outer pass goes on once it returns.
    if (m_dispatchDepth > 0)
        return;
    struct Depth {
        int& depth;
        explicit Depth(int& d) : depth(d) { ++depth; }
        ~Depth() { --depth; }
    } depth(m_dispatchDepth);
    while (!m_queue.empty()) {
        Retained<NSEvent> event = m_queue.front();
        m_queue.pop_front();
        AutoreleasePoolScope pool;
        // An exception that escapes a handler ends that event, not the
        // program: the window system's loop cannot unwind.
        try {
            if (sTraceEvents)
                NSLog("dispatch %@", event.get());
            sendEvent(event);
        } catch (NSException* exception) {
            NSLog("Exception while handling %@: %@", event.get(), exception);
        }
    }
}
