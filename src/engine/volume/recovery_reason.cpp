#include "engine/volume/recovery_reason.h"

#include <array>

#include "support/fill_in.h"

namespace kestrine {
namespace {

constexpr std::array<const char*, static_cast<std::size_t>(TReasonId::Count)> kEnglish = {
    "the destination folder does not exist",
    "the destination folder cannot be opened: %1",
    "its folder could not be opened again",
    "the folder %1 was moved or replaced during the recovery",
    "its folder could not be created",
    "the folder %1 cannot be created: %2",
    "the folder %1 cannot be opened: %2",
    "no free name is left for the folder %1",
    "%1 cannot be created: %2",
    "no free name is left for %1",
    "its data cannot be read",
    "stored encrypted: written in the raw encrypted form",
    "recovery was stopped after %1 of %2 bytes",
    "only %1 of %2 bytes could be read; the rest is zeros",
    "writing failed after %1 bytes: %2",
    "named streams not written (%1 does not store them): %2",
    "named streams from %1 on could not be written",
    "named stream %1: %2",
    "it has no data stream named %1",
    "MFT record %1 can no longer be read",
    "MFT record %1 belongs to another file since the scan",
    "its recorded size of %1 bytes is more than the %2 bytes of the volume's data area; cut to %3 bytes",
    "its recorded size of %1 bytes is more than the %2 bytes from its first cluster to the end of the data area; "
    "cut to %3 bytes",
    "its recorded size of %1 bytes is more than the %2 bytes allocated to it; cut to %3 bytes",
    "its runs hold only %1 of its recorded %2 bytes inside the volume; cut to %3 bytes",
    "the volume could not be opened",
    "the boot sector could not be read",
    "the boot sector's geometry is not FAT: %1",
    "the boot sector's geometry is not NTFS: %1",
    "the boot sector gives the root folder no entries",
    "the root folder's first cluster %1 lies outside the volume",
    "the root folder could not be read at byte %1",
    "the MFT's runs could not be held in memory",
    "MFT record 0 (the MFT's own record) could not be read",
    "MFT record 0 maps no records of the MFT inside the volume",
    "the MFT's runs do not lead to a readable record 0",
    "%1 bytes per sector, %2 sectors per cluster",
    "no allocation table",
    "%1 allocation tables",
    "no reserved sector for the boot sector itself",
    "allocation tables of 0 sectors",
    "%1 tables of %2 sectors do not fit in the volume's %3 sectors",
    "an allocation table of %1 sectors cannot describe %2 clusters",
    "%1 bytes per sector",
    "sectors-per-cluster field %1",
    "clusters of %1 bytes",
    "MFT record-size field %1 gives records of %2 bytes",
    "a volume of no whole cluster",
    "the MFT's first cluster %1 lies beyond the volume's %2 clusters",
    "the boot sector's geometry is not exFAT: %1",
    "it does not name itself EXFAT",
    "%1 shift %2",
    "the boot region's checksum does not match",
    "allocation tables at sector %1 of %2 sectors do not lie before the cluster heap at sector %3",
    "a cluster heap of %1 clusters does not fit in the volume's %2 sectors",
    "the root folder holds no readable allocation bitmap",
};
static_assert(kEnglish.back() != nullptr, "a reason has no English wording");

}  // namespace

std::string ReasonText(const TReason& Reason, const TReasonWording& Wording) {
  std::vector<std::string> args = Reason.Args;
  for (const TReason& inner : Reason.Inner) args.push_back(ReasonText(inner, Wording));
  return FillIn(Wording(Reason.Id), args);
}

std::string ReasonText(const TReasons& Reasons, const TReasonWording& Wording) {
  std::string text;
  for (const TReason& reason : Reasons) {
    if (!text.empty()) text += "; ";
    text += ReasonText(reason, Wording);
  }
  return text;
}

std::string EnglishWording(TReasonId Id) {
  const auto index = static_cast<std::size_t>(Id);
  return index < kEnglish.size() ? kEnglish[index] : "";
}

std::string EnglishText(const TReason& Reason) { return ReasonText(Reason, EnglishWording); }
std::string EnglishText(const std::optional<TReason>& Reason) { return Reason ? EnglishText(*Reason) : ""; }
std::string EnglishText(const TReasons& Reasons) { return ReasonText(Reasons, EnglishWording); }

}  // namespace kestrine
