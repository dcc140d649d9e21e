#include "ui/preview/dump_viewer.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace kestrine::ui {

namespace {

// QScrollBar counts in int; beyond this many units a unit stands for several rows or bytes.
constexpr std::int64_t MaxScrollUnits = std::int64_t{1} << 30;

std::int64_t Scale(std::int64_t Value, std::int64_t From, std::int64_t To) {
  if (From <= 0) return 0;
  return static_cast<std::int64_t>(static_cast<long double>(Value) * To / From + 0.5L);
}

}  // namespace

TDumpViewer::TDumpViewer(QWidget* Parent) : QAbstractScrollArea(Parent) {
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setBackgroundRole(QPalette::Base);
  // A bar that came and went would change the text modes' width, and with it every row.
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  FFindTimer.setInterval(0);
  connect(&FFindTimer, &QTimer::timeout, this, &TDumpViewer::FindStep);
}

TDumpViewer::~TDumpViewer() = default;

void TDumpViewer::OpenSource(std::unique_ptr<TByteSource> Source) {
  CancelFind();
  FLayout.reset();
  FCache.reset();
  FSource = std::move(Source);
  if (FSource) FCache = std::make_unique<TBlockCache>(*FSource);
  FTop = 0;
  FSelAnchor = FSelCaret = -1;
  horizontalScrollBar()->setValue(0);
  Relayout();
}

void TDumpViewer::SetMode(TViewerMode Mode) {
  if (Mode == FMode && FLayout) return;
  FMode = Mode;
  Relayout();
}

std::int64_t TDumpViewer::Size() const { return FCache ? FCache->Size() : 0; }

void TDumpViewer::SetEmptyText(const QString& Text) {
  FEmptyText = Text;
  viewport()->update();
}

int TDumpViewer::LineHeight() const { return std::max(1, fontMetrics().height()); }
// Fractional: a fixed font's advance is rarely a whole number of pixels, and rounding it would
// let the glyphs drift away from the selection boxes along a row.
qreal TDumpViewer::CharWidth() const { return std::max<qreal>(1, QFontMetricsF(font()).horizontalAdvance(QLatin1Char('0'))); }
int TDumpViewer::PageRows() const { return std::max(1, viewport()->height() / LineHeight()); }
int TDumpViewer::TextColumns() const { return std::max(16, static_cast<int>((viewport()->width() - CharWidth()) / CharWidth())); }

void TDumpViewer::Relayout() {
  const std::int64_t keep = FTop;
  FLayout = FCache ? std::make_unique<TDumpLayout>(*FCache, FMode, TextColumns()) : nullptr;
  UpdateScrollBars();
  FTop = -1;
  SetTop(FLayout ? FLayout->RowStart(keep) : 0);
}

void TDumpViewer::UpdateScrollBars() {
  FMaxTop = FLayout ? FLayout->LastPageTop(PageRows()) : 0;
  const int perRow = FLayout ? FLayout->FixedBytesPerRow() : 0;
  FPositions = perRow ? FMaxTop / perRow : FMaxTop;
  const std::int64_t units = std::min(FPositions, MaxScrollUnits);
  FSyncingBars = true;
  QScrollBar* bar = verticalScrollBar();
  bar->setRange(0, static_cast<int>(units));
  bar->setSingleStep(1);
  // A page in scroll units: rows per page in the fixed modes, about a page's bytes in the others.
  const std::int64_t pageUnits = perRow ? PageRows() : std::int64_t{PageRows()} * TextColumns();
  bar->setPageStep(static_cast<int>(std::clamp<std::int64_t>(Scale(pageUnits, FPositions, units), 1, MaxScrollUnits)));
  const int width = FLayout ? FLayout->RowWidth() + 1 : 0;
  const int shown = std::max(1, static_cast<int>(viewport()->width() / CharWidth()));
  horizontalScrollBar()->setRange(0, std::max(0, width - shown));
  horizontalScrollBar()->setPageStep(shown);
  FSyncingBars = false;
}

void TDumpViewer::SetTop(std::int64_t Top) {
  Top = std::clamp<std::int64_t>(Top, 0, FMaxTop);
  if (Top == FTop) return;
  FTop = Top;
  const int perRow = FLayout ? FLayout->FixedBytesPerRow() : 0;
  const std::int64_t position = perRow ? FTop / perRow : FTop;
  FSyncingBars = true;
  verticalScrollBar()->setValue(static_cast<int>(Scale(position, FPositions, verticalScrollBar()->maximum())));
  FSyncingBars = false;
  BuildRows();
  viewport()->update();
  Q_EMIT PositionChanged();
}

