#include "base/Log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMutex>
#include <QRegularExpression>
#include <QTextStream>
#include <QVector>

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

Log::Retention &retentionSetting() {
    static Log::Retention retention;
    return retention;
}

// The day's file is "ddMMyy" + this.
constexpr char kDailySuffix[] = "_Q7-LOG.txt";

// What the files themselves have to say, logged once the lock is let go.
struct Notice {
    Log::Level level;
    QString text;
};

bool appendLine(const QString &path, const QString &line) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    QTextStream stream(&file); // no codec: the locale's 8-bit encoding
    stream << line << '\n';
    return true;
}

// The oldest copy goes, the others move up one, and Q7_LOG itself becomes copy 1.
bool rotate(const QString &single, int copies) {
    QFile::remove(Log::rotatedName(single, copies));
    for (int n = copies - 1; n >= 1; --n)
        QFile::rename(Log::rotatedName(single, n), Log::rotatedName(single, n + 1));
    return QFile::rename(single, Log::rotatedName(single, 1));
}

// Q7_LOG, set aside first once it has reached its size. One that cannot be renamed (held open
// by another program on Windows) grows on, and is tried again a quarter of that size later.
bool appendSingle(const QString &path, const QString &line, QVector<Notice> *notices) {
    static qint64 retryAt = 0;
    const Log::Retention &retention = retentionSetting();
    const qint64 size = QFileInfo(path).size();
    if (size >= qMax(retention.singleBytes, retryAt)) {
        if (rotate(path, qMax(1, retention.singleCopies))) {
            retryAt = 0;
        } else {
            retryAt = size + retention.singleBytes / 4;
            notices->append(
                {Log::Critical, QStringLiteral("[Log] Impossível renomear %1 para %2; o arquivo continua "
                                               "crescendo: feche o programa que o mantém aberto")
                                    .arg(path, Log::rotatedName(path, 1))});
        }
    }
    return appendLine(path, line);
}

