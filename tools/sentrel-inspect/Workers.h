// Inspecting many entries on several cores, the results in their order.
//
// The inspectors keep process-wide state that was never meant to be shared
// between threads (the process pool that static initialisers autorelease to,
// the debug log's syslog ident, lazily made framework bindings and caches),
// so the work is spread over forked worker processes rather than threads:
// each has all of that to itself, and one that dies on a hostile file takes
// only its entry with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

struct EntryOutcome {
    std::string out;        // for standard output
    std::string err;        // for standard error
    uint32_t flags = 0;     // the caller's own bits
};

// Takes entry `index`'s outcome: its flags and texts, which stay as they are
// until the flush() that follows returns (so that a batch of reports can go
// out in one write, without a copy).
using EntryEmitter = std::function<void(size_t index, uint32_t flags, std::string_view out, std::string_view err)>;

// Calls inspect(i) for every i below `count`, in this process when jobs is 1
// (or there is at most one entry), otherwise in up to `jobs` worker processes
// forked for the run, each taking the next entry not yet taken. emit(i, ...)
// is called in this process in index order, as soon as entry i and
// every one before it are done. An entry whose worker ended before answering
// gets `lost` as its outcome. flush() follows each batch of emits: what they
// gave is due to reach the user then (after every entry with one job; with
// several, after the records that came in one round of reading).
void inspectInOrder(size_t count, unsigned jobs, const std::function<EntryOutcome(size_t)>& inspect,
                    const EntryEmitter& emit, const std::function<void()>& flush,
                    const EntryOutcome& lost);

// Writes all of the pieces to `fd`, in order and as few writes as the
// system allows (again after an interruption or a partial write); false
// when the file refuses them.
bool writeAll(int fd, std::span<const std::string_view> pieces);

// The cores this process may run on.
unsigned availableCores();
