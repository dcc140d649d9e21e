#pragma once
// Language files ("Langs/NAME.txt": one element per key, text in "Caption") and the skin list.

#include <QDomDocument>
#include <QString>
#include <QStringList>

#include "settings/settings_problem.h"

namespace kestrine {

// The skin compiled into the program; it is listed whether or not a file of that name exists.
inline constexpr const char* kBuiltInSkinName = "Light";

// The current directory's folder wins; then the one beside the program (a build tree's), then
// ../share/kestrine/ beside the program, then kestrine/ in the XDG data folders. LangsFolder and
// SkinsFolder give the one in use.
QString LangsFolder();
QString SkinsFolder();

// Names without folder and extension, by name ignoring letter case; hidden files are left out;
// empty when there are none. The skins always include the built-in one.
QStringList ListLanguages();
QStringList ListSkins();

// The language loaded last, over the English texts compiled into the program.
class TLanguageDocument {
 public:
  TLanguageDocument();

  // Inactive until a file has been loaded.
  bool Active() const { return FActive; }
  // The loaded language's text of Key; where it has none (or nothing is loaded), the built-in
  // English one, so that no caption and no box is left empty. Empty only when English has none.
  QString LookupText(const QString& Key, const QString& Attribute = QStringLiteral("Caption")) const;
  // False (the earlier document kept) when Path does not exist; a file that is not well-formed
  // leaves the document inactive and says why in Error.
  bool Load(const QString& Path, TSettingsProblem* Error = nullptr);

 private:
  QDomDocument FBuiltIn;
  QDomDocument FDocument;
  bool FActive = false;
};

}  // namespace kestrine
