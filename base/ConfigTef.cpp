#include "base/ConfigTef.h"

#include "base/Version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

namespace {
const char kPathIn[] = "path_in";
const char kPathOut[] = "path_out";
const char kFileReq[] = "file_req";
const char kFileResp[] = "file_resp";
const char kLog[] = "log";
const char kProdutoTef[] = "produto_tef";
const char kCodificacao[] = "codificacao";
const char kUtf8[] = "utf-8";
const char kWindows1252[] = "windows-1252";
const char kCompatibilidade[] = "compatibilidade";
const char kPadrao[] = "padrao";
const char kTefDial[] = "tefdial";
} // namespace

ConfigTef::ConfigTef(const QString &directory)
    : m_directory(directory.isEmpty() ? QCoreApplication::applicationDirPath() : directory) {
    carregar();
    criarDiretorios();
}

QString ConfigTef::filePath() const {
    return m_directory + QStringLiteral("/config_tef.json");
}

void ConfigTef::carregar() {
    const QString path = filePath();
    const QString oldPath = m_directory + QStringLiteral("/config_tefOLD.json");

    // A loop, not recursion: an invalid file is set aside once and the defaults are written.
    for (;;) {
        if (!QFileInfo::exists(path)) {
            m_log.info("Arquivo não existe");
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly)) {
                m_log.critical("Impossível escrever no arquivo");
                return;
            }
            setPathIn(QStringLiteral("C:/Cliente/Req"));
            setPathOut(QStringLiteral("C:/Cliente/Resp"));
            setFileReq(QStringLiteral("IntPos.001"));
            setFileResp(QStringLiteral("IntPos.Sts"));
            setLog(0);
            setProdutoTef(-1);
            file.write(QJsonDocument(m_values).toJson());
            file.close();
            m_log.info("Arquivo criado com sucesso");
            return;
        }

        QFile file(path);
        // Why the file is set aside; empty: it lacks a required key.
        QString problem;
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            problem = QFileInfo(path).isDir()
                          ? QStringLiteral("config_tef.json é um diretório, não um arquivo")
                          : QStringLiteral("Impossível ler config_tef.json: ") + file.errorString();
        } else {
            QByteArray bytes = file.readAll();
            file.close();
            const int zero = bytes.indexOf('\0');
            if (zero >= 0)
                bytes.truncate(zero);
            QJsonParseError error{};
            const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
            if (bytes.isEmpty())
                problem = QStringLiteral("Arquivo de configuração vazio");
            else if (bytes.trimmed().isEmpty())
                problem = QStringLiteral("Arquivo de configuração só contém espaços em branco");
            else if (document.isNull())
                problem = QStringLiteral("Arquivo de configuração não é JSON (erro na posição %1)")
                              .arg(error.offset);
            else if (!document.isObject())
                problem = QStringLiteral("Arquivo de configuração não é um objeto JSON");
            else if (apply(document.object()))
                return;
        }

        if (problem.isEmpty())
            m_log.debug("Arquivo existe mas não contém as chaves necessárias");
        else
            m_log.critical(problem);
        // Never overwrite an earlier copy: give up with empty settings instead.
        if (!QFile::rename(path, oldPath)) {
            m_log.critical("Impossível renomear arquivo para config_tefOLD.json");
            m_values = QJsonObject();
            return;
        }
        m_log.info("Arquivo inválido, renomeado para config_tefOLD.json");
    }
}

bool ConfigTef::apply(const QJsonObject &object) {
    if (!object.contains(QLatin1String(kPathIn)) || !object.contains(QLatin1String(kPathOut)) ||
        !object.contains(QLatin1String(kFileReq)) || !object.contains(QLatin1String(kFileResp)))
        return false;
    setPathIn(object.value(QLatin1String(kPathIn)).toString());
    setPathOut(object.value(QLatin1String(kPathOut)).toString());
    setFileReq(object.value(QLatin1String(kFileReq)).toString());
    setFileResp(object.value(QLatin1String(kFileResp)).toString());
    setLog(object.value(QLatin1String(kLog)).toInt(0));
    // As written: getProdutoTef() accepts exactly the listed integers, and the log names the rest.
    m_values.insert(QLatin1String(kProdutoTef), object.value(QLatin1String(kProdutoTef)));
    // Optional, so the file created above keeps its six keys.
    const auto optional = [&](const char *key, const char *first, const char *second, const char *what) {
        if (!object.contains(QLatin1String(key)))
            return;
        const QString value = object.value(QLatin1String(key)).toString();
        m_values.insert(QLatin1String(key), value);
        if (value.compare(QLatin1String(first), Qt::CaseInsensitive) != 0 &&
            value.compare(QLatin1String(second), Qt::CaseInsensitive) != 0)
            m_log.critical(QString::fromUtf8(what) + QStringLiteral(" desconhecida: ") + value +
                           QStringLiteral("; usando ") + QLatin1String(first));
    };
    optional(kCodificacao, kUtf8, kWindows1252, "Codificação");
    optional(kCompatibilidade, kPadrao, kTefDial, "Compatibilidade");
    return true;
}

