#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QtConcurrent/QtConcurrentRun>
#include <functional>

namespace tiv::ui {

// Runs `job` on Qt's thread pool and hands its result to `done` on `owner`'s thread. The job must hold nothing of
// the owner: an owner deleted meanwhile takes the delivery with it, and the result is dropped.
template <typename Result>
void runInBackground(QObject* owner, std::function<Result()> job, std::function<void(const Result&)> done) {
    auto* watcher = new QFutureWatcher<Result>(owner);
    QObject::connect(watcher, &QFutureWatcherBase::finished, owner, [watcher, done = std::move(done)] {
        watcher->deleteLater();
        done(watcher->result());
    });
    watcher->setFuture(QtConcurrent::run(std::move(job)));
}

} // namespace tiv::ui