void TDumpViewer::BuildRows() {
  FRows.clear();
  if (!FLayout) return;
  const std::int64_t size = Size();
  std::int64_t start = FTop;
  // One more row than fits: the partly visible one at the bottom.
  for (int i = 0; i <= PageRows() && start < size; ++i) {
    TDumpRow row = FLayout->Row(start);
    if (row.End <= start) break;
    start = row.End;
    FRows.push_back(std::move(row));
  }
}

QStringList TDumpViewer::VisibleLines() const {
  QStringList lines;
  const int rows = std::min<int>(PageRows(), static_cast<int>(FRows.size()));
  for (int i = 0; i < rows; ++i) lines.append(FRows[static_cast<std::size_t>(i)].Text);
  return lines;
}

void TDumpViewer::ScrollRows(std::int64_t Rows) {
  if (!FLayout || Rows == 0) return;
  if (const int perRow = FLayout->FixedBytesPerRow()) {
    const std::int64_t step = std::clamp<std::int64_t>(Rows, -(FTop / perRow) - 1, (FMaxTop - FTop) / perRow + 1);
    SetTop(FTop + step * perRow);
    return;
  }
  std::int64_t top = FTop;
  for (std::int64_t i = 0; i < Rows && top < FMaxTop; ++i) top = FLayout->NextRowStart(top);
  for (std::int64_t i = 0; i > Rows && top > 0; --i) top = FLayout->PrevRowStart(top);
  SetTop(top);
}

void TDumpViewer::ScrollToTop() { SetTop(0); }
void TDumpViewer::ScrollToEnd() { SetTop(FMaxTop); }

void TDumpViewer::GoToOffset(std::int64_t Offset) {
  if (!FLayout || Size() == 0) return;
  Offset = std::clamp<std::int64_t>(Offset, 0, Size() - 1);
  SetSelection(Offset, 1);
  const bool visible = !FRows.empty() && Offset >= FTop &&
                       Offset < FRows[static_cast<std::size_t>(std::min<int>(PageRows(), static_cast<int>(FRows.size())) - 1)].End;
  if (!visible) SetTop(FLayout->RowStart(Offset));
}

std::int64_t TDumpViewer::SelectionStart() const { return FSelAnchor < 0 ? 0 : std::min(FSelAnchor, FSelCaret); }

std::int64_t TDumpViewer::SelectionLength() const {
  return FSelAnchor < 0 ? 0 : std::max(FSelAnchor, FSelCaret) - std::min(FSelAnchor, FSelCaret) + 1;
}

void TDumpViewer::SetSelection(std::int64_t Start, std::int64_t Length) {
  if (Length <= 0 || Start < 0 || Start >= Size()) {
    FSelAnchor = FSelCaret = -1;
  } else {
    FSelAnchor = Start;
    FSelCaret = std::min(Size(), Start + Length) - 1;
  }
  viewport()->update();
  Q_EMIT PositionChanged();
}

QString TDumpViewer::SelectedText() {
  if (!FCache || SelectionLength() == 0) return {};
  QByteArray bytes(static_cast<qsizetype>(std::min(SelectionLength(), MaxCopyBytes)), Qt::Uninitialized);
  const std::int64_t got = FCache->Read(SelectionStart(), reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size());
  bytes.truncate(static_cast<qsizetype>(got));
  return CopyText(bytes, FMode);
}

