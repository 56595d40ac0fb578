#pragma once
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/DeviceUnit.h"

// Bounded device queries: a drive's full query (TDevice's six steps) runs on a worker
// thread while the GUI thread waits for it, never longer than a bound. A stick that
// stops answering then costs the GUI thread the bound once; afterwards its request is
// pending and the drive is answered for at once, without a second request.
//
// Threads: everything here except the worker itself is for the GUI thread. A worker
// touches only its own shared state (behind its mutex) and the pending list (behind the
// process-wide mutex); it never logs and never touches a window or a list of the GUI.

// How long the GUI thread waits: for one drive's answer (after the answer before it), and
// for a whole device check (every drive and the device list's copies, from its start).
struct TDriveQueryBounds {
    std::chrono::milliseconds drive{700};
    std::chrono::milliseconds check{1800};
};
void SetDriveQueryBounds(const TDriveQueryBounds& bounds);
TDriveQueryBounds DriveQueryBounds();

// What a bounded query of a drive brought back.
struct TDriveAnswer {
    bool answered = false;
    std::unique_ptr<TDevice> device; // answered: the complete record
    std::exception_ptr error;        // answered by raising (then device is null)
    // Not answered: the request that is still pending, or empty when the drive was never
    // asked (the check's time was up, or its bound before the worker took it up).
    std::string pendingRequest;
};

// One device check: its queries share one worker (no thread per drive) and one deadline,
// both from its construction, which starts the worker's thread. Destroying it lets the
// worker go; it waits for nothing.
class TDriveQueryRound {
public:
    TDriveQueryRound();
    ~TDriveQueryRound();
    TDriveQueryRound(const TDriveQueryRound&) = delete;
    TDriveQueryRound& operator=(const TDriveQueryRound&) = delete;

    // Queries the drives in full, in order, as TDevice::SetDriveLetter does, on the
    // worker, which goes from one drive to the next without waiting for the GUI thread.
    // One answer per letter, in order. A drive whose earlier request is still pending is
    // answered for at once, unanswered, and not asked. The GUI thread waits for each
    // answer at most the drive's bound after the one before, and never past the check's
    // deadline; a drive that misses it becomes pending, and the drives after it go to a
    // new worker (or, once the deadline has passed, stay unasked). A query that raises
    // ends the list: its answer is the last, and no drive after it is asked. A late answer
    // is dropped by its worker: nothing returned here ever changes afterwards.
    std::vector<TDriveAnswer> QueryAll(const std::string& letters);

    struct Worker;

private:
    // Under the registry's lock: hands the letters from `from` on to the worker (a new one
    // when it was abandoned or ended), answering for the pending ones at once.
    void Post(const std::string& letters, std::size_t from, std::vector<TDriveAnswer>& answers,
              std::vector<bool>& posted);
    // Under the registry's lock: starts a worker thread, waiting for its first drives.
    void StartWorker();
    // Under the registry's and the worker's locks: drops the worker, its drive in progress
    // listed as pending.
    void Abandon();

    std::shared_ptr<Worker> worker_;
    std::chrono::steady_clock::time_point deadline_;
};

// Whether the drive's earlier request is still pending.
bool DriveQueryPending(char letter);
// Waits at most `bound` until no worker thread is left; true when none is. For tests (a
// hanging simulated drive released) and for nothing that the user waits on.
bool WaitForDriveQueryWorkers(std::chrono::milliseconds bound);

// For tests: runs on a worker, outside its locks, before it takes up each drive (a
// worker that the system is slow to schedule). Set while no worker runs.
void SetDriveQueryWorkerPause(std::function<void(char)> pause);

// The device model names each request before it makes it, so that a request that hangs
// can be named in the log. Does nothing outside a worker.
void NoteDeviceRequest(const char* request);
