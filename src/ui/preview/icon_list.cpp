#include "ui/preview/icon_list.h"

#include <QApplication>
#include <QLocale>
#include <QMimeDatabase>
#include <QStyle>
#include <algorithm>

namespace kestrine::ui {

namespace {

constexpr QLatin1String FolderKey("**FOLDER");
constexpr QLatin1String NoneKey("**NONE");

// What the icon source is asked for: the untripled key.
QString SourceKey(const QString& Name) {
  // Upper-casing may change the length (ß → SS) but never adds or drops a ".", so the last dot of
  // the upper-cased name is the last dot of the name itself.
  const QString Upper = QLocale().toUpper(Name);
  if (Upper.contains(QLatin1Char('.'))) return Name.mid(Name.lastIndexOf(QLatin1Char('.')));
  return Upper == FolderKey ? QString(FolderKey) : QString(NoneKey);
}

// Short keys are tripled to spread their hashes.
QString Tripled(const QString& Key) {
  if (Key.size() >= 9 || Key == FolderKey) return Key;
  return Key + Key + Key;
}

QIcon StandardIcon(QStyle::StandardPixmap Which) {
  // Icons need a widget application; without one there is no style to ask.
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return {};
  return QApplication::style()->standardIcon(Which);
}

QIcon ThemeIcon(const QString& Name) {
  return !Name.isEmpty() && QIcon::hasThemeIcon(Name) ? QIcon::fromTheme(Name) : QIcon();
}

// Programs show the generic program icon rather than their own, as the shell does for "exefile".
// Exact names only: scripts also derive from application/x-executable but keep their own icons.
bool IsExecutable(const QMimeType& Type) {
  static const QStringList Executables = {
      QStringLiteral("application/x-executable"),         QStringLiteral("application/x-ms-dos-executable"),
      QStringLiteral("application/x-msdownload"),         QStringLiteral("application/x-dosexec"),
      QStringLiteral("application/x-ms-ne-executable"),   QStringLiteral("application/vnd.microsoft.portable-executable"),
  };
  if (Executables.contains(Type.name())) return true;
  const QStringList Aliases = Type.aliases();
  return std::any_of(Aliases.begin(), Aliases.end(), [](const QString& Alias) { return Executables.contains(Alias); });
}

class TThemeIconSource final : public TIconSource {
 public:
  QIcon IconFor(const QString& Key) override {
    if (Key == FolderKey) return FolderIcon();
    if (!Key.startsWith(QLatin1Char('.'))) return FileIcon();
    const QList<QMimeType> Types = FMimes.mimeTypesForFileName(QStringLiteral("x") + Key);
    if (Types.isEmpty()) return FileIcon();
    return TypeIcon(Types.first());
  }

 private:
  static QIcon FolderIcon() {
    const QIcon Icon = ThemeIcon(QStringLiteral("folder"));
    return Icon.isNull() ? StandardIcon(QStyle::SP_DirIcon) : Icon;
  }

  static QIcon FileIcon() { return StandardIcon(QStyle::SP_FileIcon); }

  static QIcon TypeIcon(const QMimeType& Type) {
    QIcon Icon = IsExecutable(Type) ? ThemeIcon(QStringLiteral("application-x-executable")) : QIcon();
    if (Icon.isNull()) Icon = ThemeIcon(Type.iconName());
    if (Icon.isNull()) Icon = ThemeIcon(Type.genericIconName());
    return Icon.isNull() ? FileIcon() : Icon;
  }

  QMimeDatabase FMimes;
};

}  // namespace

int TImageList::Add(const QIcon& Icon) {
  if (Icon.isNull()) return -1;
  FIcons.push_back(Icon);
  return Count() - 1;
}

QIcon TImageList::Icon(int Index) const {
  if (Index < 0 || Index >= Count()) return {};
  return FIcons[static_cast<size_t>(Index)];
}

std::unique_ptr<TIconSource> ThemeIconSource() { return std::make_unique<TThemeIconSource>(); }

TIconList::TIconList(TImageList* Images, std::unique_ptr<TIconSource> Source)
    : FImageList(Images), FSource(std::move(Source)) {}

void TIconList::SetImageList(TImageList* Images) {
  if (Images == FImageList) return;
  FImageList = Images;
  FItems.clear();
  FItems.shrink_to_fit();
}

QString TIconList::CacheKey(const QString& Name) { return Tripled(SourceKey(Name)); }

// Hashed over the key's UTF-8 bytes, so every code is 0..255 and no character is folded onto
// another; for ASCII and Latin-1 letters below 0x80 this is the character code itself.
qint64 TIconList::Hash(const QString& Key) {
  const QByteArray Bytes = Key.toUtf8();
  quint64 H = static_cast<quint64>(Bytes.size());
  for (qsizetype I = 0; I < Bytes.size(); ++I)
    H += static_cast<quint64>(I + 1) * static_cast<unsigned char>(Bytes[I]);
  H ^= (H >> 10) ^ (H >> 20);
  return static_cast<qint64>(H);
}

int TIconList::GetIconIndex(const std::string& Name) { return GetIconIndex(QString::fromStdString(Name)); }

int TIconList::GetIconIndex(const QString& Name) {
  const QString Key = SourceKey(Name);
  const qint64 KeyHash = Hash(Tripled(Key));
  const auto Found = std::lower_bound(FItems.begin(), FItems.end(), KeyHash,
                                      [](const TIconEntry& Entry, qint64 H) { return Entry.Hash < H; });
  if (Found != FItems.end() && Found->Hash == KeyHash) return Found->ImageIndex;
  return AddIcon(Key, KeyHash);
}

int TIconList::AddIcon(const QString& Key, qint64 KeyHash) {
  if (FItems.size() == FItems.capacity()) FItems.reserve(2 * FItems.size() + 1);
  TIconEntry Entry;
  Entry.Icon = FSource ? FSource->IconFor(Key) : QIcon();
  Entry.Hash = KeyHash;
  Entry.ImageIndex = FImageList ? FImageList->Add(Entry.Icon) : -1;
  const auto At = std::upper_bound(FItems.begin(), FItems.end(), KeyHash,
                                   [](qint64 H, const TIconEntry& Item) { return H < Item.Hash; });
  return FItems.insert(At, std::move(Entry))->ImageIndex;
}

}  // namespace kestrine::ui
