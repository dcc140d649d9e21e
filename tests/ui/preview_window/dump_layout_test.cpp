// The dump viewer's rows, cache and search, without a window.
#include <gtest/gtest.h>

#include <QStringList>
#include <random>

#include "tests/ui/preview_window/fake_streams.h"
#include "ui/preview/dump_layout.h"
#include "ui/preview/dump_source.h"

namespace kestrine::ui {
namespace {

using test::TMemorySource;

// Row starts walked forward from 0, the reference for every other way of finding a row.
std::vector<std::int64_t> WalkRows(TDumpLayout& Layout, std::int64_t Size) {
  std::vector<std::int64_t> starts;
  for (std::int64_t s = 0; s < Size; s = Layout.NextRowStart(s)) starts.push_back(s);
  return starts;
}

TEST(DumpRows, HexRowShowsOffsetBytesAndCharactersInAlignedColumns) {
  QByteArray data("Hello\x00\x01\x7F\xE9\xAD\xFFWorld!", 17);
  data.append("tail");
  TMemorySource source(data);
  TBlockCache cache(source);
  TDumpLayout layout(cache, TViewerMode::vbmodeHex, 80);
  const TDumpRow first = layout.Row(0);
  EXPECT_EQ(first.Text,
            QString::fromUtf8("00000000  48 65 6C 6C 6F 00 01 7F  E9 AD FF 57 6F 72 6C 64  Hello...\u00E9.\u00FFWorld"));
  EXPECT_EQ(first.End, 16);
  // The short last row is padded so that its characters stand under the others'.
  const TDumpRow last = layout.Row(16);
  EXPECT_EQ(last.Text.indexOf(u"!tail"), first.Text.indexOf(u"Hello"));
  EXPECT_EQ(last.Text.left(10), u"00000010  ");
  EXPECT_EQ(last.End, 21);
  // Each byte has a hex cell and a character cell, at the columns its text occupies.
  ASSERT_EQ(first.Cells.size(), 32u);
  EXPECT_EQ(first.Text.mid(first.Cells[8].Column, 2), u"E9");
  EXPECT_EQ(first.Text.mid(first.Cells[16 + 8].Column, 1), QString(QChar(0xE9)));
  EXPECT_EQ(layout.RowWidth(), first.Text.size());
}

TEST(DumpRows, BinaryRowShowsBitsAndOffsetsWidenBeyondFourGigabytes) {
  TMemorySource source(QByteArray("\x81" "\x00" "A", 3));
  TBlockCache cache(source);
  TDumpLayout layout(cache, TViewerMode::vbmodeBinary, 80);
  const TDumpRow row = layout.Row(0);
  EXPECT_TRUE(row.Text.startsWith(u"00000000  10000001 00000000 01000001 ")) << row.Text.toStdString();
  EXPECT_TRUE(row.Text.endsWith(u"..A"));
  EXPECT_EQ(layout.FixedBytesPerRow(), 8);

  struct THugeSource final : TByteSource {
    std::int64_t Size() const override { return std::int64_t{1} << 40; }
    std::int64_t ReadAt(std::int64_t, void* Buffer, std::int64_t Count) override {
      std::memset(Buffer, 'z', static_cast<std::size_t>(Count));
      return Count;
    }
  } huge;
  TBlockCache hugeCache(huge);
  TDumpLayout hex(hugeCache, TViewerMode::vbmodeHex, 80);
  EXPECT_EQ(hex.OffsetDigits(), 10);
  EXPECT_TRUE(hex.Row(hex.LastPageTop(1)).Text.startsWith(u"FFFFFFFFF0  "));
}

TEST(DumpRows, TextRowsBreakAtLineEndsWrapAtTheWidthAndExpandTabs) {
  // LF, CR LF and a lone CR each end a line; a line longer than the width wraps.
  TMemorySource source(QByteArray("one\ntwo\r\nthree\rabcdefghijklmnopqrstuvwxyz\n\tx\x01y"));
  TBlockCache cache(source);
  TDumpLayout layout(cache, TViewerMode::vbmodeText, 16);
  QStringList texts;
  for (std::int64_t s : WalkRows(layout, source.Size())) texts << layout.Row(s).Text;
  EXPECT_EQ(texts, (QStringList{"one", "two", "three", "abcdefghijklmnop", "qrstuvwxyz", "        x.y"}));

  // From any offset inside a row, its start; before and after it, its neighbours.
  const std::vector<std::int64_t> starts = WalkRows(layout, source.Size());
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const std::int64_t end = i + 1 < starts.size() ? starts[i + 1] : source.Size();
    for (std::int64_t p = starts[i]; p < end; ++p) EXPECT_EQ(layout.RowStart(p), starts[i]) << p;
    EXPECT_EQ(layout.PrevRowStart(starts[i]), i ? starts[i - 1] : 0);
  }
  EXPECT_EQ(layout.LastPageTop(2), starts[starts.size() - 2]);
  EXPECT_EQ(layout.LastPageTop(100), 0);
}

TEST(DumpRows, TextRowsShowUtf8CharactersAndLatin1Bytes) {
  // "café" in UTF-8 and in Latin-1, a lead byte without its follower, an overlong form, a character
  // beyond the first plane, and a euro sign.
  TMemorySource source(QByteArray("caf\xC3\xA9 caf\xE9 \xC3( \xC0\xAF \xF0\x9F\x98\x80 \xE2\x82\xAC"));
  TBlockCache cache(source);
  TDumpLayout layout(cache, TViewerMode::vbmodeText, 80);
  const TDumpRow row = layout.Row(0);
  EXPECT_EQ(row.Text, QString::fromUtf8("caf\u00E9 caf\u00E9 \u00C3( \u00C0\u00AF . \u20AC"));
  // One cell per character, covering all of its bytes.
  ASSERT_EQ(row.Cells.size(), static_cast<std::size_t>(row.Text.size()));
  EXPECT_EQ(row.Cells[3].Offset, 3);
  EXPECT_EQ(row.Cells[3].Length, 2);
  EXPECT_EQ(row.Cells[4].Offset, 5);
  EXPECT_EQ(row.Cells.back().Length, 3);
  EXPECT_EQ(row.End, source.Size());
}

TEST(DumpRows, RowsOfAnEndlessLineAreTheSameFromWhereverTheyAreFound) {
  // 100 KiB without a line end: a row found by jumping into the middle must be one that walking
  // from the start reaches, or scrolling would show different rows for the same bytes. Characters
  // of two and three bytes lie across the places where long lines are broken.
  std::mt19937 random(7);
  QByteArray data(100 * 1024, 'x');
  for (int i = 0; i < data.size(); i += 37) data[i] = '\t';
  for (int i = 5; i + 3 < data.size(); i += 11) data.replace(i, 3, i % 2 ? "\xE2\x82\xAC" : "\xC3\xA9x");
  data.replace(TDumpLayout::MaxLineBytes - 1, 3, "\xE2\x82\xAC");
  data.replace(2 * TDumpLayout::MaxLineBytes - 2, 3, "\xE2\x82\xAC");
  TMemorySource source(data);
  TBlockCache cache(source);
  TDumpLayout layout(cache, TViewerMode::vbmodeText, 50);
  const std::vector<std::int64_t> starts = WalkRows(layout, data.size());
  for (int k = 0; k < 200; ++k) {
    const std::int64_t p = std::uniform_int_distribution<std::int64_t>(0, data.size() - 1)(random);
    const std::int64_t start = layout.RowStart(p);
    EXPECT_TRUE(std::binary_search(starts.begin(), starts.end(), start)) << p;
    EXPECT_LE(start, p);
    EXPECT_GT(layout.NextRowStart(start), p);
  }
  EXPECT_TRUE(std::binary_search(starts.begin(), starts.end(), TDumpLayout::MaxLineBytes));
  EXPECT_TRUE(std::binary_search(starts.begin(), starts.end(), 2 * TDumpLayout::MaxLineBytes));
}

TEST(DumpRows, UnicodeRowsReadUtf16LittleEndianAndBreakOnlyAtWholeLineFeeds) {
  // U+0A41 has a 0x0A byte that is not a line feed; U+FEFF and U+0007 show as dots.
  const QString text = QChar(0xFEFF) + QString::fromUtf8("A\u0A41\u00E9\u0007\u4E2D\nnext");
  QByteArray bytes(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
  bytes.append('\x41');  // an odd last byte stands alone
  TMemorySource source(bytes);
  TBlockCache cache(source);
  TDumpLayout layout(cache, TViewerMode::vbmodeUnicode, 40);
  const std::vector<std::int64_t> starts = WalkRows(layout, bytes.size());
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(layout.Row(0).Text, QString::fromUtf8(".A\u0A41\u00E9.\u4E2D"));
  EXPECT_EQ(layout.Row(starts[1]).Text, u"nextA");
  EXPECT_EQ(layout.RowStart(7), 0);  // an odd offset belongs to the unit it is in
  EXPECT_EQ(layout.RowStart(bytes.size() - 1), starts[1]);
}

TEST(DumpRows, UnreadableBytesShowAsQuestionMarksAndAreReadOnce) {
  TMemorySource source(QByteArray(200 * 1024, 'a'));
  source.BadFrom = 70 * 1024;
  source.BadTo = 70 * 1024 + 3;
  TBlockCache cache(source);
  TDumpLayout layout(cache, TViewerMode::vbmodeHex, 80);
  const TDumpRow row = layout.Row(70 * 1024);
  EXPECT_TRUE(row.Text.contains(u"??")) << row.Text.toStdString();
  EXPECT_TRUE(row.Text.endsWith(u"????????????????"));
  const int reads = source.Reads;
  for (int i = 0; i < 10; ++i) layout.Row(70 * 1024);
  EXPECT_EQ(source.Reads, reads);
  EXPECT_EQ(cache.At(70 * 1024 - 1), 'a');
  // The rest of the block is tried again a little further on.
  EXPECT_EQ(cache.At(72 * 1024), 'a');
  std::uint8_t buffer[4096];
  EXPECT_EQ(cache.Read(70 * 1024 - 10, buffer, sizeof buffer), 10);
  EXPECT_EQ(cache.At(-1), -1);
  EXPECT_EQ(cache.At(source.Size()), -1);
}

TEST(BlockCache, ReadsOnlyTheBlocksAskedForAndKeepsABoundedNumber) {
  TMemorySource source(QByteArray(10 * TBlockCache::BlockSize, 'q'));
  TBlockCache cache(source, 4);
  std::uint8_t buffer[100];
  EXPECT_EQ(cache.Read(TBlockCache::BlockSize - 50, buffer, 100), 100);
  EXPECT_EQ(source.BytesRead, 2 * TBlockCache::BlockSize);
  // Blocks 0..5 in turn: the four most recent stay, so block 5 again costs nothing, block 0 a read.
  for (int b = 0; b < 6; ++b) cache.At(b * TBlockCache::BlockSize);
  const int reads = source.Reads;
  cache.At(5 * TBlockCache::BlockSize + 9);
  EXPECT_EQ(source.Reads, reads);
  cache.At(0);
  EXPECT_EQ(source.Reads, reads + 1);
  // Reading stops at the end.
  EXPECT_EQ(cache.Read(source.Size() - 10, buffer, 100), 10);
}

TEST(ByteSearch, FindsAcrossChunkSeamsFoldsLatinLettersAndStepsPastBadStretches) {
  QByteArray data(3 * 1024 * 1024, '.');
  const std::int64_t seam = 1024 * 1024 - 3;  // straddles the first chunk's end
  data.replace(seam, 8, "N\xC9" "edle!!");
  data.replace(2 * 1024 * 1024 + 5, 8, "n\xE9" "EDLE??");
  TMemorySource source(data);

  int steps = 0;
  std::int64_t length = 0;
  auto findAny = [&](const QList<QByteArray>& Patterns, bool IgnoreCase, std::int64_t From) {
    std::vector<TByteSearch::TPattern> patterns;
    for (const QByteArray& p : Patterns) patterns.emplace_back(p.begin(), p.end());
    TByteSearch search(source, std::move(patterns), IgnoreCase, From);
    steps = 1;
    while (search.Step(256 * 1024) == TByteSearch::TState::Running) ++steps;
    length = search.MatchLength();
    return search.State() == TByteSearch::TState::Found ? search.Match() : -1;
  };
  auto find = [&](const QByteArray& Pattern, bool IgnoreCase, std::int64_t From) { return findAny({Pattern}, IgnoreCase, From); };
  EXPECT_EQ(find("N\xC9" "edle", false, 0), seam);
  EXPECT_EQ(find("n\xE9" "edle", true, 0), seam);
  EXPECT_EQ(find("n\xE9" "edle", true, seam + 1), 2 * 1024 * 1024 + 5);
  EXPECT_EQ(find("n\xE9" "edle", false, seam + 1), -1);
  EXPECT_GE(steps, 2);  // the budget splits a long search into slices
  EXPECT_EQ(find("!!", false, 0), seam + 6);

  // Of several patterns the first place wins, even when a longer one matches only later or a
  // shorter one sits behind a chunk's seam.
  EXPECT_EQ(findAny({"??", "N\xC9" "edle"}, false, 0), seam);
  EXPECT_EQ(length, 6);
  EXPECT_EQ(findAny({"n\xE9" "EDLE??", "!"}, false, 0), seam + 6);
  EXPECT_EQ(length, 1);
  EXPECT_EQ(findAny({"EDLE??", ""}, false, 0), 2 * 1024 * 1024 + 7);
  EXPECT_EQ(findAny({"", ""}, false, 0), -1);

  // The first match lies in bytes that cannot be read: the search goes on behind them.
  source.BadFrom = seam - 100;
  source.BadTo = seam + 100;
  EXPECT_EQ(find("n\xE9" "edle", true, 0), 2 * 1024 * 1024 + 5);
}

TEST(DumpInput, OffsetsHexBytesPatternsAndCopiedText) {
  EXPECT_EQ(ParseOffset(" 0x1F4 "), 500);
  EXPECT_EQ(ParseOffset("1f4h"), 500);
  EXPECT_EQ(ParseOffset("$1F4"), 500);
  EXPECT_EQ(ParseOffset("500"), 500);
  EXPECT_EQ(ParseOffset("0x"), std::nullopt);
  EXPECT_EQ(ParseOffset("-5"), std::nullopt);
  EXPECT_EQ(ParseOffset("12ab"), std::nullopt);

  EXPECT_EQ(ParseHexBytes("4d 5A90"), QByteArray("\x4D\x5A\x90"));
  EXPECT_EQ(ParseHexBytes("4d5"), std::nullopt);
  EXPECT_EQ(ParseHexBytes("zz"), std::nullopt);
  EXPECT_EQ(ParseHexBytes("  "), std::nullopt);

  EXPECT_EQ(TextPatterns(QString::fromUtf8("h\u00E9"), TViewerMode::vbmodeText), (QList<QByteArray>{"h\xE9", "h\xC3\xA9"}));
  EXPECT_EQ(TextPatterns("plain", TViewerMode::vbmodeText), QList<QByteArray>{"plain"});
  EXPECT_EQ(TextPatterns(QString::fromUtf8("h\u4E2D"), TViewerMode::vbmodeHex), QList<QByteArray>{"h\xE4\xB8\xAD"});
  EXPECT_EQ(TextPatterns(QString::fromUtf8("h\u4E2D"), TViewerMode::vbmodeUnicode),
            QList<QByteArray>{QByteArray("h\0\x2D\x4E", 4)});
  EXPECT_TRUE(TextPatterns("", TViewerMode::vbmodeText).isEmpty());

  const QByteArray bytes("A\tb\r\n\x01\x85\xE9", 8);
  EXPECT_EQ(CopyText(bytes, TViewerMode::vbmodeHex), u"41 09 62 0D 0A 01 85 E9");
  EXPECT_EQ(CopyText(bytes, TViewerMode::vbmodeBinary), u"41 09 62 0D 0A 01 85 E9");
  EXPECT_EQ(CopyText(bytes, TViewerMode::vbmodeText), QString::fromUtf8("A\tb\r\n\u00E9"));
  EXPECT_EQ(CopyText(QByteArray("H\0i\0\x01\0", 6), TViewerMode::vbmodeUnicode), u"Hi");
  EXPECT_EQ(CopyText("caf\xC3\xA9 \xF0\x9F\x98\x80", TViewerMode::vbmodeText), QString::fromUtf8("caf\u00E9 \U0001F600"));

  EXPECT_EQ(DumpChar('a'), u'a');
  EXPECT_EQ(DumpChar(0x1B), u'.');
  EXPECT_EQ(DumpChar(0x9C), u'.');
  EXPECT_EQ(DumpChar(0xAD), u'.');
  EXPECT_EQ(DumpChar(0xE9), QChar(0xE9));
  EXPECT_EQ(DumpChar(-1), u'?');
  EXPECT_EQ(DumpUnit(0xD800), u'.');
}

}  // namespace
}  // namespace kestrine::ui
