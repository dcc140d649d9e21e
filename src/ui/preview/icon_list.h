#pragma once
// File-type icons of the result list: one icon per cache key, added once to the image list the list
// draws from; a key costs one hash and one binary search after its first use.

#include <QIcon>
#include <QString>
#include <memory>
#include <vector>

#include "workflow/view_ports.h"

namespace kestrine::ui {

// The icons a view draws, by index.
class TImageList {
 public:
  // The new icon's index; -1 for a null icon, which the list refuses.
  int Add(const QIcon& Icon);
  // A null icon outside 0..Count-1.
  QIcon Icon(int Index) const;
  int Count() const { return static_cast<int>(FIcons.size()); }

 private:
  std::vector<QIcon> FIcons;
};

// Where icons come from: the key is "**FOLDER", or a name's extension with its dot (".txt"), or
// "**NONE" for a name without one. A null icon is a valid answer.
class TIconSource {
 public:
  virtual ~TIconSource() = default;
  virtual QIcon IconFor(const QString& Key) = 0;
};

// The desktop's icon theme by MIME type, the folder icon, and a generic file icon as fallback.
std::unique_ptr<TIconSource> ThemeIconSource();

class TIconList final : public TIconPort {
 public:
  explicit TIconList(TImageList* Images, std::unique_ptr<TIconSource> Source = ThemeIconSource());
  // Another list empties the cache; icons already in the old list stay there.
  void SetImageList(TImageList* Images);
  int GetIconIndex(const std::string& Name) override;
  int GetIconIndex(const QString& Name);

  // The cache key of a name, and its 64-bit hash.
  static QString CacheKey(const QString& Name);
  static qint64 Hash(const QString& Key);

 private:
  struct TIconEntry {
    QIcon Icon;
    int ImageIndex = -1;
    qint64 Hash = 0;
  };
  // Key is what the source is asked for: the cache key before tripling.
  int AddIcon(const QString& Key, qint64 KeyHash);

  TImageList* FImageList;
  std::unique_ptr<TIconSource> FSource;
  std::vector<TIconEntry> FItems;  // sorted by Hash
};

}  // namespace kestrine::ui
