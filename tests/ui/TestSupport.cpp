#include "TestSupport.h"

#include <QAbstractButton>
#include <QDialog>
#include <QPushButton>
#include <QTest>
#include <cerrno>
#include <cstdio>
#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

void makeDirs(const std::string& path) {
    std::string partial;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || (path[i] == '/' && i > 0)) {
            partial = path.substr(0, i);
            if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
                throw std::runtime_error("mkdir " + partial);
        }
    }
}

void writeFile(const std::string& path, const std::string& content) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("open " + path);
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
}

void makeSymlink(const std::string& target, const std::string& link) {
    if (::symlink(target.c_str(), link.c_str()) != 0) throw std::runtime_error("symlink " + link);
}

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
