#include "app/Support.h"

#include "app/ServiceWiring.h"
#include "app/SingleInstanceGuard.h"
#include "base/ConfigTef.h"
#include "base/Version.h"
#include "controllers/Pagora_API.h"
#include "controllers/Pagora_Controller.h"
#include "controllers/PendingJournal.h"
#include "controllers/Q7_Bridge_API.h"
#include "controllers/Q7_Tef_API.h"
#include "controllers/Q7_Tef_Controller.h"
#include "controllers/platform/CommandOutput.h"
#include "controllers/platform/DirectoryLock.h"
#include "controllers/platform/PaymentLibraries.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QVector>

#include <algorithm>

namespace support {
namespace {

void print(const QString &line) {
    platform::print(line + QLatin1Char('\n'));
}

// Nothing is written to the log files, which may not even exist yet, and the terminal shows only
// the commands' own lines.
struct QuietLog {
    QuietLog()
        : single(qEnvironmentVariable("Q7_LOG"))
        , daily(qEnvironmentVariable("Q7_LOG_PATH")) {
        qunsetenv("Q7_LOG");
        qunsetenv("Q7_LOG_PATH");
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    }
    const QString single;
    const QString daily;
};

class Checks {
public:
    void report(const QString &passed, const QString &problem) {
        print(problem.isEmpty() ? QStringLiteral("ok: ") + passed : QStringLiteral("ERRO: ") + problem);
        m_failed = m_failed || !problem.isEmpty();
    }
    int status() const { return m_failed ? 1 : 0; }

private:
    bool m_failed = false;
};

platform::PaymentLibrary libraryOf(int produto) {
    return produto == 0   ? platform::PaymentLibrary::APITEFOrvix
           : produto == 1 ? platform::PaymentLibrary::Bridge
                          : platform::PaymentLibrary::Tef01;
}

// Loaded and its entry points resolved; none is called.
template <typename Holder> QString libraryProblem(const Holder &holder, const QString &path) {
    if (!holder.isLoaded())
        return QStringLiteral(
                   "biblioteca de pagamento %1 não carrega (%2); instale-a ali ou corrija produto_tef "
                   "em config_tef.json")
            .arg(path, holder.errorString());
    const QStringList missing = unresolvedEntryPoints(holder);
    return missing.isEmpty()
               ? QString()
               : QStringLiteral("biblioteca de pagamento %1 não exporta %2; instale a versão que o "
                                "serviço usa")
                     .arg(path, missing.join(QStringLiteral(", ")));
}

QString libraryProblem(int produto, const QString &path) {
    // A bare name is looked for along the library search order.
    if (QFileInfo(path).isAbsolute() && !QFileInfo::exists(path))
        return QStringLiteral(
                   "biblioteca de pagamento %1 não encontrada; instale-a ali ou corrija produto_tef em "
                   "config_tef.json")
            .arg(path);
    if (produto == 0)
        return libraryProblem(Pagora_API(path), path);
    if (produto == 1)
        return libraryProblem(Q7_Bridge_API(path), path);
    Q7_Tef_API api(path);
    api.load();
    return libraryProblem(api, path);
}

// Where the product keeps its pending transactions; empty: it keeps none.
QString journalPath(const ConfigTef &config, int produto) {
    const char *name = produto == 0   ? Pagora_Controller::kJournalName
                       : produto == 2 ? Q7_Tef_Controller::kJournalName
                                      : nullptr;
    return name ? config.directory() + QLatin1Char('/') + QLatin1String(name) : QString();
}

QString readJournal(const QString &path, QList<PendingJournal::Entry> *entries) {
    bool opened = true;
    const QString reason = PendingJournal::read(path, entries, &opened);
    if (!opened)
        return QStringLiteral("diário %1 não abre (%2); libere o arquivo (permissão, antivírus)")
            .arg(path, reason);
    if (!reason.isEmpty())
        return QStringLiteral(
                   "diário %1 ilegível (%2); o serviço o poria de lado sem acertar as transações nele: "
                   "restaure-o de uma cópia, ou confira-as com a rede, antes de iniciar o serviço")
            .arg(path, reason);
    return QString();
}

// Replaced through a temporary file beside it: the directory must take files too.
bool journalWritable(const QString &path) {
    QFile file(path);
    return (!file.exists() || file.open(QIODevice::ReadWrite)) &&
           ConfigTef::acceptsFiles(QFileInfo(path).absolutePath());
}

// Opened as the log opens it; one this made is removed.
bool appendable(const QString &path) {
    QFile file(path);
    const bool existed = file.exists();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    file.close();
    return existed || file.remove();
}

void checkSettings(const ConfigTef &config, Checks &checks) {
    const QString pathIn = QStringLiteral("path_in"), pathOut = QStringLiteral("path_out");
    QStringList wrong;
    for (const QString &key : config.presentKeys()) {
        const QString problem = config.keyProblem(key);
        checks.report(key + QStringLiteral(": ") + config.valueText(key), problem);
        if (!problem.isEmpty())
            wrong << key;
    }
    for (const QString &key : {pathIn, pathOut})
        if (!wrong.contains(key))
            checks.report(QString::fromUtf8(QFileInfo::exists(config.values().value(key).toString())
                                                ? "%1 (%2) é um diretório que aceita gravação"
                                                : "%1 (%2) não existe; o serviço o cria ao iniciar")
                              .arg(key, config.values().value(key).toString()),
                          config.directoryCheck(key));
    const QString in = config.getPathIn();
    if (!wrong.contains(pathIn) && !wrong.contains(pathOut))
        checks.report(QStringLiteral("path_in e path_out são diretórios distintos, nenhum dentro do outro"),
                      ServiceWiring::overlap(in, config.getPathOut()));
    if (!wrong.contains(pathIn) && QFileInfo(in).isDir())
        checks.report(
            QStringLiteral("nenhum outro serviço monitora %1").arg(in),
            platform::DirectoryLock::heldElsewhere(in + QLatin1Char('/') +
                                                   QLatin1String(ServiceWiring::kLockName))
                ? QStringLiteral("outro serviço monitora %1; um diretório de requisições serve a um "
                                 "serviço só: encerre-o, ou dê a este outro path_in em config_tef.json")
                      .arg(in)
                : QString());
    if (wrong.contains(QStringLiteral("produto_tef")))
        return;
    const int produto = config.getProdutoTef();
    const QString library = platform::paymentLibraryPath(libraryOf(produto));
    checks.report(
        QStringLiteral("biblioteca de pagamento %1 carregada, com todas as funções que o serviço usa")
            .arg(library),
        libraryProblem(produto, library));
    const QString journal = journalPath(config, produto);
    if (journal.isEmpty()) {
        checks.report(QStringLiteral("produto_tef %1 não guarda transações pendentes").arg(produto),
                      QString());
        return;
    }
    QList<PendingJournal::Entry> entries;
    QString problem = readJournal(journal, &entries);
    if (problem.isEmpty() && !journalWritable(journal))
        problem =
            QStringLiteral("diário %1 não aceita gravação; dê à conta do serviço permissão de escrita nele e "
                           "em seu diretório")
                .arg(journal);
    checks.report(QStringLiteral("diário %1 legível e gravável, %2 transações pendentes")
                      .arg(journal)
                      .arg(entries.size()),
                  problem);
}

void checkLog(const ConfigTef &config, const QuietLog &quiet, Checks &checks) {
    const QString single = quiet.single.isEmpty() ? config.logFile() : quiet.single;
    if (single.isEmpty() && quiet.daily.isEmpty())
        checks.report(
            QStringLiteral("log só na saída de erro: Q7_LOG e Q7_LOG_PATH não definidos, log não é 1 em "
                           "config_tef.json"),
            QString());
    if (!single.isEmpty())
        checks.report(QStringLiteral("log em %1, que aceita gravação").arg(single),
                      appendable(single)
                          ? QString()
                          : QStringLiteral("Q7_LOG (%1) não pode ser aberto para escrita; as linhas "
                                           "de log não seriam gravadas nele: indique um arquivo que "
                                           "o serviço possa escrever")
                                .arg(single));
    if (!quiet.daily.isEmpty())
        checks.report(
            QStringLiteral("log diário em %1, que aceita gravação; %2")
                .arg(quiet.daily,
                     config.logDias() == 0
                         ? QStringLiteral("log_dias 0: nenhum arquivo é removido")
                         : QStringLiteral("arquivos de mais de %1 dias são removidos").arg(config.logDias())),
            QFileInfo(quiet.daily).isDir() && ConfigTef::acceptsFiles(quiet.daily)
                ? QString()
                : QStringLiteral("Q7_LOG_PATH (%1) não é um diretório onde o serviço possa escrever; "
                                 "crie o diretório ou corrija a variável")
                      .arg(quiet.daily));
}

} // namespace

std::optional<int> runCommand(int argc, char *argv[], const QString &stateDirectory) {
    const QByteArray command = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (command != "--verificar" && command != "--pendentes")
        return std::nullopt;
    // No window: the service is not started.
    const QCoreApplication app(argc, argv);
    return command == "--verificar" ? runVerificar(stateDirectory) : runPendentes(stateDirectory);
}

int runVerificar(const QString &stateDirectory) {
    const QuietLog quiet;
    Checks checks;
    const ConfigTef config(stateDirectory, ConfigTef::ReadOnly);
    checks.report(config.filePath() + QStringLiteral(" lido"), config.loadProblem());
    if (config.loadProblem().isEmpty())
        checkSettings(config, checks);
    SingleInstanceGuard guard(QString::fromLatin1(kApplicationId));
    checks.report(
        QStringLiteral("nenhuma outra cópia do serviço em execução"),
        guard.isAnotherRunning()
            ? QStringLiteral("outra cópia do serviço está em execução (PID %1); ela atende as vendas: "
                             "use-a, ou encerre-a (Sair, no menu da bandeja) antes de iniciar outra")
                  .arg(guard.holder().isEmpty() ? QStringLiteral("desconhecido") : guard.holder())
            : QString());
    checkLog(config, quiet, checks);
    return checks.status();
}

int runPendentes(const QString &stateDirectory) {
    const QuietLog quiet;
    const ConfigTef config(stateDirectory, ConfigTef::ReadOnly);
    QString problem = config.loadProblem();
    if (problem.isEmpty())
        problem = config.keyProblem(QStringLiteral("produto_tef"));
    QList<PendingJournal::Entry> entries;
    if (problem.isEmpty())
        problem = readJournal(journalPath(config, config.getProdutoTef()), &entries);
    if (!problem.isEmpty()) {
        print(QStringLiteral("ERRO: ") + problem);
        return 1;
    }
    if (entries.isEmpty()) {
        print(QStringLiteral("Nenhuma transação pendente"));
        return 0;
    }
    QVector<QStringList> rows{{QStringLiteral("sequencial"), QStringLiteral("identificação"),
                               QStringLiteral("NSU"), QStringLiteral("controle"),
                               QStringLiteral("adicionado"), QStringLiteral("respondida"),
                               QStringLiteral("decisão")}};
    for (const PendingJournal::Entry &entry : qAsConst(entries))
        rows << QStringList{entry.sequencial,
                            entry.id,
                            entry.nsu,
                            entry.controle,
                            entry.adicionado,
                            entry.respondida ? QStringLiteral("sim") : QStringLiteral("não"),
                            entry.decisao < 0   ? QStringLiteral("-")
                            : entry.decisao > 0 ? QStringLiteral("confirmar")
                                                : QStringLiteral("desfazer")};
    QVector<int> widths(rows.first().size());
    for (const QStringList &row : qAsConst(rows))
        for (int column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], row[column].size());
    for (const QStringList &row : qAsConst(rows)) {
        QString line;
        for (int column = 0; column + 1 < row.size(); ++column)
            line += row[column].leftJustified(widths[column] + 2);
        print(line + row.last());
    }
    return 0;
}

} // namespace support
