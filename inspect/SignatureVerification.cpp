#include "SignatureVerification.h"

#include <atomic>

#include "Foundation/NSOperationQueue.h"

struct BackgroundSignatureCheck::Shared {
    std::atomic<bool> cancelled{false};
    std::atomic<std::uint64_t> total{0};
    std::atomic<std::uint64_t> done{0};
    std::atomic<int> lastPercentTold{-1};
    Progress progress;
    Done finished;
};

BackgroundSignatureCheck::BackgroundSignatureCheck(std::string path, Progress progress, Done done)
    : m_shared(std::make_shared<Shared>())
{
    m_shared->progress = std::move(progress);
    m_shared->finished = std::move(done);
    m_thread = std::thread([shared = m_shared, path = std::move(path)] {
        codesign::VerifyOptions options;
        options.work.cancelled = &shared->cancelled;
        options.started = [&](std::uint64_t total) { shared->total = total; };
        options.work.advanced = [&](std::uint64_t bytes) {
            const std::uint64_t total = shared->total.load();
            const std::uint64_t done = shared->done += bytes;
            const int percent = total ? int(done * 100 / total) : 100;
            // One notice per percent at most; the main thread only shows it.
            int told = shared->lastPercentTold.load();
            if (percent <= told || !shared->lastPercentTold.compare_exchange_strong(told, percent))
                return;
            NSOperationQueue::mainQueue()->addOperationWithBlock([shared, percent] {
                if (!shared->cancelled && shared->progress)
                    shared->progress(percent / 100.0);
            });
        };
        codesign::Verdict verdict = codesign::verifyStaticCode(path, options);
        auto result = std::make_shared<codesign::Verdict>(std::move(verdict));
        NSOperationQueue::mainQueue()->addOperationWithBlock([shared, result] {
            if (!shared->cancelled && shared->finished)
                shared->finished(std::move(*result));
        });
    });
}

BackgroundSignatureCheck::~BackgroundSignatureCheck()
{
    cancel();
    if (m_thread.joinable())
        m_thread.join();
}

void BackgroundSignatureCheck::cancel() { m_shared->cancelled = true; }

void BackgroundSignatureCheck::waitUntilDone()
{
    if (m_thread.joinable())
        m_thread.join();
    NSOperationQueue::mainQueue()->runMainQueue();
}
