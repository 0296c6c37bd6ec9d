#pragma once
// A time limit on a whole operation: when it runs out before the watchdog is
// destroyed, `fire` runs once on the watchdog's thread.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace kelvane::cli {

class Watchdog {
public:
    Watchdog(std::chrono::milliseconds limit, std::function<void()> fire)
        : thread_([this, limit, fire = std::move(fire)] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!cv_.wait_for(lock, limit, [this] { return done_; })) {
                  fired_ = true;
                  fire();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    bool fired() const { return fired_.load(); }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    std::atomic<bool> fired_{false};
    std::thread thread_;  // last: starts once the members above exist
};

}  // namespace kelvane::cli
