#include "cli/arrival_setups.h"

#include <system_error>
#include <utility>

namespace cli {

ArrivalSetUps::ArrivalSetUps(SetUp setUp, Tell tell)
    : setUp_(std::move(setUp)), tell_(std::move(tell)) {}

ArrivalSetUps::~ArrivalSetUps() {
    Finish();
}

void ArrivalSetUps::Start(const std::string& device) {
    std::unique_lock lock(mutex_);
    JoinEndedWorkers(lock);
    const std::size_t slot = firstUntold_ + untold_.size();
    untold_.emplace_back();
    auto done = std::make_shared<bool>(false);
    workers_.reserve(workers_.size() + 1);  // so that keeping the thread below cannot throw
    lock.unlock();
    try {
        std::thread thread([this, slot, device, done] {
            Run(slot, device);
            const std::lock_guard ended(mutex_);
            *done = true;
        });
        lock.lock();
        workers_.push_back({std::move(thread), std::move(done)});
    } catch (const std::system_error&) {
        Run(slot, device);
    }
}

void ArrivalSetUps::Run(std::size_t slot, const std::string& device) {
    std::optional<CameraReport> camera;
    std::exception_ptr thrown;
    try {
        camera = setUp_(device);
    } catch (...) {
        thrown = std::current_exception();
    }
    const std::lock_guard lock(mutex_);
    if (thrown && !thrown_) {
        thrown_ = thrown;
    }
    Ended& ended = untold_[slot - firstUntold_];
    ended.done = true;
    ended.camera = std::move(camera);
    // Tell every camera whose turn has come: this one, once those before it are told, and then
    // those after it that ended first. The lock keeps the lines of two cameras apart.
    while (!untold_.empty() && untold_.front().done) {
        if (const std::optional<CameraReport>& told = untold_.front().camera) {
            ++told_;
            if (told->error && !firstFailure_) {
                firstFailure_ = told->error;
            }
            tell_(*told);
        }
        untold_.pop_front();
        ++firstUntold_;
    }
    changed_.notify_all();
}

void ArrivalSetUps::WaitWhileUnderWayCouldReach(int count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this, count] {
        return told_ >= count || told_ + static_cast<int>(untold_.size()) < count;
    });
}

void ArrivalSetUps::Finish() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return untold_.empty(); });
    std::vector<Worker> workers = std::move(workers_);
    workers_.clear();
    lock.unlock();
    for (Worker& worker : workers) {
        worker.thread.join();
    }
}

void ArrivalSetUps::JoinEndedWorkers(std::unique_lock<std::mutex>& lock) {
    std::vector<Worker> ended;
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (*it->done) {
            ended.push_back(std::move(*it));
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
    // A worker marks itself done as its last step; the join waits only for its return.
    lock.unlock();
    for (Worker& worker : ended) {
        worker.thread.join();
    }
    lock.lock();
}

int ArrivalSetUps::Told() const {
    const std::lock_guard lock(mutex_);
    return told_;
}

std::optional<Failure> ArrivalSetUps::FirstFailure() const {
    const std::lock_guard lock(mutex_);
    return firstFailure_;
}

std::exception_ptr ArrivalSetUps::Thrown() const {
    const std::lock_guard lock(mutex_);
    return thrown_;
}

}  // namespace cli
