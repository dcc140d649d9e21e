#include "settings/language_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace kestrine {

namespace {

// The English texts of data/Langs/English.txt, compiled in.
constexpr const char* kBuiltInLanguage =
#include "builtin_language.inc"
    ;

// The current directory wins, as the program has always worked from its own folder. The build puts
// the data beside the program, so a program run from its build tree finds it from anywhere; an
// installed one finds it relative to itself (a relocated tree keeps working), then in the usual XDG
// data folders (/usr/local/share, /usr/share, ~/.local/share).
QString DataFolder(const QString& Name) {
  if (QFileInfo(Name).isDir()) return Name;
  if (QCoreApplication::instance()) {
    const QString program = QCoreApplication::applicationDirPath();
    for (const QString& relative : {QStringLiteral("/"), QStringLiteral("/../share/kestrine/")}) {
      const QString folder = QDir::cleanPath(program + relative + Name);
      if (QFileInfo(folder).isDir()) return folder;
    }
  }
  const QString installed = QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                                   QStringLiteral("kestrine/") + Name, QStandardPaths::LocateDirectory);
  return installed.isEmpty() ? Name : installed;
}

// By name, letter case ignored, as users expect a list of names.
QStringList ListNames(const QString& Folder, const QString& Extension) {
  const QDir dir(Folder);
  const QStringList files = dir.entryList({QStringLiteral("*") + Extension}, QDir::Files | QDir::CaseSensitive,
                                          QDir::Name | QDir::IgnoreCase);
  QStringList names;
  names.reserve(files.size());
  for (const QString& file : files) names.append(file.chopped(Extension.size()));
  return names;
}

}  // namespace

QString LangsFolder() { return DataFolder(QStringLiteral("Langs")); }
QString SkinsFolder() { return DataFolder(QStringLiteral("Skins")); }

QStringList ListLanguages() { return ListNames(LangsFolder(), QStringLiteral(".txt")); }
QStringList ListSkins() {
  QStringList names = ListNames(SkinsFolder(), QStringLiteral(".skn"));
  const QString builtIn = QString::fromLatin1(kBuiltInSkinName);
  if (!names.contains(builtIn, Qt::CaseInsensitive)) {
    const auto after = std::find_if(names.begin(), names.end(), [&builtIn](const QString& Name) {
      return Name.compare(builtIn, Qt::CaseInsensitive) > 0;
    });
    names.insert(after, builtIn);
  }
  return names;
}

TLanguageDocument::TLanguageDocument() { FBuiltIn.setContent(QByteArray(kBuiltInLanguage)); }

QString TLanguageDocument::LookupText(const QString& Key, const QString& Attribute) const {
  if (FActive) {
    const QString text = FDocument.documentElement().firstChildElement(Key).attribute(Attribute);
    if (!text.isEmpty()) return text;
  }
  return FBuiltIn.documentElement().firstChildElement(Key).attribute(Attribute);
}

bool TLanguageDocument::Load(const QString& Path, TSettingsProblem* Error) {
  QFile file(Path);
  if (!file.exists()) return false;
  FActive = false;
  FDocument.clear();
  if (!file.open(QIODevice::ReadOnly)) {
    if (Error) *Error = {TSettingsProblemKind::LanguageUnreadable, {Path, file.errorString()}};
    return false;
  }
  QString message;
  int line = 0;
  int column = 0;
  if (!FDocument.setContent(file.readAll(), &message, &line, &column)) {
    FDocument.clear();
    if (Error)
      *Error = {TSettingsProblemKind::LanguageMalformed,
                {Path, QString::number(line), QString::number(column), message}};
    return false;
  }
  FActive = true;
  return true;
}

}  // namespace kestrine
