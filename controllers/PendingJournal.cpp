#include "controllers/PendingJournal.h"

#include "base/Log.h"
#include "controllers/platform/DurableFile.h"
#include "exchange/ProtocoloSitef.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <iterator>

namespace {

const QString kPendentes = QStringLiteral("pendentes");

// An identification written as a number by earlier versions reads as the same text.
QString textOf(const QJsonValue &value) {
    return value.isDouble() ? QString::number(value.toVariant().toLongLong()) : value.toString();
}

QString decisionText(int decisao) {
    return decisao ? QStringLiteral("confirmar") : QStringLiteral("desfazer");
}

} // namespace

PendingJournal::PendingJournal(const QString &path, const QString &owner)
    : m_path(path)
    , m_owner(owner + QLatin1Char(' ')) {
    restore();
    if (!m_read)
        Log().critical(m_owner + QStringLiteral("Impossível abrir %1 (%2); as transações pendentes nele não "
                                                "são lidas nem alteradas, e nenhuma venda é feita até que "
                                                "possa ser lido: libere o arquivo (permissão, antivírus)")
                                     .arg(m_path, m_problem));
}

// A journal that does not parse is set aside under a name of its own, for support; one that
// cannot be opened, or set aside, stays where it is and is not written.
void PendingJournal::restore() {
    m_read = true;
    if (m_path.isEmpty() || !QFileInfo::exists(m_path))
        return;
    const Log log;
    QList<Entry> restored;
    bool opened = true;
    const QString reason = read(m_path, &restored, &opened);
    if (!opened) {
        m_read = false;
        m_problem = reason;
        return;
    }
    if (!reason.isEmpty()) {
        QString aside = m_path + QStringLiteral(".invalido");
        for (int n = 2; QFileInfo::exists(aside); ++n)
            aside = m_path + QStringLiteral(".invalido.%1").arg(n);
        const bool moved = QFile::rename(m_path, aside);
        log.critical(m_owner + QStringLiteral("Arquivo %1 ilegível (%2); ").arg(m_path, reason) +
                     (moved ? QStringLiteral("movido para ") + aside
                            : QStringLiteral("impossível movê-lo para ") + aside));
        if (!moved) {
            m_read = false;
            m_problem = QStringLiteral("ilegível, e impossível movê-lo para ") + aside;
        }
        return;
    }
    for (const Entry &entry : qAsConst(restored))
        log.info(m_owner +
                 QStringLiteral("Transação pendente restaurada: sequencial %1, id %2, "
                                "adicionada em %3%4")
                     .arg(entry.sequencial, entry.id, entry.adicionado,
                          entry.respondida ? QString() : QStringLiteral(", sem resposta entregue")));
    m_entries = restored;
}

QString PendingJournal::read(const QString &path, QList<Entry> *entries, bool *opened) {
    QFile file(path);
    *opened = !QFileInfo::exists(path) || file.open(QIODevice::ReadOnly);
    if (!*opened)
        return file.errorString();
    if (!file.isOpen())
        return QString();
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    file.close();
    bool valid = document.isObject() && document.object().value(kPendentes).isArray();
    QList<Entry> &restored = *entries;
    for (const QJsonValue &value : document.object().value(kPendentes).toArray()) {
        const QJsonObject entry = value.toObject();
        valid = valid && entry.value(QStringLiteral("sequencial")).isString();
        const int decisao = entry.value(QStringLiteral("decisao")).toInt(-1);
        // Entries of earlier versions were written before their answer went out: the sales
        // application may know them.
        restored.append({entry.value(QStringLiteral("sequencial")).toString(),
                         textOf(entry.value(QStringLiteral("id"))),
                         entry.value(QStringLiteral("controle")).toString(),
                         entry.value(QStringLiteral("nsu")).toString(),
                         entry.value(QStringLiteral("adicionado")).toString(),
                         entry.value(QStringLiteral("respondida")).toBool(true),
                         decisao == 0 || decisao == 1 ? decisao : -1});
    }
    if (valid)
        return QString();
    restored.clear();
    return error.error != QJsonParseError::NoError ? error.errorString()
                                                   : QStringLiteral("formato inesperado");
}

bool PendingJournal::usable(QString *reason) {
    QMutexLocker locker(&m_mutex);
    if (!m_read)
        restore();
    // Written although nothing changed: the approval to come must find its place on disk.
    if (m_read && save())
        return true;
    *reason = m_problem;
    return false;
}

