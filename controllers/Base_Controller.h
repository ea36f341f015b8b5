#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

// Thread base of the payment controllers. One operation runs per start(), in run() ->
// processTef(). The window is driven only through the signals below (queued into the GUI
// thread) and answers through the three invokable handlers (called in the GUI thread).
class Base_Controller : public QThread {
    Q_OBJECT

public:
    explicit Base_Controller(QObject *parent = nullptr);
    ~Base_Controller() override;

signals:
    void showMessageError(const QString &err);
    void textChanged(const QString &valor);
    void firstTextChanged(const QString &valor);
    void textfiledChanged(const QString &valor);
    void showWindow(bool show);
    // The "disable" signals hide the element when their argument is true.
    void disableButtonOK(bool enable);
    void disableButtonVoltar(bool enable);
    void disableButtonCancelar(bool enable);
    void disableTextField(bool enable);
    void disableListView(bool enable);
    void disableProgressBar(bool enable);
    void addItemList(const QString &item);
    void clearItemsList();
    void responseProcessTEF(const QString &dados);
    // The same document as responseProcessTEF, as soon as the library's part is over and
    // before the closing pause: the answer is written down before anyone is told.
    void outcomeDecided(const QString &dados);
    // Answers cannot be delivered to the sales application: `problem` says what and where;
    // empty once they can again. For the tray.
    void deliveryProblem(const QString &problem);

public slots:
    QJsonObject getJsonConfigs() const;
    // Parses the request document (compact JSON text) into jsonConfigs and prepares the
    // controller's own state. Called in the GUI thread before start().
    virtual void setJsonConfigs(const QString &value) = 0;
    // A response the sales application may have read: `dados` is its document, `controle` its
    // "027-000". Called in the GUI thread, also while an operation runs.
    virtual void markAnswered(const QString &dados, const QString &controle);

public:
    // estado 1: valorOfTextField is the text field's text; estado 2: it is the option
    // list's current row as decimal text, "-1" when no row is current.
    Q_INVOKABLE virtual void onClickButtonOK(const QString &valorOfTextField, int estado) = 0;
    Q_INVOKABLE virtual void onClickButtonVoltar() = 0;
    Q_INVOKABLE virtual void onClickButtonCancelar() = 0;
    // Whether an operation runs: quitting from the tray waits for its end.
    Q_INVOKABLE bool busy() const { return isRunning(); }

    // At start, before the first request, in the calling thread: settles what an earlier run
    // left. `unknownOutcome`: that run stopped in the middle of an operation, whose sales
    // application has been told the outcome is unknown.
    virtual void recover(bool unknownOutcome);
    // A response that was delivered to path_out but that the sales application never took:
    // `dados` is the document responseProcessTEF carried. Called in the GUI thread, between
    // operations. Nobody will confirm that transaction; by default the library cannot undo it,
    // so support is told.
    virtual void withdrawAnswer(const QString &dados);

protected:
    void run() override;
    // The whole operation for the current request; runs in the controller thread.
    virtual void processTef() = 0;
    // Presents one prompt or capture screen of the payment library through the signals.
    virtual void showScreen(const QJsonValue &tela) = 0;

    // "id ..., NSU ..., valor ..." of a response document, for support.
    virtual QString describeTransaction(const QJsonObject &response) const;

    // Asks the GUI thread to bring the operator window to the front; callable from any thread.
    void bringWindowToFront();
    // An amount in cents as text ("1234", "1.234,56", "7") as Brazilian currency ("R$ 12,34").
    static QString formatCurrency(const QString &valor);
    // Wipes what the window still shows of the previous operation (error box, band, message,
    // field, list, buttons); the band shows the amount `valor` when there is one. Emitted from
    // the controller thread before the window is shown, so it reaches the window first.
    void clearScreen(const QString &valor);
    // Decides the answer at once, leaves the window up for `pauseMs` (cut short by a stop: the
    // real answer is never held back), hides it and answers.
    void answer(const QString &dados, int pauseMs);
    // A pause that interrupt() ends.
    void closingPause(int milliseconds);

public:
    // Asks a running operation to end as "CANCELAR" would, at its next step, without
    // touching the window; the operation still answers. Any thread.
    void interrupt();
    // The answer to the current request when its operation cannot be waited for any longer
    // (a library call that does not return while the service stops): never an approval.
    virtual QString abandonedResponse(const QString &mensagem) const = 0;

protected:
    // Operator wait. The controller thread arms the wait when it shows a prompt, and later
    // blocks in waitForOperatorLocked() with `mutex` held; a handler in the GUI thread stores
    // the answer and releases. The flag lives under the mutex, so a release that comes
    // before the thread reaches its wait is not lost.
    void armOperatorWait();
    void releaseOperatorWait();
    // Call with `mutex` locked; returns at once unless the wait is armed.
    void waitForOperatorLocked();

    QJsonObject jsonConfigs;
    mutable QMutex mutex;
    QWaitCondition condition;
    bool waitingForOperator = false; // guarded by mutex
};
