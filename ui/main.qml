import QtQml 2.2
import QtQuick 2.9
import QtQuick.Controls 2.5
import QtQuick.Controls.Material 2.12
import Qt.labs.platform 1.0

// The operator window. It knows only the context property `controller`: every change
// arrives through the controller's signals, every answer leaves through its handlers.
ApplicationWindow {
    id: window
    objectName: "window"
    visible: true
    width: 720
    height: 550
    color: "#ffffff"
    title: qsTr("Orvix Pay - Pagora")

    // The close button only hides the window; the service goes on in the tray.
    onClosing: window.hide()

    FontLoader {
        id: orvixFont
        source: "Assets/Montserrat-SemiBold.ttf"
    }

    Image {
        id: image
        objectName: "image"
        source: "Assets/orvix-pay.JPG"
        fillMode: Image.PreserveAspectFit
        height: 256
        anchors.left: parent.left
        anchors.leftMargin: 0
        anchors.right: parent.right
        anchors.rightMargin: 0
        anchors.top: parent.top
        anchors.topMargin: -30
    }

    Rectangle {
        id: rectangle2
        objectName: "rectangle2"
        x: 410
        width: 300
        height: 45
        color: "#ea7777"
        radius: 10
        clip: false
        visible: false
        anchors.right: parent.right
        anchors.rightMargin: 10
        anchors.top: parent.top
        anchors.topMargin: 10

        Text {
            id: element2
            objectName: "element2"
            anchors.fill: parent
            anchors.leftMargin: 0
            color: "#3d3d3d"
            text: qsTr("ERRO")
            font.family: orvixFont.name
            font.pixelSize: 14
            fontSizeMode: Text.Fit
            wrapMode: Text.WordWrap
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
    }

    Connections {
        target: controller

        function onTextChanged(valor) {
            element1.text = valor
        }
        function onFirstTextChanged(valor) {
            element.text = valor
        }
        function onTextfiledChanged(valor) {
            textField.text = valor
            // A prefilled value is replaced by what the operator types, kept by Return.
            textField.selectAll()
        }
        function onDisableButtonOK(enable) {
            button.visible = !enable
        }
        function onDisableButtonVoltar(enable) {
            button1.visible = !enable
        }
        function onDisableButtonCancelar(enable) {
            button2.visible = !enable
        }
        function onDisableTextField(enable) {
            textField.visible = !enable
            textField.focus = !enable
            textField.text = ""
        }
        function onDisableListView(enable) {
            rec.visible = !enable
            rec.focus = !enable
        }
        function onDisableProgressBar(enable) {
            progressBar.visible = !enable
        }
        function onShowMessageError(err) {
            // An empty error is how a new operation clears the box of the previous one.
            if (err === "") {
                time.stop()
                rectangle2.visible = false
                element2.text = ""
                return
            }
            element2.text = err
            rectangle2.visible = true
            // Already running: the box still hides 3 s after the first error of a burst.
            time.start()
        }
        function onShowWindow(show) {
            if (show) {
                window.show()
                window.raise()
                window.requestActivate()
            } else {
                window.hide()
            }
        }
        function onAddItemList(item) {
            listmodel.append({ "name": " " + (list.count + 1) + " - " + item })
        }
        function onClearItemsList() {
            listmodel.clear()
        }
        function onDeliveryProblem(problem) {
            monitor.problem = problem
            if (problem !== "")
                monitor.showMessage("Orvix Pagora", problem, SystemTrayIcon.Warning, 10000)
        }
    }

    SystemTrayIcon {
        id: monitor
        objectName: "monitor"
        iconSource: "qrc:/Assets/orvixIconMonitor.png"
        visible: true
        // What keeps answers from the sales application, while it lasts.
        property string problem: ""
        tooltip: problem === "" ? "Orvix Pagora\nServiço passivo de TEF" : "Orvix Pagora\n" + problem

        // Hidden (not minimised) is the only state in which activating shows the window.
        onActivated: controller.showWindow(!window.visible)

        menu: Menu {
            id: menu
            objectName: "menu"

            MenuItem {
                objectName: "sair"
                text: qsTr("Sair")
                onTriggered: {
                    controller.showWindow(true)
                    // Quitting in the middle of an operation would cut a payment short.
                    popup.busy = controller.busy()
                    popup.open()
                }
            }
        }
    }

    Popup {
        id: popup
        objectName: "popup"
        property bool busy: false
        width: 300
        height: 150
        modal: true
        focus: true
        closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutsideParent
        x: Math.round((window.width - width) / 2)
        y: Math.round((window.height - height) / 2)

        contentItem: Text {
            id: textInfo
            objectName: "textInfo"
            text: popup.busy ? "Operação TEF em andamento.\nAguarde o fim para encerrar." : "Deseja encerrar?"
            color: "#000000"
            font.pixelSize: 16
            minimumPixelSize: 12
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }

        Button {
            id: sim
            objectName: "sim"
            visible: !popup.busy
            text: "Sim"
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            onClicked: {
                controller.showWindow(false)
                Qt.quit()
            }
        }

        Button {
            objectName: "nao"
            text: popup.busy ? "OK" : "Não"
            anchors.bottom: parent.bottom
            anchors.right: parent.right
            anchors.rightMargin: 110
            onClicked: popup.close()
        }
    }

    Timer {
        id: time
        objectName: "time"
        interval: 3000
        running: false
        repeat: false
        onTriggered: {
            rectangle2.visible = false
            element2.text = ""
        }
    }

    Rectangle {
        id: rectangle
        objectName: "rectangle"
        color: "#235493"
        radius: 25
        border.color: "#00000000"
        anchors.top: parent.top
        anchors.topMargin: 129
        anchors.left: parent.left
        anchors.leftMargin: 0
        anchors.right: parent.right
        anchors.rightMargin: 0
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 15

        Text {
            id: element
            objectName: "element"
            anchors.top: parent.top
            anchors.topMargin: 0
            anchors.left: parent.left
            anchors.leftMargin: 0
            anchors.right: parent.right
            anchors.rightMargin: 0
            height: 106
            // Clear of the rounded corners, where white text would meet the white window.
            leftPadding: 25
            rightPadding: 25
            topPadding: 6
            bottomPadding: 6
            color: "#ffffff"
            text: "Valor\nCartão"
            font.family: orvixFont.name
            font.pixelSize: 23
            // Long labels wrap and shrink; past the smallest size the last lines are cut, never
            // the first, which holds the amount.
            fontSizeMode: Text.Fit
            minimumPixelSize: 10
            wrapMode: Text.Wrap
            elide: Text.ElideRight
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
    }

    Rectangle {
        id: rectangle1
        objectName: "rectangle1"
        color: "#ffffff"
        radius: 25
        border.color: "#00000000"
        x: 0
        y: 249
        anchors.left: parent.left
        anchors.leftMargin: 0
        anchors.right: parent.right
        anchors.rightMargin: 0
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 0
        anchors.top: parent.top
        anchors.topMargin: 236

        Text {
            id: element1
            objectName: "element1"
            anchors.top: parent.top
            anchors.topMargin: 0
            anchors.left: parent.left
            anchors.leftMargin: 10
            anchors.right: parent.right
            anchors.rightMargin: 10
            height: 69
            color: "#235493"
            text: "TEF em processamento...."
            font.family: orvixFont.name
            font.pixelSize: 23
            fontSizeMode: Text.Fit
            // Breaks inside a word too long for a line; past the smallest size the end is cut
            // rather than running over the text field.
            wrapMode: Text.Wrap
            elide: Text.ElideRight
            lineHeight: 0.8
            textFormat: Text.AutoText
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            clip: false
        }

        TextField {
            id: textField
            objectName: "textField"
            visible: true
            placeholderText: ""
            horizontalAlignment: Text.AlignHCenter
            font.family: orvixFont.name
            font.pixelSize: 16
            anchors.left: parent.left
            anchors.leftMargin: 10
            anchors.right: parent.right
            anchors.rightMargin: 10
            anchors.top: element1.bottom
            anchors.topMargin: 0

            Keys.onPressed: {
                if (event.key === Qt.Key_Enter || event.key === Qt.Key_Return)
                    controller.onClickButtonOK(textField.text, 1)
                else if (event.key === Qt.Key_Escape)
                    controller.onClickButtonCancelar()
                else if (event.key === Qt.Key_Tab || event.key === Qt.Key_Backtab)
                    event.accepted = true // a keyboard-only checkout must not lose the prompt
            }
        }

        Rectangle {
            id: rec
            objectName: "rec"
            x: 10
            y: 69
            width: 700
            height: 170
            visible: false
            // Tab stays among the prompts: the buttons take no focus.
            activeFocusOnTab: true

            Keys.onPressed: {
                if (event.key === Qt.Key_Enter || event.key === Qt.Key_Return) {
                    controller.onClickButtonOK(list.currentIndex, 2)
                } else if (event.key === Qt.Key_Escape) {
                    controller.onClickButtonCancelar()
                } else if (event.key > 47 && event.key < 57) {
                    // "1" picks the first row, "0" none; a digit without a row changes
                    // nothing, so the index sent is always -1 or a row that exists.
                    var index = event.key - 49
                    if (index < list.count)
                        list.currentIndex = index
                } else if (event.key === Qt.Key_Down) {
                    if (list.currentIndex < list.count - 1)
                        list.currentIndex = list.currentIndex + 1
                } else if (event.key === Qt.Key_Up) {
                    if (list.currentIndex > 0)
                        list.currentIndex = list.currentIndex - 1
                } else if (event.key === Qt.Key_Tab || event.key === Qt.Key_Backtab) {
                    event.accepted = true
                }
            }

            Component {
                id: contactDelegate

                Item {
                    width: list.width
                    height: Math.max(30, label.implicitHeight)

                    MouseArea {
                        anchors.fill: parent
                        onClicked: {
                            console.log("click: " + index)
                            list.currentIndex = index
                        }
                    }

                    Row {
                        anchors.verticalCenter: parent.verticalCenter

                        // A long option wraps inside the list, clear of the scroll bar.
                        Text {
                            id: label
                            text: name
                            width: list.width - 16
                            color: "#000000"
                            font.pixelSize: 16
                            wrapMode: Text.Wrap
                            maximumLineCount: 3
                            elide: Text.ElideRight
                            horizontalAlignment: Text.AlignLeft
                            verticalAlignment: Text.AlignVCenter
                        }
                    }
                }
            }

            ListView {
                id: list
                objectName: "list"
                anchors.fill: parent
                focus: true
                model: listmodel
                delegate: contactDelegate
                clip: true
                // Shown only when rows are hidden below or above.
                ScrollBar.vertical: ScrollBar {
                    objectName: "listScrollBar"
                    policy: list.contentHeight > list.height ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
                }
                highlight: Rectangle {
                    radius: 5
                    color: Material.color(Material.Grey, Material.Shade300)
                }
            }

            ListModel {
                id: listmodel
                objectName: "listmodel"

                ListElement {
                    name: "VALOR 01"
                }
                ListElement {
                    name: "VALOR 01"
                }
            }
        }

        Row {
            id: row
            objectName: "row"
            spacing: 10
            layoutDirection: Qt.RightToLeft
            anchors.left: parent.left
            anchors.leftMargin: 10
            anchors.right: parent.right
            anchors.rightMargin: 10
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 24
            anchors.top: element1.bottom
            anchors.topMargin: 180

            Button {
                id: button
                objectName: "button"
                // Clickable, but never the focus: the keys stay with the field or the list.
                focusPolicy: Qt.NoFocus
                palette.button: "#235493"
                onClicked: {
                    if (textField.visible)
                        controller.onClickButtonOK(textField.text, 1)
                    else
                        controller.onClickButtonOK(list.currentIndex, 2)
                }

                Text {
                    anchors.fill: parent
                    color: "#FFFFFF"
                    text: qsTr("OK")
                    font.family: orvixFont.name
                    font.pixelSize: 14
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
            }

            Button {
                id: button1
                objectName: "button1"
                focusPolicy: Qt.NoFocus
                visible: true
                clip: false
                palette.button: "#235493"
                onClicked: controller.onClickButtonVoltar()

                Text {
                    anchors.fill: parent
                    color: "#FFFFFF"
                    text: qsTr("VOLTAR")
                    font.family: orvixFont.name
                    font.pixelSize: 14
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
            }

            Button {
                id: button2
                objectName: "button2"
                focusPolicy: Qt.NoFocus
                visible: true
                clip: false
                palette.button: "#235493"
                onClicked: controller.onClickButtonCancelar()

                Text {
                    anchors.fill: parent
                    color: "#FFFFFF"
                    text: qsTr("CANCELAR")
                    font.family: orvixFont.name
                    font.pixelSize: 14
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
            }
        }
    }

    ProgressBar {
        id: progressBar
        objectName: "progressBar"
        indeterminate: true
        value: 0.5
        y: 543
        height: 5
        anchors.left: parent.left
        anchors.leftMargin: 0
        anchors.right: parent.right
        anchors.rightMargin: 0
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 0
    }
}
