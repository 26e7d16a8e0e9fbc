#include "worker_pool.h"

#include <string>
#include <system_error>
#include <vector>

#include "output_file.h"

std::jthread start_thread(std::function<void()> work) {
    return std::jthread(std::move(work));
}

unsigned run_workers(unsigned count, const std::function<void(unsigned worker)>& work,
                     std::string& reason, const ThreadStarter& start) {
    // Threads that were started are joined however this ends: a jthread
    // joins as it is destroyed.
    std::vector<std::jthread> threads;
    threads.reserve(count);
    for (unsigned worker = 0; worker < count; ++worker) {
        try {
            threads.push_back(start([&work, worker] { work(worker); }));
        } catch (const std::system_error& error) {
            reason = reason_text(error.code());
            break;
        }
    }
    if (threads.empty()) {
        work(0);
        return 1;
    }
    const unsigned started = static_cast<unsigned>(threads.size());
    threads.clear();
    return started;
}
