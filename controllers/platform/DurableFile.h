#pragma once

#include <QByteArray>
#include <QString>

class QFileDevice;

// Files that decide what happens to a payment, written so that a power cut leaves either what
// was there before or what was written, never less: data flushed to the disk before a rename
// relies on it, and a creation, rename or removal on the disk before the call returns.
//
// On Linux: fsync() of the file, and of its directory after the rename or removal. On Windows:
// FlushFileBuffers() and MoveFileEx() with MOVEFILE_WRITE_THROUGH (Win32Files.cpp); a removal
// there is as durable as the file system's own journal makes it.
namespace platform {

// Renames `from` to `to`, over a file there only with `replace`.
bool renameDurably(const QString &from, const QString &to, bool replace, QString *error);
bool removeDurably(const QString &path);
// Replaces `path` whole: written beside it (a link there goes itself, never written through),
// flushed to the disk, then renamed over it.
bool writeDurably(const QString &path, const QByteArray &bytes, QString *error);
// The data of an open file, to the disk.
bool syncFile(QFileDevice &file);
// What was created, renamed or removed in the directory holding `path`, to the disk. Where that
// cannot be (a share), the log says so once a directory. Nothing to do on Windows.
void syncDirectory(const QString &path);

} // namespace platform
