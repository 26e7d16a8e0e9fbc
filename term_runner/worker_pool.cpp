#include "worker_pool.h"

#include <algorithm>
#include <latch>
#include <string>
#include <system_error>
#include <vector>

#include "output_file.h"

std::jthread start_thread(std::function<void()> work) {
    return std::jthread(std::move(work));
}

unsigned run_workers(unsigned count, const std::function<void(unsigned worker)>& work,
                     const FewerWorkers& fewer, const ThreadStarter& start) {
    // The threads begin once all are started and a shortfall is told, so
    // that it is told before any work is done: they wait for `go`, which is
    // given however this ends, before the threads are joined (a jthread joins
    // as it is destroyed, and `go` outlives them).
    std::latch go(1);
    struct Opener {
        std::latch& go;
        ~Opener() { go.count_down(); }
    };
    std::vector<std::jthread> threads;
    Opener opener{go};
    threads.reserve(count);
    std::string reason;
    for (unsigned worker = 0; worker < count; ++worker) {
        try {
            threads.push_back(start([&work, &go, worker] {
                go.wait();
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
