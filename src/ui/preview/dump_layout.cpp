#include "ui/preview/dump_layout.h"

#include <algorithm>

#include "support/hex_digits.h"

namespace kestrine::ui {

namespace {

constexpr int HexBytesPerRow = 16;
constexpr int BinaryBytesPerRow = 8;
constexpr int TabWidth = 8;

// The digit of Value's lowest four bits.
QChar HexDigitChar(std::int64_t Value) { return QChar::fromLatin1(HexDigit(static_cast<unsigned>(Value & 15), true)); }

bool Printable(int Unit) { return (Unit >= 0x20 && Unit < 0x7F) || (Unit >= 0xA0 && Unit <= 0xFF && Unit != 0xAD); }

bool KeptInCopy(QChar C) { return C == u'\t' || C == u'\n' || C == u'\r' || C.unicode() >= 0x20; }

struct TUtf8Char {
  char32_t Code = 0;
  int Length = 0;  // 0: the bytes are no well-formed sequence
};

// The well-formed UTF-8 sequence that starts with Lead, its other bytes given by Next(1..3)
// (-1 where there is none); overlong forms and surrogates are no sequence.
template <typename TNext>
TUtf8Char DecodeUtf8(int Lead, TNext Next) {
  int length = 0;
  char32_t code = 0;
  int low = 0x80, high = 0xBF;  // the second byte's range
  if (Lead >= 0xC2 && Lead <= 0xDF) {
    length = 2;
    code = static_cast<char32_t>(Lead & 0x1F);
  } else if (Lead >= 0xE0 && Lead <= 0xEF) {
    length = 3;
    code = static_cast<char32_t>(Lead & 0x0F);
    if (Lead == 0xE0) low = 0xA0;
    if (Lead == 0xED) high = 0x9F;
  } else if (Lead >= 0xF0 && Lead <= 0xF4) {
    length = 4;
    code = static_cast<char32_t>(Lead & 0x07);
    if (Lead == 0xF0) low = 0x90;
    if (Lead == 0xF4) high = 0x8F;
  } else {
    return {};
  }
  for (int i = 1; i < length; ++i) {
    const int b = Next(i);
    if (b < (i == 1 ? low : 0x80) || b > (i == 1 ? high : 0xBF)) return {};
    code = (code << 6) | static_cast<char32_t>(b & 0x3F);
  }
  return {code, length};
}

// A decoded character in one cell: as DumpChar or DumpUnit would show it, characters beyond the
// first plane (two UTF-16 units) as '.'.
QChar CodeCell(char32_t Code) {
  if (Code < 0x100) return DumpChar(static_cast<int>(Code));
  if (Code > 0xFFFF) return u'.';
  return DumpUnit(static_cast<int>(Code));
}

}  // namespace

QChar DumpChar(int Byte) {
  if (Byte < 0) return u'?';
  return Printable(Byte) ? QChar(static_cast<char16_t>(Byte)) : QChar(u'.');
}

QChar DumpUnit(int Unit) {
  if (Unit < 0) return u'?';
  if (Unit < 0x100) return DumpChar(Unit);
  const QChar c(static_cast<char16_t>(Unit));
  // One cell per unit: halves of surrogate pairs and invisible format characters would break the columns.
  if (c.isSurrogate() || !c.isPrint()) return u'.';
  return c;
}

TDumpLayout::TDumpLayout(TBlockCache& Cache, TViewerMode Mode, int TextColumns)
    : FCache(Cache), FMode(Mode), FTextColumns(std::max(TextColumns, 16)), FOffsetDigits(8) {
  for (std::int64_t last = Cache.Size() - 1; (last >> (4 * FOffsetDigits)) > 0;) ++FOffsetDigits;
}

int TDumpLayout::FixedBytesPerRow() const {
  switch (FMode) {
    case TViewerMode::vbmodeHex: return HexBytesPerRow;
    case TViewerMode::vbmodeBinary: return BinaryBytesPerRow;
    default: return 0;
  }
}

int TDumpLayout::RowWidth() const {
  switch (FMode) {
    case TViewerMode::vbmodeHex: return FOffsetDigits + 2 + 3 * HexBytesPerRow + 2 + HexBytesPerRow;
    case TViewerMode::vbmodeBinary: return FOffsetDigits + 2 + 9 * BinaryBytesPerRow + 1 + BinaryBytesPerRow;
    default: return FTextColumns;
  }
}

int TDumpLayout::Unit(std::int64_t Offset) {
  const int low = FCache.At(Offset);
  if (FMode != TViewerMode::vbmodeUnicode || low < 0 || Offset + 1 >= FCache.Size()) return low;
  const int high = FCache.At(Offset + 1);
  return high < 0 ? -1 : low | (high << 8);
}

std::int64_t TDumpLayout::LineStart(std::int64_t Offset) {
  const int unit = UnitBytes();
  Offset -= Offset % unit;
  const std::int64_t floor = Offset - Offset % MaxLineBytes;
  for (std::int64_t p = Offset - unit; p >= floor; p -= unit) {
    const int u = Unit(p);
    if (u == '\n') return p + unit;
    if (u == '\r' && Unit(p + unit) != '\n') return p + unit;
  }
  return floor;
}

std::int64_t TDumpLayout::WalkTextRow(std::int64_t Start, TDumpRow* Out) {
  const int unit = UnitBytes();
  const std::int64_t size = FCache.Size();
  std::int64_t p = Start;
  int column = 0;
  auto addCell = [&](std::int64_t At, int Length, int Width) {
    if (Out) Out->Cells.push_back({At, Length, column, Width});
  };
  while (p < size) {
    if (p > Start && p % MaxLineBytes == 0) break;
    const int u = Unit(p);
    const int length = static_cast<int>(std::min<std::int64_t>(unit, size - p));
    if (u == '\n') {
      addCell(p, length, 0);
      p += length;
      break;
    }
    if (u == '\r') {
      addCell(p, length, 0);
      p += length;
      if (p < size && Unit(p) == '\n') continue;
      break;
    }
    const int width = u == '\t' ? TabWidth - column % TabWidth : 1;
    if (column > 0 && column + width > FTextColumns) break;
    // UTF-8 text shows its characters; other bytes above 0x7F are Latin-1. A sequence that would
    // cross a forced line break is not decoded, so rows stay the same however they are reached.
    TUtf8Char utf8;
    if (FMode == TViewerMode::vbmodeText && u >= 0xC2) {
      const std::int64_t limit = std::min(size, (p / MaxLineBytes + 1) * MaxLineBytes);
      utf8 = DecodeUtf8(u, [&](int I) { return p + I < limit ? FCache.At(p + I) : -1; });
    }
    const int cellLength = utf8.Length ? utf8.Length : length;
    addCell(p, cellLength, width);
    if (Out) {
      if (u == '\t')
        Out->Text.append(QString(width, u' '));
      else if (utf8.Length)
        Out->Text.append(CodeCell(utf8.Code));
      else
        Out->Text.append(FMode == TViewerMode::vbmodeUnicode ? DumpUnit(u) : DumpChar(u));
    }
    column += width;
    p += cellLength;
  }
  return p;
}

std::int64_t TDumpLayout::RowStart(std::int64_t Offset) {
  const std::int64_t size = FCache.Size();
  if (size <= 0 || Offset <= 0) return 0;
  Offset = std::min(Offset, size - 1);
  if (const int perRow = FixedBytesPerRow()) return Offset - Offset % perRow;
  std::int64_t start = LineStart(Offset);
  for (;;) {
    const std::int64_t end = WalkTextRow(start, nullptr);
    if (end > Offset || end <= start) return start;
    start = end;
  }
}

std::int64_t TDumpLayout::NextRowStart(std::int64_t Start) {
  const std::int64_t size = FCache.Size();
  if (Start >= size) return size;
  if (const int perRow = FixedBytesPerRow()) return std::min(size, Start + perRow);
  return std::max(WalkTextRow(Start, nullptr), std::min(size, Start + 1));
}

std::int64_t TDumpLayout::PrevRowStart(std::int64_t Start) { return Start <= 0 ? 0 : RowStart(Start - 1); }

std::int64_t TDumpLayout::LastPageTop(int Rows) {
  const std::int64_t size = FCache.Size();
  if (size <= 0) return 0;
  Rows = std::max(Rows, 1);
  if (const int perRow = FixedBytesPerRow()) {
    const std::int64_t lastRow = (size - 1) / perRow;
    return std::max<std::int64_t>(0, lastRow - Rows + 1) * perRow;
  }
  std::int64_t top = RowStart(size - 1);
  for (int i = 1; i < Rows && top > 0; ++i) top = PrevRowStart(top);
  return top;
}

TDumpRow TDumpLayout::Row(std::int64_t Start) {
  TDumpRow row;
  row.Start = Start;
  const int perRow = FixedBytesPerRow();
  if (!perRow) {
    row.End = WalkTextRow(Start, &row);
    return row;
  }
  const std::int64_t size = FCache.Size();
  row.End = std::min(size, Start + perRow);
  QString& text = row.Text;
  for (int d = FOffsetDigits - 1; d >= 0; --d) text.append(HexDigitChar(Start >> (4 * d)));
  text.append(u"  ");
  const bool hex = FMode == TViewerMode::vbmodeHex;
  QString chars;
  std::vector<TDumpCell> charCells;
  const int charColumn = hex ? FOffsetDigits + 2 + 3 * HexBytesPerRow + 2 : FOffsetDigits + 2 + 9 * perRow + 1;
  for (int i = 0; i < perRow; ++i) {
    if (hex && i == HexBytesPerRow / 2) text.append(u' ');
    const std::int64_t at = Start + i;
    const int column = static_cast<int>(text.size());
    if (at >= row.End) {
      text.append(QString(hex ? 3 : 9, u' '));
      continue;
    }
    const int b = FCache.At(at);
    if (hex) {
      if (b < 0)
        text.append(u"??");
      else
        text.append(HexDigitChar(b >> 4)).append(HexDigitChar(b));
    } else {
      for (int bit = 7; bit >= 0; --bit) text.append(b < 0 ? QChar(u'?') : QChar(b & (1 << bit) ? u'1' : u'0'));
    }
    text.append(u' ');
    row.Cells.push_back({at, 1, column, hex ? 2 : 8});
    charCells.push_back({at, 1, charColumn + i, 1});
    chars.append(DumpChar(b));
  }
  text.append(QString(charColumn - static_cast<int>(text.size()), u' '));
  text.append(chars);
  row.Cells.insert(row.Cells.end(), charCells.begin(), charCells.end());
  return row;
}

std::optional<std::int64_t> ParseOffset(const QString& Text) {
  QString s = Text.trimmed();
  int base = 10;
  if (s.startsWith(u"0x", Qt::CaseInsensitive)) {
    s = s.mid(2);
    base = 16;
  } else if (s.startsWith(u'$')) {
    s = s.mid(1);
    base = 16;
  } else if (s.endsWith(u'h', Qt::CaseInsensitive)) {
    s.chop(1);
    base = 16;
  }
  if (s.isEmpty() || s.startsWith(u'-') || s.startsWith(u'+')) return std::nullopt;
  bool ok = false;
  const qlonglong value = s.toLongLong(&ok, base);
  if (!ok || value < 0) return std::nullopt;
  return value;
}

std::optional<QByteArray> ParseHexBytes(const QString& Text) {
  QString digits;
  for (QChar c : Text) {
    if (c.isSpace()) continue;
    const char16_t u = c.unicode();
    if (!((u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F'))) return std::nullopt;
    digits.append(c);
  }
  if (digits.isEmpty() || digits.size() % 2) return std::nullopt;
  return QByteArray::fromHex(digits.toLatin1());
}

QList<QByteArray> TextPatterns(const QString& Text, TViewerMode Mode) {
  if (Text.isEmpty()) return {};
  if (Mode == TViewerMode::vbmodeUnicode) {
    QByteArray bytes;
    for (QChar c : Text) bytes.append(static_cast<char>(c.unicode() & 0xFF)).append(static_cast<char>(c.unicode() >> 8));
    return {bytes};
  }
  QList<QByteArray> patterns;
  const bool latin1 = std::all_of(Text.begin(), Text.end(), [](QChar C) { return C.unicode() <= 0xFF; });
  if (latin1) patterns.append(Text.toLatin1());
  const QByteArray utf8 = Text.toUtf8();
  if (!latin1 || utf8 != patterns.front()) patterns.append(utf8);
  return patterns;
}

QString CopyText(const QByteArray& Bytes, TViewerMode Mode) {
  QString text;
  if (Mode == TViewerMode::vbmodeHex || Mode == TViewerMode::vbmodeBinary) {
    text.reserve(Bytes.size() * 3);
    for (qsizetype i = 0; i < Bytes.size(); ++i) {
      if (i) text.append(u' ');
      const auto b = static_cast<std::uint8_t>(Bytes[i]);
      text.append(HexDigitChar(b >> 4)).append(HexDigitChar(b));
    }
    return text;
  }
  if (Mode == TViewerMode::vbmodeUnicode) {
    for (qsizetype i = 0; i + 1 < Bytes.size(); i += 2) {
      const QChar c(static_cast<char16_t>(static_cast<std::uint8_t>(Bytes[i]) | static_cast<std::uint8_t>(Bytes[i + 1]) << 8));
      if (KeptInCopy(c)) text.append(c);
    }
    return text;
  }
  auto byteAt = [&](qsizetype I) { return I < Bytes.size() ? static_cast<int>(static_cast<std::uint8_t>(Bytes[I])) : -1; };
  for (qsizetype i = 0; i < Bytes.size();) {
    const int b = byteAt(i);
    const TUtf8Char utf8 = DecodeUtf8(b, [&](int K) { return byteAt(i + K); });
    if (utf8.Length) {
      if (utf8.Code >= 0xA0) text.append(QString::fromUcs4(&utf8.Code, 1));
      i += utf8.Length;
      continue;
    }
    const QChar c(static_cast<char16_t>(b));
    if (KeptInCopy(c) && !(c.unicode() >= 0x7F && c.unicode() < 0xA0)) text.append(c);
    ++i;
  }
  return text;
}

}  // namespace kestrine::ui
