#include "controllers/Base_Controller.h"

#include "base/Log.h"
#include "base/Pause.h"
#include "controllers/platform/BringWindowToFront.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QLocale>

Base_Controller::Base_Controller(QObject *parent)
    : QThread(parent) {
    Log().info("[Base_Controller] Construído");
}

Base_Controller::~Base_Controller() {
    Log().info("[Base_Controller] Destruído");
}

QJsonObject Base_Controller::getJsonConfigs() const {
    QMutexLocker locker(&mutex);
    return jsonConfigs;
}

void Base_Controller::run() {
    processTef();
}

void Base_Controller::markAnswered(const QString &, const QString &) {}

void Base_Controller::recover(bool) {}

void Base_Controller::withdrawAnswer(const QString &dados) {
    Log().critical(
        QStringLiteral("[%1] %2: resposta não lida pela automação; transação não pode ser desfeita, "
                       "confira com o suporte")
            .arg(QLatin1String(metaObject()->className()),
                 describeTransaction(QJsonDocument::fromJson(dados.toUtf8()).object())));
}

// The members the bridge and Tef01 documents carry, at the top or in "tef".
QString Base_Controller::describeTransaction(const QJsonObject &response) const {
    const QJsonObject tef = response.value(QStringLiteral("tef")).toObject();
    const auto member = [&](const char *name) {
        const QString key = QLatin1String(name);
        const QJsonValue value = response.contains(key) ? response.value(key) : tef.value(key);
        return value.isDouble() ? QString::number(value.toVariant().toLongLong()) : value.toString();
    };
    const QString id = member("id");
    return QStringLiteral("id %1, NSU %2, valor %3")
        .arg(id.isEmpty() ? member("identificadorTransacaoAutomacao") : id, member("nsuTerminal"),
             member("valorTotal"));
}

void Base_Controller::answer(const QString &dados, int pauseMs) {
    emit outcomeDecided(dados);
    closingPause(pauseMs);
    emit showWindow(false);
    emit responseProcessTEF(dados);
}

void Base_Controller::closingPause(int milliseconds) {
    QMutexLocker locker(&mutex);
    const QDeadlineTimer deadline(Pause::scaled(milliseconds));
    // interrupt() wakes the condition after its request, under the mutex: not missed.
    while (!isInterruptionRequested() && !deadline.hasExpired())
        condition.wait(&mutex, deadline);
}

void Base_Controller::bringWindowToFront() {
    platform::bringWindowToFront();
}

QString Base_Controller::formatCurrency(const QString &valor) {
    QString digits = valor;
    digits.remove(QLatin1Char(','));
    digits.remove(QLatin1Char('.'));
    if (digits.size() < 3)
        digits = QStringLiteral("%1").arg(digits.toInt(), 3, 10, QLatin1Char('0'));
    digits.insert(digits.size() - 2, QLatin1Char('.'));

    const QLocale brazil(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::Brazil);
    return brazil.toCurrencyString(digits.toDouble(), QString());
}

void Base_Controller::interrupt() {
    requestInterruption();
    releaseOperatorWait();
}

void Base_Controller::clearScreen(const QString &valor) {
    emit showMessageError(QString());
    emit firstTextChanged(valor.isEmpty() ? QString() : formatCurrency(valor));
    emit textChanged(QString());
    emit disableTextField(true);
    emit disableListView(true);
    emit clearItemsList();
    emit disableButtonOK(true);
    emit disableButtonVoltar(true);
    emit disableButtonCancelar(true);
}

void Base_Controller::armOperatorWait() {
    QMutexLocker locker(&mutex);
    waitingForOperator = true;
}

void Base_Controller::releaseOperatorWait() {
    {
        QMutexLocker locker(&mutex);
        waitingForOperator = false;
    }
    condition.wakeAll();
}

void Base_Controller::waitForOperatorLocked() {
    // A loop rather than a single test: only a release clears the flag, so a spurious
    // wake-up cannot let the thread go on without an answer. An interrupted operation does
    // not wait: the prompt may have been armed after the interruption's release.
    while (waitingForOperator && !isInterruptionRequested())
        condition.wait(&mutex);
}
