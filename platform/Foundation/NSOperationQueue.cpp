#include "Foundation/NSOperationQueue.h"

#include <deque>
#include <mutex>
#include <utility>

namespace {

struct MainQueueState {
    std::mutex mutex;
    std::deque<std::function<void()>> pending;
    std::function<void()> waker;
    bool wakePending = false;
};

MainQueueState& state()
{
    static MainQueueState* shared = new MainQueueState;  // outlives every static destructor
    return *shared;
}

} // namespace

NSOperationQueue* NSOperationQueue::mainQueue()
{
    static NSOperationQueue queue;
    return &queue;
}

void NSOperationQueue::addOperationWithBlock(std::function<void()> block)
{
    MainQueueState& s = state();
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.pending.push_back(std::move(block));
        if (s.waker && !s.wakePending) {
            s.wakePending = true;
            wake = s.waker;
        }
    }
    if (wake)
        wake();
}

int NSOperationQueue::runMainQueue()
{
    MainQueueState& s = state();
    int ran = 0;
    for (;;) {
        std::function<void()> next;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            if (s.pending.empty()) {
                s.wakePending = false;
                return ran;
            }
            next = std::move(s.pending.front());
            s.pending.pop_front();
        }
        next();
        ++ran;
    }
}

void NSOperationQueue::setWaker(std::function<void()> waker)
{
    MainQueueState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.waker = std::move(waker);
    s.wakePending = false;
}
