#pragma once
// Helpers shared by the window tests: a temporary directory tree (FileTree),
// closing the modal boxes a slot opens, and waiting on a condition with a
// bound.

#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QElapsedTimer>
#include <functional>
#include <string>
#include <vector>

#include "FileTree.h"

struct SeenModal {
    QString className;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    int buttonCount = 0;
    bool hasDefaultButton = false;
    bool controlsEnabled = false;   // filled by the onSeen hook, when a test sets one
};

// Watches for modal widgets and closes each one it sees: message boxes with
// their OK button, dialogs by rejecting them unless a handler says otherwise.
// Gives up after `limitMs`, so a test that expected a box fails instead of
// hanging.
class ModalCloser : public QObject {
public:
    using Handler = std::function<void(QWidget* modal, SeenModal& seen)>;

    explicit ModalCloser(int limitMs = 60000);

    // Called for every modal widget before the default closing; it may close
    // the widget itself.
    void setHandler(Handler handler) { handler_ = std::move(handler); }

    const std::vector<SeenModal>& seen() const { return seen_; }
    int boxCount() const;

private:
    void poll();

    QTimer timer_;
    QElapsedTimer clock_;
    int limitMs_;
    Handler handler_;
    std::vector<SeenModal> seen_;
    std::vector<QPointer<QWidget>> handled_;
};

// Processes events until `condition` holds or `timeoutMs` passes.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs);
