#include "WorkerProcesses.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>
#include <poll.h>
#include <string>
#include <sys/mman.h>
#include <sys/prctl.h>
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

// The workers, for the parent's interrupt handler: the parent ends its workers and waits for them before
// it ends itself, so that nothing is written after it has gone.
constexpr int InterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};
std::atomic<pid_t>* workerPids = nullptr;
std::atomic<int> workerCount{0};
struct sigaction previousActions[std::size(InterruptSignals)];

void EndWorkersAndSelf(int Signal) {
    const int count = workerCount.load();
    for (int w = 0; w < count; ++w)
        if (const pid_t pid = workerPids[w].load(); pid > 0) ::kill(pid, SIGTERM);
    for (int w = 0; w < count; ++w)
        if (const pid_t pid = workerPids[w].load(); pid > 0)
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
    // The signal again, as the process took it before: the exit status says it was interrupted.
    for (size_t i = 0; i < std::size(InterruptSignals); ++i)
        if (InterruptSignals[i] == Signal) ::sigaction(Signal, &previousActions[i], nullptr);
    ::raise(Signal);
}

sigset_t InterruptSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : InterruptSignals)
        sigaddset(&set, signal);
    return set;
}

void HandleInterrupts() {
    for (size_t i = 0; i < std::size(InterruptSignals); ++i) {
        ::sigaction(InterruptSignals[i], nullptr, &previousActions[i]);
        if (previousActions[i].sa_handler == SIG_IGN && !(previousActions[i].sa_flags & SA_SIGINFO))
            continue; // ignored (nohup) stays ignored
        struct sigaction action {};
        action.sa_handler = EndWorkersAndSelf;
        action.sa_mask = InterruptSet();
        ::sigaction(InterruptSignals[i], &action, nullptr);
    }
}

// In a new worker: the signals as the parent first had them, and an end with the parent, however the
// parent ends (killed outright too).
void FollowParent(pid_t Parent) {
    for (size_t i = 0; i < std::size(InterruptSignals); ++i)
        ::sigaction(InterruptSignals[i], &previousActions[i], nullptr);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != Parent) ::_exit(1); // the parent ended before the line above
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
    std::vector<std::atomic<pid_t>> pids(size_t(std::max(Workers, 0)));
    workerPids = pids.data();
    HandleInterrupts();
    const pid_t parent = ::getpid();
    const sigset_t interrupts = InterruptSet();
    sigset_t unblocked;
    for (int w = 0; w < Workers; ++w) {
        int fds[2];
        if (::pipe(fds) != 0) break;
        std::fflush(nullptr);
        // No interrupt between the fork and the worker being known (to the parent) or following it.
        ::sigprocmask(SIG_BLOCK, &interrupts, &unblocked);
        const pid_t pid = ::fork();
        if (pid < 0) {
            ::sigprocmask(SIG_SETMASK, &unblocked, nullptr);
            ::close(fds[0]);
            ::close(fds[1]);
            break;
        }
        if (pid == 0) {
            FollowParent(parent);
            ::sigprocmask(SIG_SETMASK, &unblocked, nullptr);
            ::close(fds[0]);
            for (const TWorker& other : workers)
                ::close(other.Fd);
            const int out = fds[1];
            Worker(
                [taken, Count, parent]() -> std::optional<size_t> {
                    if (::getppid() != parent) return std::nullopt; // nobody would read the result
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
        pids[size_t(w)].store(pid);
        workerCount.store(w + 1);
        ::sigprocmask(SIG_SETMASK, &unblocked, nullptr);
        ::close(fds[1]);
        workers.push_back({pid, fds[0], {}});
    }
    if (workers.empty()) {
        for (size_t i = 0; i < std::size(InterruptSignals); ++i)
            ::sigaction(InterruptSignals[i], &previousActions[i], nullptr);
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

    // The workers are reaped with interrupts held, so that the handler never waits for a reaped one.
    ::sigprocmask(SIG_BLOCK, &interrupts, &unblocked);
    for (const TWorker& worker : workers) {
        int status = 0;
        while (::waitpid(worker.Pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    workerCount.store(0);
    for (size_t i = 0; i < std::size(InterruptSignals); ++i)
        ::sigaction(InterruptSignals[i], &previousActions[i], nullptr);
    ::sigprocmask(SIG_SETMASK, &unblocked, nullptr);
    // A job whose worker died (or that no worker could take) reports a failure without messages.
    for (size_t job = 0; job < Count; ++job)
        if (!reported[job]) Report(job, {false, ""});
    ::munmap(shared, sizeof(std::atomic<uint64_t>));
    return true;
}
