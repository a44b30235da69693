// The application's documents: opening and closing, the splash window, the
// console trace, saving refused, and taking a file out of quarantine.
#include "AppController.h"
#include "AppKit/NSControls.h"
#include "AppKit/NSNib.h"
#include "AppKit/WindowSystem.h"
#include "Foundation/NSException.h"
#include "IXDocument.h"
#include "TempFolder.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

// Counts the will-change and did-change notices of the keys it observes.
class NoticeCounter : public NSObject {
    OBJC_CLASS(NoticeCounter, NSObject)
public:
    int will = 0, did = 0;
    void observeValueForKeyPath(NSString*, id, NSDictionary* change, void*) override
    {
        (change->objectForKey(NSKeyValueChangeNotificationIsPriorKey) ? will : did) += 1;
    }
};
OBJC_IMPLEMENTATION(NoticeCounter, NSObject) {}

// Every control below a view, depth first.
void collectControls(NSView* view, std::vector<NSControl*>& out)
{
    if (auto* control = dynamic_cast<NSControl*>(view))
        out.push_back(control);
    for (const auto& subview : view->subviews())
        collectControls(subview, out);
}

NSControl* controlBoundTo(NSWindow* window, const std::string& keyPath)
{
    std::vector<NSControl*> controls;
    collectControls(window->contentView(), controls);
    for (NSControl* control : controls)
        if (control->boundKeyPath() == keyPath)
            return control;
    return nullptr;
}

NSButton* buttonTitled(NSWindow* window, const char* title)
{
    std::vector<NSControl*> controls;
    collectControls(window->contentView(), controls);
    for (NSControl* control : controls)
        if (auto* button = dynamic_cast<NSButton*>(control); button && button->title()->utf8() == title)
            return button;
    return nullptr;
}

std::string shown(NSWindow* window, const std::string& keyPath)
{
    auto* field = dynamic_cast<NSTextField*>(controlBoundTo(window, keyPath));
    return field ? field->stringValue()->utf8() : "(no field bound to " + keyPath + ")";
}

class Documents : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The recently opened files go to a folder of the test's own.
        static TempFolder data;
        setenv("XDG_DATA_HOME", data.path("data").c_str(), 1);
        NSApplication* app = NSApplication::sharedApplication();
        static NSMutableArray* mainObjects = [app] {
            auto* objects = static_cast<NSMutableArray*>(NSMutableArray::array()->retain());
            std::string error;
            EXPECT_TRUE(NSNib::loadNibNamed(NSSTR("MainMenu"), app, objects, &error)) << error;
            return objects;
        }();
        (void)mainObjects;
    }

    void TearDown() override
    {
        NSArray* open = controller()->documents();
        for (NSUInteger i = 0; i < open->count(); ++i)
            static_cast<NSDocument*>(open->objectAtIndex(i))->close();
    }

    static NSDocumentController* controller() { return NSDocumentController::sharedDocumentController(); }
    static AppController* appController() { return AppController::sharedInstance(); }

    IXDocument* open(const std::string& path)
    {
        struct stat info {};
        const bool directory = ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        return static_cast<IXDocument*>(controller()->openDocumentWithContentsOfURL(
            NSURL::fileURLWithFileSystemRepresentation(path.c_str(), directory), YES, nullptr));
    }

    TempFolder folder;
};

TEST_F(Documents, OpeningAndClosingTraceTheConsoleAndTellTheControllerTwiceEach)
{
    ASSERT_NE(appController(), nullptr);
    const std::string file = folder.writeFile("notes.txt", "hello");
    auto* counter = NoticeCounter::alloc();
    appController()->addObserver(counter, "shouldDisplaySplashWindow", NSKeyValueObservingOptionPrior, nullptr);
    {
        ConsoleCapture console;
        IXDocument* document = open(file);
        ASSERT_NE(document, nullptr);
        Retained<IXDocument> keep(document);
        document->close();

        const auto& lines = ConsoleCapture::lines();
        const std::vector<std::string> document_lines = [&] {
            std::vector<std::string> kept;
            for (const auto& line : lines)
                if (line.starts_with("readFromURL:") || line.starts_with("\tofType:") ||
                    line.starts_with("windowControllerDidLoadNib") || line.starts_with("IXDocument::close"))
                    kept.push_back(line);
            return kept;
        }();
        ASSERT_EQ(document_lines.size(), 4u);
        EXPECT_EQ(document_lines[0], "readFromURL:file://" + file + "\n");
        EXPECT_EQ(document_lines[1], "\tofType:public.data\n");
        EXPECT_EQ(document_lines[2], "windowControllerDidLoadNib\n");
        EXPECT_EQ(document_lines[3], "IXDocument::close\n");
    }
    appController()->removeObserver(counter, "shouldDisplaySplashWindow");
    // One announcement per open and one per close.
    EXPECT_EQ(counter->will, 2);
    EXPECT_EQ(counter->did, 2);
    counter->release();
}

