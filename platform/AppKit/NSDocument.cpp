#include "AppKit/NSDocument.h"

#include "AppKit/NSApplication.h"
#include "AppKit/NSNib.h"
#include "AppKit/WindowSystem.h"
#include "Foundation/NSLog.h"

#include <QFileDialog>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

OBJC_IMPLEMENTATION(NSDocument, NSObject)
{
    cls.property("fileURL", &NSDocument::fileURL);
    cls.property("displayName", &NSDocument::displayName);
    cls.property("window", &NSDocument::window, &NSDocument::setWindow);
}
OBJC_IMPLEMENTATION(NSWindowController, NSObject) {}
OBJC_IMPLEMENTATION(NSDocumentController, NSObject)
{
    cls.action("openDocument", &NSDocumentController::openDocument);
    cls.action("clearRecentDocuments", &NSDocumentController::clearRecentDocuments);
}

namespace {

// How many recently opened files are remembered.
constexpr size_t kRecentDocumentCount = 10;

// The recently opened files: one path a line, newest first, in the user's
// data folder (XDG_DATA_HOME, else ~/.local/share) under sentrel/.
std::string recentDocumentsFile()
{
    std::string base;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/')
        base = data;
    else if (const char* home = std::getenv("HOME"); home && *home == '/')
        base = std::string(home) + "/.local/share";
    else
        return {};
    return base + "/sentrel/recent-documents";
}

std::vector<std::string> readRecent()
{
    std::vector<std::string> paths;
    std::ifstream in(recentDocumentsFile());
    for (std::string line; paths.size() < kRecentDocumentCount && std::getline(in, line);)
        if (!line.empty() && line.front() == '/')
            paths.push_back(line);
    return paths;
}

void writeRecent(const std::vector<std::string>& paths)
{
    const std::string file = recentDocumentsFile();
    if (file.empty())
        return;
    const std::string folder = file.substr(0, file.rfind('/'));
    ::mkdir(folder.substr(0, folder.rfind('/')).c_str(), 0700);
    ::mkdir(folder.c_str(), 0700);
    std::ofstream out(file, std::ios::trunc);
    for (const std::string& path : paths)
        out << path << '\n';
}

// The Open dialog accepts files, and folders that are bundles (an
// application is a folder): those are chosen rather than entered.
class OpenDialog : public QFileDialog {
public:
    OpenDialog() : QFileDialog(nullptr, "Open")
    {
        setOption(QFileDialog::DontUseNativeDialog);
        setFileMode(QFileDialog::ExistingFiles);
        setNameFilters({"All files (*)", "Applications (*.app)"});
    }

    void accept() override
    {
        const QStringList chosen = selectedFiles();
        if (chosen.size() == 1 && QFileInfo(chosen.front()).isDir() && isBundle(chosen.front())) {
            QDialog::accept();
            return;
        }
        QFileDialog::accept();
    }

    static bool isBundle(const QString& path)
    {
        for (const char* suffix : {".app", ".framework", ".bundle", ".plugin", ".appex", ".kext", ".xpc"})
            if (path.endsWith(QLatin1String(suffix), Qt::CaseInsensitive))
                return true;
        return false;
    }
};

} // namespace

// ---- NSDocument

NSDocument::~NSDocument() = default;

NSString* NSDocument::displayName() const
{
    NSURL* url = fileURL();
    NSString* name = url ? url->lastPathComponent() : nullptr;
    return name ? name : NSSTR("Untitled");
}

BOOL NSDocument::readFromURL(NSURL* url, NSString* typeName, NSError** outError) { return NO; }

void NSDocument::makeWindowControllers()
{
    NSString* nib = windowNibName();
    if (!nib)
        return;
    if (NSWindowController* controller = NSWindowController::controllerForDocument(this, nib)) {
        m_windowControllers.emplace_back(controller);
        windowControllerDidLoadNib(controller);
    }
}

void NSDocument::showWindows()
{
    for (auto& controller : m_windowControllers)
        if (NSWindow* window = controller->window())
            window->makeKeyAndOrderFront(nil);
}

