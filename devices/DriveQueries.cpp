#include "devices/DriveQueries.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// A worker that has had no job this long ends by itself (its round is long gone).
constexpr std::chrono::seconds kIdleWorkerLife{30};

// Process-wide, and never destroyed: a worker that still hangs at exit may return while
// the process ends, and must find it intact.
struct Registry {
    std::mutex mutex; // guards everything below
    std::condition_variable workersGone;
    TDriveQueryBounds bounds;
    // The drives whose request still hangs, with the worker that made it.
    std::map<char, std::shared_ptr<TDriveQueryRound::Worker>> pending;
    int workersAlive = 0;
};

Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

thread_local std::atomic<const char*>* currentRequest = nullptr;

} // namespace

// The state one worker thread shares with its round. Lock order: the registry's mutex,
// then this one; the worker never holds both.
struct TDriveQueryRound::Worker {
    std::mutex mutex; // guards everything below except request
    std::condition_variable changed;
    std::optional<char> job;     // posted by the round, taken by the worker
    bool answerReady = false;    // the worker's answer to the last job is in `answer`
    TDriveAnswer answer;         // written by the worker, taken by the round
    bool stop = false;           // the round is done with it (or it ended by itself)
    bool abandoned = false;      // its job hangs: its answer is to be dropped
    std::atomic<const char*> request{nullptr}; // the request in progress (static text)
};

namespace {

void QueryOnWorker(char letter, TDriveAnswer& answer) {
    try {
        auto device = std::make_unique<TDevice>(std::string(1, letter));
        device->Refresh();
        answer.device = std::move(device);
    } catch (...) {
        answer.error = std::current_exception();
    }
    answer.answered = true;
}

void WorkerMain(std::shared_ptr<TDriveQueryRound::Worker> worker) {
    currentRequest = &worker->request;
    std::optional<char> hungLetter;
    for (;;) {
        char letter = 0;
        {
            std::unique_lock<std::mutex> lock(worker->mutex);
            if (!worker->changed.wait_for(lock, kIdleWorkerLife,
                                          [&] { return worker->job || worker->stop; }) ||
                !worker->job) {
                worker->stop = true;
                break;
            }
            letter = *worker->job;
        }
        TDriveAnswer answer;
        QueryOnWorker(letter, answer);
        std::lock_guard<std::mutex> lock(worker->mutex);
        worker->job.reset();
        if (worker->abandoned) {
            hungLetter = letter; // a late answer: dropped with `answer`
            break;
        }
        worker->answer = std::move(answer);
        worker->answerReady = true;
        worker->changed.notify_all();
    }
    currentRequest = nullptr;
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (hungLetter) {
        const auto it = registry.pending.find(*hungLetter);
        if (it != registry.pending.end() && it->second == worker) {
            registry.pending.erase(it);
        }
    }
    --registry.workersAlive;
    registry.workersGone.notify_all();
}

std::string RequestText(const std::atomic<const char*>& request) {
    const char* text = request.load();
    return text == nullptr ? "drive query" : text;
}

} // namespace

void SetDriveQueryBounds(const TDriveQueryBounds& bounds) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.bounds = bounds;
}

TDriveQueryBounds DriveQueryBounds() {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    return registry.bounds;
}

bool DriveQueryPending(char letter) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    return registry.pending.count(letter) != 0;
}

bool WaitForDriveQueryWorkers(std::chrono::milliseconds bound) {
    Registry& registry = TheRegistry();
    std::unique_lock<std::mutex> lock(registry.mutex);
    return registry.workersGone.wait_for(lock, bound, [&] { return registry.workersAlive == 0; });
}

void NoteDeviceRequest(const char* request) {
    if (currentRequest != nullptr) {
        currentRequest->store(request);
    }
}

TDriveQueryRound::TDriveQueryRound() : deadline_(Clock::now() + DriveQueryBounds().check) {}

TDriveQueryRound::~TDriveQueryRound() {
    if (worker_) {
        std::lock_guard<std::mutex> lock(worker_->mutex);
        worker_->stop = true;
        worker_->changed.notify_all();
    }
}

TDriveAnswer TDriveQueryRound::Query(char letter) {
    Registry& registry = TheRegistry();
    TDriveQueryBounds bounds;
    {
        std::lock_guard<std::mutex> lock(registry.mutex);
        const auto pending = registry.pending.find(letter);
        if (pending != registry.pending.end()) {
            TDriveAnswer answer;
            answer.pendingRequest = RequestText(pending->second->request);
            return answer; // no second request to a drive that still hangs
        }
        bounds = registry.bounds;
    }
    const Clock::time_point now = Clock::now();
    if (now >= deadline_) {
        return {};
    }
    if (worker_) {
        std::lock_guard<std::mutex> lock(worker_->mutex);
        if (worker_->stop) {
            worker_.reset(); // it ended by itself
        }
    }
    if (!worker_) {
        worker_ = std::make_shared<Worker>();
        {
            std::lock_guard<std::mutex> lock(registry.mutex);
            ++registry.workersAlive;
        }
        std::thread(WorkerMain, worker_).detach();
    }
    const Clock::time_point until = std::min(deadline_, now + bounds.drive);
    {
        std::unique_lock<std::mutex> lock(worker_->mutex);
        worker_->job = letter;
        worker_->answerReady = false;
        worker_->changed.notify_all();
        if (worker_->changed.wait_until(lock, until, [&] { return worker_->answerReady; })) {
            worker_->answerReady = false;
            return std::move(worker_->answer);
        }
    }
    // The bound passed. Under both locks, so that the worker either answered just now or
    // finds itself abandoned with its drive listed as pending, never in between.
    std::lock_guard<std::mutex> registryLock(registry.mutex);
    std::lock_guard<std::mutex> lock(worker_->mutex);
    if (worker_->answerReady) {
        worker_->answerReady = false;
        return std::move(worker_->answer);
    }
    worker_->abandoned = true;
    registry.pending[letter] = worker_;
    TDriveAnswer answer;
    answer.pendingRequest = RequestText(worker_->request);
    worker_.reset(); // the next drive gets a new worker
    return answer;
}
