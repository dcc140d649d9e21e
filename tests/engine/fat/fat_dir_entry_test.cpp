// Directory slots and names: validity, 8.3 and long names, the .bak rule.

#include <gtest/gtest.h>

#include "engine/fat/fat_dir_entry.h"
#include "engine/fat/fat_names.h"
#include "tests/engine/fat/fat_volume_builder.h"

namespace kestrine {
namespace {

using test::Deleted;
using test::LongNameSlots;
using test::ShortSlot;
using test::TSlot;

constexpr TSlotRules kRules{100, false};

TDirSlot View(const TSlot& S) { return TDirSlot(S.data(), 32); }

// Feeds slots and collects the names of the entries they complete.
std::vector<std::string> Names(const std::vector<TSlot>& Slots, const TSlotRules& Rules = kRules) {
  TDirEntryReader reader(Rules);
  std::vector<std::string> names;
  for (const TSlot& s : Slots)
    if (reader.Feed(View(s))) names.push_back(reader.Name());
  return names;
}

std::vector<TSlot> Join(std::vector<TSlot> A, const std::vector<TSlot>& B) {
  A.insert(A.end(), B.begin(), B.end());
  return A;
}

TEST(FatDirEntry, ValiditySkipsFreeDotAndDamagedSlotsOnly) {
  EXPECT_TRUE(IsValidEntry(View(ShortSlot("REPORT  TXT", 0x20, 5, 100)), kRules));
  EXPECT_TRUE(IsValidEntry(View(Deleted(ShortSlot("REPORT  TXT", 0x20, 5, 100))), kRules));
  EXPECT_TRUE(IsValidEntry(View(ShortSlot("EMPTY   TXT", 0x20, 0, 0)), kRules));
  // Clusters 2 .. count + 1 exist: the last one too.
  EXPECT_TRUE(IsValidEntry(View(ShortSlot("LAST    BIN", 0x20, 101, 1)), kRules));
  EXPECT_FALSE(IsValidEntry(View(ShortSlot("PAST    BIN", 0x20, 102, 1)), kRules));
  EXPECT_FALSE(IsValidEntry(View(ShortSlot("ONE     BIN", 0x20, 1, 1)), kRules));
  EXPECT_FALSE(IsValidEntry(View(ShortSlot("NOCLUST BIN", 0x20, 0, 10)), kRules));
  EXPECT_FALSE(IsValidEntry(View(ShortSlot(".          ", 0x10, 5, 0)), kRules));
  EXPECT_FALSE(IsValidEntry(View(ShortSlot("..         ", 0x10, 0, 0)), kRules));
  EXPECT_FALSE(IsValidEntry(View(ShortSlot("A*B     TXT", 0x20, 5, 1)), kRules));
  EXPECT_FALSE(IsValidEntry(View(ShortSlot("REPORT  TXT", 0x40, 5, 1)), kRules));
  EXPECT_FALSE(IsValidEntry(View(TSlot{}), kRules));
  // A first byte 0x05 stands for 0xE5, which names allow.
  EXPECT_TRUE(IsValidEntry(View(ShortSlot("\x05" "BC     TXT", 0x20, 5, 1)), kRules));
  // The high half of the first cluster counts on FAT32 only.
  TSlot high = ShortSlot("HIGH    BIN", 0x20, 0x10005, 1);
  EXPECT_TRUE(IsValidEntry(View(high), kRules));
  EXPECT_EQ(SlotFirstCluster(View(high), false), 5u);
  EXPECT_FALSE(IsValidEntry(View(high), {100, true}));
}

TEST(FatDirEntry, ShortNamesShowDollarForTheLostCharacter) {
  EXPECT_EQ(ShortName(View(Deleted(ShortSlot("XEPORT  TXT", 0x20, 5, 1)))), "$EPORT.TXT");
  EXPECT_EQ(ShortName(View(ShortSlot("README     ", 0x20, 5, 1))), "README");
  EXPECT_EQ(ShortName(View(ShortSlot("CAF\x90    TXT", 0x20, 5, 1))), "CAFÉ.TXT");
  EXPECT_EQ(ShortName(View(ShortSlot("\x05" "BC     TXT", 0x20, 5, 1))), "σBC.TXT");
  EXPECT_EQ(Names({Deleted(ShortSlot("XEPORT  TXT", 0x20, 5, 1))}), std::vector<std::string>{"$EPORT.TXT"});
}

// Byte 12 lower-cases the base (0x08) and the extension (0x10) of an 8.3-only name, ASCII letters only.
TEST(FatDirEntry, ShortNamesTakeTheCaseFlags) {
  const auto flagged = [](const char* Name, std::uint8_t Flags, bool Gone = false) {
    TSlot s = ShortSlot(Name, 0x20, 5, 1);
    s[12] = Flags;
    return ShortName(View(Gone ? Deleted(s) : s));
  };
  EXPECT_EQ(flagged("TINY    BIN", 0x18), "tiny.bin");
  EXPECT_EQ(flagged("TINY    BIN", 0x08), "tiny.BIN");
  EXPECT_EQ(flagged("TINY    BIN", 0x10), "TINY.bin");
  EXPECT_EQ(flagged("CAF\x90 1  TXT", 0x18), "cafÉ 1.txt");
  EXPECT_EQ(flagged("XEPORT  TXT", 0x18, true), "$eport.txt");
  // A long name is kept as written.
  TSlot shortSlot = ShortSlot("QUARTE~1XLS", 0x20, 5, 1);
  shortSlot[12] = 0x18;
  EXPECT_EQ(Names(Join(LongNameSlots(u"Quarterly.XLS", shortSlot), {shortSlot})),
            std::vector<std::string>{"Quarterly.XLS"});
}

TEST(FatDirEntry, LongNamesComeBackWholeEvenWhenDeleted) {
  const TSlot shortSlot = ShortSlot("QUARTE~1XLS", 0x20, 5, 1);
  std::vector<TSlot> run = Join(LongNameSlots(u"Quarterly figures.xls", shortSlot), {shortSlot});
  EXPECT_EQ(Names(run), std::vector<std::string>{"Quarterly figures.xls"});
  for (TSlot& s : run) s = Deleted(s);
  EXPECT_EQ(Names(run), std::vector<std::string>{"Quarterly figures.xls"});

  // Surrogate pairs may straddle two parts; a lone surrogate is replaced.
  const std::u16string emoji = u"0123456789ab\U0001F600.txt";
  EXPECT_EQ(Names(Join(LongNameSlots(emoji, shortSlot), {shortSlot})), std::vector<std::string>{"0123456789ab😀.txt"});
  EXPECT_EQ(Names(Join(LongNameSlots(u"a\xD800z", shortSlot), {shortSlot})), std::vector<std::string>{"a\uFFFDz"});
  // A deleted long name in UTF-8 may begin with the byte 0xE5 ("大"); only 8.3 names get "$".
  EXPECT_EQ(Names(Join(LongNameSlots(u"大.txt", shortSlot), {Deleted(shortSlot)})), std::vector<std::string>{"大.txt"});
}

TEST(FatDirEntry, LongNameRunsAreDroppedWhenBrokenAndBoundedWhenDamaged) {
  const TSlot a = ShortSlot("A       TXT", 0x20, 5, 1);
  const TSlot b = ShortSlot("B       TXT", 0x20, 6, 1);
  // A run whose 8.3 entry is not valid names nothing, not even the entry after it.
  EXPECT_EQ(Names(Join(LongNameSlots(u"long name.txt", a), {ShortSlot("A*      TXT", 0x20, 5, 1), b})),
            std::vector<std::string>{"B.TXT"});
  // A gap (an unreadable window) ends the run.
  TDirEntryReader reader(kRules);
  for (const TSlot& s : LongNameSlots(u"lost.txt", a)) EXPECT_FALSE(reader.Feed(View(s)));
  reader.Break();
  ASSERT_TRUE(reader.Feed(View(a)));
  EXPECT_EQ(reader.Name(), "A.TXT");
  // A run of 30 parts keeps the 20 nearest its 8.3 entry.
  std::vector<TSlot> many = LongNameSlots(std::u16string(30 * 13, u'x'), a);
  ASSERT_EQ(many.size(), 30u);
  EXPECT_EQ(Names(Join(many, {a})), std::vector<std::string>{std::string(20 * 13, 'x')});
}

TEST(FatDirEntry, BackupNamesOfTheEFormAreExcluded) {
  EXPECT_TRUE(IsExcludedBakName("$E123456.BAK"));
  EXPECT_TRUE(IsExcludedBakName("_Eabcdef.bak"));
  EXPECT_TRUE(IsExcludedBakName("$E123456.bAk"));
  EXPECT_FALSE(IsExcludedBakName("$e123456.bak"));
  EXPECT_FALSE(IsExcludedBakName("$E12345.BAK"));
  EXPECT_FALSE(IsExcludedBakName("$E1234567.BAK"));
  EXPECT_FALSE(IsExcludedBakName("XE123456.BAK"));
  EXPECT_FALSE(IsExcludedBakName("$E123456.BAX"));
}

}  // namespace
}  // namespace kestrine
