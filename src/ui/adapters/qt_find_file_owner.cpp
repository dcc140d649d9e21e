#include "ui/adapters/qt_find_file_owner.h"

#include <utility>

namespace kestrine::ui {

TQtFindFileOwner::TQtFindFileOwner(QObject& Context, TErrorHandler ShowError)
    : FContext(&Context), FShowError(std::move(ShowError)) {}

void TQtFindFileOwner::PostToOwnerThread(std::function<void()> Step) {
  // Posted calls to one receiver run in the order posted, so the completion follows every event
  // posted before it.
  QMetaObject::invokeMethod(FContext, std::move(Step), Qt::QueuedConnection);
}

void TQtFindFileOwner::ShowSearchError(const std::string& Message) {
  PostToOwnerThread([this, text = QString::fromStdString(Message)] {
    if (FShowError) FShowError(text);
  });
}

}  // namespace kestrine::ui
