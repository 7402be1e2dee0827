// Helpers for widget tests on the offscreen platform: one application object for the process,
// and a driver that answers the modal boxes and dialogs while the code under test waits in
// their nested event loops.
#pragma once

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "app/ui/CConnectDialog.h"
#include "tests/support/TestApplication.h"

using namespace korvel;

// What a modal window showed when the driver met it.
struct SeenModal {
    std::string kind;  // "connect", "message", "menu" (text: its entries) or the dialog's class
    std::string title;
    std::string
        text;  // message boxes: the text; connect dialog: "gen1|analyzer|gen2|checked|gen2 enabled"
    std::string focus;  // object name of the focused control
};

// Polls for the active modal window (and popup menu) and answers it. The answers only end the
// window (accept, reject, click): the code under test goes on after the nested loop returns,
// never inside the driver.
class ModalDriver {
public:
    // Connect dialog: by default it is closed without OK.
    std::function<void(CConnectDialog&)> onConnect = [](CConnectDialog& dialog) { dialog.close(); };
    // Message boxes: OK.
    std::function<void(QMessageBox&)> onMessage = [](QMessageBox& box) {
        if (QAbstractButton* ok = box.button(QMessageBox::Ok))
            ok->click();
        else
            box.close();
    };

    // Popup menus and any other modal dialog (the about box): closed.
    std::function<void(QMenu&)> onMenu = [](QMenu& menu) { menu.close(); };
    std::function<void(QDialog&)> onOther = [](QDialog& dialog) { dialog.close(); };

    std::vector<SeenModal> seen;

    ModalDriver() {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
        m_timer.start(5);
    }

    std::vector<std::string> MessageTexts() const {
        std::vector<std::string> texts;
        for (const auto& s : seen)
            if (s.kind == "message")
                texts.push_back(s.text);
        return texts;
    }

private:
    static std::string FocusName(QWidget* window) {
        QWidget* focus = window->focusWidget();
        return focus ? focus->objectName().toStdString() : std::string();
    }

    void Poll() {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            QStringList entries;
            for (QAction* action : menu->actions())
                entries << action->text();
            seen.push_back({"menu", "", entries.join('|').toStdString(), ""});
            onMenu(*menu);
            return;
        }
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen.push_back(
                {"message", box->windowTitle().toStdString(), box->text().toStdString(), ""});
            onMessage(*box);
        } else if (auto* connect = qobject_cast<CConnectDialog*>(modal)) {
            auto edit = [connect](const char* name) {
                return connect->findChild<QLineEdit*>(QString::fromLatin1(name));
            };
            const std::string state =
                edit("IDC_1023")->text().toStdString() + "|" +
                edit("IDC_1024")->text().toStdString() + "|" +
                edit("IDC_1025")->text().toStdString() + "|" +
                (connect->findChild<QCheckBox*>("IDC_1026")->isChecked() ? "1" : "0") + "|" +
                (edit("IDC_1025")->isEnabled() ? "1" : "0");
            seen.push_back(
                {"connect", connect->windowTitle().toStdString(), state, FocusName(connect)});
            onConnect(*connect);
        } else if (auto* other = qobject_cast<QDialog*>(modal)) {
            seen.push_back({other->metaObject()->className(), other->windowTitle().toStdString(),
                            "", FocusName(other)});
            onOther(*other);
        }
    }

    QTimer m_timer;
};
