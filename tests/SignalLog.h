#pragma once

#include "MessageCapture.h"
#include "Simulator.h"
#include "controllers/Base_Controller.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>
#include <memory>

// Every controller signal as "name:argument" (flags as 0 or 1), in emission order: what the
// controller's thread emits in `lines`, what the test's thread emits (a handler or a screen the test
// calls itself) in `gui`. Each is in a fixed order whenever the operator answers. play() drives one
// request through the controller as the operator window would.
class SignalLog : public QObject {
public:
    explicit SignalLog(Base_Controller *c)
        : controller(c) {
        // Shared with the connections: a signal still on its way never writes into a dead log.
        const auto shared = state;
        const QThread *test = thread();
        const auto add = [shared, test](const QString &line) {
            QMutexLocker locker(&shared->mutex);
            (QThread::currentThread() == test ? shared->gui : shared->lines) << line;
        };
        const auto text = [=](void (Base_Controller::*signal)(const QString &), const char *name) {
            connect(
                c, signal, this, [=](const QString &v) { add(QLatin1String(name) + ':' + v); },
                Qt::DirectConnection);
        };
        const auto flag = [=](void (Base_Controller::*signal)(bool), const char *name) {
            connect(
                c, signal, this, [=](bool v) { add(QLatin1String(name) + (v ? ":1" : ":0")); },
                Qt::DirectConnection);
        };
        text(&Base_Controller::showMessageError, "showMessageError");
        text(&Base_Controller::textChanged, "textChanged");
        text(&Base_Controller::firstTextChanged, "firstTextChanged");
        text(&Base_Controller::textfiledChanged, "textfiledChanged");
        flag(&Base_Controller::showWindow, "showWindow");
        flag(&Base_Controller::disableButtonOK, "disableButtonOK");
        flag(&Base_Controller::disableButtonVoltar, "disableButtonVoltar");
        flag(&Base_Controller::disableButtonCancelar, "disableButtonCancelar");
        flag(&Base_Controller::disableTextField, "disableTextField");
        flag(&Base_Controller::disableListView, "disableListView");
        flag(&Base_Controller::disableProgressBar, "disableProgressBar");
        text(&Base_Controller::addItemList, "addItemList");
        connect(
            c, &Base_Controller::clearItemsList, this, [=] { add(QStringLiteral("clearItemsList")); },
            Qt::DirectConnection);
        text(&Base_Controller::responseProcessTEF, "responseProcessTEF");
    }

    // What the controller's thread emitted, and the operator's actions with what each one emitted.
    QStringList lines() const {
        QMutexLocker locker(&state->mutex);
        return state->lines;
    }
    QStringList gui() const {
        QMutexLocker locker(&state->mutex);
        return state->gui;
    }
    // The arguments of one signal the controller's thread emitted, in order.
    QStringList of(const QString &name) const {
        QStringList values;
        for (const QString &line : lines())
            if (line.startsWith(name + ':'))
                values << line.mid(name.size() + 1);
        return values;
    }
    // The last response document.
    QJsonObject response() const {
        const QStringList all = of(QStringLiteral("responseProcessTEF"));
        return QJsonDocument::fromJson(all.value(all.size() - 1).toUtf8()).object();
    }
    // Prompts shown so far, again after a refused answer: each one waits for the operator.
    int prompts() const {
        const QStringList all = lines() + gui();
        return all.count("disableTextField:0") + all.count("disableListView:0");
    }

