#pragma once
// How the dump viewer lays bytes out in rows, in each of its four modes, and what each row shows.
// Rows are found from any offset by looking at most a few kilobytes back, so the viewer can jump
// anywhere in a file of any size without reading what lies before.

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "ui/preview/dump_source.h"

namespace kestrine::ui {

enum class TViewerMode { vbmodeText, vbmodeBinary, vbmodeHex, vbmodeUnicode };

// The byte as the text columns show it: ASCII and the Latin-1 letters and signs as themselves,
// control bytes (and the soft hyphen, which would break the columns) as '.'.
QChar DumpChar(int Byte);
// A UTF-16 code unit as the Unicode mode shows it, by the same rule: one cell per unit.
QChar DumpUnit(int Unit);

// Where one byte (or UTF-16 unit) of a row is drawn: Width cells from Column of the row's text.
struct TDumpCell {
  std::int64_t Offset = 0;
  int Length = 1;  // bytes the cell stands for
  int Column = 0;
  int Width = 1;
};

struct TDumpRow {
  std::int64_t Start = 0;
  std::int64_t End = 0;  // one past the row's last byte
  QString Text;
  std::vector<TDumpCell> Cells;  // in the order of the text; hex and binary list each byte twice
};

class TDumpLayout {
 public:
  // Text and Unicode lines longer than this many bytes are broken at multiples of it, so a row's
  // start can always be found by looking back no further.
  static constexpr std::int64_t MaxLineBytes = 16 * 1024;

  TDumpLayout(TBlockCache& Cache, TViewerMode Mode, int TextColumns);

  TViewerMode Mode() const { return FMode; }
  // Bytes per row of hex (16) and binary (8); 0 for the modes whose rows follow the text.
  int FixedBytesPerRow() const;
  // Digits of the offset column (at least 8).
  int OffsetDigits() const { return FOffsetDigits; }
  // Widest row text in cells.
  int RowWidth() const;

  // The start of the row that holds Offset (Offset at or past the end: the last row's start).
  std::int64_t RowStart(std::int64_t Offset);
  // The start of the row after the one starting at Start; the size after the last row.
  std::int64_t NextRowStart(std::int64_t Start);
  // The start of the row before; 0 stays 0.
  std::int64_t PrevRowStart(std::int64_t Start);
  // The top row that fills a page of Rows rows at the end.
  std::int64_t LastPageTop(int Rows);

  TDumpRow Row(std::int64_t Start);

 private:
  bool TextMode() const { return FMode == TViewerMode::vbmodeText || FMode == TViewerMode::vbmodeUnicode; }
  int UnitBytes() const { return FMode == TViewerMode::vbmodeUnicode ? 2 : 1; }
  // The unit at Offset: a byte, or a UTF-16LE code unit (an odd last byte stands alone); -1 unreadable.
  int Unit(std::int64_t Offset);
  std::int64_t LineStart(std::int64_t Offset);
  // Walks one text row from Start, giving its end; Cells and Text filled when asked.
  std::int64_t WalkTextRow(std::int64_t Start, TDumpRow* Out);

  TBlockCache& FCache;
  TViewerMode FMode;
  int FTextColumns;
  int FOffsetDigits;
};

// "0x1F4", "1F4h" and "$1F4" are hexadecimal, "500" decimal; nothing for anything else.
std::optional<std::int64_t> ParseOffset(const QString& Text);
// "48 65 6c" or "48656C": an even count of hex digits, blanks between bytes allowed.
std::optional<QByteArray> ParseHexBytes(const QString& Text);
// The bytes a text search looks for: UTF-16LE in the Unicode mode; else the text in Latin-1 (when
// it has no other characters) and, if that differs, in UTF-8, as the text view shows both.
QList<QByteArray> TextPatterns(const QString& Text, TViewerMode Mode);
// What Copy puts on the clipboard for the bytes: hex pairs in the hex and binary modes, the text
// in the others (UTF-8 where the bytes are UTF-8, else Latin-1; or UTF-16LE), control characters
// but tab and line ends dropped.
QString CopyText(const QByteArray& Bytes, TViewerMode Mode);

}  // namespace kestrine::ui
