#pragma once

#include <QList>
#include <QMutex>
#include <QString>

// A library's approved transactions that still have to be confirmed or undone, kept in a file
// (pendentes.json for Tef01) so that they survive a restart. Every change is on disk before the
// call that made it returns; one that cannot be written stays in memory, is logged, and goes to
// disk with the next write that succeeds. Callable from any thread.
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
        // What the client decided once a confirmation (1) or undo (0) named or covered it; it
        // stands until the library takes it. -1: nothing decided yet.
        int decisao = -1;
    };

    // `path` empty: kept in memory only. `owner` prefixes the log lines, such as "[Q7_Tef_Controller]".
    PendingJournal(const QString &path, const QString &owner);

    // The entries of the journal at `path`, changing nothing: empty when it is not there. Returns
    // why it cannot be read, empty when it can; `opened` false when it could not even be opened.
    static QString read(const QString &path, QList<Entry> *entries, bool *opened);

    const QString &path() const { return m_path; }
    // Whether the journal has been read and its file can be written now: tries both again when
    // they failed before. `reason` gets what is wrong.
    bool usable(QString *reason);

    // A transaction approved just now, not answered yet; one already there is not added again.
    void add(const Entry &entry);
    // The entries become `entries`: what a library that holds one transaction at a time holds.
    void reset(const QList<Entry> &entries);
    void markAnswered(const QString &sequencial, const QString &controle);
    // What a confirmation or undo names: the entry it names by control code or NSU (none when
    // it names one the journal does not hold), or every answered entry when it names none.
    QList<Entry> toSettle(const QString &controle, const QString &nsu) const;
    QList<Entry> unanswered() const;
    QList<Entry> entries() const;
    // Records `decisao` on those of `chosen` that have no decision yet, and returns every entry
    // that has one, in order: what is to be settled now. A later request never turns a decision.
    QList<Entry> decide(const QList<Entry> &chosen, int decisao);
    void remove(const QString &sequencial);

private:
    void restore();
    // Call with the mutex held; false, with m_problem set, when the file was not written.
    bool save();
    void saveOrTell(); // save(), logging what stays in memory only

    const QString m_path;
    const QString m_owner;
    mutable QMutex m_mutex;
    QList<Entry> m_entries;
    // The file's entries are in memory (or there was no file). A journal that exists but cannot
    // be read is never overwritten: its sales would be lost.
    bool m_read = true;
    QString m_problem;
};
