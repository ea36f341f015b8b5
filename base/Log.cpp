#include "base/Log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QMutex>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>

namespace {

// Both files are written under one lock so that lines from the main thread and the
// controller thread never interleave.
QMutex &fileLock() {
    static QMutex mutex;
    return mutex;
}

// A destination that fails is told once on standard error, not at every line; `reported` holds
// the value last told of, cleared when it works again.
void reportOnce(QString &reported, const QString &value, const QString &message) {
    if (reported == value)
        return;
    reported = value;
    QMessageLogger().warning().noquote() << message;
}

bool appendLine(const QString &path, const QString &line) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    QTextStream stream(&file); // no codec: the locale's 8-bit encoding
    stream << line << '\n';
    return true;
}

void toMessageOutput(Log::Level level, const QString &message) {
    QMessageLogger logger;
    switch (level) {
    case Log::Debug:
        logger.debug().noquote() << message;
        break;
    case Log::Info:
        logger.info().noquote() << message;
        break;
    case Log::Critical:
        logger.critical().noquote() << message;
        break;
    default:
        break;
    }
}

void writeLine(int level, const QString &message) {
    const QString single = qEnvironmentVariable("Q7_LOG");
    const QString daily = qEnvironmentVariable("Q7_LOG_PATH");
    if (single.isEmpty() && daily.isEmpty())
        return;

    const QDateTime now = QDateTime::currentDateTime();
    const QString line = Log::formatLine(level, message, now);

    QMutexLocker locker(&fileLock());
    static QString singleReported;
    static QString dailyReported;
    if (!single.isEmpty()) {
        if (appendLine(single, line))
            singleReported.clear();
        else
            reportOnce(
                singleReported, single,
                QStringLiteral("Q7_LOG (%1) não pode ser aberto para escrita; as linhas de log não são "
                               "gravadas nele: indique um arquivo que o serviço possa escrever")
                    .arg(single));
    }
    if (daily.isEmpty())
        return;
    const QString dayFile =
        daily + QLatin1Char('/') + now.toString(QStringLiteral("ddMMyy")) + QStringLiteral("_Q7-LOG.txt");
    if (QDir(daily).exists() && appendLine(dayFile, line))
        dailyReported.clear();
    else
        reportOnce(
            dailyReported, daily,
            QStringLiteral("Q7_LOG_PATH (%1) não é um diretório onde o serviço possa escrever; as linhas "
                           "de log não são gravadas nele: crie o diretório ou corrija a variável")
                .arg(daily));
}

// Masked once, for both outputs.
void emitAt(Log::Level level, const QString &message) {
    const QString masked = Log::mask(message);
    toMessageOutput(level, masked);
    writeLine(level, masked);
}

// Capture groups of secretPattern().
enum SecretGroup { Tag = 1, TagValue, JsonKey, JsonValue, Track, Card, CardTrack };

const QRegularExpression &secretPattern() {
    static const QRegularExpression pattern = [] {
        QRegularExpression re(QStringLiteral(
            // "tag = value" lines of the exchange files
            R"re((?<![\w-])(375-025|210-004)[ \t]*=[ \t]*([^\r\n]*?)(?=[ \t]*(?:[\r\n]|$)))re"
            // members of the request document and of the Tef01 transaction document
            R"re(|"(adm_senha|transacao_administracao_senha)"\s*:\s*("(?:[^"\\]|\\.)*"|[^\s,}\]]+))re"
            // the track item of the Pagora transaction data, as item or as JSON member
            R"re(|\bTrilha02"?[ \t]*[:=][ \t]*"?([^,"\r\n]*))re"
            // any card number, with the track data that may follow it
            R"re(|(?<!\d)(\d{13,19})([=D]\d*)?(?!\d))re"));
        re.optimize();
        return re;
    }();
    return pattern;
}

bool luhnValid(const QStringRef &digits) {
    int sum = 0;
    bool twice = false;
    for (int i = digits.size() - 1; i >= 0; --i) {
        int digit = digits.at(i).unicode() - '0';
        if (twice && (digit *= 2) > 9)
            digit -= 9;
        sum += digit;
        twice = !twice;
    }
    return sum % 10 == 0;
}

