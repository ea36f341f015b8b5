#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// The installed service keeps its state in one directory for every account of a group (setgid,
// writable by the group): whichever member starts next must be able to replace what the last one
// wrote there, and an account outside the group has no service to run.

// The line that tells this account it may not use `directory` because it is not a member of the
// directory's group; empty when it may, or when something else is wrong (left to the start).
QString outsiderNotice(const QString &directory);

// Where `directory` is shared so: opens the group's bits of the umask, so that every file the
// service creates from now on, there or elsewhere, the group may write as its owner may, and
// gives the group the files there that this account owns. Returns one line for each file there
// that the group cannot write and that this account cannot hand over.
QStringList shareWithGroup(const QString &directory);

} // namespace platform
