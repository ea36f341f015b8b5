#include "controllers/PendingJournal.h"

#include "base/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>
#include <iterator>

namespace {

const QString kPendentes = QStringLiteral("pendentes");

// An identification written as a number by earlier versions reads as the same text.
QString textOf(const QJsonValue &value) {
    return value.isDouble() ? QString::number(value.toVariant().toLongLong()) : value.toString();
}

} // namespace

PendingJournal::PendingJournal(const QString &path)
    : m_path(path) {
    restore();
}

// A journal that does not parse is set aside under a name of its own, for support; one that
// cannot be opened stays where it is and is not written.
void PendingJournal::restore() {
    if (m_path.isEmpty() || !QFileInfo::exists(m_path))
        return;
    const Log log;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_writable = false;
        log.critical(
            QStringLiteral("[Q7_Tef_Controller] Impossível abrir %1 (%2); as transações pendentes nele "
                           "não são lidas nem alteradas")
                .arg(m_path, file.errorString()));
        return;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    file.close();
    bool valid = document.isObject() && document.object().value(kPendentes).isArray();
    QList<Entry> restored;
    for (const QJsonValue &value : document.object().value(kPendentes).toArray()) {
        const QJsonObject entry = value.toObject();
        valid = valid && entry.value(QStringLiteral("sequencial")).isString();
        // Entries of earlier versions were written before their answer went out: the sales
        // application may know them.
        restored.append({entry.value(QStringLiteral("sequencial")).toString(),
                         textOf(entry.value(QStringLiteral("id"))),
                         entry.value(QStringLiteral("controle")).toString(),
                         entry.value(QStringLiteral("nsu")).toString(),
                         entry.value(QStringLiteral("adicionado")).toString(),
                         entry.value(QStringLiteral("respondida")).toBool(true)});
    }
    if (!valid) {
        QString aside = m_path + QStringLiteral(".invalido");
        for (int n = 2; QFileInfo::exists(aside); ++n)
            aside = m_path + QStringLiteral(".invalido.%1").arg(n);
        const QString reason = error.error != QJsonParseError::NoError ? error.errorString()
                                                                       : QStringLiteral("formato inesperado");
        log.critical(QStringLiteral("[Q7_Tef_Controller] Arquivo %1 ilegível (%2); ").arg(m_path, reason) +
                     (QFile::rename(m_path, aside) ? QStringLiteral("movido para ") + aside
                                                   : QStringLiteral("impossível movê-lo para ") + aside));
        return;
    }
    for (const Entry &entry : qAsConst(restored))
        log.info(QStringLiteral("[Q7_Tef_Controller] Transação pendente restaurada: sequencial %1, id %2, "
                                "adicionada em %3%4")
                     .arg(entry.sequencial, entry.id, entry.adicionado,
                          entry.respondida ? QString() : QStringLiteral(", sem resposta entregue")));
    m_entries = restored;
}

// Replaced whole, through a temporary file and a rename: a crash leaves the old list or the
// new one, never half of either.
void PendingJournal::save() const {
    if (m_path.isEmpty())
        return;
    const Log log;
    if (!m_writable) {
        log.critical(QStringLiteral("[Q7_Tef_Controller] %1 não é alterado: as transações pendentes não "
                                    "sobrevivem a um reinício")
                         .arg(m_path));
        return;
    }
    QJsonArray entries;
    for (const Entry &entry : m_entries)
        entries.append(QJsonObject{{QStringLiteral("sequencial"), entry.sequencial},
                                   {QStringLiteral("id"), entry.id},
                                   {QStringLiteral("controle"), entry.controle},
                                   {QStringLiteral("nsu"), entry.nsu},
                                   {QStringLiteral("adicionado"), entry.adicionado},
                                   {QStringLiteral("respondida"), entry.respondida}});
    const QByteArray bytes = QJsonDocument(QJsonObject{{kPendentes, entries}}).toJson();
    QSaveFile file(m_path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit()) {
        log.debug(QStringLiteral("[Q7_Tef_Controller] %1 gravado: %2 transações pendentes")
                      .arg(m_path)
                      .arg(entries.size()));
        return;
    }
    log.critical(QStringLiteral("[Q7_Tef_Controller] Impossível gravar %1 (%2); as transações pendentes não "
                                "sobrevivem a um reinício")
                     .arg(m_path, file.errorString()));
}

void PendingJournal::add(const Entry &entry) {
    QMutexLocker locker(&m_mutex);
    if (std::any_of(m_entries.cbegin(), m_entries.cend(),
                    [&entry](const Entry &e) { return e.sequencial == entry.sequencial; }))
        return;
    m_entries.append(entry);
    save();
}

void PendingJournal::markAnswered(const QString &sequencial, const QString &controle) {
    QMutexLocker locker(&m_mutex);
    for (Entry &entry : m_entries) {
        if (entry.sequencial != sequencial || (entry.respondida && entry.controle == controle))
            continue;
        entry.respondida = true;
        entry.controle = controle;
        save();
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
        found = matching([&nsu](const Entry &entry) { return entry.nsu == nsu; });
    return found;
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
        save();
}
