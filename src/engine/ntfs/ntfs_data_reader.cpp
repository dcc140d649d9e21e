#include "engine/ntfs/ntfs_data_reader.h"

#include <algorithm>
#include <cstring>

#include "engine/ntfs/lznt1.h"
#include "engine/ntfs/mft_reader.h"
#include "engine/volume/byte_order.h"
#include "engine/volume/read_disk.h"

namespace kestrine {
namespace {
// Plain data is read 16 clusters at a time, but never more than 1 MiB (large clusters).
constexpr std::uint32_t kPlainUnitClusters = 16;
constexpr std::uint64_t kMaxPlainUnitBytes = 1024 * 1024;
constexpr std::int64_t kMaxSize = std::int64_t{1} << 62;
// Decoded compression units kept by one reader.
constexpr std::size_t kCompressedUnitsKept = 8;

TRunList NormalizeRuns(TRunList Runs) {
  std::erase_if(Runs, [](const TRunItem& R) { return R.Length == 0; });
  std::stable_sort(Runs.begin(), Runs.end(), [](const TRunItem& A, const TRunItem& B) { return A.Vcn < B.Vcn; });
  TRunList kept;
  std::int64_t end = 0;
  for (const TRunItem& run : Runs) {
    if (run.Vcn < end) continue;  // overlaps a run already placed: damage
    kept.push_back(run);
    end = run.Vcn + static_cast<std::int64_t>(run.Length);
  }
  return kept;
}
}  // namespace

TNtfsDataReader::TNtfsDataReader(TMftReader& Reader, const TNtfsAttr& StreamAttr, TRunList Runs)
    : FReader(Reader), FClusterSize(Reader.ClusterSize()) {
  FResident = !StreamAttr.NonResident();
  if (FResident) {
    const auto value = StreamAttr.Value();
    FValue.assign(value.begin(), value.end());
    FSize = static_cast<std::int64_t>(FValue.size());
    FUsable = true;
    return;
  }
  const std::uint16_t unit = StreamAttr.CompressionUnit();
  if (FClusterSize == 0 || !Reader.ValidCompressionUnit(unit)) return;
  FSize = static_cast<std::int64_t>(std::min<std::uint64_t>(StreamAttr.DataSize(), kMaxSize));
  FInitialized = static_cast<std::int64_t>(std::min<std::uint64_t>(StreamAttr.InitializedSize(), kMaxSize));
  // Units group clusters for compressed data; a unit field on uncompressed (sparse) data only sizes reads.
  FCompressed = unit != 0 && StreamAttr.CompressedData();
  FUnitClusters = FCompressed ? 1u << unit
                              : static_cast<std::uint32_t>(std::clamp<std::uint64_t>(
                                    kMaxPlainUnitBytes / FClusterSize, 1, kPlainUnitClusters));
  FRuns = NormalizeRuns(std::move(Runs));
  const std::int64_t recorded = FSize;
  const auto allocated = static_cast<std::int64_t>(std::min<std::uint64_t>(StreamAttr.AllocatedSize(), kMaxSize));
  const std::int64_t held = std::min(HeldClusters(), kMaxSize / FClusterSize) * FClusterSize;
  if (FSize > allocated) {
    FSize = allocated;
    FSizeCut = TReason{TReasonId::SizeOverAllocated, {std::to_string(recorded), std::to_string(allocated)}};
  }
  if (FSize > held) {
    FSize = held;
    FSizeCut = TReason{TReasonId::SizeOverRuns, {std::to_string(held), std::to_string(recorded)}};
  }
  if (FSizeCut) FSizeCut->Args.push_back(std::to_string(FSize));
  FUnits.resize(FCompressed ? kCompressedUnitsKept : 1);
  FUnits.front().Bytes.resize(std::size_t{FUnitClusters} * FClusterSize);
  if (FCompressed) FWork.resize(FUnits.front().Bytes.size());
  FUsable = true;
}

std::int64_t TNtfsDataReader::HeldClusters() const {
  std::int64_t volume = FReader.ClusterCount();
  const std::uint64_t sectors = ReadLe64(FReader.BootSector(), 0x28);
  const std::uint32_t perCluster = FReader.BytesPerSector() ? FClusterSize / FReader.BytesPerSector() : 0;
  if (perCluster > 0 && sectors / perCluster < static_cast<std::uint64_t>(kMaxSize / FClusterSize))
    volume = std::max(volume, static_cast<std::int64_t>(sectors / perCluster));
  std::int64_t held = 0;
  for (const TRunItem& run : FRuns) {
    if (run.Vcn < 0 || run.Vcn >= kMaxSize) continue;
    std::uint64_t length = run.Length;
    if (run.Lcn >= 0) {
      if (run.Lcn >= volume) continue;
      length = std::min<std::uint64_t>(length, static_cast<std::uint64_t>(volume - run.Lcn));
    }
    const std::uint64_t room = static_cast<std::uint64_t>(kMaxSize - run.Vcn);
    held = std::max(held, run.Vcn + static_cast<std::int64_t>(std::min(length, room)));
  }
  return held;
}

bool TNtfsDataReader::LoadUnit(std::int64_t Unit, TUnit& Into) {
  std::vector<std::uint8_t>& bytes = Into.Bytes;
  bytes.resize(FUnits.front().Bytes.size());
  Into.Index = -1;
  Into.Decompressed.clear();
  std::size_t& valid = Into.Valid;
  valid = 0;
  const std::int64_t first = Unit * FUnitClusters;
  const std::int64_t last = first + FUnitClusters;
  std::vector<std::uint8_t>& target = FCompressed ? FWork : bytes;
  std::memset(target.data(), 0, target.size());
  if (FCompressed) std::memset(bytes.data(), 0, bytes.size());

  auto run = std::upper_bound(FRuns.begin(), FRuns.end(), first, [](std::int64_t Vcn, const TRunItem& R) {
    return Vcn < R.Vcn + static_cast<std::int64_t>(R.Length);
  });
  std::int64_t covered = first;  // clusters of the unit held by runs without a gap
  std::int64_t stored = 0;       // of which on disk
  bool storedFirst = true;       // the stored clusters come before every hole
  bool sawHole = false;
  std::int64_t unread = last;    // the first cluster that could not be read whole
  for (; run != FRuns.end() && run->Vcn < last; ++run) {
    const std::int64_t from = std::max(run->Vcn, first);
    const std::int64_t to = std::min(run->Vcn + static_cast<std::int64_t>(run->Length), last);
    if (from > covered) break;
    if (run->Lcn < 0) {
      sawHole = true;
    } else {
      storedFirst = storedFirst && !sawHole;
      stored += to - from;
      const std::int64_t lcn = run->Lcn + (from - run->Vcn);
      // Clusters past the source's end or that fail to read are not data: the unit ends before them.
      const std::int64_t readable = std::clamp<std::int64_t>(FReader.ClusterCount() - lcn, 0, to - from);
      std::int64_t got = 0;
      if (readable > 0) {
        const auto count = static_cast<std::uint32_t>(readable * FClusterSize);
        got = ReadDisk(FReader.Handle(), target.data() + (from - first) * FClusterSize, count, lcn * FClusterSize) /
              FClusterSize;
      }
      if (got < to - from) unread = std::min(unread, from + got);
    }
    covered = to;
  }
  if (covered == first) return false;
  valid = static_cast<std::size_t>(covered - first) * FClusterSize;
  if (unread < last) {
    // Past the initialized size the clusters are not data anyway; there the failure costs nothing.
    const std::int64_t stop = unread * FClusterSize;
    if (stop < std::min(FInitialized, FSize)) {
      // A compressed unit cannot be decompressed from part of its clusters.
      const bool packed = FCompressed && stored < FUnitClusters;
      if (packed || unread == first) return false;
      valid = static_cast<std::size_t>(unread - first) * FClusterSize;
      std::memset(target.data() + valid, 0, target.size() - valid);
    }
  }

  Into.Index = Unit;
  if (FCompressed && stored > 0 && stored < FUnitClusters) {
    if (storedFirst) {
      Into.Packed.assign(FWork.begin(), FWork.begin() + stored * FClusterSize);
      Into.StoredValid = valid;
      Into.Chunks.reset();
      Into.Decompressed.assign((bytes.size() + kLznt1ChunkSize - 1) / kLznt1ChunkSize, false);
      valid = bytes.size();
      return true;
    }
    std::memcpy(bytes.data(), FWork.data(), valid);  // delivered as stored
  } else if (FCompressed) {
    std::memcpy(bytes.data(), FWork.data(), valid);
  }
  ZeroPastInitialized(Into);
  return true;
}

std::size_t TNtfsDataReader::Decompress(TUnit& Unit, std::size_t Within) {
  if (Unit.Decompressed.empty()) return Unit.Valid;
  if (Within >= kLznt1ChunkSize && !Unit.Chunks)
    Unit.Chunks = FindLznt1Chunks(Unit.Packed.data(), Unit.Packed.size(), Unit.Bytes.size());
  const std::size_t chunk = Within / kLznt1ChunkSize;
  if (Unit.Chunks && !Unit.Chunks->empty()) {
    if (!Unit.Decompressed[chunk]) {
      const TLznt1ChunkEnd end = DecompressLznt1Chunk(Unit.Bytes.data(), Unit.Bytes.size(), Unit.Packed.data(),
                                                      Unit.Packed.size(), *Unit.Chunks, chunk);
      Unit.Decompressed[chunk] = end == TLznt1ChunkEnd::Whole || (end == TLznt1ChunkEnd::Early && chunk + 1 == Unit.Chunks->size());
    }
    if (Unit.Decompressed[chunk]) {
      ZeroPastInitialized(Unit);
      return std::min(Unit.Valid, (chunk + 1) * kLznt1ChunkSize);
    }
  }
  // The whole unit at once: from its start, or where its chunks cannot be taken one by one.
  std::memset(Unit.Bytes.data(), 0, Unit.Bytes.size());
  if (DecompressLznt1(Unit.Bytes.data(), Unit.Bytes.size(), Unit.Packed.data(), Unit.Packed.size()) <= 0) {
    // Not LZNT1 after all: delivered as stored.
    std::memset(Unit.Bytes.data(), 0, Unit.Bytes.size());
    std::memcpy(Unit.Bytes.data(), Unit.Packed.data(), std::min(Unit.StoredValid, Unit.Packed.size()));
    Unit.Valid = Unit.StoredValid;
  }
  Unit.Decompressed.clear();
  ZeroPastInitialized(Unit);
  return Unit.Valid;
}

void TNtfsDataReader::ZeroPastInitialized(TUnit& Unit) const {
  const std::int64_t unitStart = Unit.Index * static_cast<std::int64_t>(Unit.Bytes.size());
  if (FInitialized < FSize && FInitialized < unitStart + static_cast<std::int64_t>(Unit.Valid)) {
    const std::int64_t from = std::max<std::int64_t>(FInitialized - unitStart, 0);
    const std::int64_t to = std::min<std::int64_t>(FSize - unitStart, static_cast<std::int64_t>(Unit.Valid));
    if (to > from) std::memset(Unit.Bytes.data() + from, 0, static_cast<std::size_t>(to - from));
  }
}

bool TNtfsDataReader::Covered(std::int64_t First, std::int64_t Last) const {
  auto run = std::upper_bound(FRuns.begin(), FRuns.end(), First, [](std::int64_t Vcn, const TRunItem& R) {
    return Vcn < R.Vcn + static_cast<std::int64_t>(R.Length);
  });
  for (std::int64_t next = First; run != FRuns.end() && run->Vcn <= next; ++run) {
    // A stored cluster before Last that the source does not hold ends the unit for Read too.
    const std::int64_t to = std::min(run->Vcn + static_cast<std::int64_t>(run->Length), Last);
    const std::int64_t count = FReader.ClusterCount();
    if (run->Lcn >= 0 && to > std::max(run->Vcn, First) && (run->Lcn >= count || to - run->Vcn > count - run->Lcn))
      return false;
    next = run->Vcn + static_cast<std::int64_t>(run->Length);
    if (next > Last) return true;
  }
  return false;
}

TVolumeRange TNtfsDataReader::VolumeRange(std::int64_t Position, std::int64_t MaxLength) const {
  const platform::TVolumeSource* source = FReader.Handle();
  if (!FUsable || FResident || FCompressed || !source || Position < 0 || MaxLength <= 0) return {};
  const std::int64_t stored = std::min(FSize, FInitialized);
  if (Position >= stored) return {};
  const std::int64_t end = Position + std::min(MaxLength, stored - Position);
  const std::int64_t vcn = Position / FClusterSize;
  const auto run = std::upper_bound(FRuns.begin(), FRuns.end(), vcn, [](std::int64_t Vcn, const TRunItem& R) {
    return Vcn < R.Vcn + static_cast<std::int64_t>(R.Length);
  });
  if (run == FRuns.end() || run->Vcn > vcn || run->Lcn < 0) return {};
  // Read loads whole units and stops at the first cluster no run holds.
  if (!Covered(vcn / FUnitClusters * FUnitClusters, vcn)) return {};
  // Clusters off the source are not read: Read ends before them.
  const std::int64_t into = vcn - run->Vcn;
  if (run->Lcn >= FReader.ClusterCount() || into >= FReader.ClusterCount() - run->Lcn) return {};
  const std::int64_t lcn = run->Lcn + into;
  const auto clusters = static_cast<std::int64_t>(
      std::min<std::uint64_t>(run->Length - static_cast<std::uint64_t>(into),
                              static_cast<std::uint64_t>(FReader.ClusterCount() - lcn)));
  const std::int64_t offset = lcn * FClusterSize + Position % FClusterSize;
  const std::int64_t length = std::min({end - Position, clusters * FClusterSize - Position % FClusterSize,
                                        source->Size() - offset});
  if (length <= 0) return {};
  return {offset, length};
}

std::span<const std::uint8_t> TNtfsDataReader::At(std::int64_t Position) {
  if (!FUsable || Position < 0) return {};
  if (FResident) {
    if (Position >= FSize) return {};
    return std::span<const std::uint8_t>(FValue).subspan(static_cast<std::size_t>(Position));
  }
  if (Position >= kMaxSize) return {};
  const auto unitBytes = static_cast<std::int64_t>(FUnits.front().Bytes.size());
  const std::int64_t unit = Position / unitBytes;
  auto kept = std::find_if(FUnits.begin(), FUnits.end(), [unit](const TUnit& U) { return U.Index == unit; });
  if (kept == FUnits.end()) {
    kept = std::min_element(FUnits.begin(), FUnits.end(), [](const TUnit& A, const TUnit& B) { return A.LastUse < B.LastUse; });
    if (!LoadUnit(unit, *kept)) return {};
  }
  kept->LastUse = ++FUses;
  const auto within = static_cast<std::size_t>(Position - unit * unitBytes);
  const std::size_t end = within < kept->Valid ? Decompress(*kept, within) : 0;
  if (within >= end) return {};
  return std::span<const std::uint8_t>(kept->Bytes).subspan(within, end - within);
}

std::size_t TNtfsDataReader::Read(std::int64_t Position, std::uint8_t* Buffer, std::size_t Count, std::int64_t Limit) {
  std::size_t done = 0;
  while (done < Count && Position < Limit) {
    const auto bytes = At(Position);
    if (bytes.empty()) break;
    const std::size_t n = std::min({bytes.size(), Count - done, static_cast<std::size_t>(Limit - Position)});
    std::memcpy(Buffer + done, bytes.data(), n);
    done += n;
    Position += static_cast<std::int64_t>(n);
  }
  return done;
}

}  // namespace kestrine
