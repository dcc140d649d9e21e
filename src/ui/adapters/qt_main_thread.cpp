#include "ui/adapters/qt_main_thread.h"

namespace kestrine::ui {

TQtMainThread::TQtMainThread() {
  // One posted call per queued step; a call finding the queue empty (the steps ran inside a wait)
  // costs nothing.
  FQueue.SetOnQueued([this] {
    QMetaObject::invokeMethod(this, [this] { FQueue.ProcessQueued(std::chrono::milliseconds(0)); },
                              Qt::QueuedConnection);
  });
}

}  // namespace kestrine::ui
