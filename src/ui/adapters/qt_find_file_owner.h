#pragma once
// The file finder's owner in the window: its completion and its failures are posted to the
// GUI thread through a context object, so nothing runs there after the object is gone.

#include <QObject>
#include <QString>
#include <functional>

#include "cleanup/findfile/find_file.h"

namespace kestrine::ui {

class TQtFindFileOwner final : public TFindFileOwner {
 public:
  using TErrorHandler = std::function<void(const QString& Message)>;
  // Context lives on the GUI thread; ShowError runs there.
  TQtFindFileOwner(QObject& Context, TErrorHandler ShowError);

  void PostToOwnerThread(std::function<void()> Step) override;
  void ShowSearchError(const std::string& Message) override;

 private:
  QObject* FContext;  // outlives the finder it serves
  TErrorHandler FShowError;
};

}  // namespace kestrine::ui