// The day's file names its date, "ddMMyy_Q7-LOG.txt": files of that name from before the kept
// days go. Nothing else in the directory is touched, links and directories of that name neither.
void sweep(const QString &daily, const QDate &today, int days, QVector<Notice> *notices) {
    static const QRegularExpression dayName(QStringLiteral("^(\\d\\d)(\\d\\d)(\\d\\d)") +
                                            QRegularExpression::escape(QLatin1String(kDailySuffix)) +
                                            QLatin1Char('$'));
    const QDate oldestKept = today.addDays(-days);
    int removed = 0;
    QStringList stuck;
    const QDir dir(daily);
    for (const QFileInfo &file : dir.entryInfoList({QLatin1Char('*') + QLatin1String(kDailySuffix)},
                                                   QDir::Files | QDir::NoSymLinks | QDir::Hidden)) {
        const QRegularExpressionMatch match = dayName.match(file.fileName());
        if (!match.hasMatch())
            continue;
        const QDate date(2000 + match.capturedRef(3).toInt(), match.capturedRef(2).toInt(),
                         match.capturedRef(1).toInt());
        if (!date.isValid() || date >= oldestKept)
            continue;
        if (QFile::remove(file.filePath()))
            ++removed;
        else
            stuck << file.fileName();
    }
    if (removed > 0)
        notices->append({Log::Info, QStringLiteral("[Log] %1 arquivo(s) de log diário de mais de %2 dias "
                                                   "removido(s) de %3")
                                        .arg(removed)
                                        .arg(days)
                                        .arg(daily)});
    if (!stuck.isEmpty())
        notices->append({Log::Critical, QStringLiteral("[Log] Impossível remover %1 log(s) diário(s) de mais "
                                                       "de %2 dias de %3 (%4); dê à conta do serviço "
                                                       "permissão de escrita no diretório")
                                            .arg(stuck.size())
                                            .arg(days)
                                            .arg(daily, stuck.join(QStringLiteral(", ")))});
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

QVector<Notice> writeLine(int level, const QString &message) {
    QVector<Notice> notices;
    const QString single = qEnvironmentVariable("Q7_LOG");
    const QString daily = qEnvironmentVariable("Q7_LOG_PATH");
    if (single.isEmpty() && daily.isEmpty())
        return notices;

    const QDateTime now = QDateTime::currentDateTime();
    const QString line = Log::formatLine(level, message, now);

    QMutexLocker locker(&fileLock());
    static QString singleReported;
    static QString dailyReported;
    static QString swept; // the day's file the last sweep was for
    if (!single.isEmpty()) {
        if (appendSingle(single, line, &notices))
            singleReported.clear();
        else
            reportOnce(
                singleReported, single,
                QStringLiteral("Q7_LOG (%1) não pode ser aberto para escrita; as linhas de log não são "
                               "gravadas nele: indique um arquivo que o serviço possa escrever")
                    .arg(single));
    }
    if (daily.isEmpty())
        return notices;
    const QString dayFile =
        daily + QLatin1Char('/') + now.toString(QStringLiteral("ddMMyy")) + QLatin1String(kDailySuffix);
    if (QDir(daily).exists() && appendLine(dayFile, line)) {
        dailyReported.clear();
        if (swept != dayFile && retentionSetting().days > 0)
            sweep(daily, now.date(), retentionSetting().days, &notices);
        swept = dayFile;
    } else
        reportOnce(
            dailyReported, daily,
            QStringLiteral("Q7_LOG_PATH (%1) não é um diretório onde o serviço possa escrever; as linhas "
                           "de log não são gravadas nele: crie o diretório ou corrija a variável")
                .arg(daily));
    return notices;
}

// Capture groups of secretPattern().
enum SecretGroup {
    Tag = 1,
    TagValue,
    JsonKey,
    JsonValue,
    Track,
    Kept,
    Pan,
    Holder,
    PanData,
    LabelValue,
    Run
};

const QRegularExpression &secretPattern() {
    static const QRegularExpression pattern = [] {
        QRegularExpression re(QStringLiteral(
            // "tag = value" lines of the exchange files
            R"re((?<![\w-])(375-025|210-004)[ \t]*=[ \t]*([^\r\n]*?)(?=[ \t]*(?:[\r\n]|$)))re"
            // members of the request document and of the Tef01 transaction document
            R"re(|"(adm_senha|transacao_administracao_senha)"\s*:\s*("(?:[^"\\]|\\.)*"|[^\s,}\]]+))re"
            // the track item of the Pagora transaction data, as item or as JSON member
            R"re(|\bTrilha02"?[ \t]*[:=][ \t]*"?([^,"\r\n]*))re"
            // identifiers support reads (merchant, NSU, authorisation, control code): a whole value
            // of up to 15 digits is no card, however it passes Luhn
            R"re(|(?:(?<![\w-])(?:150-000|012-000|013-000|027-000)[ \t]*=[ \t]*)re"
            R"re(|"(?:identificadorEstabelecimento|nsuTerminal|codigoAutorizacao|)re"
            R"re(identificadorConfirmacaoTransacao)")re"
            R"re(\s*:\s*"?)(\d{1,15})(?![ .-]?\d))re"
            // track 1, with or without its sentinels: card number, cardholder's name, the rest
            R"re(|B(\d{13,19})\^([^^\r\n]{0,60})\^([^?\s",;]*))re"
            // security code and expiry after their labels
            R"re(|(?i:\b(?:cvv2?|cvc2?|cid|val|validade|venc|vencimento|exp|expira|validity)\b)\.?[ \t]*[:=-]?[ \t]*)re"
            R"re((\d\d[/-]\d\d(?:\d\d)?|\d{3,4})(?![\d/]))re"
            // 13 digits or more, alone or grouped by single blanks, dashes or dots: maybe a card
            // number (a shorter run is left to the search, which goes past it unmatched)
            R"re(|(\d(?:[ .-]?\d){12,}))re"));
        re.optimize();
        return re;
    }();
    return pattern;
}

bool isAsciiDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
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

// A run of digits, separators kept. A card may be written in groups, or sit inside a longer run
// after a number of another kind: every Luhn-valid window of 13 to 19 digits between group edges,
// and every one of 16 digits anywhere, keeps only its first six and last four digits.
// `endsInCard` tells whether such a window ends the run, so that track data may follow.
QString maskedRun(const QStringRef &run, bool *endsInCard) {
    QString digits;
    QVector<int> at;       // where each digit is in the run
    QVector<int> edges{0}; // digit counts at which a group starts, and the end
    for (int i = 0; i < run.size(); ++i) {
        if (isAsciiDigit(run.at(i))) {
            digits += run.at(i);
            at << i;
        } else {
            edges << digits.size();
        }
    }
    edges << digits.size();
    QString masked = run.toString();
    *endsInCard = false;
    const auto window = [&](int start, int end) {
        if (!luhnValid(digits.midRef(start, end - start)))
            return;
        for (int i = start + 6; i < end - 4; ++i)
            masked[at.at(i)] = QLatin1Char('*');
        *endsInCard = *endsInCard || end == digits.size();
    };
    for (int i = 0; i < edges.size(); ++i)
        for (int j = i + 1; j < edges.size() && edges.at(j) - edges.at(i) <= 19; ++j)
            if (edges.at(j) - edges.at(i) >= 13)
                window(edges.at(i), edges.at(j));
    for (int start = 0; start + 16 <= digits.size(); ++start)
        window(start, start + 16);
    return masked;
}

