#pragma once
// Work the window must not wait for (a report over every ledger, a ledger
// read that may wait for another program's lock) on a thread of its own;
// its result comes back to the application's thread from the event loop,
// and goes to `done` unless `context` has gone by then. The thread ends with
// the work and deletes itself.
#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <functional>
#include <memory>
#include <utility>

template <typename Result>
void runInBackground(QObject* context, std::function<Result()> work, std::function<void(const Result&)> done) {
    const QPointer<QObject> alive(context);   // only read on the application's thread
    QThread* thread = QThread::create([alive, work = std::move(work), done = std::move(done)]() mutable {
        auto result = std::make_shared<Result>(work());
        QCoreApplication* app = QCoreApplication::instance();
        if (!app) return;
        QMetaObject::invokeMethod(app, [alive, done = std::move(done), result] {
            if (alive) done(*result);
        }, Qt::QueuedConnection);
    });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}
