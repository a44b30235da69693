#include "Workers.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

// A record on a worker's pipe: index, flags, length of out, length of err,
// where out is (each a native uint64_t), then out unless it is in the
// worker's ring, then err.
constexpr size_t kHeader = 5 * sizeof(uint64_t);
constexpr uint64_t kOnThePipe = UINT64_MAX;

// How long the parent rests between rounds of reading the workers' pipes,
// and the pipes' size: a megabyte holds about a hundred of the reports that
// find no room in a worker's ring (below) and come through the pipe.
constexpr int kRestMilliseconds = 5;
constexpr int kPipeSize = 1 << 20;
constexpr size_t kFirstBuffer = 128 << 10;

// Each worker's reports go through memory it shares with the parent, which
// writes them out from there: through the pipe, each would be copied twice
// more and cost the kernel a page for every 4 KiB. The ring holds a few
// hundred reports, more than come between two of the parent's rounds.
constexpr size_t kRingSize = 512 << 10;

// The entries waiting for a worker, at most: each is a packet of the queue's
// pipe, and each packet takes a page of it. The walk goes ahead of the
// workers by as many, and no further.
constexpr int kQueueSize = 256 * 4096;
// While the queue is full, the walk waits for this many entries to be
// written out, or for this long (when one entry holds the others up, the
// workers still take from the queue).
constexpr size_t kQueueRefill = 64;
constexpr std::chrono::milliseconds kQueueRest{10};
// Entries added and not yet emitted, at most (records and reports held for
// entries before them that take long, or outcomes made without a worker).
constexpr size_t kMostPending = 4096;

// A queued entry is one packet of the queue's pipe: the entry's index plus
// one, then its record. A record too long for a packet is written to a
// file of its own instead, and the packet names its place there (the top
// bit of the number set, then offset and length): a path can be as long as
// a packet.
constexpr size_t kPacket = PIPE_BUF;
constexpr uint64_t kRecordElsewhere = uint64_t(1) << 63;

// The index a packet's number stands for; nullopt for zero, which no packet
// starts with.
std::optional<uint64_t> indexOf(uint64_t number)
{
    number &= ~kRecordElsewhere;
    return number ? std::optional(number - 1) : std::nullopt;
}

// The index and record of the packet of `size` bytes at `packet`; nullopt
// when it is not one.
std::optional<std::pair<uint64_t, std::string_view>> entryOf(const char* packet, size_t size, int longRecords,
                                                              std::string& elsewhere)
{
    uint64_t number = 0;
    if (size < sizeof number)
        return std::nullopt;
    std::memcpy(&number, packet, sizeof number);
    const std::optional<uint64_t> index = indexOf(number);
    const std::string_view rest(packet + sizeof number, size - sizeof number);
    if (!index)
        return std::nullopt;
    if (!(number & kRecordElsewhere))
        return std::pair(*index, rest);
    uint64_t place[2];
    if (rest.size() != sizeof place)
        return std::nullopt;
    std::memcpy(place, rest.data(), sizeof place);
    elsewhere.resize(place[1]);
    if (::pread(longRecords, elsewhere.data(), elsewhere.size(), static_cast<off_t>(place[0])) !=
        static_cast<ssize_t>(elsewhere.size()))
        return std::nullopt;
    return std::pair(*index, std::string_view(elsewhere));
}

} // namespace

// A worker's reports, in memory shared between it and the parent. The worker
// writes each where the ring has room, at positions that only grow (a
// position's place in the ring is it modulo the size; a report never wraps
// around the end), and names the position in its record; the parent gives
// back every position below `released` once what lies there is written out.
// A report that finds no room goes through the pipe instead: the worker
// never waits. The parent trusts nothing it reads here but the bytes it
// writes out: it checks every place against its own mapping.
//
// The worker also reads each entry it takes from the queue into `entry`,
// so that, should it end without answering, the parent knows which one it
// held: the system copies a packet whole before the read returns, and the
// worker cannot end between the two.
struct WorkerPool::Ring {
    std::atomic<uint64_t>* released = nullptr;
    char* entry = nullptr;    // the packet of the entry last taken; zeros before the first
    char* bytes = nullptr;

    static constexpr size_t kControl = 4096;
    static constexpr size_t kEntry = kPacket;

