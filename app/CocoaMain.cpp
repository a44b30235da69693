// The program's start: the first static initialiser (the debug log's route
// and the process-wide pool, shared with every program of the project) has
// run before anything else; here the pool is replaced by a fresh one and the
// application's main runs the event loop until the user quits.
#include "AppController.h"
#include "AppKit/NSDocument.h"
#include "CoreMachDebugLog.h"
#include "CoreProgramStart.h"
#include "objc/NSObject.h"

#include <cstdio>
#include <cstring>

// At the end of the program: whatever the process-wide pool still holds is
// released. (A program that ends through exit() instead has its open pools
// drained when its main thread ends.)
static void AppTermFunc()
{
    if (s_cplusplus_static_pool) {
        s_cplusplus_static_pool->drain();
        s_cplusplus_static_pool = nullptr;
    }
}

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("sentrel %s\n", SENTREL_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            std::printf("usage: sentrel [FILE...]\n"
                        "Opens a window for each file (an application bundle, a program, any file) that tells\n"
                        "where it came from and how far its code may be trusted. With no file, a window\n"
                        "invites you to drop one.\n");
            return 0;
        }
    }
    VERIFY(import_AppController());
    if (s_cplusplus_static_pool)
        s_cplusplus_static_pool->drain();
    s_cplusplus_static_pool = NSAutoreleasePool::alloc()->init();
    const int status = NSApplicationMain(argc, argv);
    AppTermFunc();
    return status;
}