    // Runs `request` to its end and answers each prompt with the next action: "VOLTAR", "CANCELAR",
    // or OK with the text typed, the list row chosen.
    bool play(const QString &request, const QStringList &actions = {}) {
        controller->setJsonConfigs(request);
        controller->start();
        for (const QString &action : actions) {
            if (!QTest::qWaitFor([this] { return prompts() > answered; }, 20000))
                return false;
            ++answered;
            // The prompt's kind: a refused answer shows the same one again.
            const QStringList shown = lines();
            const bool list =
                shown.lastIndexOf("disableListView:0") > shown.lastIndexOf("disableTextField:0");
            const bool button = action == QLatin1String("VOLTAR") || action == QLatin1String("CANCELAR");
            state->mutex.lock();
            state->gui << (button ? "> " + action : "> OK \"" + action + '"');
            state->mutex.unlock();
            if (action == QLatin1String("VOLTAR"))
                controller->onClickButtonVoltar();
            else if (action == QLatin1String("CANCELAR"))
                controller->onClickButtonCancelar();
            else
                controller->onClickButtonOK(action, list ? 2 : 1);
        }
        const bool ended = controller->wait(20000);
        QCoreApplication::sendPostedEvents();
        // The monitor's part: the response was delivered.
        const QStringList responses = of(QStringLiteral("responseProcessTEF"));
        if (!responses.isEmpty())
            controller->markAnswered(responses.last(), QString());
        return ended;
    }

private:
    struct State {
        QMutex mutex;
        QStringList lines;
        QStringList gui;
    };
    std::shared_ptr<State> state = std::make_shared<State>();
    Base_Controller *controller;
    int answered = 0;
};

// A run as text: the library's calls, the signals of the controller's thread, the operator's actions
// with what each one emitted, and the log; one to a line, line breaks inside a value written as \n.
inline QStringList transcript(const QStringList &calls, const SignalLog &window, const QStringList &log) {
    QStringList lines;
    const auto add = [&lines](const char *title, QStringList items) {
        lines << QString::fromLatin1(title);
        for (QString &item : items)
            lines << "    " + item.replace('\r', "\\r").replace('\n', "\\n");
    };
    add("calls", calls);
    add("window", window.lines());
    if (!window.gui().isEmpty())
        add("operator", window.gui());
    add("log", log);
    return lines;
}

// The expected transcript of the current row: section "== <row>" of tests/data/golden/<file>.
// With Q7_GOLDEN_WRITE set, `actual` is written there instead; review the change before committing.
inline QStringList golden(const QString &file, const QStringList &actual) {
    QFile text(QStringLiteral(Q7_TEST_DATA "/golden/") + file);
    QStringList lines =
        text.open(QIODevice::ReadOnly) ? QString::fromUtf8(text.readAll()).split('\n') : QStringList();
    text.close();
    const QString header = "== " + QString::fromUtf8(QTest::currentDataTag());
    int start = lines.indexOf(header);
    int end = start + 1;
    while (start >= 0 && end < lines.size() && !lines.at(end).startsWith("== "))
        ++end;
    QStringList expected = start < 0 ? QStringList() : lines.mid(start + 1, end - start - 1);
    while (!expected.isEmpty() && expected.last().isEmpty()) // the blank line between sections
        expected.removeLast();
    if (!qEnvironmentVariableIsSet("Q7_GOLDEN_WRITE"))
        return expected;
    if (start < 0)
        start = end = lines.size();
    lines = lines.mid(0, start) + QStringList{header} + actual + QStringList{QString()} + lines.mid(end);
    if (text.open(QIODevice::WriteOnly))
        text.write(lines.join('\n').toUtf8());
    return actual;
}

// One `paths` row: the requests played in turn on a fresh controller of type C loading `library`
// (the operator's `actions` answer the first one's prompts), with the log lines under `logPrefix`
// (a literal); the whole run as a transcript.
template <class C>
QStringList playPaths(const QString &library, const QByteArray &scenario, const QStringList &requests,
                      const QStringList &actions, const char *logPrefix) {
    Simulator sim(scenario);
    MessageCapture log(logPrefix);
    auto controller = std::make_unique<C>(nullptr, library);
    SignalLog window(controller.get());
    for (int i = 0; i < requests.size(); ++i)
        if (!window.play(requests.at(i), i == 0 ? actions : QStringList()))
            return {QStringLiteral("not answered: ") + requests.at(i)};
    controller.reset();
    return transcript(sim.calls(), window, MessageCapture::lines());
}
