#include "worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <system_error>

namespace {

// Starts real threads, `allowed` of them, and then refuses as a system out
// of threads does.
ThreadStarter starting_at_most(unsigned allowed) {
    return [allowed, started = std::make_shared<unsigned>(0)](std::function<void()> work) {
        if ((*started)++ >= allowed) {
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        return std::jthread(std::move(work));
    };
}

}  // namespace

// However many threads the system gives, every item is worked on once, by
// the workers that started (or the calling thread), and the shortfall is
// told before the work ends.
TEST(WorkerPool, WorkersThatCannotStartLeaveTheWorkToTheOthers) {
    for (const unsigned allowed : {4U, 2U, 1U, 0U}) {
        std::atomic<int> next{0};
        std::mutex lock;
        std::multiset<int> done;
        std::set<unsigned> workers;
        std::string told;
        const auto work = [&](unsigned worker) {
            for (int item = next++; item < 100; item = next++) {
                const std::lock_guard<std::mutex> held(lock);
                done.insert(item);
                workers.insert(worker);
            }
        };
        const auto fewer = [&](unsigned started, const std::string& reason) {
            const std::lock_guard<std::mutex> held(lock);
            told = std::to_string(started) + " " + reason;
        };
        const unsigned ran = run_workers(4, work, fewer, starting_at_most(allowed));
        EXPECT_EQ(ran, std::max(allowed, 1U)) << allowed;
        EXPECT_EQ(done.size(), 100U) << allowed;
        EXPECT_EQ(std::set<int>(done.begin(), done.end()).size(), 100U) << allowed;
        EXPECT_LE(workers.size(), ran) << allowed;
        EXPECT_LT(*workers.rbegin(), ran) << allowed;
        EXPECT_EQ(told,
                  allowed == 4 ? "" : std::to_string(ran) + " Resource temporarily unavailable")
            << allowed;
    }
}
