#pragma once

#include "base/Log.h"

#include <QJsonObject>
#include <QString>

// The settings of config_tef.json, kept in one JSON object with typed reads.
// Loads (or creates) the file and creates the request and response directories on construction.
class ConfigTef {
public:
    // `directory` holds config_tef.json; empty means the executable's directory.
    explicit ConfigTef(const QString &directory = QString());

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

private:
    QString text(const char *key) const;
    // Takes the settings from `object`; false when a required key is missing.
    bool apply(const QJsonObject &object);
    bool creatable(const QString &path) const;

    QString m_directory;
    QJsonObject m_values;
    QString m_directoryProblem;
    Log m_log;
};
