#include "ui/preview/icon_list.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>
#include <algorithm>
#include <map>
#include <random>

namespace kestrine::ui {
namespace {

QIcon SolidIcon(QColor Color) {
  QPixmap Pixmap(16, 16);
  Pixmap.fill(Color);
  return QIcon(Pixmap);
}

// Answers every key with a fresh icon, except those listed as refused, and remembers what it was asked.
class TCountingSource final : public TIconSource {
 public:
  explicit TCountingSource(QStringList* Asked, QStringList Refused = {}) : FAsked(Asked), FRefused(std::move(Refused)) {}
  QIcon IconFor(const QString& Key) override {
    FAsked->append(Key);
    return FRefused.contains(Key) ? QIcon() : SolidIcon(Qt::red);
  }

 private:
  QStringList* FAsked;
  QStringList FRefused;
};

TEST(IconCacheKey, ExtensionKeepsItsCaseAndShortKeysAreTripled) {
  EXPECT_EQ(TIconList::CacheKey("a.txt"), ".txt.txt.txt");
  EXPECT_EQ(TIconList::CacheKey("A.TXT"), ".TXT.TXT.TXT");
  EXPECT_EQ(TIconList::CacheKey("Report.Docx"), ".Docx.Docx.Docx");
  EXPECT_EQ(TIconList::CacheKey("archive.tar.gz"), ".gz.gz.gz");
  EXPECT_EQ(TIconList::CacheKey("letter.document"), ".document");  // nine characters: as it is
  EXPECT_EQ(TIconList::CacheKey("letter.documen"), ".documen.documen.documen");
  EXPECT_EQ(TIconList::CacheKey("trailing."), "...");
}

TEST(IconCacheKey, NamesWithoutDotAreNoneUnlessTheFolderKey) {
  EXPECT_EQ(TIconList::CacheKey("README"), "**NONE**NONE**NONE");
  EXPECT_EQ(TIconList::CacheKey(""), "**NONE**NONE**NONE");
  EXPECT_EQ(TIconList::CacheKey("**FOLDER"), "**FOLDER");
  EXPECT_EQ(TIconList::CacheKey("**folder"), "**FOLDER");
  EXPECT_EQ(TIconList::CacheKey("**FOLDERS"), "**NONE**NONE**NONE");
  // A dot wins over the folder form.
  EXPECT_EQ(TIconList::CacheKey("**FOLDER.txt"), ".txt.txt.txt");
  EXPECT_EQ(TIconList::CacheKey("**FOLDER."), "...");
}

TEST(IconCacheKey, UpperCasingThatChangesLengthKeepsTheOriginalExtension) {
  // "ß" upper-cases to "SS": the dot's position in the upper-cased name is not its position here.
  EXPECT_EQ(TIconList::CacheKey(QString::fromUtf8("ßßß.txt")), ".txt.txt.txt");
  EXPECT_EQ(TIconList::CacheKey(QString::fromUtf8("Maße.ß")), QString::fromUtf8(".ß.ß.ß"));
  EXPECT_EQ(TIconList::CacheKey(QString::fromUtf8("straße")), "**NONE**NONE**NONE");
}

// Worked by hand:
//   ".txt.txt.txt": "." (46) at 1,5,9 → 46×15 = 690; "t" (116) at 2,4,6,8,10,12 → 116×42 = 4872;
//     "x" (120) at 3,7,11 → 120×21 = 2520; h = 12 + 8082 = 8094; h>>10 = 7; 8094 ^ 7 = 8089.
//   "**FOLDER": 42×(1+2) + 70×3 + 79×4 + 76×5 + 68×6 + 69×7 + 82×8 = 2579; h = 2587; h>>10 = 2;
//     2587 ^ 2 = 2585.
//   ".é" is hashed as its UTF-8 bytes 2E C3 A9: h = 3 + 46 + 2×195 + 3×169 = 946.
//   200 × "x" (120): h = 200 + 120×20100 = 2412200; h>>10 = 2355, h>>20 = 2;
//     2412200 ^ 2355 ^ 2 = 2410393.
//   ".aah.aah.aah" and ".aia.aia.aia" both sum to 6969 (a: 97×39 + h: 104×24 against
//     a: 97×42 + i: 105×21), so both hash to (12 + 6969) ^ 6 = 6979.
TEST(IconHash, ValuesWorkedByHand) {
  EXPECT_EQ(TIconList::Hash(".txt.txt.txt"), 8089);
  EXPECT_EQ(TIconList::Hash("**FOLDER"), 2585);
  EXPECT_EQ(TIconList::Hash(QString::fromUtf8(".é")), 946);
  EXPECT_EQ(TIconList::Hash(QString(200, QLatin1Char('x'))), 2410393);
  EXPECT_EQ(TIconList::Hash(".aah.aah.aah"), 6979);
  EXPECT_EQ(TIconList::Hash(".aia.aia.aia"), 6979);
  EXPECT_EQ(TIconList::Hash(""), 0);
}

TEST(ImageList, RefusesNullIconsAndAnswersNullOutsideItsRange) {
  TImageList Images;
  EXPECT_EQ(Images.Add(QIcon()), -1);
  EXPECT_EQ(Images.Count(), 0);
  const QIcon Red = SolidIcon(Qt::red);
  const QIcon Blue = SolidIcon(Qt::blue);
  EXPECT_EQ(Images.Add(Red), 0);
  EXPECT_EQ(Images.Add(Blue), 1);
  EXPECT_EQ(Images.Count(), 2);
  EXPECT_EQ(Images.Icon(1).cacheKey(), Blue.cacheKey());
  EXPECT_TRUE(Images.Icon(-1).isNull());
  EXPECT_TRUE(Images.Icon(2).isNull());
}

class IconListTest : public ::testing::Test {
 protected:
  TIconList MakeList(QStringList Refused = {}) {
    return TIconList(&FImages, std::make_unique<TCountingSource>(&FAsked, std::move(Refused)));
  }
  TImageList FImages;
  QStringList FAsked;
};

TEST_F(IconListTest, FilesOfOneTypeShareOneIcon) {
  TIconList Icons = MakeList();
  const int First = Icons.GetIconIndex(QStringLiteral("a.txt"));
  EXPECT_EQ(First, 0);
  EXPECT_EQ(Icons.GetIconIndex(QStringLiteral("b.txt")), First);
  EXPECT_EQ(Icons.GetIconIndex(std::string("c.txt")), First);
  EXPECT_EQ(FImages.Count(), 1);
  EXPECT_EQ(FAsked, QStringList{".txt"});
}

TEST_F(IconListTest, LetterCaseOfTheExtensionMakesTwoEntries) {
  TIconList Icons = MakeList();
  const int Upper = Icons.GetIconIndex(QStringLiteral("A.TXT"));
  const int Lower = Icons.GetIconIndex(QStringLiteral("a.txt"));
  EXPECT_NE(Upper, Lower);
  EXPECT_EQ(FImages.Count(), 2);
  EXPECT_EQ(FAsked, (QStringList{".TXT", ".txt"}));
}

TEST_F(IconListTest, SpecialKeysReachTheSourceUntripled) {
  TIconList Icons = MakeList();
  const int None = Icons.GetIconIndex(QStringLiteral("README"));
  EXPECT_EQ(Icons.GetIconIndex(QStringLiteral("Makefile")), None);
  const int Folder = Icons.GetIconIndex(std::string("**FOLDER"));
  EXPECT_NE(Folder, None);
  EXPECT_EQ(Icons.GetIconIndex(QStringLiteral("**FOLDER.txt")), 2);
  EXPECT_EQ(FAsked, (QStringList{"**NONE", "**FOLDER", ".txt"}));
}

TEST_F(IconListTest, KeysWithOneHashShareOneEntry) {
  TIconList Icons = MakeList();
  const int First = Icons.GetIconIndex(QStringLiteral("x.aah"));
  EXPECT_EQ(Icons.GetIconIndex(QStringLiteral("y.aia")), First);
  EXPECT_EQ(FAsked, QStringList{".aah"});
}

TEST_F(IconListTest, ManyTypesAreAllFoundAgainWithoutAskingTheSource) {
  TIconList Icons = MakeList();
  // A thousand extensions of distinct hashes, in an order that inserts all over the sorted cache.
  std::mt19937 Random(42);
  std::uniform_int_distribution<int> Letter('a', 'z'), Length(1, 8);
  std::map<qint64, QString> ByHash;
  while (ByHash.size() < 1000) {
    QString Name = QStringLiteral("f.");
    for (int I = Length(Random); I > 0; --I) Name.append(QChar(Letter(Random)));
    ByHash.emplace(TIconList::Hash(TIconList::CacheKey(Name)), Name);
  }
  QStringList Names;
  for (const auto& Entry : ByHash) Names.append(Entry.second);
  std::shuffle(Names.begin(), Names.end(), Random);

  std::map<QString, int> Indexes;
  for (const QString& Name : Names) Indexes[Name] = Icons.GetIconIndex(Name);
  EXPECT_EQ(FAsked.size(), 1000);
  EXPECT_EQ(FImages.Count(), 1000);

  std::shuffle(Names.begin(), Names.end(), Random);
  for (const QString& Name : Names) EXPECT_EQ(Icons.GetIconIndex(Name), Indexes[Name]) << Name.toStdString();
  EXPECT_EQ(FAsked.size(), 1000);
}

TEST_F(IconListTest, AnotherImageListEmptiesTheCache) {
  TIconList Icons = MakeList();
  Icons.GetIconIndex(QStringLiteral("a.txt"));
  Icons.SetImageList(&FImages);  // the same list keeps the cache
  Icons.GetIconIndex(QStringLiteral("b.txt"));
  EXPECT_EQ(FAsked.size(), 1);

  TImageList Other;
  Other.Add(SolidIcon(Qt::blue));
  Icons.SetImageList(&Other);
  EXPECT_EQ(Icons.GetIconIndex(QStringLiteral("c.txt")), 1);
  EXPECT_EQ(FAsked, (QStringList{".txt", ".txt"}));
  EXPECT_EQ(FImages.Count(), 1);  // the old list keeps what it had
  EXPECT_EQ(Other.Count(), 2);
}

TEST_F(IconListTest, RefusedIconIsCachedAsMinusOne) {
  TIconList Icons = MakeList({".bad"});
  EXPECT_EQ(Icons.GetIconIndex(QStringLiteral("a.bad")), -1);
  EXPECT_EQ(Icons.GetIconIndex(QStringLiteral("b.bad")), -1);
  EXPECT_EQ(FImages.Count(), 0);
  EXPECT_EQ(FAsked, QStringList{".bad"});
  EXPECT_EQ(Icons.GetIconIndex(QStringLiteral("a.txt")), 0);
}

// The theme source against a small theme of our own, so the answer does not depend on the desktop.
class ThemeIconSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FOldPaths = QIcon::themeSearchPaths();
    FOldTheme = QIcon::themeName();
    ASSERT_TRUE(FRoot.isValid());
    const QStringList Icons = {"folder", "text-x-generic", "image-png", "application-x-executable",
                               "application-x-ms-dos-executable", "application-x-msdownload"};
    QDir Theme(FRoot.filePath("kestrine-test"));
    ASSERT_TRUE(Theme.mkpath("16x16/mimetypes"));
    QFile Index(Theme.filePath("index.theme"));
    ASSERT_TRUE(Index.open(QIODevice::WriteOnly));
    Index.write("[Icon Theme]\nName=kestrine-test\nDirectories=16x16/mimetypes\n\n"
                "[16x16/mimetypes]\nSize=16\nType=Fixed\n");
    Index.close();
    QImage Image(16, 16, QImage::Format_ARGB32);
    Image.fill(Qt::green);
    for (const QString& Name : Icons) ASSERT_TRUE(Image.save(Theme.filePath("16x16/mimetypes/" + Name + ".png")));
    QIcon::setThemeSearchPaths({FRoot.path()});
    QIcon::setThemeName("kestrine-test");
  }
  void TearDown() override {
    QIcon::setThemeSearchPaths(FOldPaths);
    QIcon::setThemeName(FOldTheme);
  }

