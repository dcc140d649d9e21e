#include "ui/settings/skin_loader.h"

#include <QApplication>
#include <QFile>

#include "settings/language_files.h"
#include "settings/skin_files.h"

namespace kestrine::ui {

bool LoadSkinFile(const QString& Path, TSettingsProblem& Error) {
  QString sheet;
  if (!ReadSkinFile(Path, sheet, Error)) return false;
  qApp->setStyleSheet(sheet);
  return true;
}

void ApplyBuiltInSkin() { qApp->setStyleSheet(BuiltInSkin()); }

bool LoadSkin(const QString& Name, TSettingsProblem& Error) {
  const QString path = SkinsFolder() + QLatin1Char('/') + Name + QStringLiteral(".skn");
  if (!QFile::exists(path) && Name.compare(QString::fromLatin1(kBuiltInSkinName), Qt::CaseInsensitive) == 0) {
    ApplyBuiltInSkin();
    return true;
  }
  return LoadSkinFile(path, Error);
}

}  // namespace kestrine::ui
