#include "settings/settings_store.h"

#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>

namespace kestrine {

namespace {

const QString kRootName = QStringLiteral("Duskfern");
const QString kSaveFormPosition = QStringLiteral("SaveFormPosition");
const QString kSaveFileExtensions = QStringLiteral("SaveFileExtensions");
const QString kLineEnd = QStringLiteral("\r\n");

QDomDocument EmptyConfig() {
  QDomDocument document;
  document.appendChild(
      document.createProcessingInstruction(QStringLiteral("xml"), QStringLiteral("version=\"1.0\" encoding=\"UTF-8\"")));
  document.appendChild(document.createElement(kRootName));
  return document;
}

// Keeps the broken file for the user to inspect; the next save would otherwise overwrite it.
// Problem holds the facts of what is wrong with it; the place it was kept goes last.
TSettingsProblem SetAside(const QString& Path, TSettingsProblem Problem, TSettingsProblemKind NotKept) {
  const QString aside = Path + QStringLiteral(".bad");
  QFile::remove(aside);
  if (!QFile::rename(Path, aside)) Problem.Kind = NotKept;
  Problem.Facts << aside;
  return Problem;
}

// Stored flags read as the words True/False in any case, or a number (non-zero is true).
bool TextToBool(const QString& Text) {
  if (Text.compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0) return true;
  bool isNumber = false;
  const qlonglong number = Text.trimmed().toLongLong(&isNumber);
  return isNumber && number != 0;
}

}  // namespace

void TConfigStore::Load(const QString& Path) {
  FPath = Path;
  FProblem = {};
  FDocument = EmptyConfig();
  QFile file(Path);
  if (!file.exists()) return;
  if (!file.open(QIODevice::ReadOnly)) {
    // Unreadable is not malformed: leave the file where it is.
    FProblem = {TSettingsProblemKind::ConfigUnreadable, {Path, file.errorString()}};
    return;
  }
  QDomDocument loaded;
  QString message;
  int line = 0;
  int column = 0;
  const bool parsed = loaded.setContent(file.readAll(), &message, &line, &column);
  file.close();
  if (!parsed || loaded.documentElement().isNull()) {
    FProblem = parsed ? SetAside(Path, {TSettingsProblemKind::ConfigNoRootKept, {Path}},
                                 TSettingsProblemKind::ConfigNoRootNotKept)
                      : SetAside(Path,
                                 {TSettingsProblemKind::ConfigMalformedKept,
                                  {Path, QString::number(line), QString::number(column), message}},
                                 TSettingsProblemKind::ConfigMalformedNotKept);
    return;
  }
  FDocument = loaded;
}

bool TConfigStore::Save() {
  QSaveFile file(FPath);
  if (!file.open(QIODevice::WriteOnly)) {
    FProblem = {TSettingsProblemKind::ConfigUnwritable, {FPath, file.errorString()}};
    return false;
  }
  file.write(FDocument.toByteArray(2));
  if (!file.commit()) {
    FProblem = {TSettingsProblemKind::ConfigUnwritable, {FPath, file.errorString()}};
    return false;
  }
  return true;
}

bool TConfigStore::HasSaveFormPosition() const { return FDocument.documentElement().hasAttribute(kSaveFormPosition); }

bool TConfigStore::SaveFormPosition() const {
  return TextToBool(FDocument.documentElement().attribute(kSaveFormPosition));
}

void TConfigStore::SetSaveFormPosition(bool Value) {
  FDocument.documentElement().setAttribute(kSaveFormPosition, Value ? QStringLiteral("True") : QStringLiteral("False"));
}

bool TConfigStore::HasSaveFileExtensions() const {
  return FDocument.documentElement().hasAttribute(kSaveFileExtensions);
}

QStringList TConfigStore::SaveFileExtensions() const {
  const QString text = FDocument.documentElement().attribute(kSaveFileExtensions);
  if (text.isEmpty()) return {};
  static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
  QStringList lines = text.split(lineBreak);
  // Every line ends with a break, so the split leaves one empty piece after the last.
  if (lines.last().isEmpty()) lines.removeLast();
  return lines;
}

void TConfigStore::SetSaveFileExtensions(const QStringList& Masks) {
  QString text;
  for (const QString& mask : Masks) text += mask + kLineEnd;
  FDocument.documentElement().setAttribute(kSaveFileExtensions, text);
}

QString ReadLanguageSetting(QSettings& Store) {
  return Store.value(QStringLiteral("Lang"), QStringLiteral("English")).toString();
}

void WriteLanguageSetting(QSettings& Store, const QString& Name) { Store.setValue(QStringLiteral("Lang"), Name); }

QString ReadSkinSetting(QSettings& Store) { return Store.value(QStringLiteral("Skin")).toString(); }

void WriteSkinSetting(QSettings& Store, const QString& Name) { Store.setValue(QStringLiteral("Skin"), Name); }

bool ReadDeepScanSetting(QSettings& Store) { return Store.value(QStringLiteral("DeepScan"), false).toBool(); }

void WriteDeepScanSetting(QSettings& Store, bool Value) { Store.setValue(QStringLiteral("DeepScan"), Value); }

}  // namespace kestrine
