// One MFT record: fix-ups, the attribute walk, every lookup and every decoder over arbitrary bytes.

#include <cstdint>
#include <vector>

#include "engine/ntfs/mft_reader.h"
#include "engine/ntfs/mft_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  using namespace kestrine;
  if (Size < 2) return 0;
  // The first byte picks the sector size the fix-ups assume; records are 1 KiB or 4 KiB.
  const std::uint32_t sector = Data[0] & 1 ? 4096 : 512;
  std::vector<std::uint8_t> record(Data + 1, Data + Size);
  record.resize(record.size() <= 1024 ? 1024 : 4096);
  if (!ApplyFixups(record, sector)) return 0;
  FindAttrInRecord(record, NtfsAttrType::Any, -1);
  // Without a volume, list-mode lookups find no other records; everything else works on the bytes.
  TMftReader reader(nullptr);
  bool found = false;
  auto info = reader.DecodeFileInfo(0, found, record, 42);
  if (!info) return 0;
  TFileInfo item;
  std::string name;
  reader.GetFileName(*info, name);
  reader.GetStandardInfo(item, *info);
  reader.GetFileSize(*info);
  TNtfsDataStreamInfoArr streams;
  reader.GetFileStreams(*info, streams);
  TRunList runs;
  for (const auto& stream : streams) reader.GetFileDataStreamsRunList(*info, stream.Name, runs);
  reader.GetFileRunList(*info, runs);
  reader.GetEfsData(*info);
  for (std::size_t slot = 0; slot < kNtfsAttrSlots; ++slot)
    for (std::size_t i = 0; i < info->Attrs(slot).size(); ++i) {
      const auto attr = info->Attr(slot, i);
      if (!attr) __builtin_trap();  // every indexed attribute lies inside the kept bytes
      attr->Name();
      TMftReader::GetAttrValue(*attr);
      reader.DecompressRunList(*attr, runs);
    }
  return 0;
}
