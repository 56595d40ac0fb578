#include "devices/DriveQueries.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
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

// Set by tests only, before any worker runs.
std::function<void(char)>& PauseHook() {
    static auto* hook = new std::function<void(char)>;
    return *hook;
}

} // namespace

// The state one worker thread shares with its round. Lock order: the registry's mutex,
// then this one; the worker never holds both.
struct TDriveQueryRound::Worker {
    std::mutex mutex; // guards everything below except request
    std::condition_variable changed;
    std::deque<char> jobs;                     // posted by the round, taken in order by the worker
    std::optional<char> current;               // the drive the worker is querying
    std::deque<TDriveAnswer> answers;          // the worker's answers in order, taken by the round
    bool stop = false;                         // the round is done with it (or it ended by itself)
    bool abandoned = false;                    // its drive hangs: whatever it answers is dropped
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
            const bool woken = worker->changed.wait_for(lock, kIdleWorkerLife, [&] {
                return !worker->jobs.empty() || worker->stop || worker->abandoned;
            });
            if (woken && !worker->jobs.empty() && !worker->abandoned && PauseHook()) {
                const char next = worker->jobs.front();
                lock.unlock();
                PauseHook()(next);
                lock.lock();
            }
            if (!woken || worker->jobs.empty() || worker->abandoned) {
                worker->stop = true;
                break;
            }
            letter = worker->jobs.front();
            worker->jobs.pop_front();
            worker->current = letter;
            worker->request.store(nullptr); // what the drive before it asked is not its own
        }
        TDriveAnswer answer;
        QueryOnWorker(letter, answer);
        std::lock_guard<std::mutex> lock(worker->mutex);
        worker->current.reset();
        if (worker->abandoned) {
            hungLetter = letter; // a late answer: dropped with `answer`
            break;
        }
        if (answer.error) {
            worker->jobs.clear(); // as the list does: nothing after a raise is asked
        }
        worker->answers.push_back(std::move(answer));
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

void SetDriveQueryWorkerPause(std::function<void(char)> pause) {
    PauseHook() = std::move(pause);
}

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

void TDriveQueryRound::Post(const std::string& letters, std::size_t from,
                            std::vector<TDriveAnswer>& answers, std::vector<bool>& posted) {
    Registry& registry = TheRegistry();
    std::string jobs;
    for (std::size_t index = from; index < letters.size(); ++index) {
        const auto pending = registry.pending.find(letters[index]);
        posted[index] = pending == registry.pending.end();
        if (posted[index]) {
            jobs += letters[index];
        } else {
            answers[index].pendingRequest = RequestText(pending->second->request);
        }
    }
    if (jobs.empty()) {
        return;
    }
    if (worker_) {
        // Checked and posted under one lock: a worker that has not stopped cannot end
        // with jobs waiting.
        std::lock_guard<std::mutex> lock(worker_->mutex);
        if (!worker_->stop) {
            worker_->jobs.insert(worker_->jobs.end(), jobs.begin(), jobs.end());
            worker_->changed.notify_all();
            return;
        }
    }
    worker_ = std::make_shared<Worker>();           // the first, or the last one ended by itself
    worker_->jobs.assign(jobs.begin(), jobs.end()); // before its thread starts
    ++registry.workersAlive;
    std::thread(WorkerMain, worker_).detach();
}

void TDriveQueryRound::Abandon() {
    worker_->abandoned = true;
    worker_->jobs.clear();
    if (worker_->current) {
        TheRegistry().pending[*worker_->current] = worker_;
    }
    worker_->changed.notify_all();
    worker_.reset(); // the drives after it get a new worker
}

std::vector<TDriveAnswer> TDriveQueryRound::QueryAll(const std::string& letters) {
    Registry& registry = TheRegistry();
    std::vector<TDriveAnswer> answers(letters.size());
    std::vector<bool> posted(letters.size(), false);
    TDriveQueryBounds bounds;
    {
        std::lock_guard<std::mutex> lock(registry.mutex);
        bounds = registry.bounds;
        if (Clock::now() < deadline_) {
            Post(letters, 0, answers, posted);
        }
    }
    // Takes the worker's next answer for the drive, the worker's lock held; false when it
    // is an error, which ends the refresh there as the query would have.
    const auto takeAnswer = [&](std::size_t index) {
        answers[index] = std::move(worker_->answers.front());
        worker_->answers.pop_front();
        if (answers[index].error) {
            answers.resize(index + 1);
            return false;
        }
        return true;
    };
    for (std::size_t index = 0; index < letters.size(); ++index) {
        if (!posted[index]) {
            continue; // pending, answered for already
        }
        const Clock::time_point until = std::min(deadline_, Clock::now() + bounds.drive);
        {
            std::unique_lock<std::mutex> lock(worker_->mutex);
            if (worker_->changed.wait_until(lock, until,
                                            [&] { return !worker_->answers.empty(); })) {
                if (!takeAnswer(index)) {
                    return answers;
                }
                continue;
            }
        }
        // The bound passed. Under both locks, so that the worker either answered just now
        // or finds itself abandoned with its drive listed as pending, never in between.
        const std::shared_ptr<Worker> abandoned = worker_; // outlives the lock below
        std::lock_guard<std::mutex> registryLock(registry.mutex);
        {
            std::lock_guard<std::mutex> lock(abandoned->mutex);
            if (!worker_->answers.empty()) {
                if (!takeAnswer(index)) {
                    return answers;
                }
                continue;
            }
            // A drive the worker has not taken up yet was never asked: not pending.
            if (worker_->current == letters[index]) {
                answers[index].pendingRequest = RequestText(worker_->request);
            }
            Abandon();
        }
        if (Clock::now() < deadline_) {
            Post(letters, index + 1, answers, posted);
        } else {
            std::fill(posted.begin() + static_cast<std::ptrdiff_t>(index) + 1, posted.end(),
                      false); // not asked: the check's time is up
        }
    }
    return answers;
}
