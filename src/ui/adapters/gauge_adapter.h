#pragma once
// The scan gauge: positions from the scanning thread are posted to the bar, only when they change.

#include <QProgressBar>
#include <atomic>

#include "workflow/view_ports.h"

namespace kestrine::ui {

class TGaugeAdapter final : public TGaugePort {
 public:
  explicit TGaugeAdapter(QProgressBar* Bar) : FBar(Bar) {}
  void SetRange(int Min, int Max) override;
  void SetPosition(int Position) override;

 private:
  QProgressBar* FBar;  // outlives the scans that report to it
  std::atomic<int> FLast{-1};
};

}  // namespace kestrine::ui