// Elsewhere than on Windows "C:/Cliente/Req", the default, is a relative path: creating it
// would leave a "C:" folder in whatever the working directory is. Such a path is left to
// whoever makes it; the monitor waits for it to exist.
bool ConfigTef::creatable(const QString &path) const {
#ifdef Q_OS_WIN
    Q_UNUSED(path)
    return true;
#else
    const bool drive = path.size() >= 2 && path.at(0).isLetter() && path.at(0).unicode() < 128 &&
                       path.at(1) == QLatin1Char(':');
    if (drive)
        m_log.info(QStringLiteral("Caminho com unidade do Windows não é criado: ") + path);
    return !drive;
#endif
}

void ConfigTef::criarDiretorios() {
    m_directoryProblem.clear();
    const auto make = [this](const char *key, const QString &path) {
        if (!QDir(path).exists() && creatable(path) && !QDir().mkpath(path) && m_directoryProblem.isEmpty())
            m_directoryProblem = QFileInfo(path).exists() && !QFileInfo(path).isDir()
                                     ? QStringLiteral("%1 (%2) não é um diretório; corrija config_tef.json")
                                           .arg(QLatin1String(key), path)
                                     : QStringLiteral("Impossível criar %1 (%2); crie o diretório ou "
                                                      "corrija config_tef.json")
                                           .arg(QLatin1String(key), path);
    };
    make(kPathIn, getPathIn());
    if (QDir(getPathOut()).exists())
        m_log.debug("Diretórios já existentes");
    else
        make(kPathOut, getPathOut());
}

QString ConfigTef::text(const char *key) const {
    return m_values.value(QLatin1String(key)).toString();
}

QString ConfigTef::getPathIn() const {
    return text(kPathIn);
}
void ConfigTef::setPathIn(const QString &value) {
    m_values.insert(QLatin1String(kPathIn), value);
}
QString ConfigTef::getPathOut() const {
    return text(kPathOut);
}
void ConfigTef::setPathOut(const QString &value) {
    m_values.insert(QLatin1String(kPathOut), value);
}
QString ConfigTef::getFileReq() const {
    return text(kFileReq);
}
void ConfigTef::setFileReq(const QString &value) {
    m_values.insert(QLatin1String(kFileReq), value);
}
QString ConfigTef::getFileResp() const {
    return text(kFileResp);
}
void ConfigTef::setFileResp(const QString &value) {
    m_values.insert(QLatin1String(kFileResp), value);
}

int ConfigTef::getProdutoTef() const {
    // Exactly one of the listed integers: a text, a fraction or a number out of range is no product.
    const QJsonValue stored = m_values.value(QLatin1String(kProdutoTef));
    const double number = stored.toDouble(-2);
    if (!stored.isDouble() || (number != -1 && number != 0 && number != 1 && number != 2))
        return -2;
    return number == -1 ? 0 : int(number);
}

QString ConfigTef::produtoTefText() const {
    const QJsonValue stored = m_values.value(QLatin1String(kProdutoTef));
    switch (stored.type()) {
    case QJsonValue::Double:
        return QString::number(stored.toDouble(), 'g', 15);
    case QJsonValue::String:
        return QLatin1Char('"') + stored.toString() + QLatin1Char('"');
    case QJsonValue::Bool:
        return QLatin1String(stored.toBool() ? "true" : "false");
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Undefined:
        return QStringLiteral("ausente");
    default:
        return QString::fromUtf8(stored.isArray()
                                     ? QJsonDocument(stored.toArray()).toJson(QJsonDocument::Compact)
                                     : QJsonDocument(stored.toObject()).toJson(QJsonDocument::Compact));
    }
}

void ConfigTef::setProdutoTef(int value) {
    m_values.insert(QLatin1String(kProdutoTef), value);
}

QString ConfigTef::getCodificacao() const {
    return text(kCodificacao).compare(QLatin1String(kWindows1252), Qt::CaseInsensitive) == 0
               ? QString::fromLatin1(kWindows1252)
               : QString::fromLatin1(kUtf8);
}

QString ConfigTef::getCompatibilidade() const {
    return text(kCompatibilidade).compare(QLatin1String(kTefDial), Qt::CaseInsensitive) == 0
               ? QString::fromLatin1(kTefDial)
               : QString::fromLatin1(kPadrao);
}

void ConfigTef::setLog(int value) {
    m_values.insert(QLatin1String(kLog), value);
    m_log.debug(QStringLiteral("log: ") + QString::number(value));
    if (value == 1 && qEnvironmentVariableIsEmpty("Q7_LOG")) {
        qputenv("Q7_LOG", "q7_log.txt");
        m_log.info(QStringLiteral("Versão: ") + QString::fromUtf8(kVersionText));
    }
}
