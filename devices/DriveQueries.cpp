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
// then this one; the worker never holds both. Each side sleeps on its own condition, and
// is woken only when there is something for it: the worker when drives are posted (or
// the round lets it go), the round when the worker has answered every drive posted. In
// between, the round wakes by itself when a drive's bound runs out. Under Wine every
// wake-up is a round trip through the server and a context switch, so the worker does not
// wake the round per answer.
struct TDriveQueryRound::Worker {
    std::mutex mutex;                          // guards everything below except request
    std::condition_variable posted;            // the worker waits on it
    std::condition_variable finished;          // the round waits on it
    std::deque<char> jobs;                     // posted by the round, taken in order by the worker
    std::optional<char> current;               // the drive the worker is querying
    std::deque<TDriveAnswer> answers;          // the worker's answers in order, taken by the round
    Clock::time_point progress;                // the last answer, or the last post
    bool stop = false;                         // the round is done with it (or it ended by itself)
    bool abandoned = false;                    // its drive hangs: whatever it answers is dropped
    std::atomic<const char*> request{nullptr}; // the request in progress (static text)

    bool Idle() const { return jobs.empty() && !current; }
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
            const bool woken = worker->posted.wait_for(lock, kIdleWorkerLife, [&] {
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
        worker->progress = Clock::now();
        if (worker->jobs.empty()) {
            worker->finished.notify_one();
        }
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

TDriveQueryRound::TDriveQueryRound() {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    deadline_ = Clock::now() + registry.bounds.check;
    // Started before the drives are known: the thread gets going while the GUI thread
    // still clears its list and reads the drive mask.
    StartWorker();
}

TDriveQueryRound::~TDriveQueryRound() {
    if (worker_) {
        std::lock_guard<std::mutex> lock(worker_->mutex);
        worker_->stop = true;
        worker_->posted.notify_one();
    }
}

void TDriveQueryRound::StartWorker() {
    auto worker = std::make_shared<Worker>();
    worker->progress = Clock::now();
    std::thread(WorkerMain, worker).detach();
    ++TheRegistry().workersAlive; // under the registry's lock: the worker cannot end before
    worker_ = std::move(worker);
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
    for (;;) {
        if (worker_) {
            // Checked and posted under one lock: a worker that has not stopped cannot end
            // with jobs waiting.
            std::lock_guard<std::mutex> lock(worker_->mutex);
            if (!worker_->stop) {
                worker_->jobs.insert(worker_->jobs.end(), jobs.begin(), jobs.end());
                worker_->progress = Clock::now(); // the first drive's bound starts now
                worker_->posted.notify_one();
                return;
            }
        }
        StartWorker(); // after an abandoned one, or the last one ended by itself
    }
}

void TDriveQueryRound::Abandon() {
    worker_->abandoned = true;
    worker_->jobs.clear();
    if (worker_->current) {
        TheRegistry().pending[*worker_->current] = worker_;
    }
    worker_->posted.notify_one();
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
    std::size_t index = 0; // the next drive whose answer is taken
    const auto skipUnposted = [&] {
        while (index < letters.size() && !posted[index]) {
            ++index; // pending or not asked, answered for already
        }
    };
    // Takes the answers the worker has given so far, in order, the worker's lock held;
    // false when one is an error, which ends the refresh there as the query would have.
    const auto takeAnswers = [&] {
        for (skipUnposted(); index < letters.size() && !worker_->answers.empty(); skipUnposted()) {
            answers[index] = std::move(worker_->answers.front());
            worker_->answers.pop_front();
            if (answers[index].error) {
                answers.resize(index + 1);
                return false;
            }
            ++index;
        }
        return true;
    };
    // The drive being queried may take until its bound after the answer before it (or
    // after the post), and never past the check's deadline.
    const auto bound = [&] { return std::min(deadline_, worker_->progress + bounds.drive); };
    skipUnposted();
    while (index < letters.size()) {
        {
            std::unique_lock<std::mutex> lock(worker_->mutex);
            for (;;) {
                if (!takeAnswers()) {
                    return answers;
                }
                if (index == letters.size()) {
                    return answers;
                }
                const Clock::time_point until = bound();
                if (Clock::now() >= until) {
                    break;
                }
                worker_->finished.wait_until(lock, until, [&] { return worker_->Idle(); });
            }
        }
        // The bound passed. Under both locks, so that the worker either answered just now
        // or finds itself abandoned with its drive listed as pending, never in between.
        const std::shared_ptr<Worker> abandoned = worker_; // outlives the lock below
        std::lock_guard<std::mutex> registryLock(registry.mutex);
        {
            std::lock_guard<std::mutex> lock(abandoned->mutex);
            const std::size_t before = index;
            if (!takeAnswers()) {
                return answers;
            }
            if (index != before || index == letters.size()) {
                continue; // it answered after all: the next drive's bound starts from there
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
        ++index;
        skipUnposted();
    }
    return answers;
}
