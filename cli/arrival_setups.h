// The cameras that arrive during a watch, each set up on a thread of its own while the watch
// listens on, so that one camera's pauses never hold up the next one's. Each camera is told as
// soon as it and every camera that arrived before it are done: the lines keep the order of the
// arrivals.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/backend.h"
#include "cli/report.h"

namespace cli {

class ArrivalSetUps {
  public:
    // Sets up the device that arrived: nullopt when it is no camera (nothing is told).
    using SetUp = std::function<std::optional<CameraReport>(const std::string& device)>;
    // Tells one camera, with the output to itself.
    using Tell = std::function<void(const CameraReport& camera)>;

    ArrivalSetUps(SetUp setUp, Tell tell);
    // Waits for every set-up under way.
    ~ArrivalSetUps();
    ArrivalSetUps(const ArrivalSetUps&) = delete;
    ArrivalSetUps& operator=(const ArrivalSetUps&) = delete;

    // Starts setting up `device`; on the calling thread when no thread can be started.
    void Start(const std::string& device);

    // Blocks while the set-ups under way, were each of them a camera, would bring the cameras
    // told to `count` or beyond, until enough have ended to tell whether they do. Returns at once
    // when the set-ups under way cannot reach `count`, or when `count` cameras were told.
    void WaitWhileUnderWayCouldReach(int count);

    // Waits for every set-up under way; each is told in its turn.
    void Finish();

    // The cameras told so far, the first of them that could not be set up, and whether a set-up
    // ended in an exception (the first one, kept to be thrown again once every set-up is over).
    int Told() const;
    std::optional<Failure> FirstFailure() const;
    std::exception_ptr Thrown() const;

  private:
    struct Ended {
        bool done = false;
        std::optional<CameraReport> camera;
    };
    struct Worker {
        std::thread thread;
        std::shared_ptr<bool> done;  // guarded by mutex_
    };

    void Run(std::size_t slot, const std::string& device);
    void JoinEndedWorkers(std::unique_lock<std::mutex>& lock);

    SetUp setUp_;
    Tell tell_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Ended> untold_;  // from slot firstUntold_ on, in the order of arrival
    std::size_t firstUntold_ = 0;
    int told_ = 0;
    std::optional<Failure> firstFailure_;
    std::exception_ptr thrown_;
    std::vector<Worker> workers_;
};

}  // namespace cli