// Replaced whole, through a temporary file and a rename: a crash or a power cut leaves the old
// list or the new one, never half of either.
bool PendingJournal::save() {
    if (m_path.isEmpty())
        return true;
    if (!m_read) // its unread sales would be lost
        return false;
    QJsonArray entries;
    for (const Entry &entry : qAsConst(m_entries)) {
        QJsonObject object{{QStringLiteral("sequencial"), entry.sequencial},
                           {QStringLiteral("id"), entry.id},
                           {QStringLiteral("controle"), entry.controle},
                           {QStringLiteral("nsu"), entry.nsu},
                           {QStringLiteral("adicionado"), entry.adicionado},
                           {QStringLiteral("respondida"), entry.respondida}};
        if (entry.decisao >= 0)
            object.insert(QStringLiteral("decisao"), entry.decisao);
        entries.append(object);
    }
    const QByteArray bytes = QJsonDocument(QJsonObject{{kPendentes, entries}}).toJson();
    // On the disk before the status, the answer or a settlement relies on it.
    if (!platform::writeDurably(m_path, bytes, &m_problem))
        return false;
    Log().debug(m_owner +
                QStringLiteral("%1 gravado: %2 transações pendentes").arg(m_path).arg(entries.size()));
    return true;
}

void PendingJournal::saveOrTell() {
    if (!save())
        Log().critical(m_owner + QStringLiteral("Impossível gravar %1 (%2); as transações pendentes ficam só "
                                                "na memória e não sobrevivem a um reinício: libere o arquivo "
                                                "(permissão, antivírus)")
                                     .arg(m_path, m_problem));
}

void PendingJournal::add(const Entry &entry) {
    QMutexLocker locker(&m_mutex);
    if (std::any_of(m_entries.cbegin(), m_entries.cend(),
                    [&entry](const Entry &e) { return e.sequencial == entry.sequencial; }))
        return;
    m_entries.append(entry);
    saveOrTell();
}

void PendingJournal::reset(const QList<Entry> &entries) {
    QMutexLocker locker(&m_mutex);
    m_entries = entries;
    saveOrTell();
}

void PendingJournal::markAnswered(const QString &sequencial, const QString &controle) {
    QMutexLocker locker(&m_mutex);
    for (Entry &entry : m_entries) {
        if (entry.sequencial != sequencial || (entry.respondida && entry.controle == controle))
            continue;
        entry.respondida = true;
        entry.controle = controle;
        saveOrTell();
        return;
    }
}

QList<PendingJournal::Entry> PendingJournal::toSettle(const QString &controle, const QString &nsu) const {
    QMutexLocker locker(&m_mutex);
    const auto matching = [this](auto matches) {
        QList<Entry> found;
        std::copy_if(m_entries.cbegin(), m_entries.cend(), std::back_inserter(found), matches);
        return found;
    };
    if (controle.isEmpty() && nsu.isEmpty())
        return matching([](const Entry &entry) { return entry.respondida; });
    // The control code is the manager's own; an NSU may repeat across networks.
    QList<Entry> found;
    if (!controle.isEmpty())
        found = matching([&controle](const Entry &entry) { return entry.controle == controle; });
    if (found.isEmpty() && !nsu.isEmpty())
        found =
            matching([&nsu](const Entry &entry) { return ProtocoloSitef::sameReference(entry.nsu, nsu); });
    return found;
}

QList<PendingJournal::Entry> PendingJournal::entries() const {
    QMutexLocker locker(&m_mutex);
    return m_entries;
}

QList<PendingJournal::Entry> PendingJournal::decide(const QList<Entry> &chosen, int decisao) {
    QMutexLocker locker(&m_mutex);
    bool changed = false;
    for (Entry &entry : m_entries) {
        if (std::none_of(chosen.cbegin(), chosen.cend(),
                         [&entry](const Entry &e) { return e.sequencial == entry.sequencial; }))
            continue;
        if (entry.decisao < 0) {
            entry.decisao = decisao;
            changed = true;
        } else if (entry.decisao != decisao) {
            Log().critical(
                m_owner +
                QStringLiteral("Transação %1 (id %2) já decidida pelo cliente (%3); o "
                               "pedido de %4 não a altera: confira a venda com o cliente")
                    .arg(entry.sequencial, entry.id, decisionText(entry.decisao), decisionText(decisao)));
        }
    }
    if (changed)
        saveOrTell();
    QList<Entry> decided;
    std::copy_if(m_entries.cbegin(), m_entries.cend(), std::back_inserter(decided),
                 [](const Entry &entry) { return entry.decisao >= 0; });
    return decided;
}

QList<PendingJournal::Entry> PendingJournal::unanswered() const {
    QMutexLocker locker(&m_mutex);
    QList<Entry> found;
    std::copy_if(m_entries.cbegin(), m_entries.cend(), std::back_inserter(found),
                 [](const Entry &entry) { return !entry.respondida; });
    return found;
}

void PendingJournal::remove(const QString &sequencial) {
    QMutexLocker locker(&m_mutex);
    const auto before = m_entries.size();
    m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                   [&sequencial](const Entry &e) { return e.sequencial == sequencial; }),
                    m_entries.end());
    if (m_entries.size() != before)
        saveOrTell();
}
