#include "base/ConfigTef.h"

#include "base/Version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryFile>

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
const char kDefaultLogFile[] = "q7_log.txt";
const char kLogDias[] = "log_dias";
const int kMaxLogDias = 3650;
const char *const kRequired[] = {kProdutoTef, kPathIn, kPathOut, kFileReq, kFileResp};

// An optional key and the two values it takes, the first being the default.
struct Choice {
    const char *key;
    const char *first;
    const char *second;
    const char *what;
};
const Choice kChoices[] = {{kCodificacao, kUtf8, kWindows1252, "Codificação"},
                           {kCompatibilidade, kPadrao, kTefDial, "Compatibilidade"}};

// "log_dias": a whole number of days, 0 to kMaxLogDias.
bool readDays(const QJsonValue &stored, int *days) {
    const double number = stored.toDouble(-1);
    if (!stored.isDouble() || number < 0 || number > kMaxLogDias || number != int(number))
        return false;
    *days = int(number);
    return true;
}

bool known(const Choice &choice, const QString &value) {
    return value.compare(QLatin1String(choice.first), Qt::CaseInsensitive) == 0 ||
           value.compare(QLatin1String(choice.second), Qt::CaseInsensitive) == 0;
}
} // namespace

bool ConfigTef::acceptsFiles(const QString &directory) {
    QTemporaryFile probe(directory + QStringLiteral("/q7_verificar_XXXXXX"));
    return probe.open();
}

ConfigTef::ConfigTef(const QString &directory, Access access)
    : m_access(access)
    , m_directory(directory.isEmpty() ? QCoreApplication::applicationDirPath() : directory) {
    if (access == Prepare) {
        carregar();
        criarDiretorios();
        return;
    }
    QString problem;
    switch (readFile(&problem)) {
    case FileState::Loaded:
        break;
    case FileState::Absent:
        m_loadProblem = QStringLiteral("%1 não existe; copie para lá um config_tef.json válido, ou inicie o "
                                       "serviço uma vez para criar o padrão e ajuste-o")
                            .arg(filePath());
        break;
    case FileState::Invalid:
    case FileState::KeysMissing:
        m_loadProblem = problem + QStringLiteral(" (%1); corrija-o: o serviço o renomearia para "
                                                 "config_tefOLD.json e criaria um padrão")
                                      .arg(filePath());
        break;
    }
}

QString ConfigTef::filePath() const {
    return m_directory + QStringLiteral("/config_tef.json");
}

