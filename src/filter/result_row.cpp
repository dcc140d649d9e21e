#include "filter/result_row.h"

#include "engine/volume/disk_object.h"
#include "support/file_time.h"
#include "support/ansi_chars.h"

namespace kestrine {
namespace {

std::string TimeText(TFileTime Value) { return FileTimeToLocalText(Value).value_or(std::string()); }

bool HasKnownFileSystem(const TFileInfo& Info) {
  return Info.Disk != nullptr && IsKnown(Info.Disk->FileSystem);
}

}  // namespace

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