    Ring()
    {
        void* shared = ::mmap(nullptr, kControl + kEntry + kRingSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS,
                              -1, 0);
        if (shared == MAP_FAILED)
            return;
        released = new (shared) std::atomic<uint64_t>(0);
        entry = static_cast<char*>(shared) + kControl;
        bytes = entry + kEntry;
    }
    ~Ring()
    {
        if (released)
            ::munmap(released, kControl + kEntry + kRingSize);
    }
    Ring(const Ring&) = delete;
    Ring& operator=(const Ring&) = delete;

    // The index of the entry the worker took last, if any. (A packet starts
    // with its index plus one.)
    std::optional<uint64_t> taken() const
    {
        uint64_t number = 0;
        if (entry)
            std::memcpy(&number, entry, sizeof number);
        return indexOf(number);
    }

    // The whole ring's pages made and mapped for writing, in one call rather
    // than a page fault for every page. (The parent, which only reads, needs
    // no such thing: a read fault maps the pages around it as well.)
    void populate() const
    {
#ifdef MADV_POPULATE_WRITE
        if (bytes)
            ::madvise(bytes, kRingSize, MADV_POPULATE_WRITE);
#endif
    }

    // The worker's side: where `text` went, at position `next` or past it,
    // or kOnThePipe when the ring has no room for it.
    uint64_t put(std::string_view text, uint64_t& next) const
    {
        if (!released || text.empty() || text.size() > kRingSize)
            return kOnThePipe;
        uint64_t at = next;
        if (at % kRingSize + text.size() > kRingSize)
            at += kRingSize - at % kRingSize;   // from the start of the ring
        if (at + text.size() - released->load(std::memory_order_acquire) > kRingSize)
            return kOnThePipe;
        std::memcpy(bytes + at % kRingSize, text.data(), text.size());
        next = at + text.size();
        return at;
    }

    // The parent's side: the `length` bytes at position `at`, when they lie
    // within the ring.
    std::optional<std::string_view> at(uint64_t position, uint64_t length) const
    {
        if (!bytes || length > kRingSize || position % kRingSize > kRingSize - length)
            return std::nullopt;
        return std::string_view(bytes + position % kRingSize, length);
    }
};

namespace {

// A worker: its start-up, then the entries it takes from the queue, one at
// a time, until the queue ends.
[[noreturn]] void workerMain(int fd, int queue, int longRecords, const WorkerPool::Ring& ring,
                             const std::function<void()>& prepare, const Inspect& inspect)
{
    // The ring's pages made while the parent walks.
    ring.populate();
    prepare();
    uint64_t ringNext = 0;
    std::string elsewhere;
    for (;;) {
        const ssize_t n = ::read(queue, ring.entry, kPacket);
        if (n < 0 && errno == EINTR)
            continue;
        const auto entry = entryOf(ring.entry, n > 0 ? static_cast<size_t>(n) : 0, longRecords, elsewhere);
        if (!entry)
            break;   // the end of the queue
        const uint64_t index = entry->first;
        const EntryOutcome outcome = inspect(index, entry->second);
        const uint64_t outAt = ring.put(outcome.out, ringNext);
        const uint64_t header[5] = {index, outcome.flags, outcome.out.size(), outcome.err.size(), outAt};
        const std::string_view record[] = {{reinterpret_cast<const char*>(header), kHeader},
                                           outAt == kOnThePipe ? std::string_view(outcome.out) : std::string_view(),
                                           outcome.err};
        if (!writeAll(fd, record))
            break;
    }
    std::fflush(nullptr);
    // The pipe's end tells the parent that the last record is in: it comes
    // now rather than after the process has unmapped the inspector and its
    // heap, which takes a millisecond or so more (the parent writes out the
    // last reports meanwhile).
    ::close(fd);
    // The parent owns everything inherited; leave without running the
    // process's destructors or exit handlers a second time.
    ::_exit(0);
}

} // namespace

// What has been read from a worker's pipe and not yet taken is in
// data[begin, end).
struct WorkerPool::Worker {
    pid_t pid = -1;
    int fd = -1;
    std::unique_ptr<Ring> ring;
    uint64_t released = 0;   // the ring's positions below this are written out
    bool broken = false;     // a record was not what it said: nothing more is read
    std::unique_ptr<char[]> data;
    size_t capacity = 0, begin = 0, end = 0;

