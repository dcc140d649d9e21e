#include "settings/skin_files.h"

#include <QtEndian>

#include <zlib.h>

#include "tests/settings/settings_test_support.h"

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
  TSettingsProblem error;
  ASSERT_TRUE(UnpackSkin(file, sheet, error)) << error.Facts.join(u' ').toStdString();
  EXPECT_EQ(sheet, kSheet);

  // Bytes after the counted data are not part of it.
  ASSERT_TRUE(UnpackSkin(file + QByteArray("trailing"), sheet, error));
  EXPECT_EQ(sheet, kSheet);
}

TEST(SkinFile, OlderVersionsAreReadNewerOnesRefused) {
  QByteArray file = PackSkin(kSheet);
  QString sheet;
  TSettingsProblem error;
  for (quint32 version : {0u, 1u, 2u}) {
    SetField(file, 0, version);
    EXPECT_TRUE(UnpackSkin(file, sheet, error)) << version;
  }
  for (quint32 version : {4u, 0xFFFFFFFFu}) {
    SetField(file, 0, version);
    error = {};
    EXPECT_FALSE(UnpackSkin(file, sheet, error)) << version;
    EXPECT_TRUE(error.Kind == TSettingsProblemKind::SkinNewerVersion) << error.Facts.join(u' ').toStdString();
  }
}

TEST(SkinFile, LengthsAndDataThatDoNotHoldAreRefused) {
  const QByteArray good = PackSkin(kSheet);
  QString sheet = QStringLiteral("unchanged");
  TSettingsProblem error;

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
  EXPECT_TRUE(error);
  EXPECT_EQ(sheet, QStringLiteral("unchanged"));
}

TEST(SkinFile, AHugeInflatedSheetIsRefused) {
  const QByteArray bomb = PackSkin(QString(5 * 1024 * 1024, QLatin1Char(' ')));
  ASSERT_LT(bomb.size(), 64 * 1024);
  QString sheet;
  TSettingsProblem error;
  EXPECT_FALSE(UnpackSkin(bomb, sheet, error));
  EXPECT_TRUE(sheet.isEmpty());
}

}  // namespace
}  // namespace kestrine
