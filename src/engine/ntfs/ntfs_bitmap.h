#pragma once
// The volume's cluster bitmap ($Bitmap, record 6): one bit per cluster, set = in use.

#include <cstdint>
#include <memory>
#include <optional>

#include "engine/ntfs/ntfs_data_reader.h"
#include "platform/volume_source.h"

namespace kestrine {

class TMftReader;

// The reader of record 6's data; nil when the record or its data cannot be read.
std::unique_ptr<TNtfsDataReader> OpenClusterBitmap(TMftReader& Reader);

// Clusters the bitmap has a bit for.
std::int64_t BitmapClusters(const TNtfsDataReader& Bitmap);

// Clusters of [First, First + Count) whose bit is clear. Clusters past the bitmap are in use; bytes of
// the bitmap that cannot be read count as 0.
std::int64_t CountFreeClusters(TNtfsDataReader& Bitmap, std::int64_t First, std::uint64_t Count);

// Free bytes of an NTFS volume as its bitmap records them; nil when the volume cannot be read.
std::optional<std::int64_t> ReadNtfsFreeBytes(platform::TVolumeSource& Source);

}  // namespace kestrine
