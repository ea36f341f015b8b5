#pragma once

// Shared plumbing of the replacement payment libraries.
//
// Scenario: a JSON object in the file named by Q7_SIM_SCENARIO. Each simulator defines its
// members; by convention a member named after an entry point holds the replies to it, one
// reply or an array of replies played in turn (the last one repeats). Without the variable,
// or with an unreadable file, the scenario is empty and the simulator plays its default.
//
// Call log: every call is appended to the file named by Q7_SIM_CALLS as one line of compact
// JSON {"fn": name, "args": {...}}, so tests can assert what the service passed.
//
// A slow library: the scenario member "demoraMs" maps entry point names (or "*" for every
// one) to milliseconds that each call spends before it answers.

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

namespace sim {

// The current scenario. Reloaded when Q7_SIM_SCENARIO names another file or the file
// changes; reloading also restarts every reply sequence.
QJsonObject scenario();

// The next reply for `entryPoint` from the scenario (undefined when it has none).
QJsonValue nextReply(const char *entryPoint);

// How many times `entryPoint` has been called since the scenario was (re)loaded.
int callCount(const char *entryPoint);

// Logs the call, then spends the scenario's "demoraMs" for `entryPoint`.
void logCall(const char *entryPoint, const QJsonObject &arguments);

// The books of a library, appended to the call log as {"retorno": kind, "valor": {...}}: what a
// test's ledger reads, and the store from which a library loaded again after a restart takes
// up its state, as a real one does from its own. Every simulator books, each with the sale's
// amount ("valor", in cents as the service sent it):
//   "inicio"      the first call of a sale (two for one sale is a payment started twice);
//   "aprovacao"   how it ended ("aprovada" true or false), with what the library needs later;
//   "liquidacao"  an approval confirmed or undone ("confirmar" 1 or 0).
void logReturn(const char *kind, const QJsonObject &value);
// Those lines of the call log for `kind`, oldest first.
QList<QJsonObject> returns(const char *kind);

// Keeps `bytes` alive until the next call to keep() for the same slot and returns a
// zero-terminated pointer to them: for entry points that return text they own.
const char *keep(const char *slot, const QByteArray &bytes);

// A text argument as received: null stays null in the log.
QJsonValue text(const char *value);

} // namespace sim
