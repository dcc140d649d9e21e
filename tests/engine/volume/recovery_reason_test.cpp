#include "engine/volume/recovery_reason.h"

#include <gtest/gtest.h>

#include <set>

#include "support/fill_in.h"

namespace kestrine {
namespace {

using Id = TReasonId;

// Every reason, with facts, beside the sentence the recovery or the scan wrote before reasons became values:
// the command line's output and reports must not change by a byte.
TEST(RecoveryReason, EveryIdWordsTheCommandLinesEarlierEnglish) {
  const std::vector<std::pair<TReason, std::string>> cases = {
      {{Id::DestinationMissing}, "the destination folder does not exist"},
      {{Id::DestinationUnopenable, {"Permission denied"}},
       "the destination folder cannot be opened: Permission denied"},
      {{Id::FolderNotReopened}, "its folder could not be opened again"},
      {{Id::FolderReplaced, {"/out/D"}}, "the folder /out/D was moved or replaced during the recovery"},
      {{Id::FolderNotMade}, "its folder could not be created"},
      {{Id::FolderCannotBeCreated, {"/out/D", "No space left on device"}},
       "the folder /out/D cannot be created: No space left on device"},
      {{Id::FolderCannotBeOpened, {"/out/D", "Too many open files"}},
       "the folder /out/D cannot be opened: Too many open files"},
      {{Id::NoFreeFolderName, {"D"}}, "no free name is left for the folder D"},
      {{Id::FileCannotBeCreated, {"/out/a.txt", "Permission denied"}}, "/out/a.txt cannot be created: Permission denied"},
      {{Id::NoFreeName, {"a.txt"}}, "no free name is left for a.txt"},
      {{Id::DataUnreadable}, "its data cannot be read"},
      {{Id::StoredEncrypted}, "stored encrypted: written in the raw encrypted form"},
      {{Id::Stopped, {"0", "300000"}}, "recovery was stopped after 0 of 300000 bytes"},
      {{Id::ReadShort, {"8192", "16374"}}, "only 8192 of 16374 bytes could be read; the rest is zeros"},
      {{Id::WriteFailed, {"4096", "No space left on device"}}, "writing failed after 4096 bytes: No space left on device"},
      {{Id::NamedStreamsNotStored, {"ext4", "thumbnail, Zone.Identifier"}},
       "named streams not written (ext4 does not store them): thumbnail, Zone.Identifier"},
      {{Id::NamedStreamsNotWritten, {"thumbnail"}}, "named streams from thumbnail on could not be written"},
      {{Id::NamedStreamProblem, {"thumbnail"}, {{Id::ReadShort, {"0", "10"}}}},
       "named stream thumbnail: only 0 of 10 bytes could be read; the rest is zeros"},
      {{Id::NoStreamNamed, {"x"}}, "it has no data stream named x"},
      {{Id::RecordUnreadable, {"41"}}, "MFT record 41 can no longer be read"},
      {{Id::RecordReused, {"41"}}, "MFT record 41 belongs to another file since the scan"},
      {{Id::SizeOverDataArea, {"2147483648", "1024", "1024"}},
       "its recorded size of 2147483648 bytes is more than the 1024 bytes of the volume's data area; cut to 1024 bytes"},
      {{Id::SizeOverClusterRoom, {"2147483648", "512", "512"}},
       "its recorded size of 2147483648 bytes is more than the 512 bytes from its first cluster to the end of the "
       "data area; cut to 512 bytes"},
      {{Id::SizeOverAllocated, {"81920", "49152", "49152"}},
       "its recorded size of 81920 bytes is more than the 49152 bytes allocated to it; cut to 49152 bytes"},
      {{Id::SizeOverRuns, {"16384", "10737418240", "16384"}},
       "its runs hold only 16384 of its recorded 10737418240 bytes inside the volume; cut to 16384 bytes"},
      {{Id::VolumeUnopenable}, "the volume could not be opened"},
      {{Id::BootSectorUnreadable}, "the boot sector could not be read"},
      {{Id::GeometryNotFat, {}, {{Id::FatSectorGeometry, {"0", "4"}}}},
       "the boot sector's geometry is not FAT: 0 bytes per sector, 4 sectors per cluster"},
      {{Id::GeometryNotNtfs, {}, {{Id::MftBeyondVolume, {"4096", "2048"}}}},
       "the boot sector's geometry is not NTFS: the MFT's first cluster 4096 lies beyond the volume's 2048 clusters"},
      {{Id::RootWithoutEntries}, "the boot sector gives the root folder no entries"},
      {{Id::RootClusterOutside, {"268435455"}}, "the root folder's first cluster 268435455 lies outside the volume"},
      {{Id::RootUnreadable, {"16896"}}, "the root folder could not be read at byte 16896"},
      {{Id::MftRunsTooLarge}, "the MFT's runs could not be held in memory"},
      {{Id::MftRecordZeroUnreadable}, "MFT record 0 (the MFT's own record) could not be read"},
      {{Id::MftMapsNoRecords}, "MFT record 0 maps no records of the MFT inside the volume"},
      {{Id::MftRunsMissRecordZero}, "the MFT's runs do not lead to a readable record 0"},
      {{Id::FatSectorGeometry, {"512", "3"}}, "512 bytes per sector, 3 sectors per cluster"},
      {{Id::NoAllocationTable}, "no allocation table"},
      {{Id::TooManyAllocationTables, {"9"}}, "9 allocation tables"},
      {{Id::NoReservedSector}, "no reserved sector for the boot sector itself"},
      {{Id::EmptyAllocationTables}, "allocation tables of 0 sectors"},
      {{Id::TablesOverVolume, {"2", "9000", "2880"}},
       "2 tables of 9000 sectors do not fit in the volume's 2880 sectors"},
      {{Id::TableTooShort, {"1", "4000"}}, "an allocation table of 1 sectors cannot describe 4000 clusters"},
      {{Id::SectorSize, {"0"}}, "0 bytes per sector"},
      {{Id::SectorsPerClusterField, {"3"}}, "sectors-per-cluster field 3"},
      {{Id::ClusterTooLarge, {"4194304"}}, "clusters of 4194304 bytes"},
      {{Id::RecordSizeField, {"0", "0"}}, "MFT record-size field 0 gives records of 0 bytes"},
      {{Id::NoWholeCluster}, "a volume of no whole cluster"},
      {{Id::MftBeyondVolume, {"4096", "2048"}}, "the MFT's first cluster 4096 lies beyond the volume's 2048 clusters"},
      {{Id::GeometryNotExFat, {}, {{Id::ExFatChecksum}}},
       "the boot sector's geometry is not exFAT: the boot region's checksum does not match"},
      {{Id::ExFatName}, "it does not name itself EXFAT"},
      {{Id::ExFatShift, {"bytes-per-sector", "13"}}, "bytes-per-sector shift 13"},
      {{Id::ExFatChecksum}, "the boot region's checksum does not match"},
      {{Id::ExFatTablesMisplaced, {"24", "100", "64"}},
       "allocation tables at sector 24 of 100 sectors do not lie before the cluster heap at sector 64"},
      {{Id::ExFatHeapOutside, {"9000", "2048"}}, "a cluster heap of 9000 clusters does not fit in the volume's 2048 sectors"},
      {{Id::ExFatNoBitmap}, "the root folder holds no readable allocation bitmap"},
  };
  std::set<Id> covered;
  for (const auto& [reason, sentence] : cases) {
    EXPECT_EQ(EnglishText(reason), sentence);
    covered.insert(reason.Id);
  }
  EXPECT_EQ(covered.size(), static_cast<std::size_t>(Id::Count)) << "a reason id has no sentence here";
}

TEST(RecoveryReason, NotesJoinAndFactsStayAsTheyAre) {
  // Several notes of one file read as one line; none reads as nothing.
  EXPECT_EQ(EnglishText(TReasons{{Id::StoredEncrypted}, {Id::NamedStreamsNotWritten, {"s"}}}),
            "stored encrypted: written in the raw encrypted form; named streams from s on could not be written");
  EXPECT_EQ(EnglishText(TReasons{}), "");
  EXPECT_EQ(EnglishText(std::optional<TReason>()), "");
  // A name holding a placeholder is a name, not a place for the next fact.
  EXPECT_EQ(EnglishText(TReason{Id::FileCannotBeCreated, {"/out/%2 100%.txt", "Permission denied"}}),
            "/out/%2 100%.txt cannot be created: Permission denied");
  EXPECT_EQ(FillIn("%1 and %3", {"a"}), "a and ");
}

}  // namespace
}  // namespace kestrine
