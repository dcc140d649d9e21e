#pragma once
// The rows of the result list: the port a view fills, and the texts of each column.

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "engine/volume/file_info.h"

namespace kestrine {

inline constexpr std::array<const char*, 6> kResultColumnNames = {"FileName", "Type",     "Size",
                                                                  "Status",   "Modified", "Created"};

// One row as a view holds it (a virtual list asks for it when it draws the row).
class TListRow {
 public:
  virtual ~TListRow() = default;
  virtual void SetCaption(const std::string& Text) = 0;
  virtual void SetImageIndex(int Index) = 0;
  virtual void SetChecked(bool Checked) = 0;
  // The columns after the caption, in order.
  virtual void AddSubItem(const std::string& Text) = 0;
  // The item the row shows, through which selected rows lead back to their items.
  virtual void SetItem(PFileInfo Info) = 0;
};

// The extension from the last "." on, upper-cased; empty without a "." or with a ":" after it.
std::string FileTypeText(std::string_view Name);

// Type, Size, Status, Modified, Created. The times stay empty on a disk of no known file system
// and where they cannot be converted.
std::array<std::string, 5> ResultColumnTexts(const TFileInfo& Info);

// The order of the result list: by one of the six columns, or (Column -1) the order found.
struct TResultOrder {
  int Column = -1;
  bool Descending = false;
  bool operator==(const TResultOrder&) const = default;
};

// Sorts Items by Order, folders always before files and ties kept in the order found. Names and
// types compare without regard to letter case; times compare as stored.
void SortResults(std::vector<PFileInfo>& Items, const TResultOrder& Order);

}  // namespace kestrine
