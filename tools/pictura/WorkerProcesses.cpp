#include "WorkerProcesses.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <poll.h>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// A result on its way from a worker: this header, then the message bytes.
struct TRecordHeader {
    uint64_t Job;
    uint32_t Written;
    uint32_t Length;
};

bool WriteAll(int Fd, const void* Data, size_t Size) {
    const char* bytes = static_cast<const char*>(Data);
    while (Size > 0) {
        const ssize_t n = ::write(Fd, bytes, Size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        Size -= size_t(n);
    }
    return true;
}

struct TWorker {
    pid_t Pid = -1;
    int Fd = -1;
    std::string Pending; // bytes read but not yet a whole record
};

// Takes the whole records off the front of Worker.Pending.
void TakeRecords(TWorker& Worker, std::vector<bool>& Reported,
                 const std::function<void(size_t, const TJobResult&)>& Report) {
    for (;;) {
        if (Worker.Pending.size() < sizeof(TRecordHeader)) return;
        TRecordHeader header;
        std::memcpy(&header, Worker.Pending.data(), sizeof header);
        if (Worker.Pending.size() < sizeof header + header.Length) return;
        const TJobResult result{header.Written != 0, Worker.Pending.substr(sizeof header, header.Length)};
        Worker.Pending.erase(0, sizeof header + header.Length);
        if (header.Job < Reported.size() && !Reported[header.Job]) {
            Reported[header.Job] = true;
            Report(size_t(header.Job), result);
        }
    }
}

} // namespace

bool RunInWorkerProcesses(size_t Count, int Workers,
                          const std::function<void(const TNextJob&, const TSendResult&)>& Worker,
                          const std::function<void(size_t, const TJobResult&)>& Report,
                          const std::function<void()>& Tick) {
    // The counter of jobs taken, shared by the workers across fork.
    void* shared = ::mmap(nullptr, sizeof(std::atomic<uint64_t>), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) Workers = 0;
    auto* taken = shared == MAP_FAILED ? nullptr : new (shared) std::atomic<uint64_t>(0);
    static_assert(std::atomic<uint64_t>::is_always_lock_free,
                  "the shared counter must work across processes");

    std::vector<TWorker> workers;
    for (int w = 0; w < Workers; ++w) {
        int fds[2];
        if (::pipe(fds) != 0) break;
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid < 0) {
            ::close(fds[0]);
            ::close(fds[1]);
            break;
        }
        if (pid == 0) {
            ::close(fds[0]);
            for (const TWorker& other : workers)
                ::close(other.Fd);
            const int out = fds[1];
            Worker(
                [taken, Count]() -> std::optional<size_t> {
                    const uint64_t job = taken->fetch_add(1);
                    return job < Count ? std::optional<size_t>(size_t(job)) : std::nullopt;
                },
                [out](size_t Job, const TJobResult& Result) {
                    const TRecordHeader header{Job, Result.Written ? 1u : 0u,
                                               uint32_t(Result.Messages.size())};
                    if (!WriteAll(out, &header, sizeof header) ||
                        !WriteAll(out, Result.Messages.data(), Result.Messages.size()))
                        ::_exit(3);
                });
            std::fflush(nullptr);
            ::_exit(0);
        }
        ::close(fds[1]);
        workers.push_back({pid, fds[0], {}});
    }
    if (workers.empty()) {
        if (taken) ::munmap(shared, sizeof(std::atomic<uint64_t>));
        return false;
    }

    std::vector<bool> reported(Count, false);
    std::vector<pollfd> polls;
    for (;;) {
        polls.clear();
        for (const TWorker& worker : workers)
            if (worker.Fd >= 0) polls.push_back({worker.Fd, POLLIN, 0});
        if (polls.empty()) break;
        const int ready = ::poll(polls.data(), polls.size(), 100);
        Tick();
        if (ready <= 0) continue;
        for (TWorker& worker : workers) {
            if (worker.Fd < 0) continue;
            for (const pollfd& p : polls) {
                if (p.fd != worker.Fd || p.revents == 0) continue;
                char buffer[1 << 14];
                const ssize_t n = ::read(worker.Fd, buffer, sizeof buffer);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) {
                    ::close(worker.Fd);
                    worker.Fd = -1;
                    continue;
                }
                worker.Pending.append(buffer, size_t(n));
                TakeRecords(worker, reported, Report);
            }
        }
    }

    for (const TWorker& worker : workers) {
        int status = 0;
        while (::waitpid(worker.Pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    // A job whose worker died (or that no worker could take) reports a failure without messages.
    for (size_t job = 0; job < Count; ++job)
        if (!reported[job]) Report(job, {false, ""});
    ::munmap(shared, sizeof(std::atomic<uint64_t>));
    return true;
}