void NSDocument::close()
{
    if (m_closing)
        return;
    m_closing = true;
    Retained<NSDocument> keep(this);
    // The controllers go first: their windows stop showing the document.
    auto controllers = std::move(m_windowControllers);
    for (auto& controller : controllers)
        controller->close();
    controllers.clear();
    m_window = nullptr;
    NSDocumentController::sharedDocumentController()->removeDocument(this);
}

// ---- NSWindowController

NSWindowController::~NSWindowController() { close(); }

NSWindowController* NSWindowController::controllerForDocument(NSDocument* document, NSString* nibName)
{
    auto* controller = new NSWindowController();
    controller->m_document = document;
    controller->m_objects = NSMutableArray::array();
    std::string error;
    if (!NSNib::loadNibNamed(nibName, document, controller->m_objects, &error)) {
        NSLog("Cannot load the window description %@: %s", nibName, error.c_str());
        controller->m_closed = true;
        controller->release();
        return nil;
    }
    if (NSWindow* window = controller->window()) {
        window->setDelegate(controller);
        window->setTitle(document->displayName());
    }
    return static_cast<NSWindowController*>(controller->autorelease());
}

NSWindow* NSWindowController::window() const { return m_document ? m_document->window() : nullptr; }

void NSWindowController::close()
{
    if (m_closed)
        return;
    m_closed = true;
    Retained<NSWindowController> keep(this);
    if (NSWindow* window = this->window()) {
        window->setDelegate(nullptr);
        window->orderOut(nil);
    }
    // Every window of the description goes, panels included.
    for (NSUInteger i = 0; m_objects && i < m_objects->count(); ++i)
        if (auto* window = dynamic_cast<NSWindow*>(m_objects->objectAtIndex(i))) {
            window->setDelegate(nullptr);
            window->orderOut(nil);
        }
    NSNibReleaseObjects(m_objects);
}

void NSWindowController::windowWillClose(NSWindow* window)
{
    // The document's window closed (its close button): the document closes.
    if (m_document && window == this->window())
        m_document->close();
}

// ---- NSDocumentController

NSDocumentController::NSDocumentController() : m_documents(NSMutableArray::array()) {}

NSDocumentController* NSDocumentController::sharedDocumentController()
{
    static NSDocumentController* const shared = [] {
        auto* controller = new NSDocumentController();
        controller->makeImmortal();
        NSNibRegisterNamedObject("documentController", [] { return static_cast<NSObject*>(sharedDocumentController()); });
        return controller;
    }();
    return shared;
}

NSArray* NSDocumentController::documents() const { return NSArray::arrayWithArray(m_documents); }

NSDocument* NSDocumentController::documentForURL(NSURL* url) const
{
    const char* wanted = url ? url->fileSystemRepresentation() : nullptr;
    struct stat wantedStat {};
    if (!wanted || ::stat(wanted, &wantedStat) != 0)
        wanted = nullptr;
    for (NSUInteger i = 0; i < m_documents->count(); ++i) {
        auto* document = static_cast<NSDocument*>(m_documents->objectAtIndex(i));
        NSURL* open = document->fileURL();
        if (!open)
            continue;
        if (open->isEqual(url))
            return document;
        struct stat openStat {};
        const char* openPath = open->fileSystemRepresentation();
        if (wanted && openPath && ::stat(openPath, &openStat) == 0 && openStat.st_dev == wantedStat.st_dev &&
            openStat.st_ino == wantedStat.st_ino)
            return document;
    }
    return nullptr;
}

NSString* NSDocumentController::typeForContentsOfURL(NSURL* url, NSError** outError) const
{
    const char* path = url ? url->fileSystemRepresentation() : nullptr;
    struct stat info {};
    if (path && ::stat(path, &info) == 0 && S_ISDIR(info.st_mode)) {
        const std::string name(path);
        return name.ends_with(".app") || name.ends_with(".app/") ? NSSTR("com.apple.application-bundle")
                                                                 : NSSTR("public.folder");
    }
    if (path) {
        if (FILE* file = std::fopen(path, "rb")) {
            unsigned char magic[4] = {};
            const size_t got = std::fread(magic, 1, 4, file);
            std::fclose(file);
            const uint32_t be = uint32_t(magic[0]) << 24 | uint32_t(magic[1]) << 16 | uint32_t(magic[2]) << 8 | magic[3];
            const uint32_t le = uint32_t(magic[3]) << 24 | uint32_t(magic[2]) << 16 | uint32_t(magic[1]) << 8 | magic[0];
            for (uint32_t m : {be, le})
                if (got == 4 && (m == 0xFEEDFACE || m == 0xFEEDFACF || m == 0xCAFEBABE || m == 0xCAFEBABF))
                    return NSSTR("com.apple.mach-o-binary");
        }
    }
    return NSSTR("public.data");
}

