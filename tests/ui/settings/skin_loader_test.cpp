#include "ui/settings/skin_loader.h"

#include <QApplication>
#include <QPushButton>

#include "settings/language_files.h"
#include "settings/skin_files.h"
#include "tests/settings/settings_test_support.h"
#include "ui/settings/worded_text.h"

namespace kestrine::ui {
namespace {

const QString kSheet = QStringLiteral("QPushButton { color: #123456; }\n");

class SkinLoading : public test::TScratchFolderTest {
 protected:
  void SetUp() override {
    TScratchFolderTest::SetUp();
    FPrevious = qApp->styleSheet();
    qApp->setStyleSheet(QStringLiteral("QWidget { color: #010203; }"));
  }
  void TearDown() override {
    qApp->setStyleSheet(FPrevious);
    TScratchFolderTest::TearDown();
  }
  QString FPrevious;
};

TEST_F(SkinLoading, ALoadedSkinIsInForce) {
  WriteText(QStringLiteral("Blue.skn"), PackSkin(kSheet));
  TSettingsProblem error;
  ASSERT_TRUE(LoadSkinFile(QStringLiteral("Blue.skn"), error)) << error.Facts.join(u' ').toStdString();
  EXPECT_EQ(qApp->styleSheet(), kSheet);
}

// Light is always offered: without its file the compiled-in sheet stands in; other names need theirs.
TEST_F(SkinLoading, LightWithoutItsFileIsTheBuiltInSheet) {
  TSettingsProblem error;
  ASSERT_TRUE(LoadSkin(QStringLiteral("light"), error)) << error.Facts.join(u' ').toStdString();
  EXPECT_EQ(qApp->styleSheet(), BuiltInSkin());
  EXPECT_FALSE(LoadSkin(QStringLiteral("Dark"), error));
  EXPECT_TRUE(error.Facts.join(u' ').contains(QStringLiteral("Dark.skn"))) << error.Facts.join(u' ').toStdString();
  EXPECT_EQ(qApp->styleSheet(), BuiltInSkin());

  ASSERT_TRUE(QDir().mkdir(QStringLiteral("Skins")));
  WriteText(QStringLiteral("Skins/Light.skn"), PackSkin(kSheet));
  ASSERT_TRUE(LoadSkin(QStringLiteral("Light"), error)) << error.Facts.join(u' ').toStdString();
  EXPECT_EQ(qApp->styleSheet(), kSheet);
}

TEST_F(SkinLoading, AFailedLoadKeepsTheSkinInForceAndNamesTheFile) {
  QByteArray newer = PackSkin(kSheet);
  newer[0] = 4;  // the version, little-endian
  WriteText(QStringLiteral("Newer.skn"), newer);
  WriteText(QStringLiteral("Short.skn"), PackSkin(kSheet).left(12));
  for (const QString& path : {QStringLiteral("Gone.skn"), QStringLiteral("Newer.skn"), QStringLiteral("Short.skn")}) {
    TSettingsProblem error;
    EXPECT_FALSE(LoadSkinFile(path, error)) << path.toStdString();
    EXPECT_TRUE(error.Facts.join(u' ').contains(path)) << error.Facts.join(u' ').toStdString();
    EXPECT_EQ(qApp->styleSheet(), QStringLiteral("QWidget { color: #010203; }"));
  }
}

// The box words the problem in the window's language; in English as it always read.
TEST_F(SkinLoading, AFailedLoadIsWordedInTheWindowsLanguage) {
  QByteArray newer = PackSkin(kSheet);
  newer[0] = 4;
  WriteText(QStringLiteral("Newer.skn"), newer);
  TSettingsProblem error;
  ASSERT_FALSE(LoadSkinFile(QStringLiteral("Newer.skn"), error));
  const TLanguageDocument english;
  EXPECT_EQ(ProblemText(english, error),
            QStringLiteral("The skin file \"Newer.skn\" cannot be used: format version 4 is newer than 3"));
  TLanguageDocument german;
  ASSERT_TRUE(german.Load(QStringLiteral(KESTRINE_DATA_SOURCE "/Langs/German.txt")));
  EXPECT_EQ(ProblemText(german, error),
            QStringLiteral("Die Design-Datei „Newer.skn“ kann nicht verwendet werden: die Formatversion 4 ist neuer als 3"));
  EXPECT_EQ(ProblemText(german, TSettingsProblem{}), QString());
}

// The skins the program ships, as written and as the build packed them.
class ShippedSkins : public SkinLoading {
 protected:
  static QString Source(const QString& Name) {
    QFile file(QStringLiteral(KESTRINE_DATA_SOURCE "/Skins/") + Name + QStringLiteral(".qss"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << Name.toStdString();
    return QString::fromUtf8(file.readAll());
  }
};

// Qt only says so through a warning when a sheet does not parse.
QStringList gWarnings;
void CollectWarning(QtMsgType Type, const QMessageLogContext&, const QString& Message) {
  if (Type != QtDebugMsg) gWarnings.append(Message);
}

TEST_F(ShippedSkins, EachIsPackedByTheBuildAndParses) {
  for (const QString& name : {QStringLiteral("Light"), QStringLiteral("Dark"), QStringLiteral("HighContrast")}) {
    const QString path = QStringLiteral(KESTRINE_DATA_BUILD "/Skins/") + name + QStringLiteral(".skn");
    gWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(CollectWarning);
    TSettingsProblem error;
    const bool loaded = LoadSkinFile(path, error);
    QPushButton probe(QStringLiteral("probe"));
    probe.ensurePolished();
    qInstallMessageHandler(previous);
    ASSERT_TRUE(loaded) << error.Facts.join(u' ').toStdString();
    EXPECT_EQ(qApp->styleSheet(), Source(name));
    EXPECT_TRUE(gWarnings.isEmpty()) << name.toStdString() << ": " << gWarnings.join(QLatin1Char('\n')).toStdString();
  }
}

TEST_F(ShippedSkins, TheBuiltInSkinIsTheLightOne) {
  EXPECT_EQ(BuiltInSkin(), Source(QStringLiteral("Light")));
  ApplyBuiltInSkin();
  EXPECT_EQ(qApp->styleSheet(), Source(QStringLiteral("Light")));
}

}  // namespace
}  // namespace kestrine::ui
