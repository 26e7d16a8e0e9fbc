// Work shared out between threads: one worker per thread, each taking the
// next item as it is free.
#ifndef DISCHARGE_TERM_RUNNER_WORKER_POOL_H
#define DISCHARGE_TERM_RUNNER_WORKER_POOL_H

#include <functional>
#include <string>
#include <thread>

// How many workers run for `asked` (0: one per processor), at most 32
// whatever is asked: each may hold an output open, well within what a
// process may have open at once.
unsigned job_count(unsigned asked);

// Starts a thread running `work`; throws std::system_error where the system
// gives no thread. run_workers() starts its threads through one of these.
using ThreadStarter = std::function<std::jthread(std::function<void()> work)>;

// std::jthread's own start.
std::jthread start_thread(std::function<void()> work);

// Called once the workers are started, where fewer than asked for could
// be: how many run the work, and the system's words for why no more.
using FewerWorkers = std::function<void(unsigned started, const std::string& reason)>;

// Runs `work(worker)` for workers 0 to `count` - 1, each on a thread of its
// own, and returns once all have ended. Where the system gives fewer threads
// than asked for, the work is left to the workers that did start, and where
// it gives none, worker 0 runs on the calling thread; `fewer` hears of it
// before the work is done. Returns the number of workers that ran.
unsigned run_workers(unsigned count, const std::function<void(unsigned worker)>& work,
                     const FewerWorkers& fewer, const ThreadStarter& start = start_thread);

#endif  // DISCHARGE_TERM_RUNNER_WORKER_POOL_H