TEST_F(Documents, TheSplashShowsExactlyWhileNoDocumentIsOpen)
{
    NSWindow* splash = appController()->splashWindow();
    ASSERT_NE(splash, nullptr);
    EXPECT_TRUE(splash->isVisible());
    IXDocument* first = open(folder.writeFile("a", "a"));
    IXDocument* second = open(folder.writeFile("b", "b"));
    ASSERT_TRUE(first && second);
    EXPECT_FALSE(splash->isVisible());
    EXPECT_FALSE(appController()->shouldDisplaySplashWindow());
    first->close();
    EXPECT_FALSE(splash->isVisible());
    second->close();
    EXPECT_TRUE(splash->isVisible());
    EXPECT_TRUE(splash->isKeyWindow());
    EXPECT_TRUE(appController()->shouldDisplaySplashWindow());
}

TEST_F(Documents, AFileIsOpenOnceHoweverItIsNamed)
{
    const std::string file = folder.writeFile("once.bin", "x");
    IXDocument* document = open(file);
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(open(folder.path("./once.bin")), document);
    EXPECT_EQ(open(file), document);
    EXPECT_EQ(controller()->documents()->count(), 1u);
    EXPECT_EQ(document->displayName()->utf8(), "once.bin");
    EXPECT_EQ(document->window()->title()->utf8(), "once.bin");
}

TEST_F(Documents, SavingIsRefusedAndOnlyURLsAreRead)
{
    IXDocument* document = open(folder.writeFile("f", "f"));
    ASSERT_NE(document, nullptr);
    try {
        document->dataOfType(NSSTR("public.data"), nullptr);
        FAIL() << "no exception";
    } catch (NSException* exception) {
        EXPECT_EQ(exception->name()->utf8(), "UnimplementedMethod");
        EXPECT_EQ(exception->reason()->utf8(), "dataOfType:error: is unimplemented");
    }
    EXPECT_FALSE(document->readFromData(NSData::data(), NSSTR("public.data"), nullptr));
    EXPECT_FALSE(document->readFromFileWrapper(nullptr, NSSTR("public.data"), nullptr));
    EXPECT_FALSE(document->hasUnautosavedChanges());
    EXPECT_FALSE(IXDocument::autosavesInPlace());
}

TEST_F(Documents, TheTerminalCommandAndTitleTakeThePathAsItIs)
{
    const std::string app = folder.makeFolder("My App.app");
    IXDocument* document = open(app);
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(document->terminalAppRemoveQuarantineCommandString()->utf8(),
              "xattr -d com.apple.quarantine \"" + app + "\"");
    EXPECT_EQ(document->terminalAppRemoveQuarantineTitle()->utf8(), "Remove My App.app from Quarantine");
    ASSERT_NE(document->terminalAppIconImage(), nullptr);
    EXPECT_TRUE(NSEqualSizes(document->terminalAppIconImage()->size(), NSMakeSize(72, 72)));

    // Quotes and dollars are not escaped: the command shows the path's bytes.
    const std::string odd = folder.writeFile("say \"$HOME\"", "");
    IXDocument* quoted = open(odd);
    ASSERT_NE(quoted, nullptr);
    EXPECT_EQ(quoted->terminalAppRemoveQuarantineCommandString()->utf8(), "xattr -d com.apple.quarantine \"" + odd + "\"");

    // A record kept elsewhere as well adds its own command, a line each.
    if (!folder.usable())
        return;
    const std::string shared = folder.writeFile("shared.dmg", "");
    ASSERT_TRUE(TempFolder::setAttribute(shared, "DosStream.com.apple.quarantine:$DATA", "0083;674a1c00;Safari;"));
    IXDocument* onShare = open(shared);
    ASSERT_NE(onShare, nullptr);
    EXPECT_EQ(onShare->terminalAppRemoveQuarantineCommandString()->utf8(),
              "xattr -d com.apple.quarantine \"" + shared + "\"\nsetfattr -x \"user.DosStream.com.apple.quarantine:\\$DATA\" \"" +
                  shared + "\"");
}

