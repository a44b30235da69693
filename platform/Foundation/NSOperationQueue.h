// The main queue: work that a background task hands to the main thread, where
// everything that touches objects runs. A program with an event loop installs
// a waker that makes its loop drain the queue soon; without one the queue
// waits until runMainQueue() is called.
#pragma once

#include <functional>

class NSOperationQueue {
public:
    static NSOperationQueue* mainQueue();

    // Any thread: queues the work and wakes the main thread.
    void addOperationWithBlock(std::function<void()> block);

    // The main thread: runs what is queued, in order, including work queued
    // meanwhile. Returns how many operations ran.
    int runMainQueue();

    // How to wake the main thread's event loop; called from any thread, at
    // most once per batch of queued work.
    void setWaker(std::function<void()> waker);

private:
    NSOperationQueue() = default;
};