void ConfigTef::carregar() {
    const QString path = filePath();
    const QString oldPath = m_directory + QStringLiteral("/config_tefOLD.json");

    // A loop, not recursion: an invalid file is set aside once and the defaults are written.
    for (;;) {
        QString problem;
        const FileState state = readFile(&problem);
        if (state == FileState::Loaded)
            return;
        if (state == FileState::Absent) {
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

        if (state == FileState::KeysMissing)
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

ConfigTef::FileState ConfigTef::readFile(QString *problem) {
    const QString path = filePath();
    if (!QFileInfo::exists(path))
        return FileState::Absent;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *problem = QFileInfo(path).isDir()
                       ? QStringLiteral("config_tef.json é um diretório, não um arquivo")
                       : QStringLiteral("Impossível ler config_tef.json: ") + file.errorString();
        return FileState::Invalid;
    }
    QByteArray bytes = file.readAll();
    file.close();
    const int zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (bytes.isEmpty())
        *problem = QStringLiteral("Arquivo de configuração vazio");
    else if (bytes.trimmed().isEmpty())
        *problem = QStringLiteral("Arquivo de configuração só contém espaços em branco");
    else if (document.isNull())
        *problem =
            QStringLiteral("Arquivo de configuração não é JSON (erro na posição %1)").arg(error.offset);
    else if (!document.isObject())
        *problem = QStringLiteral("Arquivo de configuração não é um objeto JSON");
    else if (apply(document.object()))
        return FileState::Loaded;
    else {
        *problem = QStringLiteral("Arquivo de configuração não contém as chaves necessárias");
        return FileState::KeysMissing;
    }
    return FileState::Invalid;
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
    for (const Choice &choice : kChoices) {
        if (!object.contains(QLatin1String(choice.key)))
            continue;
        const QString value = object.value(QLatin1String(choice.key)).toString();
        m_values.insert(QLatin1String(choice.key), value);
        if (!known(choice, value))
            m_log.critical(QString::fromUtf8(choice.what) + QStringLiteral(" desconhecida: ") + value +
                           QStringLiteral("; usando ") + QLatin1String(choice.first));
    }
    if (object.contains(QLatin1String(kLogDias))) {
        m_values.insert(QLatin1String(kLogDias), object.value(QLatin1String(kLogDias)));
        const QString problem = keyProblem(QLatin1String(kLogDias));
        if (!problem.isEmpty()) {
            m_log.critical(problem + QStringLiteral("; por ora, %1 dias").arg(Log::Retention().days));
        } else if (m_access == Prepare) {
            Log::Retention retention = Log::retention();
            retention.days = logDias();
            Log::setRetention(retention);
        }
    }
    return true;
}

int ConfigTef::logDias() const {
    int days = Log::Retention().days;
    readDays(m_values.value(QLatin1String(kLogDias)), &days);
    return days;
}

QStringList ConfigTef::presentKeys() const {
    QStringList keys;
    for (const char *key : kRequired)
        keys << QLatin1String(key);
    for (const Choice &choice : kChoices)
        if (m_values.contains(QLatin1String(choice.key)))
            keys << QLatin1String(choice.key);
    if (m_values.contains(QLatin1String(kLogDias)))
        keys << QLatin1String(kLogDias);
    return keys;
}

QString ConfigTef::keyProblem(const QString &key) const {
    if (key == QLatin1String(kProdutoTef))
        return getProdutoTef() == -2
                   ? QStringLiteral("Produto TEF inválido: %1; use -1, 0, 1 ou 2 em produto_tef "
                                    "de config_tef.json")
                         .arg(produtoTefText())
                   : QString();
    for (const Choice &choice : kChoices)
        if (key == QLatin1String(choice.key))
            return known(choice, m_values.value(key).toString())
                       ? QString()
                       : QStringLiteral("%1 desconhecida: %2; use %3 ou %4 em %5 de config_tef.json")
                             .arg(QString::fromUtf8(choice.what), m_values.value(key).toString(),
                                  QLatin1String(choice.first), QLatin1String(choice.second), key);
    if (key == QLatin1String(kLogDias)) {
        int days = 0;
        return readDays(m_values.value(key), &days)
                   ? QString()
                   : QStringLiteral("Retenção de log inválida: %1; use em log_dias de config_tef.json "
                                    "um número inteiro de dias, de 0 (nunca remover) a %2")
                         .arg(valueText(key))
                         .arg(kMaxLogDias);
    }
    // A name or a path: without one the service would watch, or write, nothing it should.
    return m_values.value(key).toString().isEmpty()
               ? QStringLiteral("%1 vazio ou não é um texto; corrija config_tef.json").arg(key)
               : QString();
}

QString ConfigTef::directoryCheck(const QString &key) const {
    const QByteArray name = key.toLatin1();
    const QString path = text(name.constData());
    const QFileInfo info(path);
    if (info.exists() && !info.isDir())
        return notADirectory(name.constData(), path);
    if (info.exists())
        return acceptsFiles(path)
                   ? QString()
                   : QStringLiteral("%1 (%2) não aceita gravação; dê à conta do serviço permissão "
                                    "de escrita nele")
                         .arg(key, path);
    if (!creatable(path))
        return QStringLiteral("%1 (%2) não existe, e o serviço não o cria; crie o diretório ou corrija "
                              "config_tef.json")
            .arg(key, path);
    // The service makes it at its start: the nearest directory above must take it.
    QString above = info.absoluteFilePath();
    while (!QFileInfo::exists(above))
        above = QFileInfo(above).path();
    return QFileInfo(above).isDir() && acceptsFiles(above) ? QString() : cannotCreate(name.constData(), path);
}

QString ConfigTef::logFile() const {
    const QString single = qEnvironmentVariable("Q7_LOG");
    if (!single.isEmpty() || m_values.value(QLatin1String(kLog)).toInt(0) != 1)
        return single;
    return QLatin1String(kDefaultLogFile);
}

QString ConfigTef::notADirectory(const char *key, const QString &path) const {
    return QStringLiteral("%1 (%2) não é um diretório; corrija config_tef.json")
        .arg(QLatin1String(key), path);
}

QString ConfigTef::cannotCreate(const char *key, const QString &path) const {
    return QStringLiteral("Impossível criar %1 (%2); crie o diretório ou corrija config_tef.json")
        .arg(QLatin1String(key), path);
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
                                     ? notADirectory(key, path)
                                     : cannotCreate(key, path);
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
    return valueText(QLatin1String(kProdutoTef));
}

QString ConfigTef::valueText(const QString &key) const {
    const QJsonValue stored = m_values.value(key);
    switch (stored.type()) {
    case QJsonValue::Double:
        return QString::number(stored.toDouble(), 'g', 15);
    case QJsonValue::String:
        // Quoted where a number belongs, so that "1" and 1 read apart.
        if (key != QLatin1String(kProdutoTef) && key != QLatin1String(kLogDias))
            return stored.toString();
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
    if (value == 1 && m_access == Prepare && qEnvironmentVariableIsEmpty("Q7_LOG")) {
        qputenv("Q7_LOG", kDefaultLogFile);
        m_log.info(QStringLiteral("Versão: ") + QString::fromUtf8(kVersionText));
    }
}
