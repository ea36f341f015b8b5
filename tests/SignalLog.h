#pragma once

#include "controllers/Base_Controller.h"

#include <QObject>
#include <QStringList>

// Every controller signal as "name:argument", in emission order, recorded in the recorder's
// thread: queued from a running controller thread, direct when the test calls showScreen
// or a handler itself.
class SignalLog : public QObject {
public:
    SignalLog(Base_Controller *c, Qt::ConnectionType type) {
        const auto text = [=](void (Base_Controller::*signal)(const QString &), const char *name) {
            connect(
                c, signal, this, [=](const QString &v) { lines << QString::fromLatin1(name) + ':' + v; },
                type);
        };
        const auto flag = [=](void (Base_Controller::*signal)(bool), const char *name) {
            connect(
                c, signal, this, [=](bool v) { lines << QString::fromLatin1(name) + (v ? ":1" : ":0"); },
                type);
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
            c, &Base_Controller::clearItemsList, this, [=] { lines << QStringLiteral("clearItemsList"); },
            type);
        text(&Base_Controller::responseProcessTEF, "responseProcessTEF");
    }
    QStringList lines;
};

// What a controller sends before it shows the window for an operation: nothing of the previous
// operation stays, and the band holds `band` (the amount, when the request has one).
inline QStringList freshScreen(const QString &band) {
    return {QStringLiteral("showMessageError:"),      QStringLiteral("firstTextChanged:") + band,
            QStringLiteral("textChanged:"),           QStringLiteral("disableTextField:1"),
            QStringLiteral("disableListView:1"),      QStringLiteral("clearItemsList"),
            QStringLiteral("disableButtonOK:1"),      QStringLiteral("disableButtonVoltar:1"),
            QStringLiteral("disableButtonCancelar:1")};
}
