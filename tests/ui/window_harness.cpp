// The program's window in a process of its own, driven line by line on
// standard input, for the tests of what closing the window does to a run:
// the event loop, its end when the window closes and the destruction of the
// window are those of the program itself.
//
//   press NAME   choose the port NAME in the list and press the programming button
//   close        close the window, as its title bar does
//   state        print "harness: state visible=V start=S combo=C refresh=R"
//
// Every message box is answered with OK and printed as
// "harness: box TITLE|TEXT". The trace goes to standard output as usual.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <iostream>

#include <unistd.h>

#include "LogDirectory.h"
#include "MainWindow.h"
#include "StationRecord.h"

namespace {

void say(const QString& line) { std::cout << "harness: " << line.toStdString() << std::endl; }

void handle(MainWindow& window, const QString& line) {
    auto* combo = window.findChild<QComboBox*>(QStringLiteral("CBCom"));
    auto* start = window.findChild<QPushButton*>(QStringLiteral("BStart"));
    auto* refresh = window.findChild<QPushButton*>(QStringLiteral("BRefresh"));
    if (line.startsWith(QLatin1String("press "))) {
        const int index = combo->findText(line.mid(6));
        if (index < 0) {
            say(QStringLiteral("no port %1").arg(line.mid(6)));
            return;
        }
        combo->setCurrentIndex(index);
        emit combo->activated(index);
        start->click();
    } else if (line == QLatin1String("close")) {
        window.close();
    } else if (line == QLatin1String("state")) {
        say(QStringLiteral("state visible=%1 start=%2 combo=%3 refresh=%4")
                .arg(int(window.isVisible()))
                .arg(int(start->isEnabled()))
                .arg(int(combo->isEnabled()))
                .arg(int(refresh->isEnabled())));
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    ensureLogDirectory();
    StationRecord::create();
    auto* window = new MainWindow();
    window->show();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char bytes[256];
        const ssize_t n = ::read(STDIN_FILENO, bytes, sizeof bytes);
        if (n <= 0) {
            input.setEnabled(false);
            return;
        }
        pending.append(bytes, static_cast<int>(n));
        for (int end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QString line = QString::fromUtf8(pending.left(end));
            pending.remove(0, end + 1);
            handle(*window, line);
        }
    });
    QTimer boxes;
    QObject::connect(&boxes, &QTimer::timeout, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        say(QStringLiteral("box %1|%2").arg(box->windowTitle(), box->text()));
        box->button(QMessageBox::Ok)->click();
    });
    boxes.start(20);

    const int code = application.exec();
    delete window;   // waits for a run still going and writes its ledger line
    say(QStringLiteral("exited"));
    return code;
}