  QTemporaryDir FRoot;
  QStringList FOldPaths;
  QString FOldTheme;
};

TEST_F(ThemeIconSourceTest, IconsComeFromTheThemeByType) {
  const auto Source = ThemeIconSource();
  EXPECT_EQ(Source->IconFor("**FOLDER").name(), "folder");
  EXPECT_EQ(Source->IconFor(".png").name(), "image-png");
  // text/plain has no "text-plain" here: its generic icon stands in.
  EXPECT_EQ(Source->IconFor(".txt").name(), "text-x-generic");
  // Programs get the generic program icon, not their type's own.
  EXPECT_EQ(Source->IconFor(".exe").name(), "application-x-executable");
}

TEST_F(ThemeIconSourceTest, EveryKeyHasAnIcon) {
  const auto Source = ThemeIconSource();
  for (const char* Key : {"**NONE", ".no-such-type-anywhere", ".", ".TXT", "**FOLDER"})
    EXPECT_FALSE(Source->IconFor(Key).isNull()) << Key;
  QIcon::setThemeName("no-such-theme");
  for (const char* Key : {"**NONE", ".txt", ".exe", "**FOLDER"})
    EXPECT_FALSE(Source->IconFor(Key).isNull()) << Key;
}

}  // namespace
}  // namespace kestrine::ui
