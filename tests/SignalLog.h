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
#include <algorithm>
#include <functional>
#include <memory>
#include <utility>

// What the operator window shows, as the controller's signals leave it: one line of what is
// visible, so that signals that only reorder how a screen is built leave it as it is.
struct Screen {
    bool shown = false, field = false, list = false, ok = false, voltar = false, cancelar = false,
         busy = false;
    QString band, text, error, fieldText;
    QStringList items;

    QString render() const {
        QStringList parts{shown ? "shown" : "hidden"};
        for (const auto &[name, value] :
             {std::pair<const char *, QString>{"band", band}, {"text", text}, {"error", error}})
            if (!value.isEmpty())
                parts << QStringLiteral("%1 \"%2\"").arg(QLatin1String(name), value);
        if (field)
            parts << "field \"" + fieldText + '"';
        if (list)
            parts << "list [" + items.join(", ") + ']';
        QStringList buttons;
        for (const auto &[name, on] :
             {std::pair<const char *, bool>{"OK", ok}, {"VOLTAR", voltar}, {"CANCELAR", cancelar}})
            if (on)
                buttons << QLatin1String(name);
        if (!buttons.isEmpty())
            parts << "buttons " + buttons.join(' ');
        if (busy)
            parts << QStringLiteral("busy");
        return parts.join(QStringLiteral(" | "));
    }
};

// Every controller signal as "name:argument" (flags as 0 or 1), in emission order: what the
// controller's thread emits in `lines`, what the test's thread emits (a handler or a screen the test
// calls itself) in `gui`. The window they build is kept as a Screen; `events` holds what the
// operator saw at each prompt, each action, and each answer with the screen it left. play()
// drives one request through the controller as the operator window would.
class SignalLog : public QObject {
public:
    explicit SignalLog(Base_Controller *c)
        : controller(c) {
        // Shared with the connections: a signal still on its way never writes into a dead log.
        const auto shared = state;
        const QThread *test = thread();
        const auto add = [shared, test](const QString &line, const std::function<void(Screen &)> &apply) {
            QMutexLocker locker(&shared->mutex);
            const bool handler = QThread::currentThread() == test;
            (handler ? shared->gui : shared->lines) << line;
            apply(shared->screen);
            if (handler && shared->pressing)
                apply(shared->pressed);
        };
        const auto text = [=](void (Base_Controller::*signal)(const QString &), const char *name,
                              QString Screen::*member) {
            connect(
                c, signal, this,
                [=](const QString &v) {
                    add(QLatin1String(name) + ':' + v, [&](Screen &s) { s.*member = v; });
                },
                Qt::DirectConnection);
        };
        // The "disable" signals hide their element when true.
        const auto flag = [=](void (Base_Controller::*signal)(bool), const char *name, bool Screen::*member,
                              bool hides) {
            connect(
                c, signal, this,
                [=](bool v) {
                    add(QLatin1String(name) + (v ? ":1" : ":0"), [&](Screen &s) { s.*member = v != hides; });
                },
                Qt::DirectConnection);
        };
        text(&Base_Controller::showMessageError, "showMessageError", &Screen::error);
        text(&Base_Controller::textChanged, "textChanged", &Screen::text);
        text(&Base_Controller::firstTextChanged, "firstTextChanged", &Screen::band);
        text(&Base_Controller::textfiledChanged, "textfiledChanged", &Screen::fieldText);
        flag(&Base_Controller::showWindow, "showWindow", &Screen::shown, false);
        flag(&Base_Controller::disableButtonOK, "disableButtonOK", &Screen::ok, true);
        flag(&Base_Controller::disableButtonVoltar, "disableButtonVoltar", &Screen::voltar, true);
        flag(&Base_Controller::disableButtonCancelar, "disableButtonCancelar", &Screen::cancelar, true);
        flag(&Base_Controller::disableTextField, "disableTextField", &Screen::field, true);
        flag(&Base_Controller::disableListView, "disableListView", &Screen::list, true);
        flag(&Base_Controller::disableProgressBar, "disableProgressBar", &Screen::busy, true);
        connect(
            c, &Base_Controller::addItemList, this,
            [=](const QString &v) { add("addItemList:" + v, [&](Screen &s) { s.items << v; }); },
            Qt::DirectConnection);
        connect(
            c, &Base_Controller::clearItemsList, this,
            [=] { add(QStringLiteral("clearItemsList"), [](Screen &s) { s.items.clear(); }); },
            Qt::DirectConnection);
        // The window the operator reads during the closing pause.
        connect(
            c, &Base_Controller::outcomeDecided, this,
            [=] {
                QMutexLocker locker(&shared->mutex);
                shared->endPress();
                shared->snapshot();
            },
            Qt::DirectConnection);
        connect(
            c, &Base_Controller::responseProcessTEF, this,
            [=](const QString &v) {
                QMutexLocker locker(&shared->mutex);
                shared->lines << "responseProcessTEF:" + v;
                shared->endPress();
                shared->snapshot();
                shared->events << "answer " + v;
            },
            Qt::DirectConnection);
    }

