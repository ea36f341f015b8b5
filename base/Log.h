#pragma once

#include <QString>

class QDateTime;

// Stateless logger: every call goes to Qt's message output and, when Q7_LOG and/or
// Q7_LOG_PATH are set, appends one line to the log file(s). The environment is read on
// every call, so logging can be switched on while the process runs.
// Neither file grows forever on a PC that runs for years: Q7_LOG is renamed aside once it
// reaches a size (a few of those copies are kept), and the daily files of Q7_LOG_PATH older
// than a number of days are removed, once a day. Only names the service gives are touched.
class Log {
public:
    enum Level { Debug = 0, Warning = 1, Critical = 2, Fatal = 3, Info = 4 };

    struct Retention {
        int days = 90;                        // daily files kept; 0: all of them
        qint64 singleBytes = 5 * 1024 * 1024; // Q7_LOG is set aside from this size
        int singleCopies = 3;                 // set-aside copies kept: name.1.txt ... name.3.txt
    };
    static void setRetention(const Retention &retention);
    static Retention retention();
    // The name of Q7_LOG's copy `n` (1 the newest): "q7_log.txt" gives "q7_log.1.txt".
    static QString rotatedName(const QString &single, int n);

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
