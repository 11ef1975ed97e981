#include "cli/parallel.h"

#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace cli {

void RunInParallel(std::size_t count, const std::function<void(std::size_t index)>& task) {
    std::vector<std::exception_ptr> thrown(count);
    const auto guarded = [&task, &thrown](std::size_t index) {
        try {
            task(index);
        } catch (...) {
            thrown[index] = std::current_exception();
        }
    };
    for (std::size_t first = 0; first < count; first += kMaxParallelTasks) {
        const std::size_t end =
            first + kMaxParallelTasks < count ? first + kMaxParallelTasks : count;
        std::vector<std::jthread> threads;
        threads.reserve(end - first);
        for (std::size_t index = first; index < end; ++index) {
            try {
                threads.emplace_back(guarded, index);
            } catch (const std::system_error&) {
                guarded(index);
            }
        }
        // The threads are joined here, at the end of the batch.
    }
    for (const std::exception_ptr& exception : thrown) {
        if (exception) {
            std::rethrow_exception(exception);
        }
    }
}

}  // namespace cli