void TDumpViewer::Copy() {
  const QString text = SelectedText();
  if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

void TDumpViewer::StartFind(const QList<QByteArray>& Patterns, bool IgnoreCase) {
  CancelFind();
  std::vector<TByteSearch::TPattern> patterns;
  for (const QByteArray& pattern : Patterns)
    if (!pattern.isEmpty()) patterns.emplace_back(pattern.begin(), pattern.end());
  if (!FSource || patterns.empty()) {
    Q_EMIT FindFinished(false);
    return;
  }
  const std::int64_t from = SelectionLength() > 0 ? SelectionStart() + 1 : FTop;
  FSearch = std::make_unique<TByteSearch>(*FSource, std::move(patterns), IgnoreCase, from);
  FFindTimer.start();
}

void TDumpViewer::CancelFind() {
  FFindTimer.stop();
  FSearch.reset();
}

void TDumpViewer::FindStep() {
  if (!FSearch) return;
  const TByteSearch::TState state = FSearch->Step(FindSlice);
  if (state == TByteSearch::TState::Running) {
    Q_EMIT FindProgress(FSearch->Position());
    return;
  }
  const std::int64_t match = FSearch->Match();
  const std::int64_t length = FSearch->MatchLength();
  CancelFind();
  if (state == TByteSearch::TState::Found) {
    GoToOffset(match);
    SetSelection(match, length);
  }
  Q_EMIT FindFinished(state == TByteSearch::TState::Found);
}

void TDumpViewer::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const QPalette& pal = palette();
  painter.fillRect(viewport()->rect(), pal.base());
  const int lh = LineHeight();
  const qreal cw = CharWidth();
  const int ascent = fontMetrics().ascent();
  const qreal x0 = cw / 2 - horizontalScrollBar()->value() * cw;
  const std::int64_t selFirst = SelectionStart();
  const std::int64_t selLast = selFirst + SelectionLength() - 1;
  const int offsetColumns = FLayout && FLayout->FixedBytesPerRow() ? FLayout->OffsetDigits() : 0;
  const QColor dim = pal.color(QPalette::PlaceholderText);

  if (FSource && Size() == 0) {
    painter.setPen(dim);
    painter.drawText(viewport()->rect().adjusted(lh, lh, -lh, -lh), Qt::AlignCenter | Qt::TextWordWrap, FEmptyText);
    return;
  }
  int y = 0;
  for (const TDumpRow& row : FRows) {
    // Which columns are selected: they are drawn as runs in the highlight colours.
    std::vector<bool> selected(static_cast<std::size_t>(row.Text.size()), false);
    if (SelectionLength() > 0 && row.End > selFirst && row.Start <= selLast) {
      auto inSelection = [&](const TDumpCell& Cell) { return Cell.Offset + Cell.Length - 1 >= selFirst && Cell.Offset <= selLast; };
      for (std::size_t i = 0; i < row.Cells.size(); ++i) {
        const TDumpCell& cell = row.Cells[i];
        if (!inSelection(cell)) continue;
        int to = cell.Column + cell.Width;
        // The blanks between two selected bytes of one column group are selected too.
        if (i + 1 < row.Cells.size() && row.Cells[i + 1].Column > cell.Column && row.Cells[i + 1].Offset == cell.Offset + cell.Length &&
            inSelection(row.Cells[i + 1]))
          to = row.Cells[i + 1].Column;
        for (int c = cell.Column; c < to && c < row.Text.size(); ++c) selected[static_cast<std::size_t>(c)] = true;
      }
    }
    int column = 0;
    while (column < row.Text.size()) {
      const bool sel = selected[static_cast<std::size_t>(column)];
      const bool isOffset = column < offsetColumns;
      int end = column + 1;
      while (end < row.Text.size() && selected[static_cast<std::size_t>(end)] == sel && (end < offsetColumns) == isOffset)
        ++end;
      const QRectF box(x0 + column * cw, y, (end - column) * cw, lh);
      if (sel) painter.fillRect(box, pal.highlight());
      painter.setPen(sel ? pal.color(QPalette::HighlightedText) : isOffset ? dim : pal.color(QPalette::Text));
      painter.drawText(QPointF(box.x(), y + ascent), row.Text.mid(column, end - column));
      column = end;
    }
    y += lh;
  }
}

void TDumpViewer::resizeEvent(QResizeEvent* Event) {
  QAbstractScrollArea::resizeEvent(Event);
  Relayout();
  BuildRows();
}

void TDumpViewer::changeEvent(QEvent* Event) {
  QAbstractScrollArea::changeEvent(Event);
  if (Event->type() == QEvent::FontChange) {
    Relayout();
    BuildRows();
  }
}

void TDumpViewer::scrollContentsBy(int, int Dy) {
  // Only a move of the vertical bar moves the rows: mapping its value back can land a byte or two
  // off the top row when the bar is scaled, which must not make a sideways scroll jump a row.
  if (FSyncingBars || !FLayout || Dy == 0) {
    viewport()->update();
    return;
  }
  const int perRow = FLayout->FixedBytesPerRow();
  const std::int64_t position = Scale(verticalScrollBar()->value(), verticalScrollBar()->maximum(), FPositions);
  const std::int64_t top = std::min(FMaxTop, perRow ? position * perRow : FLayout->RowStart(position));
  if (top != FTop) {
    FTop = top;
    BuildRows();
    Q_EMIT PositionChanged();
  }
  viewport()->update();
}

