// Work on several cameras at once: each task on a thread of its own, so that the pauses of one
// camera do not wait for those of another.
#pragma once

#include <cstddef>
#include <functional>

namespace cli {

// At most this many tasks run at once; more run in further rounds, each after the last ended.
inline constexpr std::size_t kMaxParallelTasks = 32;

// Runs task(0) to task(count - 1), each on a thread of its own, and returns when every one has
// ended. A task whose thread cannot be started runs on the calling thread instead. When tasks
// throw, the exception of the first of them (by index) is thrown again here once all have ended.
// A task must not touch what another task touches; each writes its own result.
void RunInParallel(std::size_t count, const std::function<void(std::size_t index)>& task);

}  // namespace cli
