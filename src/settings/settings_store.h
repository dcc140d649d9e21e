#pragma once
// "Config.txt", the installation's settings, and the per-user values (language, skin).

#include <QDomDocument>
#include <QString>
#include <QStringList>

#include "settings/settings_problem.h"

class QSettings;

namespace kestrine {

// The settings file, kept loaded for the window's life; everything in it is written back as loaded.
class TConfigStore {
 public:
  // Loads Path, or starts an empty document with the root "Duskfern" when it does not exist. A file
  // that is not well-formed is moved aside to Path + ".bad" and the defaults are used; Problem() says so.
  void Load(const QString& Path);
  // False when the file could not be written; Problem() says why.
  bool Save();

  bool HasSaveFormPosition() const;
  bool SaveFormPosition() const;
  void SetSaveFormPosition(bool Value);
  // One entry per line, empty lines kept; a final line break makes no extra line.
  bool HasSaveFileExtensions() const;
  QStringList SaveFileExtensions() const;
  void SetSaveFileExtensions(const QStringList& Masks);

  const QString& Path() const { return FPath; }
  const TSettingsProblem& Problem() const { return FProblem; }

 private:
  QDomDocument FDocument;
  QString FPath;
  TSettingsProblem FProblem;
};

// The per-user store: QSettings of organisation "Kestrine Pro".
QString ReadLanguageSetting(QSettings& Store);   // "English" when unset
void WriteLanguageSetting(QSettings& Store, const QString& Name);
QString ReadSkinSetting(QSettings& Store);       // empty when unset
void WriteSkinSetting(QSettings& Store, const QString& Name);
bool ReadDeepScanSetting(QSettings& Store);      // false when unset
void WriteDeepScanSetting(QSettings& Store, bool Value);

}  // namespace kestrine
