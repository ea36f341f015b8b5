#include "controllers/platform/SharedStateDirectory.h"

#ifndef Q_OS_WIN
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#endif

namespace platform {

#ifdef Q_OS_WIN

QString outsiderNotice(const QString &directory) {
    Q_UNUSED(directory) // the installed service keeps its state beside itself
    return QString();
}

QStringList shareWithGroup(const QString &directory) {
    Q_UNUSED(directory)
    return QStringList();
}

#else

namespace {

bool isMember(gid_t group) {
    if (::getegid() == group)
        return true;
    std::vector<gid_t> groups(size_t(std::max(::getgroups(0, nullptr), 0)));
    groups.resize(size_t(std::max(::getgroups(int(groups.size()), groups.data()), 0)));
    return std::find(groups.cbegin(), groups.cend(), group) != groups.cend();
}

QString groupName(gid_t group) {
    const struct group *entry = ::getgrgid(group);
    return entry ? QString::fromLocal8Bit(entry->gr_name) : QString::number(group);
}

QString accountName(uid_t account) {
    const struct passwd *entry = ::getpwuid(account);
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(account);
}

// Through the file itself, never a link planted in its place.
bool handOver(const QByteArray &path, gid_t group) {
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    const bool done = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                      (info.st_gid == group || ::fchown(fd, uid_t(-1), group) == 0) &&
                      ::fchmod(fd, (info.st_mode & 0777) | S_IRGRP | S_IWGRP) == 0;
    ::close(fd);
    return done;
}

} // namespace

QString outsiderNotice(const QString &directory) {
    const QByteArray name = QFile::encodeName(directory);
    struct stat info {};
    if (::stat(name.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        ::access(name.constData(), R_OK | W_OK | X_OK) == 0 || errno != EACCES || isMember(info.st_gid))
        return QString();
    return QStringLiteral("A conta %1 não pertence ao grupo %2 e não pode usar %3: o serviço não é iniciado "
                          "nesta sessão; peça ao administrador que a inclua no grupo (adduser %1 %2) se ela "
                          "deve atender a automação")
        .arg(accountName(::geteuid()), groupName(info.st_gid), directory);
}

QStringList shareWithGroup(const QString &directory) {
    struct stat info {};
    if (::stat(QFile::encodeName(directory).constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        !(info.st_mode & S_ISGID) || !(info.st_mode & S_IWGRP))
        return QStringList();
    const mode_t mask = ::umask(0);
    ::umask(mask & ~mode_t(S_IRWXG));

    // Left by an older service, or by an operator's shell, with the umask of its account.
    QStringList problems;
    const auto files =
        QDir(directory).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QString &file : files) {
        const QString path = directory + QLatin1Char('/') + file;
        const QByteArray name = QFile::encodeName(path);
        struct stat entry {};
        if (::lstat(name.constData(), &entry) != 0 || !S_ISREG(entry.st_mode) ||
            (entry.st_gid == info.st_gid && (entry.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)))
            continue;
        if (entry.st_uid == ::geteuid() && handOver(name, info.st_gid))
            continue;
        problems << QStringLiteral(
                        "%1 (de %2, grupo %3, modo %4) não pode ser gravado pelos outros membros de "
                        "%5; peça ao administrador: chgrp %5 %1 && chmod g+rw %1")
                        .arg(path, accountName(entry.st_uid), groupName(entry.st_gid),
                             QString::number(entry.st_mode & 0777, 8), groupName(info.st_gid));
    }
    return problems;
}

#endif

} // namespace platform
