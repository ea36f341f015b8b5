#pragma once

#include <QString>

class QDateTime;

// Stateless logger: every call goes to Qt's message output and, when Q7_LOG and/or
// Q7_LOG_PATH are set, appends one line to the log file(s). The environment is read on
// every call, so logging can be switched on while the process runs.
class Log {
public:
    enum Level { Debug = 0, Warning = 1, Critical = 2, Fatal = 3, Info = 4 };

    void debug(const QString &message) const;
    void debug(const char *message) const;
    void info(const QString &message) const;
    void info(const char *message) const;
    void info(const char *message, int number) const;
    void critical(const QString &message) const;
    void critical(const char *message) const;

    // The one function that touches files. The message is made safe first.
    static void write(int level, const QString &message);

    // `text` with its secrets hidden: password values as "****"; card numbers (Luhn-valid, 13 to
    // 19 digits, alone or in groups split by single blanks, dashes or dots; the "210-004" and
    // "Trilha02" values; track 1 and 2) keep at most their first six and last four digits, and
    // the rest of a track, a security code or an expiry after its label is all "*". Identifiers
    // of up to 15 digits under their own tags (merchant, NSU, authorisation, control code) stay.
    static QString mask(const QString &text);

    // What a log line may show of `text`: masked, with control characters escaped (\n, \r,
    // \t, \xNN, \uNNNN), so that whatever came from outside, one line is one event.
    static QString safe(const QString &text);

    // "{dd/MM/yy hh:mm:ss}{Q7_PAGORA_PASSIVO}" followed by the level's marker and the message.
    static QString formatLine(int level, const QString &message, const QDateTime &when);
};
