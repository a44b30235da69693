// Verifying a signature without holding up the main thread: the hashing runs
// on a thread of its own, and what it finds (progress, then the verdict) is
// handed to the main thread through the main queue.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "codesign/Verify.h"

class BackgroundSignatureCheck {
public:
    using Progress = std::function<void(double fraction)>;
    using Done = std::function<void(codesign::Verdict verdict)>;

    // Starts at once. `progress` and `done` run on the main thread, and never
    // after cancel() or the destructor (both called on the main thread).
    BackgroundSignatureCheck(std::string path, Progress progress, Done done);
    ~BackgroundSignatureCheck();  // cancels, and waits for the thread to stop
    BackgroundSignatureCheck(const BackgroundSignatureCheck&) = delete;
    BackgroundSignatureCheck& operator=(const BackgroundSignatureCheck&) = delete;

    void cancel();
    // Waits for the verdict and runs what the main queue holds (for a caller
    // that has no event loop, and for tests).
    void waitUntilDone();

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
};
