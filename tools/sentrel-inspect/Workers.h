// Inspecting many entries on several cores, the results in their order.
//
// The inspectors keep process-wide state that was never meant to be shared
// between threads (the process pool that static initialisers autorelease to,
// the debug log's syslog ident, lazily made framework bindings and caches),
// so the work is spread over forked worker processes rather than threads:
// each has all of that to itself, and one that dies on a hostile file takes
// only its entry with it. The workers are forked before the entries are
// known, so that each loads the inspector while the caller walks the
// folders: started any later, that start-up would be paid once more, on one
// core, with the others idle.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct EntryOutcome {
    std::string out;        // for standard output
    std::string err;        // for standard error
    uint32_t flags = 0;     // the caller's own bits
};

// Inspects entry `index`.
using Inspect = std::function<EntryOutcome(size_t index)>;

// Takes entry `index`'s outcome: its flags and texts, which stay as they are
// until the flush() that follows returns (so that a batch of reports can go
// out in one write, without a copy).
using EntryEmitter = std::function<void(size_t index, uint32_t flags, std::string_view out, std::string_view err)>;

// Calls inspect(i) for every i below `count` in this process, one after the
// other, each outcome emitted and flushed as soon as it is there.
void inspectHere(size_t count, const Inspect& inspect, const EntryEmitter& emit, const std::function<void()>& flush);

class WorkerPool {
public:
    // Forks `first` workers (fewer when the system refuses). Each calls
    // prepare() at once and then waits for run(); given the list, it calls
    // begin(list) once and the function that answers for every entry it
    // takes, the next one not yet taken. A worker whose prepare() fails ends
    // itself (with _exit) and takes nothing.
    WorkerPool(unsigned first, std::function<void()> prepare, std::function<Inspect(std::string_view list)> begin);
    // Workers never given a run are ended.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Hands the workers `list` (whatever bytes the caller's begin() reads its
    // entries from) and their number, with as many workers as there are
    // entries, up to `most` (those started and not needed are ended, more
    // are forked), then calls emit(i, ...) in index order, as soon as entry
    // i and every one before it are done. An entry whose worker ended before
    // answering gets `lost` as its outcome; those no worker took (every one
    // ended) are inspected here, with `here`. flush() follows each batch of
    // emits: what they gave is due to reach the user then. Once only.
    void run(std::string_view list, size_t count, unsigned most, const Inspect& here, const EntryEmitter& emit,
             const std::function<void()>& flush, const EntryOutcome& lost);

    // How many workers are started.
    size_t size() const;

    // A worker as the parent sees it: its pipe, and what has been read from
    // it and not yet taken.
    struct Worker;
    // The memory a worker's reports come through.
    struct Ring;

private:
    bool startWorker();
    void endWorkers(bool stop, size_t keep = 0);

    std::function<void()> m_prepare;
    std::function<Inspect(std::string_view)> m_begin;
    std::vector<Worker> m_workers;
    std::atomic<uint64_t>* m_next = nullptr;   // the next index to take, shared with the workers
    int m_list = -1;                           // the list's file, shared with the workers
    int m_go[2] = {-1, -1};                    // the write end closed once the list is written
};

// Writes all of the pieces to `fd`, in order and as few writes as the
// system allows (again after an interruption or a partial write); false
// when the file refuses them.
bool writeAll(int fd, std::span<const std::string_view> pieces);

// The cores this process may run on.
unsigned availableCores();