void TDumpViewer::wheelEvent(QWheelEvent* Event) {
  const QPoint delta = Event->angleDelta();
  if (Event->modifiers() & Qt::ShiftModifier || (delta.x() != 0 && delta.y() == 0)) {
    QAbstractScrollArea::wheelEvent(Event);
    return;
  }
  FWheelRemainder += delta.y();
  const int notches = FWheelRemainder / 120;
  FWheelRemainder -= notches * 120;
  ScrollRows(-std::int64_t{notches} * QApplication::wheelScrollLines());
  Event->accept();
}

void TDumpViewer::keyPressEvent(QKeyEvent* Event) {
  if (Event->matches(QKeySequence::Copy)) {
    Copy();
    return;
  }
  if (Event->matches(QKeySequence::SelectAll)) {
    SetSelection(0, Size());
    return;
  }
  switch (Event->key()) {
    case Qt::Key_Down: ScrollRows(1); break;
    case Qt::Key_Up: ScrollRows(-1); break;
    case Qt::Key_PageDown: ScrollRows(PageRows()); break;
    case Qt::Key_PageUp: ScrollRows(-PageRows()); break;
    case Qt::Key_Home: ScrollToTop(); break;
    case Qt::Key_End: ScrollToEnd(); break;
    case Qt::Key_Left: horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub); break;
    case Qt::Key_Right: horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd); break;
    default: QAbstractScrollArea::keyPressEvent(Event); return;
  }
  Event->accept();
}

std::int64_t TDumpViewer::HitTest(const QPoint& Pos) const {
  if (FRows.empty()) return -1;
  const int index = std::clamp(Pos.y() / LineHeight(), 0, static_cast<int>(FRows.size()) - 1);
  const TDumpRow& row = FRows[static_cast<std::size_t>(Pos.y() < 0 ? 0 : index)];
  const qreal cw = CharWidth();
  const int column = static_cast<int>(std::floor((Pos.x() - cw / 2) / cw)) + horizontalScrollBar()->value();
  const TDumpCell* best = nullptr;
  int bestDistance = 0;
  for (const TDumpCell& cell : row.Cells) {
    const int distance = column < cell.Column ? cell.Column - column
                         : column >= cell.Column + std::max(cell.Width, 1) ? column - (cell.Column + std::max(cell.Width, 1)) + 1
                                                                         : 0;
    if (!best || distance < bestDistance) {
      best = &cell;
      bestDistance = distance;
    }
  }
  return best ? best->Offset : -1;
}

void TDumpViewer::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton) {
    QAbstractScrollArea::mousePressEvent(Event);
    return;
  }
  const std::int64_t hit = HitTest(Event->position().toPoint());
  if (hit < 0) return;
  if (Event->modifiers() & Qt::ShiftModifier && FSelAnchor >= 0) {
    FSelCaret = hit;
  } else {
    FSelAnchor = FSelCaret = hit;
  }
  FSelecting = true;
  viewport()->update();
  Q_EMIT PositionChanged();
}

void TDumpViewer::mouseMoveEvent(QMouseEvent* Event) {
  if (!FSelecting) return;
  const QPoint pos = Event->position().toPoint();
  // Dragging past the edge scrolls, a row per move.
  if (pos.y() < 0) ScrollRows(-1);
  if (pos.y() >= viewport()->height()) ScrollRows(1);
  const std::int64_t hit = HitTest(pos);
  if (hit >= 0 && hit != FSelCaret) {
    FSelCaret = hit;
    viewport()->update();
    Q_EMIT PositionChanged();
  }
}

void TDumpViewer::SetMenuTexts(const QString& Copy, const QString& SelectAll) {
  FCopyText = Copy;
  FSelectAllText = SelectAll;
}

void TDumpViewer::contextMenuEvent(QContextMenuEvent* Event) {
  QMenu menu(this);
  QAction* copy = menu.addAction(FCopyText);
  copy->setShortcut(QKeySequence::Copy);
  copy->setEnabled(SelectionLength() > 0);
  QAction* all = menu.addAction(FSelectAllText);
  all->setShortcut(QKeySequence::SelectAll);
  all->setEnabled(Size() > 0);
  connect(copy, &QAction::triggered, this, &TDumpViewer::Copy);
  connect(all, &QAction::triggered, this, [this] { SetSelection(0, Size()); });
  menu.exec(Event->globalPos());
}

void TDumpViewer::mouseReleaseEvent(QMouseEvent* Event) {
  FSelecting = false;
  QAbstractScrollArea::mouseReleaseEvent(Event);
}

}  // namespace kestrine::ui
