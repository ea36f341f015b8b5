#pragma once

#include <QString>

namespace platform {

// An exclusive lock on a file, held by the operating system for as long as this object lives
// and freed by it when the process ends, however it ends. Unlike a lock file judged by the PID
// written in it, a restarted process can never take its own dead predecessor for a live rival.
class DirectoryLock {
public:
    // Locks `path` (created when missing); locked() tells whether it is ours.
    explicit DirectoryLock(const QString &path);
    ~DirectoryLock();
    DirectoryLock(const DirectoryLock &) = delete;
    DirectoryLock &operator=(const DirectoryLock &) = delete;

    bool locked() const { return m_handle != kNone; }

private:
    static constexpr long long kNone = -1;
    long long m_handle = kNone; // a file descriptor, or a Windows HANDLE
};

} // namespace platform