TEST_F(Documents, RemovingTheQuarantineClearsTheRecordAndTheWindowFollows)
{
    if (!folder.usable())
        GTEST_SKIP() << "no user extended attributes here";
    const std::string file = folder.writeFile("Download.app", "");
    ASSERT_TRUE(TempFolder::setAttribute(file, "com.apple.quarantine", "0083;674a1c00;Firefox;"));
    ASSERT_TRUE(TempFolder::setAttribute(file, "com.example.other", std::string("\x00\x01\xff", 3)));
    IXDocument* document = open(file);
    ASSERT_NE(document, nullptr);
    NSWindow* window = document->window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(shown(window, "quarantined").starts_with("Quarantined"));
    EXPECT_EQ(shown(window, "quarantineAgent"), "Firefox");
    NSButton* remove = buttonTitled(window, "Remove from Quarantine");
    ASSERT_NE(remove, nullptr);
    EXPECT_TRUE(remove->isEnabled());

    remove->performClick(nil);

    EXPECT_EQ(TempFolder::diskAttribute(file, "user.com.apple.quarantine"), "<none>");
    EXPECT_EQ(TempFolder::diskAttribute(file, "user.com.example.other"), std::string("\x00\x01\xff", 3));
    EXPECT_EQ(shown(window, "quarantined"), "Not quarantined");
    EXPECT_FALSE(remove->isEnabled());
}

TEST_F(Documents, AFileThatIsNoCodeStillGetsItsWindow)
{
    IXDocument* document = open(folder.writeFile("random.bin", std::string(4096, '\x5a')));
    ASSERT_NE(document, nullptr);
    ASSERT_NE(document->window(), nullptr);
    EXPECT_TRUE(document->window()->isVisible());
    EXPECT_EQ(shown(document->window(), "hasCodeSignature"), "Not signed");
    EXPECT_EQ(shown(document->window(), "codesignedBundleID"), "\u2014");
}

TEST_F(Documents, OpenedFilesAreRememberedNewestFirst)
{
    NSDocumentController* documents = controller();
    documents->clearRecentDocuments(nil);
    const std::string a = folder.writeFile("first", "1"), b = folder.writeFile("second", "2");
    open(a);
    open(b);
    open(a);
    NSArray* recent = documents->recentDocumentURLs();
    ASSERT_EQ(recent->count(), 2u);
    EXPECT_STREQ(static_cast<NSURL*>(recent->objectAtIndex(0))->fileSystemRepresentation(), b.c_str());
    EXPECT_STREQ(static_cast<NSURL*>(recent->objectAtIndex(1))->fileSystemRepresentation(), a.c_str());
    documents->clearRecentDocuments(nil);
    EXPECT_EQ(documents->recentDocumentURLs()->count(), 0u);
}

TEST_F(Documents, AFileThatCannotBeReadSaysSo)
{
    const std::string gone = folder.path("gone.app");
    IXDocument* document = open(gone);
    ASSERT_NE(document, nullptr);
    NSWindow* window = document->window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(shown(window, "fileProblemDescription"), "This file cannot be found: No such file or directory.");
    EXPECT_FALSE(controlBoundTo(window, "fileProblemDescription")->isHidden());

    IXDocument* fine = open(folder.writeFile("fine.txt", "x"));
    ASSERT_NE(fine, nullptr);
    EXPECT_TRUE(controlBoundTo(fine->window(), "fileProblemDescription")->isHidden());
}

TEST_F(Documents, TheWindowsCloseButtonClosesTheDocumentFromInsideItsOwnEvent)
{
    IXDocument* document = open(folder.writeFile("closing", "c"));
    ASSERT_TRUE(document && document->window() && document->window()->host());
    // The window and its widgets go while the widget handles the event.
    QCloseEvent close;
    QCoreApplication::sendEvent(document->window()->host()->widget, &close);
    EXPECT_EQ(controller()->documents()->count(), 0u);
    QCoreApplication::processEvents();
    EXPECT_TRUE(appController()->splashWindow()->isVisible());
}

TEST_F(Documents, FilesDroppedOnTheSplashOpen)
{
    NSWindow* splash = appController()->splashWindow();
    ASSERT_TRUE(splash && splash->host());
    const std::string file = folder.writeFile("dropped.bin", "d");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(file))});
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(splash->host()->widget, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(splash->host()->widget, &drop);
    EXPECT_TRUE(drop.isAccepted());
    ASSERT_EQ(controller()->documents()->count(), 1u);
    EXPECT_EQ(static_cast<NSDocument*>(controller()->documents()->objectAtIndex(0))->displayName()->utf8(), "dropped.bin");
}

} // namespace