    // A record at the head of what was read.
    struct Record {
        uint64_t index, flags;
        std::string_view out, err;
        uint64_t outEnd;      // in the ring: the position past it; else 0
        size_t size;          // its bytes on the pipe
    };

    // The first record when the whole of it is in. The lengths are checked
    // one by one: a worker that a hostile file took over could write any,
    // and their sum could wrap around. A report that is not where its
    // record says ends the worker's records there.
    enum class Next { Record, NotYet, Broken };
    Next nextRecord(Record& record) const { return recordAt(begin, record); }

    // Whether a whole record for entry `index` has been read and not yet
    // taken.
    bool holds(uint64_t index) const
    {
        Record record;
        for (size_t at = begin; recordAt(at, record) == Next::Record; at += record.size)
            if (record.index == index)
                return true;
        return false;
    }

    Next recordAt(size_t at, Record& record) const
    {
        if (broken || end - at < kHeader)
            return Next::NotYet;
        uint64_t header[5];
        std::memcpy(header, data.get() + at, kHeader);
        const char* text = data.get() + at + kHeader;
        const size_t available = end - at - kHeader;
        const bool onThePipe = header[4] == kOnThePipe;
        const uint64_t piped = onThePipe ? header[2] : 0;
        if (piped > available || header[3] > available - piped)
            return Next::NotYet;
        record = {header[0], header[1], {text, piped}, {text + piped, header[3]}, 0, kHeader + piped + header[3]};
        if (!onThePipe) {
            const std::optional<std::string_view> out = ring->at(header[4], header[2]);
            if (!out)
                return Next::Broken;
            record.out = *out;
            record.outEnd = header[4] + header[2];
        }
        return Next::Record;
    }

    enum class Read { Some, Nothing, Ended };

    // Reads what the pipe holds, at most what the buffer has room for
    // (records already handed out make way first): Ended once the pipe has
    // ended (the worker is gone).
    Read read()
    {
        if (broken)
            begin = end = 0;
        if (capacity - end < capacity / 4 + 1)
            makeRoom();
        for (;;) {
            const ssize_t n = ::read(fd, data.get() + end, capacity - end);
            if (n > 0) {
                end += static_cast<size_t>(n);
                return Read::Some;
            }
            if (n < 0 && errno == EINTR)
                continue;
            return n < 0 && errno == EAGAIN ? Read::Nothing : Read::Ended;
        }
    }

    // The unread part to the front, in a buffer twice as large when it
    // fills half or more (records waiting for another worker's, or one
    // larger than the buffer). The buffer starts small and is read into a
    // part at a time, what is due handed out in between, so that the same
    // few pages serve the whole run: every new page touched is a page fault.
    void makeRoom()
    {
        const size_t unread = end - begin;
        if (unread >= capacity / 2) {
            const size_t bigger = std::max<size_t>(2 * capacity, kFirstBuffer);
            auto moved = std::make_unique_for_overwrite<char[]>(bigger);
            if (unread)
                std::memcpy(moved.get(), data.get() + begin, unread);
            data = std::move(moved);
            capacity = bigger;
        } else {
            std::memmove(data.get(), data.get() + begin, unread);
        }
        begin = 0;
        end = unread;
    }
};

bool writeAll(int fd, std::span<const std::string_view> pieces)
{
    constexpr int kMostPieces = 1024;   // IOV_MAX
    size_t piece = 0, offset = 0;       // where the unwritten part begins
    while (piece < pieces.size()) {
        iovec vectors[kMostPieces];
        int count = 0;
        for (size_t i = piece; i < pieces.size() && count < kMostPieces; ++i) {
            const size_t skip = i == piece ? offset : 0;
            if (pieces[i].size() > skip)
                vectors[count++] = {const_cast<char*>(pieces[i].data()) + skip, pieces[i].size() - skip};
        }
        if (count == 0)
            break;
        const ssize_t n = ::writev(fd, vectors, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        size_t written = static_cast<size_t>(n);
        while (piece < pieces.size() && written >= pieces[piece].size() - offset) {
            written -= pieces[piece].size() - offset;
            offset = 0;
            ++piece;
        }
        offset += written;
    }
    return true;
}

unsigned availableCores()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<unsigned>(n) : 1;
}

