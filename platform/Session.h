#pragma once
#include <string>

namespace platform {

enum class MutexResult {
    Created,
    AlreadyExists, // the name was taken in this session (error 183)
    Failed,        // no handle came back
};

class Session {
public:
    virtual ~Session() = default;
    // Creates a named mutex owned by the caller. The handle is kept until the process
    // ends, on purpose: it is the single-instance lock.
    virtual MutexResult CreateOwnedMutex(const std::string& name) = 0;
    virtual void ShowWarningMessage(const std::string& caption, const std::string& text) = 0;
    // A modal error box with one OK button; returns when the user has closed it.
    virtual void ShowErrorMessage(const std::string& caption, const std::string& text) = 0;
};

} // namespace platform