QString stars(int count) {
    return QString(count, QLatin1Char('*'));
}

// A value too short to be a whole card number is hidden completely.
QString maskedCard(const QStringRef &card) {
    if (card.size() < 13)
        return stars(card.size());
    return card.left(6) + stars(card.size() - 10) + card.right(4);
}

// The card number (the leading digits, or stars where it is masked already), the separator
// kept, and the track data hidden whole.
QString maskedTrack(const QStringRef &track) {
    int digits = 0;
    while (digits < track.size() && (track.at(digits).isDigit() || track.at(digits) == QLatin1Char('*')))
        ++digits;
    if (digits == 0 || digits == track.size())
        return digits == 0 ? stars(track.size()) : maskedCard(track);
    return maskedCard(track.left(digits)) + track.at(digits) + stars(track.size() - digits - 1);
}

bool hasAsciiDigit(const QString &text) {
    return std::any_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
}

} // namespace

void Log::debug(const QString &message) const {
    emitAt(Debug, message);
}
void Log::debug(const char *message) const {
    emitAt(Debug, QString::fromUtf8(message));
}
void Log::info(const QString &message) const {
    emitAt(Info, message);
}
void Log::info(const char *message) const {
    emitAt(Info, QString::fromUtf8(message));
}
void Log::info(const char *message, int number) const {
    emitAt(Info, QString::fromUtf8(message) + QString::number(number));
}
void Log::critical(const QString &message) const {
    emitAt(Critical, message);
}
void Log::critical(const char *message) const {
    emitAt(Critical, QString::fromUtf8(message));
}

QString Log::formatLine(int level, const QString &message, const QDateTime &when) {
    static const char *const markers[] = {
        "{Debug} \t\t %1", "{Warning} \t %1", "{Error} \t\t %1", "{Fatal} \t\t %1", "{Info} \t\t %1",
    };
    QString line =
        QStringLiteral("{%1}{%2}")
            .arg(when.toString(QStringLiteral("dd/MM/yy hh:mm:ss")), QStringLiteral("Q7_PAGORA_PASSIVO"));
    if (level >= Debug && level <= Info)
        line += QString::fromLatin1(markers[level]).arg(message);
    return line;
}

void Log::write(int level, const QString &message) {
    writeLine(level, mask(message));
}

QString Log::mask(const QString &text) {
    // Every secret holds a digit but a password member; most lines hold neither.
    if (!hasAsciiDigit(text) && !text.contains(QLatin1String("senha")))
        return text;

    QString masked;
    int copied = 0;
    const auto replace = [&](int start, int end, const QString &replacement) {
        masked += text.midRef(copied, start - copied);
        masked += replacement;
        copied = end;
    };
    QRegularExpressionMatchIterator it = secretPattern().globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        if (match.capturedLength(Tag) > 0) {
            const QStringRef value = match.capturedRef(TagValue);
            if (!value.isEmpty())
                replace(match.capturedStart(TagValue), match.capturedEnd(TagValue),
                        match.capturedRef(Tag) == QLatin1String("375-025") ? stars(4) : maskedTrack(value));
        } else if (match.capturedLength(JsonKey) > 0) {
            const bool quoted = match.capturedRef(JsonValue).startsWith(QLatin1Char('"'));
            replace(match.capturedStart(JsonValue), match.capturedEnd(JsonValue),
                    quoted ? QStringLiteral("\"****\"") : stars(4));
        } else if (match.capturedStart(Track) >= 0) {
            const QStringRef value = match.capturedRef(Track);
            if (!value.isEmpty())
                replace(match.capturedStart(Track), match.capturedEnd(Track), maskedTrack(value));
        } else if (luhnValid(match.capturedRef(Card))) {
            const QStringRef trackData = match.capturedRef(CardTrack);
            QString replacement = maskedCard(match.capturedRef(Card));
            if (!trackData.isEmpty())
                replacement += trackData.at(0) + stars(trackData.size() - 1);
            replace(match.capturedStart(Card), match.capturedEnd(), replacement);
        }
    }
    if (masked.isNull())
        return text;
    masked += text.midRef(copied);
    return masked;
}
