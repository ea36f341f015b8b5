#pragma once

#include "base/Log.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

// The settings of config_tef.json, kept in one JSON object with typed reads.
// Loads (or creates) the file and creates the request and response directories on construction.
class ConfigTef {
public:
    // ReadOnly: the file is only read, never created or set aside, no directory is made and
    // logging is not switched on; loadProblem() tells why it could not be read.
    enum Access { Prepare, ReadOnly };

    // `directory` holds config_tef.json; empty means the executable's directory.
    explicit ConfigTef(const QString &directory = QString(), Access access = Prepare);

    void carregar();
    void criarDiretorios();

    QString getPathIn() const;
    void setPathIn(const QString &value);
    QString getPathOut() const;
    void setPathOut(const QString &value);
    QString getFileReq() const;
    void setFileReq(const QString &value);
    QString getFileResp() const;
    void setFileResp(const QString &value);
    // 0, 1 or 2 (-1 reads as 0); -2 for anything else, also a text, a fraction or no value.
    int getProdutoTef() const;
    // "produto_tef" as written, for a log line: 5, "1", null, ausente.
    QString produtoTefText() const;
    // A key's value as written, for a line of the log or of a check: a text where a number
    // belongs is quoted; null, ausente.
    QString valueText(const QString &key) const;
    // Days the daily log files are kept: the optional key "log_dias" (0 keeps them all), or 90.
    int logDias() const;
    void setProdutoTef(int value);
    void setLog(int value);
    // Encoding of the exchange files: "windows-1252" when the optional key "codificacao"
    // says so, otherwise "utf-8".
    QString getCodificacao() const;
    // Layout of the response file: "tefdial" when the optional key "compatibilidade" says so
    // (for sales applications of the TEF Dial kind), otherwise "padrao".
    QString getCompatibilidade() const;

    QJsonObject values() const { return m_values; }
    QString filePath() const;
    // Where config_tef.json lives: the service's own state (the journal, the fate of a request).
    QString directory() const { return m_directory; }
    // Why path_in or path_out cannot serve (not a directory, cannot be created); empty when they can.
    QString directoryProblem() const { return m_directoryProblem; }

    // Why the file could not be read, with what to do; empty when it was. ReadOnly only.
    QString loadProblem() const { return m_loadProblem; }
    // The keys a check goes through: the required ones, then the optional ones that are present.
    QStringList presentKeys() const;
    // What is wrong with `key`'s value, with what to do; empty when it serves.
    QString keyProblem(const QString &key) const;
    // What keeps directory `key` (path_in or path_out) from serving, with nothing created: it is
    // no directory, or cannot be made, or not written to (a probe file is made and removed).
    QString directoryCheck(const QString &key) const;
    // Whether a file can be made in `directory`: one is made there and removed at once.
    static bool acceptsFiles(const QString &directory);
    // The single log file the service writes: Q7_LOG, or the default one when "log" is 1.
    QString logFile() const;

private:
    enum class FileState { Loaded, Absent, Invalid, KeysMissing };
    // Reads the file into m_values; `problem` gets why it is not Loaded.
    FileState readFile(QString *problem);
    QString text(const char *key) const;
    // Takes the settings from `object`; false when a required key is missing.
    bool apply(const QJsonObject &object);
    bool creatable(const QString &path) const;
    QString notADirectory(const char *key, const QString &path) const;
    QString cannotCreate(const char *key, const QString &path) const;

    Access m_access;
    QString m_loadProblem;
    QString m_directory;
    QJsonObject m_values;
    QString m_directoryProblem;
    Log m_log;
};
