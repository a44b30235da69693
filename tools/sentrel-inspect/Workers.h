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
//
// The entries stream: the walk queues each as it finds it, the workers take
// them as they come, and what is held at any time (queued, being inspected,
// reported and not yet written out) is bounded, however large the tree.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct EntryOutcome {
    std::string out;        // for standard output
    std::string err;        // for standard error
    uint32_t flags = 0;     // the caller's own bits
};

// Inspects entry `index`, whose record (the caller's own encoding of it) is
// `record`.
using Inspect = std::function<EntryOutcome(size_t index, std::string_view record)>;

// Takes entry `index`'s outcome: its flags and texts, which stay as they are
// until the flush() that follows returns (so that a batch of reports can go
// out in one write, without a copy).
using EntryEmitter = std::function<void(size_t index, uint32_t flags, std::string_view out, std::string_view err)>;

class WorkerPool {
public:
    // Forks `count` workers (fewer when the system refuses). Each calls
    // prepare() at once, then takes the queued entries one at a time (the
    // next one not yet taken) and answers for each with inspect(), until the
    // queue is closed and empty. A worker whose prepare() fails ends itself
    // (with _exit) and takes nothing.
    WorkerPool(unsigned count, std::function<void()> prepare, Inspect inspect);
    // Workers still running are ended.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // The queue's side, for one thread while another calls run(). Each call
    // is the next entry: `record` for a worker to inspect, or an outcome
    // made without a worker. Both wait while many entries are queued and
    // not yet emitted.
    void add(std::string_view record);
    void addDone(EntryOutcome outcome);
    // No entry comes after these.
    void close();

    // Calls emit(i, ...) in index order, as soon as entry i and every one
    // before it are done, until the queue is closed and every entry is
    // emitted. An entry whose worker ended before answering gets
    // lost(record) as its outcome; once every worker has ended, the entries
    // no worker took are inspected here, with `here`. flush() follows each
    // batch of emits: what they gave is due to reach the user then. Once only.
    void run(const Inspect& here, const std::function<EntryOutcome(std::string_view record)>& lost,
             const EntryEmitter& emit, const std::function<void()>& flush);

    // How many entries were queued so far; how many workers are started.
    size_t added() const;
    size_t size() const;

    // A worker as the parent sees it: its pipe, and what has been read from
    // it and not yet taken.
    struct Worker;
    // The memory a worker's reports come through.
    struct Ring;

private:
    bool startWorker();
    void endWorkers(bool stop);
    void queue(std::string record, std::optional<EntryOutcome> outcome);
    // The queue's side waits (under `lock`) until `count` entries are
    // emitted, or for `atMost`.
    void waitForEmitted(std::unique_lock<std::mutex>& lock, size_t count, std::optional<std::chrono::milliseconds> atMost);
    void wake();

    std::function<void()> m_prepare;
    Inspect m_inspect;
    std::vector<Worker> m_workers;
    int m_queue[2] = {-1, -1};   // the entries, a packet each: read by the workers, written by add()
    int m_longRecords = -1;      // records too long for a packet, which then names their place here
    uint64_t m_longRecordsEnd = 0;
    int m_wake = -1;             // an event for run(): an entry done without a worker, or the end

    // Shared by the two sides.
    struct Pending {
        std::string record;
        std::optional<EntryOutcome> outcome;   // made without a worker
        bool lost = false;                     // its worker ended without answering, or none could be given it
    };
    mutable std::mutex m_mutex;
    std::condition_variable m_room;
    std::deque<Pending> m_pending;     // entries m_emitted.. not yet emitted
    size_t m_added = 0;
    size_t m_emitted = 0;
    size_t m_walkWaitsFor = 0;         // while the queue's side waits: the emitted count it waits for
    bool m_closed = false;
};

// Writes all of the pieces to `fd`, in order and as few writes as the
// system allows (again after an interruption or a partial write); false
// when the file refuses them.
bool writeAll(int fd, std::span<const std::string_view> pieces);

// The cores this process may run on.
unsigned availableCores();
