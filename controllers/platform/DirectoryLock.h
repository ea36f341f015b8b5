#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// An exclusive lock on a file, held by the operating system for as long as this object lives
// and freed by it when the process ends, however it ends. Unlike a lock file judged by the PID
// written in it, a restarted process can never take its own dead predecessor for a live rival.
class DirectoryLock {
public:
    // Locks `path` (created when missing); locked() tells whether it is ours. `readableByAll`
    // makes a file we create readable by every account, so that one of another account can
    // still lock it (and read its note) once we are gone.
    explicit DirectoryLock(const QString &path, bool readableByAll = false);
    ~DirectoryLock();
    DirectoryLock(const DirectoryLock &) = delete;
    DirectoryLock &operator=(const DirectoryLock &) = delete;

    bool locked() const { return m_handle != kNone; }

    // Replaces the file's content with `text` (a holder's PID) for whoever finds the lock taken;
    // false where it cannot be written, and on Windows, where nobody may open a locked file.
    bool setNote(const QByteArray &text);
    // Whether another process holds the lock at `path` (or it cannot be opened), with nothing
    // created and the lock not kept: a holder makes the file before it locks it.
    static bool heldElsewhere(const QString &path);
    // The first bytes of the note at `path`, never through a link; empty when there is none.
    static QByteArray noteOf(const QString &path);

private:
    static constexpr long long kNone = -1;
    long long m_handle = kNone; // a file descriptor, or a Windows HANDLE
};

} // namespace platform
