#include "SimSupport.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QThread>

namespace sim {
namespace {

struct State {
    QMutex mutex;
    QString path;
    QDateTime modified;
    QJsonObject scenario;
    QHash<QByteArray, int> calls;
    QHash<QByteArray, QByteArray> kept;
};

State &state() {
    static State s;
    return s;
}

// Call with the mutex held.
void reloadIfChanged(State &s) {
    const QString path = qEnvironmentVariable("Q7_SIM_SCENARIO");
    const QDateTime modified = path.isEmpty() ? QDateTime() : QFileInfo(path).lastModified();
    if (path == s.path && modified == s.modified)
        return;
    s.path = path;
    s.modified = modified;
    s.calls.clear();
    s.scenario = QJsonObject();
    QFile file(path);
    if (!path.isEmpty() && file.open(QIODevice::ReadOnly))
        s.scenario = QJsonDocument::fromJson(file.readAll()).object();
}

} // namespace

QJsonObject scenario() {
    State &s = state();
    QMutexLocker locker(&s.mutex);
    reloadIfChanged(s);
    return s.scenario;
}

QJsonValue nextReply(const char *entryPoint) {
    State &s = state();
    QMutexLocker locker(&s.mutex);
    reloadIfChanged(s);
    const int index = s.calls[entryPoint]++;
    const QJsonValue replies = s.scenario.value(QLatin1String(entryPoint));
    if (!replies.isArray())
        return replies;
    const QJsonArray list = replies.toArray();
    if (list.isEmpty())
        return QJsonValue(QJsonValue::Undefined);
    return list.at(qMin(index, list.size() - 1));
}

int callCount(const char *entryPoint) {
    State &s = state();
    QMutexLocker locker(&s.mutex);
    reloadIfChanged(s);
    return s.calls.value(entryPoint);
}

void logCall(const char *entryPoint, const QJsonObject &arguments) {
    const QString path = qEnvironmentVariable("Q7_SIM_CALLS");
    State &s = state();
    QMutexLocker locker(&s.mutex);
    if (!path.isEmpty()) {
        const QJsonObject line{{QStringLiteral("fn"), QString::fromLatin1(entryPoint)},
                               {QStringLiteral("args"), arguments}};
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Append))
            file.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
    }
    reloadIfChanged(s);
    const QJsonObject demora = s.scenario.value(QLatin1String("demoraMs")).toObject();
    const int ms = demora.value(QLatin1String(entryPoint)).toInt(demora.value(QLatin1String("*")).toInt());
    locker.unlock();
    if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}

void logReturn(const char *kind, const QJsonObject &value) {
    const QString path = qEnvironmentVariable("Q7_SIM_CALLS");
    QFile file(path);
    State &s = state();
    QMutexLocker locker(&s.mutex);
    if (!path.isEmpty() && file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(QJsonDocument(QJsonObject{{QStringLiteral("retorno"), QString::fromLatin1(kind)},
                                             {QStringLiteral("valor"), value}})
                       .toJson(QJsonDocument::Compact) +
                   '\n');
}

QList<QJsonObject> returns(const char *kind) {
    QFile file(qEnvironmentVariable("Q7_SIM_CALLS"));
    QList<QJsonObject> found;
    if (!file.open(QIODevice::ReadOnly))
        return found;
    const QString name = QString::fromLatin1(kind);
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        if (entry.value(QStringLiteral("retorno")).toString() == name)
            found << entry.value(QStringLiteral("valor")).toObject();
    }
    return found;
}

const char *keep(const char *slot, const QByteArray &bytes) {
    State &s = state();
    QMutexLocker locker(&s.mutex);
    QByteArray &kept = s.kept[slot];
    kept = bytes;
    return kept.constData();
}

QJsonValue text(const char *value) {
    return value ? QJsonValue(QString::fromUtf8(value)) : QJsonValue(QJsonValue::Null);
}

} // namespace sim
