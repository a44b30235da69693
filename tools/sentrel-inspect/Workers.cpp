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
#include <vector>

namespace {

// A record on a worker's pipe: index, flags, length of out, length of err
// (each a native uint64_t), then the two texts.
constexpr size_t kHeader = 4 * sizeof(uint64_t);

// How long the parent rests between rounds of reading the workers' pipes,
// and the pipes' size: a megabyte holds about a hundred reports, more than
// a worker writes in that time.
constexpr int kRestMilliseconds = 5;
constexpr int kPipeSize = 1 << 20;
constexpr size_t kFirstBuffer = 128 << 10;

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

// A worker: its start-up, then, once the parent has written the list (its
// end of `go` closes), the entries it takes.
[[noreturn]] void workerMain(int fd, int go, int listFile, std::atomic<uint64_t>* next,
                             const std::function<void()>& prepare,
                             const std::function<Inspect(std::string_view)>& begin)
{
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
        for (;;) {
            const uint64_t index = next->fetch_add(1);
            if (index >= count)
                break;
            const EntryOutcome outcome = inspect(index);
            const uint64_t header[4] = {index, outcome.flags, outcome.out.size(), outcome.err.size()};
            const std::string_view record[] = {{reinterpret_cast<const char*>(header), kHeader}, outcome.out, outcome.err};
            if (!writeAll(fd, record))
                break;
        }
    }
    std::fflush(nullptr);
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
    std::unique_ptr<char[]> data;
    size_t capacity = 0, begin = 0, end = 0;

    // The header of the first record when the whole record is in. The
    // lengths are checked one by one: a worker that a hostile file took
    // over could write any, and their sum could wrap around.
    bool nextRecord(uint64_t header[4]) const
    {
        if (end - begin < kHeader)
            return false;
        std::memcpy(header, data.get() + begin, kHeader);
        const size_t available = end - begin - kHeader;
        return header[2] <= available && header[3] <= available - header[2];
    }

    enum class Read { Some, Nothing, Ended };

    // Reads what the pipe holds, at most what the buffer has room for
    // (records already handed out make way first): Ended once the pipe has
    // ended (the worker is gone).
    Read read()
    {
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
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        ::close(m_go[1]);
        for (const Worker& other : m_workers)
            ::close(other.fd);
        workerMain(fds[1], m_go[0], m_list, m_next, m_prepare, m_begin);
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
                uint64_t header[4];
                while (worker.nextRecord(header) && header[0] == emitted) {
                    const char* text = worker.data.get() + worker.begin + kHeader;
                    emit(emitted, static_cast<uint32_t>(header[1]), {text, header[2]}, {text + header[2], header[3]});
                    worker.begin += kHeader + header[2] + header[3];
                    ++emitted;
                    found = true;
                }
            }
        }
        return emitted != before;
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
                flush();
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
