#include "Workers.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
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

// Reads the whole of the file `fd` from its start.
std::string readWhole(int fd)
{
    std::string bytes;
    char buffer[1 << 16];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return bytes;
        bytes.append(buffer, static_cast<size_t>(n));
        at += n;
    }
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
struct WorkerPool::Ring {
    std::atomic<uint64_t>* released = nullptr;
    char* bytes = nullptr;

    static constexpr size_t kControl = 4096;

    Ring()
    {
        void* shared = ::mmap(nullptr, kControl + kRingSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (shared == MAP_FAILED)
            return;
        released = new (shared) std::atomic<uint64_t>(0);
        bytes = static_cast<char*>(shared) + kControl;
    }
    ~Ring()
    {
        if (released)
            ::munmap(released, kControl + kRingSize);
    }
    Ring(const Ring&) = delete;
    Ring& operator=(const Ring&) = delete;

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

// A worker: its start-up, then, once the parent has written the list (its
// end of `go` closes), the entries it takes.
[[noreturn]] void workerMain(int fd, int go, int listFile, std::atomic<uint64_t>* next, const WorkerPool::Ring& ring,
                             const std::function<void()>& prepare,
                             const std::function<Inspect(std::string_view)>& begin)
{
    // The ring's pages made while the parent walks.
    ring.populate();
    prepare();
    char byte;
    while (::read(go, &byte, 1) < 0 && errno == EINTR) {
    }
    // The number of entries, then the list; nothing when the parent gave
    // no run.
    const std::string list = readWhole(listFile);
    uint64_t count = 0;
    if (list.size() >= sizeof count) {
        std::memcpy(&count, list.data(), sizeof count);
        const Inspect inspect = begin(std::string_view(list).substr(sizeof count));
        uint64_t ringNext = 0;
        for (;;) {
            const uint64_t index = next->fetch_add(1);
            if (index >= count)
                break;
            const EntryOutcome outcome = inspect(index);
            const uint64_t outAt = ring.put(outcome.out, ringNext);
            const uint64_t header[5] = {index, outcome.flags, outcome.out.size(), outcome.err.size(), outAt};
            const std::string_view record[] = {{reinterpret_cast<const char*>(header), kHeader},
                                               outAt == kOnThePipe ? std::string_view(outcome.out) : std::string_view(),
                                               outcome.err};
            if (!writeAll(fd, record))
                break;
        }
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
    Next nextRecord(Record& record) const
    {
        if (broken || end - begin < kHeader)
            return Next::NotYet;
        uint64_t header[5];
        std::memcpy(header, data.get() + begin, kHeader);
        const char* text = data.get() + begin + kHeader;
        const size_t available = end - begin - kHeader;
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

void inspectHere(size_t count, const Inspect& inspect, const EntryEmitter& emit, const std::function<void()>& flush)
{
    for (size_t i = 0; i < count; ++i) {
        const EntryOutcome outcome = inspect(i);
        emit(i, outcome.flags, outcome.out, outcome.err);
        flush();
    }
}

WorkerPool::WorkerPool(unsigned first, std::function<void()> prepare, std::function<Inspect(std::string_view list)> begin)
    : m_prepare(std::move(prepare)), m_begin(std::move(begin))
{
    void* shared = ::mmap(nullptr, sizeof(std::atomic<uint64_t>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    m_list = ::memfd_create("sentrel-inspect-entries", MFD_CLOEXEC);
    if (shared == MAP_FAILED || m_list < 0 || ::pipe2(m_go, O_CLOEXEC) != 0) {
        if (shared != MAP_FAILED)
            ::munmap(shared, sizeof(std::atomic<uint64_t>));
        if (m_list >= 0)
            ::close(m_list);
        m_list = -1;
        m_go[0] = m_go[1] = -1;
        return;
    }
    m_next = new (shared) std::atomic<uint64_t>(0);
    // Whatever is buffered would otherwise be written once by each worker.
    std::fflush(nullptr);
    while (m_workers.size() < first && startWorker()) {
    }
}

bool WorkerPool::startWorker()
{
    int fds[2];
    if (m_go[0] < 0 || ::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    // Room for the records that gather while the parent rests (below).
    ::fcntl(fds[0], F_SETPIPE_SZ, kPipeSize);
    auto ring = std::make_unique<Ring>();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Nothing of the other workers' stays within this one's reach.
        ::close(fds[0]);
        ::close(m_go[1]);
        for (Worker& other : m_workers) {
            ::close(other.fd);
            other.ring.reset();
        }
        workerMain(fds[1], m_go[0], m_list, m_next, *ring, m_prepare, m_begin);
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
    endWorkers(true);
    for (int fd : {m_list, m_go[0], m_go[1]})
        if (fd >= 0)
            ::close(fd);
    if (m_next)
        ::munmap(m_next, sizeof(std::atomic<uint64_t>));
}

size_t WorkerPool::size() const
{
    return m_workers.size();
}

// Waits for the workers past the first `keep` to end; with `stop`, ends
// them first (they have been given no entries, and may still be starting).
// What was read from them stays.
void WorkerPool::endWorkers(bool stop, size_t keep)
{
    for (size_t w = keep; w < m_workers.size(); ++w) {
        Worker& worker = m_workers[w];
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

void WorkerPool::run(std::string_view list, size_t count, unsigned most, const Inspect& here, const EntryEmitter& emit,
                     const std::function<void()>& flush, const EntryOutcome& lost)
{
    const size_t wanted = std::min<size_t>(most, count);
    if (m_workers.size() > wanted) {
        endWorkers(true, wanted);
        m_workers.resize(wanted);
    }
    while (m_workers.size() < wanted && startWorker()) {
    }
    const uint64_t number = count;
    const std::string_view file[] = {{reinterpret_cast<const char*>(&number), sizeof number}, list};
    if (m_workers.empty() || !writeAll(m_list, file)) {
        endWorkers(true);
        inspectHere(count, here, emit, flush);
        return;
    }
    // The workers go on to the list.
    ::close(m_go[1]);
    m_go[1] = -1;

    // Each worker's records come in the order of their indices, so the
    // next entry due is always at the head of one worker's queue, or not in
    // yet.
    size_t emitted = 0;
    const auto emitDue = [&] {
        const size_t before = emitted;
        for (bool found = true; found;) {
            found = false;
            for (Worker& worker : m_workers) {
                Worker::Record record;
                Worker::Next next;
                while ((next = worker.nextRecord(record)) == Worker::Next::Record && record.index == emitted) {
                    emit(emitted, static_cast<uint32_t>(record.flags), record.out, record.err);
                    worker.begin += record.size;
                    worker.released = std::max(worker.released, record.outEnd);
                    ++emitted;
                    found = true;
                }
                // A worker whose record lies is ended, and nothing more of
                // it is read: the entry it was for, and any other it had
                // taken, are lost.
                if (next == Worker::Next::Broken) {
                    worker.broken = true;
                    if (worker.pid > 0)   // not yet waited for
                        ::kill(worker.pid, SIGKILL);
                }
            }
        }
        return emitted != before;
    };
    // Once written out, the reports' room in the rings is given back.
    const auto flushAndRelease = [&] {
        flush();
        for (Worker& worker : m_workers)
            if (worker.ring && worker.ring->released)
                worker.ring->released->store(worker.released, std::memory_order_release);
    };

    size_t open = m_workers.size();
    std::vector<pollfd> polls;
    while (open > 0) {
        // Wait for a record, then rest a little while more gather in the
        // pipes, rather than wake for every one (a context switch or two
        // per file for the workers, dear on a virtual machine): what has
        // come is shown within that time. A worker that ends cuts the rest
        // short: asked for no event, poll answers only for a pipe whose
        // writer is gone.
        for (const short events : {short(POLLIN), short(0)}) {
            polls.clear();
            for (const Worker& worker : m_workers)
                if (worker.fd >= 0)
                    polls.push_back({worker.fd, events, 0});
            while (::poll(polls.data(), polls.size(), events ? -1 : kRestMilliseconds) < 0 && errno == EINTR) {
            }
        }
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
                }
            }
            if (emitDue())
                flushAndRelease();
        }
    }
    endWorkers(false);
    // Past an entry whose worker ended without answering: the entries taken
    // and never answered are lost, any never taken (no worker could go on)
    // are inspected here.
    while (emitted < count) {
        EntryOutcome outcome;
        if (!emitDue()) {
            if (emitted < m_next->load()) {
                emit(emitted, lost.flags, lost.out, lost.err);
            } else {
                outcome = here(emitted);
                emit(emitted, outcome.flags, outcome.out, outcome.err);
            }
            ++emitted;
        }
        flush();
    }
}
