#include "settings/skin_files.h"

#include <QApplication>
#include <QPushButton>
#include <QtEndian>

#include <zlib.h>

#include "settings_test_support.h"

namespace kestrine {
namespace {

const QString kSheet = QStringLiteral("QPushButton { color: #123456; } /* r\u00e9sum\u00e9 */\n");

quint32 Field(const QByteArray& File, int Offset) {
  return qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(File.constData()) + Offset);
}

void SetField(QByteArray& File, int Offset, quint32 Value) {
  qToLittleEndian(Value, reinterpret_cast<uchar*>(File.data()) + Offset);
}

TEST(SkinFile, PacksAndUnpacksAStyleSheet) {
  const QByteArray file = PackSkin(kSheet);
  ASSERT_GT(file.size(), 8);
  EXPECT_EQ(Field(file, 0), 3u);
  EXPECT_EQ(Field(file, 4), static_cast<quint32>(file.size() - 8));
  // Plain zlib data, as any zlib reader takes it.
  QByteArray raw(1024, '\0');
  uLongf rawSize = raw.size();
  ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(raw.data()), &rawSize,
                       reinterpret_cast<const Bytef*>(file.constData() + 8), file.size() - 8),
            Z_OK);
  EXPECT_EQ(QString::fromUtf8(raw.left(static_cast<qsizetype>(rawSize))), kSheet);

  QString sheet;
  QString error;
  ASSERT_TRUE(UnpackSkin(file, sheet, error)) << error.toStdString();
  EXPECT_EQ(sheet, kSheet);

  // Bytes after the counted data are not part of it.
  ASSERT_TRUE(UnpackSkin(file + QByteArray("trailing"), sheet, error));
  EXPECT_EQ(sheet, kSheet);
}

TEST(SkinFile, OlderVersionsAreReadNewerOnesRefused) {
  QByteArray file = PackSkin(kSheet);
  QString sheet;
  QString error;
  for (quint32 version : {0u, 1u, 2u}) {
    SetField(file, 0, version);
    EXPECT_TRUE(UnpackSkin(file, sheet, error)) << version;
  }
  for (quint32 version : {4u, 0xFFFFFFFFu}) {
    SetField(file, 0, version);
    error.clear();
    EXPECT_FALSE(UnpackSkin(file, sheet, error)) << version;
    EXPECT_TRUE(error.contains(QStringLiteral("version"))) << error.toStdString();
  }
}

TEST(SkinFile, LengthsAndDataThatDoNotHoldAreRefused) {
  const QByteArray good = PackSkin(kSheet);
  QString sheet = QStringLiteral("unchanged");
  QString error;

  QByteArray pastTheEnd = good;
  SetField(pastTheEnd, 4, static_cast<quint32>(good.size() - 8 + 1));
  EXPECT_FALSE(UnpackSkin(pastTheEnd, sheet, error));
  SetField(pastTheEnd, 4, 0xFFFFFFFFu);
  EXPECT_FALSE(UnpackSkin(pastTheEnd, sheet, error));

  EXPECT_FALSE(UnpackSkin(good.left(7), sheet, error));
  EXPECT_FALSE(UnpackSkin(QByteArray(), sheet, error));

  // The length names a stream that stops short.
  QByteArray cut = good.left(good.size() - 4);
  SetField(cut, 4, static_cast<quint32>(cut.size() - 8));
  EXPECT_FALSE(UnpackSkin(cut, sheet, error));

  QByteArray damaged = good;
  for (int i = 10; i < damaged.size(); ++i) damaged[i] = static_cast<char>(damaged[i] ^ 0x5A);
  EXPECT_FALSE(UnpackSkin(damaged, sheet, error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_EQ(sheet, QStringLiteral("unchanged"));
}

TEST(SkinFile, AHugeInflatedSheetIsRefused) {
  const QByteArray bomb = PackSkin(QString(5 * 1024 * 1024, QLatin1Char(' ')));
  ASSERT_LT(bomb.size(), 64 * 1024);
  QString sheet;
  QString error;
  EXPECT_FALSE(UnpackSkin(bomb, sheet, error));
  EXPECT_TRUE(sheet.isEmpty());
}

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
  QString error;
  ASSERT_TRUE(LoadSkinFile(QStringLiteral("Blue.skn"), error)) << error.toStdString();
  EXPECT_EQ(qApp->styleSheet(), kSheet);
}

TEST_F(SkinLoading, AFailedLoadKeepsTheSkinInForceAndNamesTheFile) {
  QByteArray newer = PackSkin(kSheet);
  SetField(newer, 0, 4);
  WriteText(QStringLiteral("Newer.skn"), newer);
  WriteText(QStringLiteral("Short.skn"), PackSkin(kSheet).left(12));
  for (const QString& path : {QStringLiteral("Gone.skn"), QStringLiteral("Newer.skn"), QStringLiteral("Short.skn")}) {
    QString error;
    EXPECT_FALSE(LoadSkinFile(path, error)) << path.toStdString();
    EXPECT_TRUE(error.contains(path)) << error.toStdString();
    EXPECT_EQ(qApp->styleSheet(), QStringLiteral("QWidget { color: #010203; }"));
  }
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
    QString error;
    const bool loaded = LoadSkinFile(path, error);
    QPushButton probe(QStringLiteral("probe"));
    probe.ensurePolished();
    qInstallMessageHandler(previous);
    ASSERT_TRUE(loaded) << error.toStdString();
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
}  // namespace kestrine
