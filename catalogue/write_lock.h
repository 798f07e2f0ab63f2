#pragma once
// The catalogue's write lock around a read that decides a write.
#include "catalogue/connection.h"

namespace krepiks {

// The catalogue's write lock, held from a read that decides a write until that write is
// committed: another process's writer waits meanwhile (up to BusyTimeoutMs) and then sees
// the row. Rolled back when let go uncommitted. Throws EDatabaseError.
class TWriteLock {
public:
    explicit TWriteLock(TADOConnection& connection);
    ~TWriteLock();
    TWriteLock(const TWriteLock&) = delete;
    TWriteLock& operator=(const TWriteLock&) = delete;

    void Commit();
    // Drops whatever was written under the lock; never throws.
    void Release();

private:
    TADOConnection& connection_;
    bool held_ = false;
};

} // namespace krepiks
