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
              const std::function<void(std::size_t)>& finished,
              std::chrono::milliseconds tickInterval) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::pair<std::size_t, std::exception_ptr>> errors;  // under `mutex`
  std::vector<std::size_t> returned;  // tasks awaiting their finished call, under `mutex`
  const unsigned workers =
      static_cast<unsigned>(std::clamp<std::size_t>(order.size(), 1, std::max(jobs, 1u)));
  unsigned running = workers;  // under `mutex`

  auto fail = [&](std::size_t index) {
    const std::lock_guard lock(mutex);
    errors.emplace_back(index, std::current_exception());
    failed.store(true);
  };
  // Runs tasks until none is left or one has failed. On the calling thread
  // it makes the finished calls itself; a worker thread hands them over.
  auto work = [&](bool onCallingThread) {
    while (!failed.load()) {
      const std::size_t k = next.fetch_add(1);
      if (k >= order.size()) break;
      try {
        task(order[k]);
      } catch (...) {
        fail(order[k]);
        break;
      }
      if (!finished) continue;
      if (onCallingThread) {
        try {
          finished(order[k]);
        } catch (...) {
          fail(order[k]);
        }
      } else {
        const std::lock_guard lock(mutex);
        returned.push_back(order[k]);
        changed.notify_all();
      }
    }
    const std::lock_guard lock(mutex);
    --running;
    changed.notify_all();
  };

  if (workers == 1 && !tick) {
    work(true);
  } else {
    std::vector<std::jthread> threads;
    for (unsigned j = 0; j < workers; ++j) threads.emplace_back(work, false);
    std::unique_lock lock(mutex);
    auto nextTick = std::chrono::steady_clock::now() + tickInterval;
    std::vector<std::size_t> batch;
    for (;;) {
      changed.wait_until(lock, nextTick, [&] { return running == 0 || !returned.empty(); });
      batch.swap(returned);
      const bool done = running == 0;
      lock.unlock();
      for (std::size_t index : batch) {
        if (failed.load()) break;
        try {
          finished(index);
        } catch (...) {
          fail(index);
        }
      }
      batch.clear();
      if (std::chrono::steady_clock::now() >= nextTick) {
        if (tick) tick();
        nextTick = std::chrono::steady_clock::now() + tickInterval;
      }
      lock.lock();
      // Every worker hands its tasks over before it ends, so once none runs
      // the batch just done held the last of them.
      if (done) break;
    }
    // The workers may all be done before the first tick: the last tick
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
