#include "settings/settings_store.h"

#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScreen>
#include <QSettings>
#include <QWidget>

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
QString SetAside(const QString& Path, const QString& Reason) {
  const QString aside = Path + QStringLiteral(".bad");
  QFile::remove(aside);
  if (!QFile::rename(Path, aside))
    return QStringLiteral("\"%1\" is not a valid settings file (%2) and could not be kept aside as \"%3\"; "
                          "the defaults are used.")
        .arg(Path, Reason, aside);
  return QStringLiteral("\"%1\" is not a valid settings file (%2); it was kept as \"%3\" and the defaults are used.")
      .arg(Path, Reason, aside);
}

// Delphi's StrToBool: the words True/False in any case, or a number (non-zero is true).
bool TextToBool(const QString& Text) {
  if (Text.compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0) return true;
  bool isNumber = false;
  const qlonglong number = Text.trimmed().toLongLong(&isNumber);
  return isNumber && number != 0;
}

}  // namespace

void TConfigStore::Load(const QString& Path) {
  FPath = Path;
  FProblem.clear();
  FDocument = EmptyConfig();
  QFile file(Path);
  if (!file.exists()) return;
  if (!file.open(QIODevice::ReadOnly)) {
    // Unreadable is not malformed: leave the file where it is.
    FProblem = QStringLiteral("\"%1\" could not be read (%2); the defaults are used.").arg(Path, file.errorString());
    return;
  }
  QDomDocument loaded;
  QString message;
  int line = 0;
  int column = 0;
  const bool parsed = loaded.setContent(file.readAll(), &message, &line, &column);
  file.close();
  if (!parsed || loaded.documentElement().isNull()) {
    const QString reason =
        parsed ? QStringLiteral("no root element") : QStringLiteral("line %1, column %2: %3").arg(line).arg(column).arg(message);
    FProblem = SetAside(Path, reason);
    return;
  }
  FDocument = loaded;
}

bool TConfigStore::Save() {
  QSaveFile file(FPath);
  if (!file.open(QIODevice::WriteOnly)) {
    FProblem = QStringLiteral("\"%1\" could not be written: %2").arg(FPath, file.errorString());
    return false;
  }
  file.write(FDocument.toByteArray(2));
  if (!file.commit()) {
    FProblem = QStringLiteral("\"%1\" could not be written: %2").arg(FPath, file.errorString());
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

namespace {

QString LeftKey(const QWidget& Form) { return Form.objectName() + QStringLiteral("_Left"); }
QString TopKey(const QWidget& Form) { return Form.objectName() + QStringLiteral("_Top"); }

// Reads one stored edge; a value that is missing or not a whole number leaves the edge alone.
bool ReadEdge(QSettings& Store, const QString& Key, int& Edge) {
  const QVariant value = Store.value(Key);
  if (!value.isValid()) return false;
  bool isNumber = false;
  const int number = value.toInt(&isNumber);
  if (isNumber) Edge = number;
  return isNumber;
}

// Enough of the window to grab it with the mouse.
bool ReachableOnSomeScreen(const QRect& Frame) {
  const int needWidth = qMin(Frame.width(), 48);
  const int needHeight = qMin(Frame.height(), 24);
  for (const QScreen* screen : QGuiApplication::screens()) {
    const QRect shown = Frame.intersected(screen->availableGeometry());
    if (shown.width() >= needWidth && shown.height() >= needHeight) return true;
  }
  return false;
}

QPoint CentredOn(const QRect& Area, const QSize& Size) {
  const int left = Area.left() + qMax(0, (Area.width() - Size.width()) / 2);
  const int top = Area.top() + qMax(0, (Area.height() - Size.height()) / 2);
  return {left, top};
}

}  // namespace

void SaveWindowPosition(QSettings& Store, const QWidget& Form) {
  Store.setValue(LeftKey(Form), Form.x());
  Store.setValue(TopKey(Form), Form.y());
}

void LoadWindowPosition(QSettings& Store, QWidget& Form) {
  QPoint position = Form.pos();
  const bool hasLeft = ReadEdge(Store, LeftKey(Form), position.rx());
  const bool hasTop = ReadEdge(Store, TopKey(Form), position.ry());
  if (!hasLeft && !hasTop) return;
  // A screen unplugged since the last run must not leave the window out of reach.
  const QSize size = Form.frameGeometry().size();
  if (!ReachableOnSomeScreen(QRect(position, size))) {
    if (const QScreen* primary = QGuiApplication::primaryScreen())
      position = CentredOn(primary->availableGeometry(), size);
  }
  Form.move(position);
}

}  // namespace kestrine