WorkerPool::WorkerPool(unsigned count, std::function<void()> prepare, Inspect inspect)
    : m_prepare(std::move(prepare)), m_inspect(std::move(inspect))
{
    // A pipe in packet mode: each write of an entry is read whole, by one
    // reader, however many read at once.
    m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_longRecords = ::memfd_create("sentrel-inspect-long-entries", MFD_CLOEXEC);
    if (m_wake < 0 || m_longRecords < 0 || ::pipe2(m_queue, O_CLOEXEC | O_DIRECT) != 0) {
        m_queue[0] = m_queue[1] = -1;
        return;
    }
    ::fcntl(m_queue[1], F_SETPIPE_SZ, kQueueSize);
    ::fcntl(m_queue[1], F_SETFL, ::fcntl(m_queue[1], F_GETFL) | O_NONBLOCK);
    // Whatever is buffered would otherwise be written once by each worker.
    std::fflush(nullptr);
    while (m_workers.size() < count && startWorker()) {
    }
}

bool WorkerPool::startWorker()
{
    int fds[2];
    auto ring = std::make_unique<Ring>();
    if (!ring->entry || ::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    // Room for the records that gather while the parent rests (below).
    ::fcntl(fds[0], F_SETPIPE_SZ, kPipeSize);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Nothing of the other workers' stays within this one's reach, and
        // the queue ends for it once the parent closes its end.
        ::close(fds[0]);
        ::close(m_queue[1]);
        ::close(m_wake);
        for (Worker& other : m_workers) {
            ::close(other.fd);
            other.ring.reset();
        }
        workerMain(fds[1], m_queue[0], m_longRecords, *ring, m_prepare, m_inspect);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return false;
    }
    // The parent takes whatever a pipe holds without waiting for more.
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    Worker& worker = m_workers.emplace_back();
    worker.pid = pid;
    worker.fd = fds[0];
    worker.ring = std::move(ring);
    return true;
}

WorkerPool::~WorkerPool()
{
    close();
    endWorkers(true);
    for (int fd : {m_queue[0], m_queue[1], m_wake, m_longRecords})
        if (fd >= 0)
            ::close(fd);
}

size_t WorkerPool::size() const
{
    return m_workers.size();
}

size_t WorkerPool::added() const
{
    std::lock_guard lock(m_mutex);
    return m_added;
}

void WorkerPool::wake()
{
    const uint64_t one = 1;
    (void)!::write(m_wake, &one, sizeof one);
}

void WorkerPool::queue(std::string record, std::optional<EntryOutcome> outcome)
{
    bool forAWorker = !outcome && m_queue[1] >= 0;
    bool lost = false;
    char packet[kPacket];
    uint64_t number;
    uint64_t flag = 0;
    size_t size = sizeof number;
    if (forAWorker && record.size() <= kPacket - sizeof number) {
        std::memcpy(packet + sizeof number, record.data(), record.size());
        size += record.size();
    } else if (forAWorker) {
        // The file is written only here, at its end; the workers read it
        // with pread, by place.
        const uint64_t place[2] = {m_longRecordsEnd, record.size()};
        const std::string_view pieces[] = {record};
        if (writeAll(m_longRecords, pieces)) {
            m_longRecordsEnd += record.size();
            std::memcpy(packet + sizeof number, place, sizeof place);
            size += sizeof place;
            flag = kRecordElsewhere;
        } else {
            forAWorker = false;
            lost = true;   // it cannot be passed on
        }
    }
    {
        std::unique_lock lock(m_mutex);
        if (m_added >= kMostPending)
            waitForEmitted(lock, m_added - kMostPending + 1, std::nullopt);
        number = ++m_added;
        m_pending.push_back({std::move(record), std::move(outcome), lost});
    }
    if (!forAWorker) {
        wake();
        return;
    }
    number |= flag;
    // Outside the lock. Only this thread writes to the queue, so the
    // entries go in in their order. While it is full, this thread waits
    // until a good part of it has been written out rather than wait in the
    // write: woken each time a worker took an entry, it would take a core
    // from the workers for every entry, to add just one.
    std::memcpy(packet, &number, sizeof number);
    while (::write(m_queue[1], packet, size) < 0 && (errno == EINTR || errno == EAGAIN)) {
        if (errno == EAGAIN) {
            std::unique_lock lock(m_mutex);
            waitForEmitted(lock, m_emitted + kQueueRefill, kQueueRest);
        }
    }
}

