#pragma once
#include <memory>
#include <stdexcept>
#include <vector>

#include "devices/DeviceUnit.h"

// An index outside the list.
class EListError : public std::out_of_range {
public:
    using std::out_of_range::out_of_range;
};

// One record per logical drive, in letter order, rebuilt from scratch on every Refresh.
// The list owns its records.
class TDevices {
public:
    TDevices() = default;
    virtual ~TDevices() = default;
    TDevices(const TDevices&) = delete;
    TDevices& operator=(const TDevices&) = delete;

    // Destroys the old records, then queries every logical drive A to Z in full. When a
    // query raises EOSError the records before it stay, and the exception goes on.
    virtual void Refresh();
    void Clear();
    int Count() const { return static_cast<int>(items_.size()); }
    // Raises EListError for an index outside 0 .. Count() - 1.
    TDevice& Items(int index) const;

private:
    std::vector<std::unique_ptr<TDevice>> items_;
};
