#include "TestSupport.h"

#include <QAbstractButton>
#include <QDialog>
#include <QPushButton>
#include <QTest>

ModalCloser::ModalCloser(int limitMs) : limitMs_(limitMs) {
    clock_.start();
    connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
    timer_.start(10);
}

int ModalCloser::boxCount() const {
    int count = 0;
    for (const auto& s : seen_) count += s.className == QLatin1String("QMessageBox") ? 1 : 0;
    return count;
}

void ModalCloser::poll() {
    if (clock_.elapsed() > limitMs_) {
        timer_.stop();
        return;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return;
    for (const auto& done : handled_)
        if (done == modal) return;
    handled_.emplace_back(modal);

    SeenModal seen;
    seen.className = QString::fromLatin1(modal->metaObject()->className());
    seen.title = modal->windowTitle();
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box) {
        seen.text = box->text();
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        seen.buttonCount = static_cast<int>(box->buttons().size());
        seen.hasDefaultButton = box->defaultButton() != nullptr;
    }
    if (handler_) handler_(modal, seen);
    seen_.push_back(seen);

    if (!modal->isVisible()) return;   // the handler closed it
    if (box) {
        if (QAbstractButton* ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->done(0);
    } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        dialog->reject();
    } else {
        modal->close();
    }
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    return QTest::qWaitFor(condition, timeoutMs);
}
