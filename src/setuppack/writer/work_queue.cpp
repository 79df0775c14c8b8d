#include "setuppack/writer/work_queue.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

void RunTasks(std::span<const std::size_t> order, unsigned jobs,
              const std::function<void(std::size_t)>& task, const std::function<void()>& tick,
              std::chrono::milliseconds tickInterval) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex mutex;
  std::condition_variable finished;
  std::vector<std::pair<std::size_t, std::exception_ptr>> errors;  // under `mutex`
  const unsigned workers =
      static_cast<unsigned>(std::clamp<std::size_t>(order.size(), 1, std::max(jobs, 1u)));
  unsigned running = workers;                                       // under `mutex`

  auto work = [&] {
    while (!failed.load()) {
      const std::size_t k = next.fetch_add(1);
      if (k >= order.size()) break;
      try {
        task(order[k]);
      } catch (...) {
        const std::lock_guard lock(mutex);
        errors.emplace_back(order[k], std::current_exception());
        failed.store(true);
      }
    }
    const std::lock_guard lock(mutex);
    --running;
    finished.notify_all();
  };

  if (workers == 1 && !tick) {
    work();
  } else {
    std::vector<std::jthread> threads;
    for (unsigned j = 0; j < workers; ++j) threads.emplace_back(work);
    std::unique_lock lock(mutex);
    while (!finished.wait_for(lock, tickInterval, [&] { return running == 0; })) {
      if (tick) {
        lock.unlock();
        tick();
        lock.lock();
      }
    }
    // The workers may all be done before the first wait: the last tick
    // comes here, whatever happened above.
    lock.unlock();
    threads.clear();
    if (tick) tick();
  }
  if (!errors.empty())
    std::rethrow_exception(std::min_element(errors.begin(), errors.end(), [](const auto& a,
                                                                             const auto& b) {
                             return a.first < b.first;
                           })->second);
}
