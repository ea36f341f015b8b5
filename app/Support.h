#pragma once

#include <QString>

#include <optional>

// What a technician runs in place of the service, which neither starts nor disturbs a running one:
// `--verificar` checks what a failed sale would otherwise reveal, one line per check, and
// `--pendentes` lists the transactions the journal holds. Both print on standard output.
namespace support {

// The exit status of the command argv names; none when it names none and the service is to start.
// `stateDirectory`: where config_tef.json lives; empty: the executable's directory.
std::optional<int> runCommand(int argc, char *argv[], const QString &stateDirectory);

// 0 when every check passed, else 1.
int runVerificar(const QString &stateDirectory);
// 0 with the table (or the line that says there is nothing), 1 when the journal cannot be read.
int runPendentes(const QString &stateDirectory);

} // namespace support
