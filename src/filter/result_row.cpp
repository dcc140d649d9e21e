#include "filter/result_row.h"

#include <algorithm>

#include "engine/volume/disk_object.h"
#include "support/file_time.h"
#include "support/ansi_chars.h"

namespace kestrine {
namespace {

std::string TimeText(TFileTime Value) { return FileTimeToLocalText(Value).value_or(std::string()); }

bool HasKnownFileSystem(const TFileInfo& Info) {
  return Info.Disk != nullptr && IsKnown(Info.Disk->FileSystem);
}

// Negative, zero or positive, as A sorts before, with or after B in a column of numbers or times.
int CompareNumbers(const TFileInfo& A, const TFileInfo& B, int Column) {
  const auto three = [](auto X, auto Y) { return X < Y ? -1 : (Y < X ? 1 : 0); };
  switch (Column) {
    case 2: return three(A.Size.load(std::memory_order_relaxed), B.Size.load(std::memory_order_relaxed));
    case 3: return three(A.Condition, B.Condition);
    case 4: return three(A.LastWriteTime, B.LastWriteTime);
    case 5: return three(A.CreationTime, B.CreationTime);
    default: return 0;
  }
}

}  // namespace

void SortResults(std::vector<PFileInfo>& Items, const TResultOrder& Order) {
  if (Order.Column < 0) return;
  const auto ordered = [&Order](int Compared) { return Order.Descending ? Compared > 0 : Compared < 0; };
  if (Order.Column > 1) {
    std::stable_sort(Items.begin(), Items.end(), [&](const TFileInfo* A, const TFileInfo* B) {
      if (A->IsFolder != B->IsFolder) return A->IsFolder;
      return ordered(CompareNumbers(*A, *B, Order.Column));
    });
    return;
  }
  // Texts are upper-cased once each, not once per comparison.
  std::vector<std::pair<std::string, PFileInfo>> keyed;
  keyed.reserve(Items.size());
  for (PFileInfo item : Items)
    keyed.emplace_back(Order.Column == 0 ? AnsiUpperText(item->Name) : FileTypeText(item->Name), item);
  std::stable_sort(keyed.begin(), keyed.end(), [&](const auto& A, const auto& B) {
    if (A.second->IsFolder != B.second->IsFolder) return A.second->IsFolder;
    return ordered(A.first.compare(B.first));
  });
  for (std::size_t i = 0; i < keyed.size(); ++i) Items[i] = keyed[i].second;
}

std::string FileTypeText(std::string_view Name) {
  const std::size_t dot = Name.rfind('.');
  if (dot == std::string_view::npos || Name.find(':', dot) != std::string_view::npos) return {};
  return AnsiUpperText(Name.substr(dot));
}

std::array<std::string, 5> ResultColumnTexts(const TFileInfo& Info) {
  std::array<std::string, 5> texts;
  texts[0] = FileTypeText(Info.Name);
  texts[1] = std::to_string(Info.Size.load(std::memory_order_relaxed));
  if (!Info.IsFolder) texts[2] = std::to_string(Info.Condition) + "%";
  if (HasKnownFileSystem(Info)) {
    texts[3] = TimeText(Info.LastWriteTime);
    texts[4] = TimeText(Info.CreationTime);
  }
  return texts;
}

}  // namespace kestrine
