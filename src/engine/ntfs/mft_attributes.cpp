// The decoders of attribute contents: names, time stamps, data streams, encryption metadata.

#include <algorithm>

#include "engine/ntfs/mft_reader.h"
#include "engine/ntfs/utf16_text.h"
#include "engine/volume/byte_order.h"
#include "support/debug_log.h"

namespace kestrine {
namespace {
constexpr std::size_t kFileNameHeader = 0x42;
constexpr std::size_t kStandardInfoUsed = 0x24;
constexpr std::uint8_t kDosNamespace = 2;
constexpr std::uint64_t kMaxEfsRead = 128 * 1024;

// Runs Visit over every attribute of a type, closing the lookup however it ends.
template <typename F>
void ForEachAttr(TMftReader& Reader, const TNtfsFileInfo& Info, std::uint32_t Type, F&& Visit) {
  TNtfsAttrLookupContext context;
  Reader.OpenAttrSearchContext(Info, Type, context);
  try {
    while (auto attr = Reader.FindNextAttr(context))
      if (!Visit(*attr)) break;
  } catch (...) {
    Reader.CloseAttrSearchContext(context);
    throw;
  }
  Reader.CloseAttrSearchContext(context);
}
}  // namespace

void TMftReader::GetFileName(TNtfsFileInfo& Info, std::string& Name) {
  Name.clear();
  ForEachAttr(*this, Info, NtfsAttrType::FileName, [&](const TNtfsAttr& Attr) {
    const auto value = Attr.Value();
    if (value.size() < kFileNameHeader || value[0x41] == kDosNamespace) return true;
    const std::size_t units = value[0x40];
    if (value.size() - kFileNameHeader < 2 * units) return true;
    const std::uint64_t parent = ReadLe64(value, 0);
    Info.ParentRef = static_cast<std::int64_t>(parent & kMftRefMask);
    Info.ParentSeq = static_cast<std::uint16_t>(parent >> 48);
    Name = Utf16LeToUtf8(value.subspan(kFileNameHeader, 2 * units));
    return false;
  });
}

bool TMftReader::GetStandardInfo(TFileInfo& Item, TNtfsFileInfo& Info) {
  bool found = false;
  ForEachAttr(*this, Info, NtfsAttrType::StandardInformation, [&](const TNtfsAttr& Attr) {
    const auto value = Attr.Value();
    if (value.size() >= kStandardInfoUsed) {
      Item.CreationTime = ReadLe64(value, 0x00);
      Item.LastWriteTime = ReadLe64(value, 0x08);
      Item.Attributes = ReadLe32(value, 0x20);
      Info.Compressed = (Item.Attributes & FileAttr::Compressed) != 0;
      Info.Encrypted = (Item.Attributes & FileAttr::Encrypted) != 0;
      found = true;
    }
    return false;  // only the first one counts
  });
  return found;
}

void TMftReader::GetFileStreams(const TNtfsFileInfo& Info, TNtfsDataStreamInfoArr& Streams) {
  Streams.clear();
  try {
    ForEachAttr(*this, Info, NtfsAttrType::Data, [&](const TNtfsAttr& Attr) {
      const auto name = Attr.Name();
      if (!name) return true;
      const bool known = std::any_of(Streams.begin(), Streams.end(),
                                     [&](const TNtfsDataStreamInfo& S) { return SameNameIgnoringCase(S.Name, *name); });
      if (!known) Streams.push_back({*name, static_cast<std::int64_t>(std::min<std::uint64_t>(Attr.StreamSize(), INT64_MAX))});
      return true;
    });
  } catch (...) {
    WriteLog(LogMessages::SetLengthRaised, OperationNames::MftReaderGetFileStreams,
             static_cast<const void*>(&Streams), Streams.size());
  }
}

void TMftReader::GetFileStreams(const TFileInfo& Item, TNtfsDataStreamInfoArr& Streams) {
  Streams.clear();
  const auto* info = Item.Info<TNtfsFileInfo>();
  if (!info) return;
  if (info->Record) {
    GetFileStreams(*info, Streams);
    return;
  }
  std::optional<TReason> why;
  if (const auto again = RereadFileInfo(*info, why)) GetFileStreams(*again, Streams);
}

std::optional<TNtfsAttr> TMftReader::GetFileDataStreamsRunList(const TNtfsFileInfo& Info,
                                                               const std::string& StreamName, TRunList& Runs) {
  Runs.clear();
  std::optional<TNtfsAttr> header;
  try {
    ForEachAttr(*this, Info, NtfsAttrType::Data, [&](const TNtfsAttr& Attr) {
      const auto name = Attr.Name();
      if (!name || !SameNameIgnoringCase(*name, StreamName)) return true;
      if (!header) header = Attr.OwnedCopy();
      if (!Attr.NonResident()) return false;
      TRunList extent;
      DecompressRunList(Attr, extent);
      Runs.insert(Runs.end(), extent.begin(), extent.end());
      return true;
    });
  } catch (...) {
    WriteLog(LogMessages::SetLengthRaised, OperationNames::MftReaderGetFileDataStreamsRunList,
             static_cast<const void*>(&Runs), Runs.size());
    Runs.clear();
  }
  return header;
}

std::vector<std::uint8_t> TMftReader::GetEfsData(const TNtfsFileInfo& Info) {
  std::vector<std::uint8_t> content;
  try {
    ForEachAttr(*this, Info, NtfsAttrType::LoggedUtilityStream, [&](const TNtfsAttr& Attr) {
      const auto name = Attr.Name();
      if (!name || !SameNameIgnoringCase(*name, "$EFS")) return true;
      if (Attr.NonResident()) {
        TRunList runs;
        DecompressRunList(Attr, runs);
        content = ReadRunsContent(runs, std::min(Attr.DataSize(), kMaxEfsRead));
      } else {
        const auto value = Attr.Value();
        content.assign(value.begin(), value.end());
      }
      return content.empty();
    });
  } catch (...) {
    WriteLog(LogMessages::ReallocMemRaised, OperationNames::MftReaderGetEfsData,
             static_cast<const void*>(content.data()), content.size());
    content.clear();
  }
  return content;
}

}  // namespace kestrine
