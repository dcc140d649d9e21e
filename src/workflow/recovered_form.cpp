#include "workflow/recovered_form.h"

#include <algorithm>

#include "engine/volume/recovery_stream.h"
#include "workflow/output_names.h"

namespace kestrine {

std::string RecoveredFileName(const TFileInfo& Item) {
  return SafeOutputName(IsStoredEncrypted(Item) ? Item.Name + ".efs" : Item.Name);
}

std::int64_t RecoveredLength(const TFileInfo& Item, const TRecoveryStream& Stream) {
  const std::int64_t wanted = IsStoredEncrypted(Item) ? Stream.GetSize() : Item.Size.load();
  return Stream.SizeCut() ? std::min(wanted, Stream.GetSize()) : wanted;
}

}  // namespace kestrine