void NSDocumentController::addDocument(NSDocument* document)
{
    if (document && !m_documents->containsObject(document))
        m_documents->addObject(document);
}

void NSDocumentController::removeDocument(NSDocument* document) { m_documents->removeObject(document); }

NSDocument* NSDocumentController::openDocumentWithContentsOfURL(NSURL* url, BOOL display, NSError** outError)
{
    if (!url || !m_factory)
        return nil;
    if (NSDocument* open = documentForURL(url)) {
        if (display)
            open->showWindows();
        return open;
    }
    Retained<NSDocument> document = Retained<NSDocument>::adopt(m_factory());
    if (!document || !document->readFromURL(url, typeForContentsOfURL(url, nullptr), outError))
        return nil;
    addDocument(document);
    noteNewRecentDocumentURL(url);
    document->makeWindowControllers();
    if (display)
        document->showWindows();
    return document;
}

void NSDocumentController::openDocument(id sender)
{
    OpenDialog dialog;
    if (dialog.exec() != QDialog::Accepted)
        return;
    for (const QString& chosen : dialog.selectedFiles()) {
        const QByteArray path = QFile::encodeName(chosen);
        openDocumentWithContentsOfURL(NSURL::fileURLWithFileSystemRepresentation(path.constData(), QFileInfo(chosen).isDir()),
                                      YES, nullptr);
    }
}

NSArray* NSDocumentController::recentDocumentURLs() const
{
    NSMutableArray* urls = NSMutableArray::array();
    for (const std::string& path : readRecent()) {
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0)
            urls->addObject(NSURL::fileURLWithFileSystemRepresentation(path.c_str(), S_ISDIR(info.st_mode)));
    }
    return urls;
}

void NSDocumentController::noteNewRecentDocumentURL(NSURL* url)
{
    const char* path = url ? url->fileSystemRepresentation() : nullptr;
    // A name with a line break cannot be kept one a line.
    if (!path || *path != '/' || std::string(path).find('\n') != std::string::npos)
        return;
    std::vector<std::string> paths{path};
    for (const std::string& old : readRecent())
        if (old != path && paths.size() < kRecentDocumentCount)
            paths.push_back(old);
    writeRecent(paths);
}

void NSDocumentController::clearRecentDocuments(id sender) { writeRecent({}); }

// ---- the application's main

int NSApplicationMain(int argc, char** argv)
{
    NSApplication* app = NSApplication::sharedApplication(argc, argv);
    NSDocumentController* documents = NSDocumentController::sharedDocumentController();
    {
        AutoreleasePoolScope pool;
        NSMutableArray* objects = NSMutableArray::array();
        std::string error;
        if (!NSNib::loadNibNamed(NSSTR("MainMenu"), app, objects, &error)) {
            NSLog("Cannot load the main window description: %s", error.c_str());
            return 1;
        }
        // The main description's objects live as long as the program.
        static NSMutableArray* const sMainObjects = static_cast<NSMutableArray*>(objects->retain());
        (void)sMainObjects;
        auto* delegate = dynamic_cast<NSApplicationDelegate*>(app->delegate());
        if (delegate)
            delegate->applicationDidFinishLaunching(nullptr);
        for (int i = 1; i < argc; ++i) {
            if (std::string(argv[i]).starts_with("-"))
                continue;
            struct stat info {};
            const bool directory = ::stat(argv[i], &info) == 0 && S_ISDIR(info.st_mode);
            // Relative paths are the caller's: made absolute from the working folder.
            std::string path = argv[i];
            if (path.front() != '/') {
                char here[4096];
                if (::getcwd(here, sizeof here))
                    path = std::string(here) + "/" + path;
            }
            documents->openDocumentWithContentsOfURL(NSURL::fileURLWithFileSystemRepresentation(path.c_str(), directory),
                                                     YES, nullptr);
        }
    }
    app->run();
    return 0;
}
