#include "ui/adapters/qt_wipe_worker.h"

#include <QCoreApplication>
#include <QThread>
#include <memory>

namespace kestrine::ui {

TQtWipeWorker::TQtWipeWorker(QObject* Parent) : QObject(Parent) {}

TQtWipeWorker::~TQtWipeWorker() {
  Cancel();
  WaitByProcessingEvents();
}

void TQtWipeWorker::Start(std::vector<TCleanupRow> Rows, int Passes, TFinished Finished) {
  FCancel = false;
  FRunning = true;
  {
    const std::lock_guard lock(FLock);
    FLatest = {};
  }
  auto rows = std::make_shared<std::vector<TCleanupRow>>(std::move(Rows));
  auto report = std::make_shared<TCleanupActionReport>();
  QThread* thread = QThread::create([this, rows, report, Passes] { *report = WipeCheckedRows(*rows, Passes, *this); });
  // Queued to this object's thread, after the wipe has returned.
  connect(thread, &QThread::finished, this, [this, rows, report, Finished = std::move(Finished)] {
    FRunning = false;
    Finished(std::move(*rows), *report);
  });
  connect(thread, &QThread::finished, thread, &QObject::deleteLater);
  thread->start();
}

void TQtWipeWorker::WaitByProcessingEvents() {
  while (FRunning) QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
}

TWipeProgress TQtWipeWorker::Latest() const {
  const std::lock_guard lock(FLock);
  return FLatest;
}

void TQtWipeWorker::Progress(const TWipeProgress& Where) {
  const std::lock_guard lock(FLock);
  FLatest = Where;
}

}  // namespace kestrine::ui
