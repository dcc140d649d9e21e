#include "ui/adapters/gauge_adapter.h"

namespace kestrine::ui {

void TGaugeAdapter::SetRange(int Min, int Max) {
  QMetaObject::invokeMethod(FBar, [bar = FBar, Min, Max] { bar->setRange(Min, Max); }, Qt::QueuedConnection);
}

void TGaugeAdapter::SetPosition(int Position) {
  if (FLast.exchange(Position) == Position) return;
  QMetaObject::invokeMethod(FBar, [bar = FBar, Position] { bar->setValue(Position); }, Qt::QueuedConnection);
}

}  // namespace kestrine::ui