bool hasAsciiDigit(const QString &text) {
    return std::any_of(text.cbegin(), text.cend(), isAsciiDigit);
}

bool isControl(char16_t c) {
    return c < 0x20 || (c >= 0x7f && c < 0xa0) || c == 0x2028 || c == 0x2029;
}

bool isLineControl(char16_t c) {
    return c == u'\n' || c == u'\r' || c == u'\t';
}

// Control characters as escapes: what comes from outside never starts a line of its own, nor
// moves the cursor of whoever reads the log in a terminal. `lineControls` chooses line breaks
// and tabs, or all the others and surrogates without their pair (no pattern matches in a text
// that holds one, so nothing in it would be masked).
QString escaped(const QString &text, bool lineControls) {
    // Plain ASCII, most of any log, needs nothing.
    const auto first = std::find_if(text.cbegin(), text.cend(),
                                    [](QChar c) { return c.unicode() < 0x20 || c.unicode() >= 0x7f; });
    if (first == text.cend())
        return text;
    QString line;
    int copied = 0;
    for (int i = int(first - text.cbegin()); i < text.size(); ++i) {
        const char16_t code = text.at(i).unicode();
        if (QChar::isHighSurrogate(code) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        if (lineControls ? !isLineControl(code)
                         : !QChar::isSurrogate(code) && (!isControl(code) || isLineControl(code)))
            continue;
        line += text.midRef(copied, i - copied);
        copied = i + 1;
        if (code == u'\n')
            line += QLatin1String("\\n");
        else if (code == u'\r')
            line += QLatin1String("\\r");
        else if (code == u'\t')
            line += QLatin1String("\\t");
        else if (code < 0x100)
            line += QStringLiteral("\\x%1").arg(static_cast<uint>(code), 2, 16, QLatin1Char('0'));
        else
            line += QStringLiteral("\\u%1").arg(static_cast<uint>(code), 4, 16, QLatin1Char('0'));
    }
    if (copied == 0)
        return text;
    line += text.midRef(copied);
    return line;
}

void emitAt(Log::Level level, const QString &message);

// Writes an already safe line, then logs what the files had to say about it.
void writeAndTell(int level, const QString &safe) {
    for (const Notice &notice : writeLine(level, safe))
        emitAt(notice.level, notice.text);
}

// Made safe once, for both outputs.
void emitAt(Log::Level level, const QString &message) {
    const QString safe = Log::safe(message);
    toMessageOutput(level, safe);
    writeAndTell(level, safe);
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
    writeAndTell(level, safe(message));
}

void Log::setRetention(const Retention &retention) {
    QMutexLocker locker(&fileLock());
    retentionSetting() = retention;
}

Log::Retention Log::retention() {
    QMutexLocker locker(&fileLock());
    return retentionSetting();
}

QString Log::rotatedName(const QString &single, int n) {
    const QFileInfo info(single);
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    return single.left(single.size() - suffix.size()) + QLatin1Char('.') + QString::number(n) + suffix;
}

QString Log::safe(const QString &text) {
    // The digits of an escape such as \x01 can join the digits after it: masked with them. Line
    // breaks are escaped last, for masking reads "tag = value" lines by them.
    return escaped(mask(escaped(text, false)), true);
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
    QRegularExpressionMatch match;
    for (int from = 0; (match = secretPattern().match(text, from)).hasMatch();) {
        from = match.capturedEnd();
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
        } else if (match.capturedLength(Pan) > 0) {
            replace(match.capturedStart(Pan), match.capturedEnd(PanData),
                    maskedCard(match.capturedRef(Pan)) + QLatin1Char('^') +
                        stars(match.capturedLength(Holder)) + QLatin1Char('^') +
                        stars(match.capturedLength(PanData)));
        } else if (match.capturedLength(LabelValue) > 0) {
            replace(match.capturedStart(LabelValue), match.capturedEnd(LabelValue),
                    stars(match.capturedLength(LabelValue)));
        } else if (match.capturedLength(Run) > 0) {
            bool endsInCard = false;
            QString run = maskedRun(match.capturedRef(Run), &endsInCard);
            // Track 2 data after the card number: the separator kept, the digits hidden.
            if (endsInCard && from < text.size() &&
                (text.at(from) == QLatin1Char('=') || text.at(from) == QLatin1Char('D'))) {
                int end = from + 1;
                while (end < text.size() && isAsciiDigit(text.at(end)))
                    ++end;
                run += text.at(from) + stars(end - from - 1);
                from = end;
            }
            if (from != match.capturedEnd() || run != match.capturedRef(Run))
                replace(match.capturedStart(Run), from, run);
        }
    }
    if (masked.isNull())
        return text;
    masked += text.midRef(copied);
    return masked;
}
