#include "settings/language_files.h"

#include <QAbstractButton>
#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QStandardPaths>
#include <QTabWidget>
#include <QWidget>

namespace kestrine {

namespace {

// The current directory wins, as the program has always worked from its own folder. An installed
// program finds its data relative to itself first (a relocated tree keeps working), then in the
// usual XDG data folders (/usr/local/share, /usr/share, ~/.local/share).
QString DataFolder(const QString& Name) {
  if (QFileInfo(Name).isDir()) return Name;
  if (QCoreApplication::instance()) {
    const QString besideProgram =
        QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/kestrine/") + Name);
    if (QFileInfo(besideProgram).isDir()) return besideProgram;
  }
  const QString installed = QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                                   QStringLiteral("kestrine/") + Name, QStandardPaths::LocateDirectory);
  return installed.isEmpty() ? Name : installed;
}

// Sorted as the original's file system listed them: by name, letter case ignored.
QStringList ListNames(const QString& Folder, const QString& Extension) {
  const QDir dir(Folder);
  const QStringList files = dir.entryList({QStringLiteral("*") + Extension}, QDir::Files | QDir::CaseSensitive,
                                          QDir::Name | QDir::IgnoreCase);
  QStringList names;
  names.reserve(files.size());
  for (const QString& file : files) names.append(file.chopped(Extension.size()));
  return names;
}

void SetText(QObject& Object, const QString& Text) {
  if (auto* action = qobject_cast<QAction*>(&Object)) action->setText(Text);
  if (auto* menu = qobject_cast<QMenu*>(&Object)) menu->setTitle(Text);
  if (auto* button = qobject_cast<QAbstractButton*>(&Object)) button->setText(Text);
  if (auto* group = qobject_cast<QGroupBox*>(&Object)) group->setTitle(Text);
  // A label that opens links shows an address, which no language changes.
  if (auto* label = qobject_cast<QLabel*>(&Object); label && !label->openExternalLinks()) label->setText(Text);
}

// A page's caption belongs to its tab widget, not to the page.
void SetTabCaptions(QTabWidget& Tabs, const TLanguageDocument& Document) {
  for (int index = 0; index < Tabs.count(); ++index) {
    const QWidget* page = Tabs.widget(index);
    if (!page || page->objectName().isEmpty()) continue;
    const QString text = Document.LookupText(page->objectName());
    if (!text.isEmpty()) Tabs.setTabText(index, text);
  }
}

void SetTexts(QWidget& Window, const TLanguageDocument& Document) {
  for (QObject* object : Window.findChildren<QObject*>()) {
    if (!object->objectName().isEmpty()) {
      const QString text = Document.LookupText(object->objectName());
      if (!text.isEmpty()) SetText(*object, text);
    }
    if (auto* tabs = qobject_cast<QTabWidget*>(object)) SetTabCaptions(*tabs, Document);
  }
}

}  // namespace

QString LangsFolder() { return DataFolder(QStringLiteral("Langs")); }
QString SkinsFolder() { return DataFolder(QStringLiteral("Skins")); }

QStringList ListLanguages() { return ListNames(LangsFolder(), QStringLiteral(".txt")); }
QStringList ListSkins() { return ListNames(SkinsFolder(), QStringLiteral(".skn")); }

QString TLanguageDocument::LookupText(const QString& Key, const QString& Attribute) const {
  if (!FActive) return {};
  const QDomElement element = FDocument.documentElement().firstChildElement(Key);
  return element.isNull() ? QString() : element.attribute(Attribute);
}

bool TLanguageDocument::Load(const QString& Path, QString* Error) {
  QFile file(Path);
  if (!file.exists()) return false;
  FActive = false;
  FDocument.clear();
  if (!file.open(QIODevice::ReadOnly)) {
    if (Error) *Error = QStringLiteral("The language file \"%1\" could not be read: %2").arg(Path, file.errorString());
    return false;
  }
  QString message;
  int line = 0;
  int column = 0;
  if (!FDocument.setContent(file.readAll(), &message, &line, &column)) {
    FDocument.clear();
    if (Error)
      *Error = QStringLiteral("The language file \"%1\" is not valid XML (line %2, column %3): %4")
                   .arg(Path)
                   .arg(line)
                   .arg(column)
                   .arg(message);
    return false;
  }
  FActive = true;
  return true;
}

bool ApplyLanguage(const QString& Name, TLanguageDocument& Document, QWidget& Window, QString* Error) {
  const QString path = LangsFolder() + QLatin1Char('/') + Name + QStringLiteral(".txt");
  if (!QFile::exists(path)) return true;
  if (!Document.Load(path, Error)) return false;
  SetTexts(Window, Document);
  return true;
}

}  // namespace kestrine