    // The window as the signals so far leave it.
    QString screen() const {
        QMutexLocker locker(&state->mutex);
        return state->screen.render();
    }
    QStringList events() const {
        QMutexLocker locker(&state->mutex);
        return state->events;
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
            // What the operator saw, once, and the answer given.
            state->snapshot();
            state->gui << (button ? "> " + action : "> OK \"" + action + '"');
            state->events << state->gui.last();
            state->pressed = state->screen;
            state->pressing = true;
            state->mutex.unlock();
            if (action == QLatin1String("VOLTAR"))
                controller->onClickButtonVoltar();
            else if (action == QLatin1String("CANCELAR"))
                controller->onClickButtonCancelar();
            else
                controller->onClickButtonOK(action, list ? 2 : 1);
            state->mutex.lock();
            state->endPress();
            state->mutex.unlock();
        }
        const bool ended = controller->wait(20000);
        QCoreApplication::sendPostedEvents();
        state->mutex.lock();
        state->snapshot(); // what the window holds until the next request
        state->mutex.unlock();
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
        Screen screen;
        QStringList events;
        QString shown;  // the last screen in `events`
        Screen pressed; // the screen at a prompt with what the operator's press changed on it
        bool pressing = false;
        // Call with the mutex held: what the press itself left on the window, whatever the
        // controller's thread did meanwhile; once, before anything the press led to.
        void endPress() {
            if (pressing && pressed.render() != shown)
                events << (shown = pressed.render());
            pressing = false;
        }
        // Call with the mutex held: the screen, unless the operator saw it as it is already.
        void snapshot() {
            const QString now = screen.render();
            // A window that was only hidden shows nothing new; what it holds, the next screen tells.
            if (now != shown && !(now.startsWith("hidden") && now.mid(6) == shown.mid(5)))
                events << now;
            shown = now;
        }
    };
    std::shared_ptr<State> state = std::make_shared<State>();
    Base_Controller *controller;
    int answered = 0;
};

// A run as text, one to a line, line breaks inside a value written as \n: the library's calls;
// the window at each prompt, after each press and when each answer goes out; the operator's
// actions; the answers; and the log.
inline QStringList transcript(const QStringList &calls, const SignalLog &window, const QStringList &log) {
    QStringList lines;
    const auto add = [&lines](const QString &prefix, QStringList items) {
        for (QString &item : items)
            lines << prefix + item.replace('\r', "\\r").replace('\n', "\\n");
    };
    add(QStringLiteral("call "), calls);
    add(QString(), window.events());
    add(QStringLiteral("log "), log);
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
    while (!expected.isEmpty() && expected.last().isEmpty()) // the file's last line
        expected.removeLast();
    if (!qEnvironmentVariableIsSet("Q7_GOLDEN_WRITE"))
        return expected;
    if (start < 0)
        start = end = lines.size();
    lines = lines.mid(0, start) + QStringList{header} + actual + lines.mid(end);
    if (text.open(QIODevice::WriteOnly))
        text.write(lines.join('\n').toUtf8());
    return actual;
}

// One `paths` row: the requests played in turn, or "withdraw" and "restart" (above), on a fresh controller of
// type C loading `library` (the operator's `actions` answer the first one's prompts), with the log lines
// under `logPrefix` (a literal); the whole run as a transcript. What every controller that loads its library
// does when it is made and destroyed, `lifecycle` (transcript lines), is left out when all of it is there,
// and shown whole otherwise.
template <class C>
QStringList playPaths(const QString &library, const QByteArray &scenario, const QStringList &requests,
                      const QStringList &actions, const char *logPrefix, const QStringList &lifecycle) {
    Simulator sim(scenario);
    MessageCapture log(logPrefix);
    auto controller = std::make_unique<C>(nullptr, library);
    SignalLog window(controller.get());
    for (int i = 0; i < requests.size(); ++i)
        if (requests.at(i) == QLatin1String("withdraw")) // the last answer, never taken
            controller->withdrawAnswer(window.of(QStringLiteral("responseProcessTEF")).last());
        else if (requests.at(i) == QLatin1String("restart")) // after a stop in the middle of one
            controller->recover(true);
        else if (!window.play(requests.at(i), i == 0 ? actions : QStringList()))
            return {QStringLiteral("not answered: ") + requests.at(i)};
    controller.reset();
    QStringList lines = transcript(sim.calls(), window, MessageCapture::lines());
    if (std::all_of(lifecycle.cbegin(), lifecycle.cend(),
                    [&lines](const QString &line) { return lines.count(line) == 1; }))
        for (const QString &line : lifecycle)
            lines.removeOne(line);
    return lines;
}
