// Pictures processed in parallel by worker processes forked from the tool. The control is a widget, and
// widgets live on one thread of one application, so each worker is a process with an application of
// its own; workers take the next picture from a shared counter, so a slow picture holds up no other.
#pragma once

#include "PictureJob.h"

#include <cstddef>
#include <functional>
#include <optional>

// In a worker: the next job to run, or nothing when all are taken.
using TNextJob = std::function<std::optional<size_t>()>;
// In a worker: hands the result of a job to the parent.
using TSendResult = std::function<void(size_t Job, const TJobResult& Result)>;

// Runs Count jobs in Workers processes, each running Worker(next, send) once (it creates its application
// and loops over the jobs). In this process, Report is called for every job as its result arrives (a job
// whose worker died reports a failure with no messages) and Tick about ten times a second. Call it before
// this process creates an application or any thread. False, with nothing run, when no worker could start.
bool RunInWorkerProcesses(size_t Count, int Workers,
                          const std::function<void(const TNextJob&, const TSendResult&)>& Worker,
                          const std::function<void(size_t Job, const TJobResult& Result)>& Report,
                          const std::function<void()>& Tick);
