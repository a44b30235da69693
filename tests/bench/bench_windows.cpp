// The window system's speed and memory, on a real display (scripts/bench.sh
// runs it under Xvfb): a drag of 1,000 queued motion events, opening a second
// document in a running program, and the memory of opening and closing
// documents.
//
//   bench_windows FILE OTHER-FILE
#include "AppController.h"
#include "AppKit/NSNib.h"
#include "CoreMachDebugLog.h"
#include "Foundation/NSLog.h"
#include "CocoaGraphics/PDFSkinView.h"
#include "CocoaGraphics/PDFSkinWindow.h"
#include "IXDocument.h"

#include <QCoreApplication>
#include <QEvent>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Resident memory in MiB.
double residentMiB()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

void settle()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    // Closed windows are deleted later, which processEvents() alone never
    // does outside a running event loop; the program's own loop does.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void dragBenchmark()
{
    AutoreleasePoolScope pool;
    auto* window = static_cast<PDFSkinWindow*>(
        PDFSkinWindow::alloc()->initWithContentRect(NSMakeRect(100, 300, 440, 300), 0, NSBackingStoreBuffered, NO));
    window->setTitle(NSSTR("Welcome to Sentrel"));
    auto* view = PDFSkinViewScaled::alloc()->initWithFrame(NSMakeRect(0, 0, 440, 300));
    window->setContentView(view);
    view->release();
    view->awakeFromNib();
    window->makeKeyAndOrderFront(nil);
    settle();

    constexpr int kEvents = 1000;
    const NSPoint down = NSMakePoint(300, 450);
    for (int i = 1; i <= kEvents; ++i)
        NSApp->postEvent(NSEvent::mouseEventWithType(NSLeftMouseDragged, NSMakePoint(down.x + i * 0.5f, down.y - i * 0.25f),
                                                     0, window, 1),
                         NO);
    const NSPoint last = NSMakePoint(down.x + kEvents * 0.5f, down.y - kEvents * 0.25f);
    NSApp->postEvent(NSEvent::mouseEventWithType(NSLeftMouseUp, last, 0, window, 1), NO);
    const auto start = Clock::now();
    window->windowMouseMoveSize_StandardBehaviour(NSEvent::mouseEventWithType(NSLeftMouseDown, down, 0, window, 1));
    const double elapsed = milliseconds(Clock::now() - start);
    const NSRect frame = window->frame();
    const bool exact = frame.origin.x == 100 + (last.x - down.x) && frame.origin.y == 300 + (last.y - down.y);
    std::printf("drag: %d queued motion events in %.1f ms (%.3f ms per event); window at the last position: %s; "
                "events left queued: %lu\n",
                kEvents, elapsed, elapsed / kEvents, exact ? "yes" : "NO", NSApp->queuedEventCount());
    window->orderOut(nil);
    window->release();
}

NSDocument* openFile(const char* path)
{
    struct stat info {};
    const bool directory = ::stat(path, &info) == 0 && S_ISDIR(info.st_mode);
    return NSDocumentController::sharedDocumentController()->openDocumentWithContentsOfURL(
        NSURL::fileURLWithFileSystemRepresentation(path, directory), YES, nullptr);
}

void documentBenchmarks(const char* first, const char* second)
{
    NSMutableArray* mainObjects = NSMutableArray::array();
    std::string error;
    if (!NSNib::loadNibNamed(NSSTR("MainMenu"), NSApp, mainObjects, &error)) {
        std::printf("cannot load the main description: %s\n", error.c_str());
        return;
    }
    mainObjects->retain();
    settle();
    // The first document pays for what the window system sets up once
    // (styles, fonts, the description's classes); a further one is what a
    // document costs.
    const double base = residentMiB();
    NSDocument* one = openFile(first);
    settle();
    const double withOne = residentMiB();

    // A second file in the running program, median of 10.
    std::vector<double> times;
    double withTwo = 0;
    for (int i = 0; i < 10; ++i) {
        AutoreleasePoolScope pool;
        const auto start = Clock::now();
        NSDocument* other = openFile(second);
        if (other && other->window())
            other->window()->display();
        times.push_back(milliseconds(Clock::now() - start));
        settle();
        if (i == 0)
            withTwo = residentMiB();
        if (other)
            other->close();
        settle();
    }
    std::sort(times.begin(), times.end());
    std::printf("second document: window made, filled and drawn in %.1f ms (median of 10; min %.1f, max %.1f)\n",
                (times[4] + times[5]) / 2, times.front(), times.back());
    std::printf("memory: %.1f MiB before any document, %.1f MiB with the first (+%.1f MiB), %.1f MiB with a second "
                "(+%.1f MiB)\n",
                base, withOne, withOne - base, withTwo, withTwo - withOne);
    if (one)
        one->close();
    settle();

    // Open and close 200 documents in a row.
    double afterFirst = 0;
    for (int i = 0; i < 200; ++i) {
        AutoreleasePoolScope pool;
        NSDocument* document = openFile(i % 2 ? first : second);
        settle();
        if (document)
            document->close();
        settle();
        if (i == 0)
            afterFirst = residentMiB();
    }
    const double after = residentMiB();
    std::printf("memory: %.1f MiB after the first open and close, %.1f MiB after 200 (%+.1f%%)\n", afterFirst, after,
                100.0 * (after - afterFirst) / afterFirst);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_windows FILE OTHER-FILE\n");
        return 2;
    }
    AutoreleasePoolScope pool;
    NSApplication::sharedApplication(argc, argv);
    VERIFY(import_AppController());
    AppController::initialize();
    // The documents' console trace is not what is measured.
    _NSSetLogCStringFunction([](const char*, unsigned, BOOL) {});
    dragBenchmark();
    documentBenchmarks(argv[1], argv[2]);
    return 0;
}
