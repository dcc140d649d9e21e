#pragma once
// The bytes of one data stream: resident, or read from its runs one unit at a time, with sparse runs,
// LZNT1-compressed units and the zeros past the initialized size.

#include <cstdint>
#include <span>
#include <optional>
#include <string>
#include <vector>

#include "engine/ntfs/lznt1.h"
#include "engine/ntfs/ntfs_records.h"
#include "engine/volume/read_disk.h"
#include "engine/volume/recovery_reason.h"

namespace kestrine {

class TMftReader;

class TNtfsDataReader {
 public:
  // StreamAttr is the stream's first $DATA header, Runs those of all its extents. A compression unit
  // that NTFS cannot have written leaves the reader empty.
  TNtfsDataReader(TMftReader& Reader, const TNtfsAttr& StreamAttr, TRunList Runs);

  // The recorded size, cut to the allocated size and to what the runs hold inside the volume: the
  // stream never delivers more than the volume can hold. Holes count as held.
  std::int64_t Size() const { return FSize; }
  // Why Size is less than the recorded size; empty when it is not.
  const std::optional<TReason>& SizeCut() const { return FSizeCut; }
  bool Resident() const { return FResident; }
  bool Compressed() const { return FCompressed; }
  std::uint32_t UnitClusters() const { return FUnitClusters; }

  // The bytes from Position to the end of the unit that holds it (of its chunk, for compressed data:
  // chunks are decompressed as they are reached); empty where nothing can be read
  // (no run holds the position). Not cut at Size.
  std::span<const std::uint8_t> At(std::int64_t Position);
  // Copies up to Count bytes from Position, never at or past Limit.
  std::size_t Read(std::int64_t Position, std::uint8_t* Buffer, std::size_t Count, std::int64_t Limit);
  // Where the bytes from Position on are stored on the volume as they are, up to MaxLength of them
  // and within one run: plain data only. Empty where Read makes the bytes rather than reading them
  // (resident or compressed data, holes, zeros past the initialized size or the volume's end).
  TVolumeRange VolumeRange(std::int64_t Position, std::int64_t MaxLength) const;

 private:
  // A unit as Read delivers it: decompressed, holes and the bytes past the initialized size as zeros.
  // A compressed unit keeps its stored clusters until a read reaches it. A read from its start (as
  // a sequential one) decompresses it whole; one inside it finds the chunks from their headers and
  // decompresses only the chunk it reads, so a read of a few bytes costs one chunk, not the whole
  // unit. A chunk found damaged, or ending early before others, turns the unit back to the whole
  // decompression, which decides how such a unit reads.
  struct TUnit {
    std::int64_t Index = -1;
    std::size_t Valid = 0;  // bytes from its start that hold data
    std::vector<std::uint8_t> Bytes;
    std::uint64_t LastUse = 0;
    std::vector<std::uint8_t> Packed;  // stored clusters, while chunks wait to be decompressed
    std::size_t StoredValid = 0;       // Valid when it is delivered as stored
    std::optional<std::vector<std::size_t>> Chunks;  // where its chunks lie, once looked for
    std::vector<bool> Decompressed;    // by chunk; empty when Bytes is whole
  };
  bool LoadUnit(std::int64_t Unit, TUnit& Into);
  // Decompresses what a read at byte Within of Unit needs unless done; the end of the bytes ready there.
  std::size_t Decompress(TUnit& Unit, std::size_t Within);
  // Past the initialized size the data reads as zeros, whatever the clusters hold.
  void ZeroPastInitialized(TUnit& Unit) const;
  // Clusters from the stream's start to the end of the last run with a hole or clusters inside the
  // volume; the volume as its boot sector declares it, since a source cut short is a failed read.
  std::int64_t HeldClusters() const;
  // Runs hold every cluster from First up to Last, with no gap, and the source every stored one
  // before Last.
  bool Covered(std::int64_t First, std::int64_t Last) const;

  TMftReader& FReader;
  bool FResident = false;
  bool FCompressed = false;
  bool FUsable = false;
  std::vector<std::uint8_t> FValue;  // resident content
  TRunList FRuns;                    // sorted by VCN, without overlaps or empty runs
  std::int64_t FSize = 0;
  std::int64_t FInitialized = 0;
  std::optional<TReason> FSizeCut;
  std::uint32_t FClusterSize = 0;
  std::uint32_t FUnitClusters = 0;
  // Units kept, the least recently used replaced: a compressed unit is decoded once while readers
  // at several offsets take turns. Plain data keeps one, since reading it again costs no decoding.
  std::vector<TUnit> FUnits;
  std::uint64_t FUses = 0;
  std::vector<std::uint8_t> FWork;   // the stored clusters of a compressed unit
};

}  // namespace kestrine
