// Running independent tasks on several threads: the packager compresses its
// members this way. Each task writes only its own result slot, so the
// outcome does not depend on which thread ran what, nor in which order.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <span>

// Runs task(i) for every i of `order`, taken in that order by `jobs` threads
// (at least one; never more than there are tasks). While they run, the
// calling thread calls `finished(i)` (when given) for each task that has
// returned, soon after it did and in the order they return, and `tick` (when
// given) every `tickInterval` and once more at the end; with one job,
// finished(i) comes right after task(i). After a task or its finished call
// throws, no further task is started nor finished call made; the exception
// of the lowest index among those that threw is rethrown once all threads
// are done. With one job and no tick the tasks run on the calling thread.
void RunTasks(std::span<const std::size_t> order, unsigned jobs,
              const std::function<void(std::size_t)>& task,
              const std::function<void()>& tick = {},
              const std::function<void(std::size_t)>& finished = {},
              std::chrono::milliseconds tickInterval = std::chrono::milliseconds(200));
