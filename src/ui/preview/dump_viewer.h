#pragma once
// The dump viewer: hex, binary, text or Unicode rows of a byte source, reading only the rows on
// screen, with selection, copy, going to an offset and a find that runs a slice at a time.

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <vector>

#include "ui/preview/dump_layout.h"
#include "ui/preview/dump_source.h"

namespace kestrine::ui {

class TDumpViewer final : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit TDumpViewer(QWidget* Parent = nullptr);
  ~TDumpViewer() override;

  // The viewer reads Source until the next OpenSource; nil shows nothing.
  void OpenSource(std::unique_ptr<TByteSource> Source);
  void SetMode(TViewerMode Mode);
  TViewerMode Mode() const { return FMode; }

  std::int64_t Size() const;
  // What an empty source shows in place of rows.
  void SetEmptyText(const QString& Text);
  // The captions of the context menu's Copy and Select All.
  void SetMenuTexts(const QString& Copy, const QString& SelectAll);
  std::int64_t TopOffset() const { return FTop; }
  // Whole rows that fit the window.
  int PageRows() const;
  // The rows on screen as drawn, for the status line and for checks.
  QStringList VisibleLines() const;

  void ScrollRows(std::int64_t Rows);
  void ScrollToTop();
  void ScrollToEnd();
  // Brings Offset into view and selects that byte.
  void GoToOffset(std::int64_t Offset);

  // Selected bytes, first and count; count 0 without a selection.
  std::int64_t SelectionStart() const;
  std::int64_t SelectionLength() const;
  void SetSelection(std::int64_t Start, std::int64_t Length);
  // The clipboard text of the selection (its first MaxCopyBytes bytes).
  QString SelectedText();
  void Copy();
  static constexpr std::int64_t MaxCopyBytes = 4 * 1024 * 1024;

  // Looks for the first of Patterns after the selection's start (or from the top row), a slice
  // per event-loop turn; FindFinished reports the end, and a match is selected and brought into view.
  void StartFind(const QList<QByteArray>& Patterns, bool IgnoreCase);
  void CancelFind();
  bool Finding() const { return FSearch != nullptr; }
  // Bytes a find looks through per slice.
  static constexpr std::int64_t FindSlice = 8 * 1024 * 1024;

 Q_SIGNALS:
  void FindFinished(bool Found);
  void FindProgress(qint64 Position);
  // The top row or the selection moved.
  void PositionChanged();

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void scrollContentsBy(int Dx, int Dy) override;
  void wheelEvent(QWheelEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void changeEvent(QEvent* Event) override;
  void contextMenuEvent(QContextMenuEvent* Event) override;

 private:
  void Relayout();
  void SetTop(std::int64_t Top);
  void UpdateScrollBars();
  void BuildRows();
  std::int64_t MaxTop() const { return FMaxTop; }
  int LineHeight() const;
  qreal CharWidth() const;
  int TextColumns() const;
  // The byte under a point of the viewport; -1 for none.
  std::int64_t HitTest(const QPoint& Pos) const;
  void FindStep();

  std::unique_ptr<TByteSource> FSource;
  std::unique_ptr<TBlockCache> FCache;
  std::unique_ptr<TDumpLayout> FLayout;
  TViewerMode FMode = TViewerMode::vbmodeHex;
  std::int64_t FTop = 0;
  std::int64_t FMaxTop = 0;
  std::vector<TDumpRow> FRows;
  // Scroll bar units: rows of the fixed modes or bytes of the text modes, scaled to fit an int.
  std::int64_t FPositions = 0;
  bool FSyncingBars = false;
  int FWheelRemainder = 0;
  std::int64_t FSelAnchor = -1;
  std::int64_t FSelCaret = -1;
  bool FSelecting = false;
  QString FEmptyText;
  QString FCopyText;
  QString FSelectAllText;
  std::unique_ptr<TByteSearch> FSearch;
  QTimer FFindTimer;
};

}  // namespace kestrine::ui
