// Packs a Qt style sheet into a skin file: kestrine-pack-skin SHEET.qss SKIN.skn
#include "settings/skin_files.h"

#include <QFile>
#include <QSaveFile>
#include <QString>

#include <cstdio>

namespace {

int Fail(const QString& Message) {
  std::fprintf(stderr, "kestrine-pack-skin: %s\n", qPrintable(Message));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return Fail(QStringLiteral("usage: kestrine-pack-skin SHEET.qss SKIN.skn"));
  const QString sheetPath = QString::fromLocal8Bit(argv[1]);
  const QString skinPath = QString::fromLocal8Bit(argv[2]);
  QFile sheet(sheetPath);
  if (!sheet.open(QIODevice::ReadOnly)) return Fail(sheetPath + QStringLiteral(": ") + sheet.errorString());
  const QByteArray packed = kestrine::PackSkin(QString::fromUtf8(sheet.readAll()));
  if (packed.isEmpty()) return Fail(sheetPath + QStringLiteral(": the sheet could not be compressed"));
  QSaveFile skin(skinPath);
  if (!skin.open(QIODevice::WriteOnly) || skin.write(packed) != packed.size() || !skin.commit())
    return Fail(skinPath + QStringLiteral(": ") + skin.errorString());
  return 0;
}