void WorkerPool::waitForEmitted(std::unique_lock<std::mutex>& lock, size_t count,
                                std::optional<std::chrono::milliseconds> atMost)
{
    // Told only once that many are out, not for every entry: each wake
    // would take a core from a worker.
    m_walkWaitsFor = count;
    const auto enough = [&] { return m_emitted >= count; };
    if (atMost)
        m_room.wait_for(lock, *atMost, enough);
    else
        m_room.wait(lock, enough);
    m_walkWaitsFor = 0;
}

void WorkerPool::add(std::string_view record)
{
    queue(std::string(record), std::nullopt);
}

void WorkerPool::addDone(EntryOutcome outcome)
{
    queue({}, std::move(outcome));
}

void WorkerPool::close()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return;
        m_closed = true;
    }
    if (m_queue[1] >= 0) {
        ::close(m_queue[1]);
        m_queue[1] = -1;
    }
    if (m_wake >= 0)
        wake();
}

// Waits for the workers to end; with `stop`, ends them first. What was read
// from them stays.
void WorkerPool::endWorkers(bool stop)
{
    for (Worker& worker : m_workers) {
        if (worker.fd >= 0) {
            ::close(worker.fd);
            worker.fd = -1;
        }
        if (worker.pid > 0) {
            if (stop)
                ::kill(worker.pid, SIGKILL);
            int status = 0;
            while (::waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
            }
            worker.pid = -1;
        }
    }
}

