#include "worker_pool.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "output_file.h"

unsigned job_count(unsigned asked) {
    constexpr unsigned most = 32;
    const unsigned processors = std::max(1U, std::thread::hardware_concurrency());
    return std::min(asked == 0 ? processors : asked, most);
}

std::jthread start_thread(std::function<void()> work) {
    return std::jthread(std::move(work));
}

namespace {

// Holds threads back until it is opened, and opens as it is destroyed, so
// that threads waiting on it always go on. (A mutex and a condition rather
// than std::latch, whose waiting some C++ libraries of other systems get
// wrong.)
struct Gate {
    std::mutex lock;
    std::condition_variable opened;
    bool open = false;

    void wait() {
        std::unique_lock<std::mutex> held(lock);
        opened.wait(held, [this] { return open; });
    }
    void let_through() {
        {
            const std::lock_guard<std::mutex> held(lock);
            open = true;
        }
        opened.notify_all();
    }
};

struct Opener {
    Gate& gate;
    ~Opener() { gate.let_through(); }
};

}  // namespace

unsigned run_workers(unsigned count, const std::function<void(unsigned worker)>& work,
                     const FewerWorkers& fewer, const ThreadStarter& start) {
    // The threads begin once all are started and a shortfall is told, so
    // that it is told before any work is done: they wait at `gate`, which
    // opens however this ends, before the threads are joined (a jthread
    // joins as it is destroyed, and `gate` outlives them).
    Gate gate;
    std::vector<std::jthread> threads;
    const Opener opener{gate};
    threads.reserve(count);
    std::string reason;
    for (unsigned worker = 0; worker < count; ++worker) {
        try {
            threads.push_back(start([&work, &gate, worker] {
                gate.wait();
                work(worker);
            }));
        } catch (const std::system_error& error) {
            reason = reason_text(error.code());
            break;
        }
    }
    const unsigned started = std::max(1U, static_cast<unsigned>(threads.size()));
    if (started < count) {
        fewer(started, reason);
    }
    if (threads.empty()) {
        work(0);
    }
    return started;
}
