#pragma once
// Language files ("Langs/NAME.txt": one element per key, text in "Caption") and the skin list.

#include <QDomDocument>
#include <QString>
#include <QStringList>

class QWidget;

namespace kestrine {

// The folders are relative to the current directory; when the current directory has none, an
// installed program uses ../share/kestrine/ beside its executable, then kestrine/ in the XDG data
// folders (LangsFolder/SkinsFolder give the one in use).
QString LangsFolder();
QString SkinsFolder();

// Names without folder and extension, by name ignoring letter case; hidden files are left out;
// empty when there are none.
QStringList ListLanguages();
QStringList ListSkins();

// The language loaded last; inactive until a file has been loaded.
class TLanguageDocument {
 public:
  bool Active() const { return FActive; }
  // Empty when inactive or the key has no element; an element without the attribute reads as empty.
  QString LookupText(const QString& Key, const QString& Attribute = QStringLiteral("Caption")) const;
  // False (the earlier document kept) when Path does not exist; a file that is not well-formed
  // leaves the document inactive and says why in Error.
  bool Load(const QString& Path, QString* Error = nullptr);

 private:
  QDomDocument FDocument;
  bool FActive = false;
};

// Loads LangsFolder()/Name.txt into Document and sets the non-empty texts on every action, menu,
// button, group box, label (not one that opens links) and tab-widget page owned by Window whose
// object name is a key; the window's own caption, lists, combo boxes and edits keep theirs.
// Nothing changes (and true) when the file is missing; false with Error set, the document left
// inactive, when it could not be read or is not well-formed.
bool ApplyLanguage(const QString& Name, TLanguageDocument& Document, QWidget& Window, QString* Error = nullptr);

}  // namespace kestrine