void WorkerPool::run(const Inspect& here, const std::function<EntryOutcome(std::string_view record)>& lost,
                     const EntryEmitter& emit, const std::function<void()>& flush)
{
    // What was emitted stays until the flush that follows (and where it
    // is: a deque's elements do not move as it grows).
    std::deque<Pending> emitted;
    size_t next = 0;   // the next entry to emit
    // The pending entry `next`, taken out (under the lock).
    const auto takeNext = [&]() -> Pending& {
        {
            std::lock_guard lock(m_mutex);
            emitted.push_back(std::move(m_pending.front()));
            m_pending.pop_front();
            ++m_emitted;
        }
        ++next;
        return emitted.back();
    };
    // Each worker's records come in the order of their indices, so the
    // next entry due is at the head of one worker's queue, or made without
    // a worker, or lost, or not in yet.
    const auto emitDue = [&] {
        const size_t before = next;
        for (bool found = true; found;) {
            found = false;
            for (Worker& worker : m_workers) {
                Worker::Record record;
                Worker::Next state;
                while ((state = worker.nextRecord(record)) == Worker::Next::Record && record.index <= next) {
                    // One for an entry already given out as lost is dropped.
                    if (record.index == next) {
                        takeNext();
                        emit(record.index, static_cast<uint32_t>(record.flags), record.out, record.err);
                        found = true;
                    }
                    worker.begin += record.size;
                    worker.released = std::max(worker.released, record.outEnd);
                }
                // A worker whose record lies is ended, and nothing more of
                // it is read: the entry it was for, and any other it had
                // taken, are lost.
                if (state == Worker::Next::Broken) {
                    worker.broken = true;
                    if (worker.pid > 0)   // not yet waited for
                        ::kill(worker.pid, SIGKILL);
                }
            }
            std::unique_lock lock(m_mutex);
            if (m_pending.empty())
                continue;
            Pending& due = m_pending.front();
            if (!due.outcome && !due.lost)
                continue;
            if (!due.outcome)
                due.outcome = lost(due.record);
            lock.unlock();
            const size_t index = next;
            const EntryOutcome& outcome = *takeNext().outcome;
            emit(index, outcome.flags, outcome.out, outcome.err);
            found = true;
        }
        if (next != before) {
            std::lock_guard lock(m_mutex);
            if (m_walkWaitsFor && m_emitted >= m_walkWaitsFor)
                m_room.notify_one();
        }
        return next != before;
    };
    // Once written out, the reports' room in the rings is given back.
    const auto flushAndRelease = [&] {
        flush();
        emitted.clear();
        for (Worker& worker : m_workers)
            if (worker.ring && worker.ring->released)
                worker.ring->released->store(worker.released, std::memory_order_release);
    };
    const auto finished = [&] {
        std::lock_guard lock(m_mutex);
        return m_closed && next == m_added;
    };
    // The entry a worker that ended held, unless it answered for it.
    const auto endOf = [&](Worker& worker) {
        const std::optional<uint64_t> held = worker.ring->taken();
        std::lock_guard lock(m_mutex);
        if (held && *held >= next && *held < m_added && !worker.holds(*held))
            m_pending[*held - next].lost = true;
    };
    const auto clearWake = [&] {
        uint64_t count;
        (void)!::read(m_wake, &count, sizeof count);
    };

    size_t open = m_workers.size();
    std::vector<pollfd> polls;
    while (open > 0 && !finished()) {
        // Wait for a record, or an entry made without a worker, then rest a
        // little while more gather in the pipes, rather than wake for
        // every one (a context switch or two per file for the workers,
        // dear on a virtual machine): what has come is shown within that
        // time. A worker that ends cuts the rest short: asked for no event,
        // poll answers only for a pipe whose writer is gone.
        for (const short events : {short(POLLIN), short(0)}) {
            polls.clear();
            for (const Worker& worker : m_workers)
                if (worker.fd >= 0)
                    polls.push_back({worker.fd, events, 0});
            if (events)
                polls.push_back({m_wake, POLLIN, 0});
            while (::poll(polls.data(), polls.size(), events ? -1 : kRestMilliseconds) < 0 && errno == EINTR) {
            }
        }
        clearWake();
        // Every pipe to its end, a buffer's room at a time; what is due
        // goes out after each pass, before the buffers make room again.
        for (bool more = true; more;) {
            more = false;
            for (Worker& worker : m_workers) {
                if (worker.fd < 0)
                    continue;
                const Worker::Read read = worker.read();
                more |= read == Worker::Read::Some;
                if (read == Worker::Read::Ended) {
                    ::close(worker.fd);
                    worker.fd = -1;
                    --open;
                    endOf(worker);
                }
            }
            if (emitDue())
                flushAndRelease();
        }
    }

    // Every worker has ended (or was never there) before the end: this
    // process takes the queue's entries itself. Those taken before the one
    // it reads, and never answered, are lost.
    char packet[kPacket];
    std::string elsewhere;
    while (!finished()) {
        if (emitDue())
            flushAndRelease();
        if (finished())
            break;
        if (m_queue[0] < 0) {
            // No queue could be made: every entry comes here.
            std::unique_lock lock(m_mutex);
            if (next < m_added && !m_pending.front().outcome) {
                const std::string record = m_pending.front().record;
                lock.unlock();
                EntryOutcome outcome = here(next, record);
                lock.lock();
                m_pending.front().outcome = std::move(outcome);
                continue;
            }
            lock.unlock();
            pollfd wakeUp{m_wake, POLLIN, 0};
            while (::poll(&wakeUp, 1, m_wake >= 0 ? -1 : kRestMilliseconds) < 0 && errno == EINTR) {
            }
            clearWake();
            continue;
        }
        pollfd polls[] = {{m_queue[0], POLLIN, 0}, {m_wake, POLLIN, 0}};
        while (::poll(polls, 2, -1) < 0 && errno == EINTR) {
        }
        clearWake();
        if (!(polls[0].revents & (POLLIN | POLLHUP)))
            continue;
        const ssize_t n = ::read(m_queue[0], packet, sizeof packet);
        if (n < 0 && errno == EINTR)
            continue;
        const auto entry = entryOf(packet, n > 0 ? static_cast<size_t>(n) : 0, m_longRecords, elsewhere);
        if (!entry) {   // the end: the entries still not answered are lost
            ::close(m_queue[0]);
            m_queue[0] = -1;
        }
        const uint64_t taken = entry ? entry->first : UINT64_MAX;
        while (next < taken && !finished()) {
            if (!emitDue()) {
                std::lock_guard lock(m_mutex);
                m_pending.front().lost = true;
            }
        }
        if (entry && next == taken) {
            EntryOutcome outcome = here(taken, entry->second);
            std::lock_guard lock(m_mutex);
            m_pending.front().outcome = std::move(outcome);
        }
    }
    flushAndRelease();
    endWorkers(false);
}

