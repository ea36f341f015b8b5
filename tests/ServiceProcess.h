#pragma once

// The real service as a process: the executable copied into a temporary directory with the
// replacement libraries it needs beside it, a config_tef.json of the test's own, relative
// request and response directories, and a private TMPDIR, so that the single-instance slot is
// the test's own and never a service's running on the machine.

#include "TefPosClient.h"
#include "app/SingleInstanceGuard.h"
#include "base/Version.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>

class ServiceProcess {
public:
    explicit ServiceProcess(const QStringList &libraries = {}) {
        QDir().mkpath(tmpDir());
        for (const QString &name : QStringList{QStringLiteral("q7_pagora_passivo")} + libraries)
            QFile::copy(QStringLiteral(Q7_BIN_DIR "/") + name, dir.filePath(name));
        client.requestDir = dir.filePath(QStringLiteral("req"));
        client.responseDir = dir.filePath(QStringLiteral("resp"));
        client.pollMs = 50;
        client.statusTimeoutMs = 20000;
        client.responseTimeoutMs = 30000;
    }
    ~ServiceProcess() {
        for (const auto &process : processes) {
            process->kill();
            process->waitForFinished();
        }
        removeIpcLeftovers();
    }
    ServiceProcess(const ServiceProcess &) = delete;
    ServiceProcess &operator=(const ServiceProcess &) = delete;

    void writeConfig(int product) const {
        QFile file(dir.filePath(QStringLiteral("config_tef.json")));
        if (file.open(QIODevice::WriteOnly))
            file.write(QStringLiteral("{\"path_in\": \"req\", \"path_out\": \"resp\", \"file_req\": "
                                      "\"IntPos.001\", \"file_resp\": \"IntPos.Sts\", \"log\": 0, "
                                      "\"produto_tef\": %1}")
                           .arg(product)
                           .toUtf8());
    }

    // The replacement libraries' scenario for the next start; empty: their default play.
    void setScenario(const QJsonObject &value) { scenario = value; }

    // Starts the service, logging to `logName` in the directory, with `extra` over the test's
    // own environment.
    QProcess *start(const QString &logName = QStringLiteral("service.log"),
                    const QProcessEnvironment &extra = QProcessEnvironment()) {
        processes.push_back(std::make_unique<QProcess>());
        QProcess *process = processes.back().get();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("Q7_LOG"), dir.filePath(logName));
        env.insert(QStringLiteral("TMPDIR"), tmpDir());
        env.insert(QStringLiteral("Q7_SIM_CALLS"), dir.filePath(QStringLiteral("calls.jsonl")));
        env.remove(QStringLiteral("Q7_LOG_PATH"));
        env.remove(QStringLiteral("Q7_SIM_SCENARIO"));
        if (!scenario.isEmpty()) {
            const QString name = dir.filePath(QStringLiteral("scenario%1.json").arg(processes.size()));
            QFile file(name);
            if (file.open(QIODevice::WriteOnly))
                file.write(QJsonDocument(scenario).toJson());
            env.insert(QStringLiteral("Q7_SIM_SCENARIO"), name);
        }
        env.insert(extra);
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(dir.path());
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(dir.filePath(QStringLiteral("q7_pagora_passivo")), QStringList());
        process->waitForStarted(10000);
        return process;
    }

    // The log's lines without their time stamp and service name.
    QStringList logLines(const QString &logName = QStringLiteral("service.log")) const {
        QStringList lines;
        for (const QByteArray &line : read(logName).split('\n'))
            if (!line.isEmpty())
                lines << QString::fromLocal8Bit(line).mid(38);
        return lines;
    }
    bool logged(const QString &text, const QString &logName = QStringLiteral("service.log")) const {
        return QString::fromLocal8Bit(read(logName)).contains(text);
    }

    // Arguments of every call of `entryPoint` the replacement libraries received, in order.
    QList<QJsonObject> calls(const QString &entryPoint) const {
        QList<QJsonObject> found;
        for (const QByteArray &line : read(QStringLiteral("calls.jsonl")).split('\n')) {
            const QJsonObject call = QJsonDocument::fromJson(line).object();
            if (call.value(QLatin1String("fn")).toString() == entryPoint)
                found << call.value(QLatin1String("args")).toObject();
        }
        return found;
    }

    // Whether a service holds this directory's single-instance slot.
    bool slotTaken() const {
        const bool wasSet = qEnvironmentVariableIsSet("TMPDIR");
        const QByteArray saved = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(tmpDir()));
        const bool taken = SingleInstanceGuard(QString::fromLatin1(kApplicationId)).isAnotherRunning();
        if (wasSet)
            qputenv("TMPDIR", saved);
        else
            qunsetenv("TMPDIR");
        return taken;
    }

    QByteArray read(const QString &name) const {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool write(const QString &name, const QByteArray &bytes) const {
        QDir().mkpath(QFileInfo(dir.filePath(name)).path());
        QFile file(dir.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }

    QTemporaryDir dir;
    TefPosClient client;

private:
    // A killed service leaves its System V semaphores, and its segment, behind. Their keys come
    // from the files beside them in the private TMPDIR; left there, they would outlive the
    // directory, and a later service of another user whose key happened to match would find
    // the slot locked for good.
    void removeIpcLeftovers() const {
        const QDir tmp(tmpDir());
        for (const QString &name : tmp.entryList({QStringLiteral("qipc_*")}, QDir::Files)) {
            const key_t key = ::ftok(QFile::encodeName(tmp.filePath(name)).constData(), 'Q');
            if (key == -1)
                continue;
            const int semaphore = ::semget(key, 1, 0);
            if (semaphore != -1)
                ::semctl(semaphore, 0, IPC_RMID);
            const int segment = ::shmget(key, 0, 0);
            shmid_ds info{};
            if (segment != -1 && ::shmctl(segment, IPC_STAT, &info) == 0 && info.shm_nattch == 0)
                ::shmctl(segment, IPC_RMID, &info);
        }
    }

    QString tmpDir() const { return dir.filePath(QStringLiteral("tmp")); }

    QJsonObject scenario;
    std::vector<std::unique_ptr<QProcess>> processes;
};
