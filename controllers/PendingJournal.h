#pragma once

#include <QList>
#include <QMutex>
#include <QString>

// The Tef01 library's approved transactions that still have to be confirmed or undone, kept in
// pendentes.json so that they survive a restart. Every change is on disk before the call that
// made it returns. Callable from any thread.
class PendingJournal {
public:
    struct Entry {
        QString sequencial;
        QString id;         // the request's identification
        QString controle;   // "027-000" of the response, once delivered
        QString nsu;        // the library's "nsuTerminal", "012-000" of the response
        QString adicionado; // local time, ISO 8601
        // Its response was delivered: the sales application may know the transaction.
        bool respondida = false;
    };

    // `path` empty: kept in memory only.
    explicit PendingJournal(const QString &path);

    // A transaction approved just now, not answered yet; one already there is not added again.
    void add(const Entry &entry);
    void markAnswered(const QString &sequencial, const QString &controle);
    // What a confirmation or undo settles: the entry it names by control code or NSU (none when
    // it names one the journal does not hold), or every answered entry when it names none.
    QList<Entry> toSettle(const QString &controle, const QString &nsu) const;
    QList<Entry> unanswered() const;
    void remove(const QString &sequencial);

private:
    void restore();
    void save() const; // call with the mutex held

    const QString m_path;
    mutable QMutex m_mutex;
    QList<Entry> m_entries;
    // A journal that exists but cannot be read is never overwritten: its sales would be lost.
    bool m_writable = true;
};
