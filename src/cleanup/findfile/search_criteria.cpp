#include "cleanup/findfile/search_criteria.h"

#include <cmath>
#include <optional>

#include "cleanup/findfile/phrase_search.h"

namespace kestrine {
namespace {

constexpr std::uint32_t kAttributeBits[] = {SearchAttr::Archive, SearchAttr::ReadOnly, SearchAttr::Hidden,
                                            SearchAttr::System, SearchAttr::Directory};

constexpr std::uint32_t kAttributeExBits[] = {
    SearchAttr::Archive,    SearchAttr::ReadOnly, SearchAttr::Hidden,  SearchAttr::System,
    SearchAttr::Directory,  SearchAttr::Compressed, SearchAttr::Encrypted, SearchAttr::Offline,
    SearchAttr::ReparsePoint, SearchAttr::SparseFile, SearchAttr::Temporary};

bool IsPureDate(TDateTime Value) { return Value == std::trunc(Value); }
bool IsPureTime(TDateTime Value) { return std::trunc(Value) == 0; }

// The part of Value that a bound of Bound's kind compares against.
TDateTime ComparedPart(TDateTime Value, TDateTime Bound) {
  if (IsPureDate(Bound)) return std::trunc(Value);
  if (IsPureTime(Bound)) return Value - std::trunc(Value);
  return Value;
}

bool PairMatches(TDateTime Before, TDateTime After, TFileTime Time) {
  if (Before == 0 && After == 0) return true;
  // A time that has no local form is in no range.
  const std::optional<TDateTime> local = FileTimeToLocalDateTime(Time);
  return local && TDateTimeCriteria::DateTimeInRange(*local, Before, After);
}

}  // namespace

bool TDateTimeCriteria::DateTimeInRange(TDateTime Value, TDateTime Before, TDateTime After) {
  if (Before != 0 && ComparedPart(Value, Before) > Before) return false;
  if (After != 0 && ComparedPart(Value, After) < After) return false;
  return true;
}

TFileAttributes TAttributeCriteria::Attributes() const {
  TFileAttributes set;
  for (std::uint8_t f = ffArchive; f <= ffDirectory; ++f)
    if (FAttrMask & kAttributeBits[f]) set.Include(static_cast<TFileAttribute>(f));
  return set;
}

void TAttributeCriteria::SetAttributes(TFileAttributes Value) {
  FAttrMask = 0;
  for (std::uint8_t f = ffArchive; f <= ffDirectory; ++f)
    if (Value.Contains(static_cast<TFileAttribute>(f))) FAttrMask |= kAttributeBits[f];
}

bool TAttributeCriteria::Matches(std::uint32_t Attr) const {
  const std::uint32_t a = Attr & 0x37;
  return ExactMatch ? a == FAttrMask : (a & ~FAttrMask) == 0;
}

TFileAttributeStatus TAttributeCriteriaEx::Status(TFlag Flag) const {
  const std::uint32_t bit = kAttributeExBits[Flag];
  if (FSetMask & bit) return fsSet;
  if (FUnsetMask & bit) return fsUnset;
  return fsIgnore;
}

void TAttributeCriteriaEx::SetStatus(TFlag Flag, TFileAttributeStatus Value) {
  const std::uint32_t bit = kAttributeExBits[Flag];
  FSetMask &= ~bit;
  FUnsetMask &= ~bit;
  if (Value == fsSet) FSetMask |= bit;
  if (Value == fsUnset) FUnsetMask |= bit;
}

bool TAttributeCriteriaEx::Matches(std::uint32_t Attr) const {
  return (Attr & FSetMask) == FSetMask && (Attr & FUnsetMask) == 0;
}

bool TDateTimeCriteria::Matches(TFileTime Created, TFileTime Modified, TFileTime Accessed) const {
  return PairMatches(CreatedBefore, CreatedAfter, Created) && PairMatches(ModifiedBefore, ModifiedAfter, Modified) &&
         PairMatches(AccessedBefore, AccessedAfter, Accessed);
}

bool TSizeCriteria::Matches(std::int64_t Size) const {
  return (Min == 0 || Size >= Min) && (Max == 0 || Size <= Max);
}

void TContentCriteria::SetPhrase(const std::string& Value) {
  if (Value == FPhrase) return;
  FPhrase = Value;
  Derive();
}

void TContentCriteria::SetIgnoreCase(bool Value) {
  if (Value == FIgnoreCase) return;
  FIgnoreCase = Value;
  Derive();
}

void TContentCriteria::Derive() {
  FCaseTable = FIgnoreCase ? &LowerCaseTable : &IdentityCaseTable;
  FSearchPhrase = FPhrase;
  for (char& c : FSearchPhrase) c = static_cast<char>((*FCaseTable)[static_cast<unsigned char>(c)]);
}

bool TContentCriteria::Matches(const std::string& Path) const {
  if (FPhrase.empty()) return true;
  return FileContainsPhrase(Path, FSearchPhrase, WholeWord, *FCaseTable);
}

}  // namespace kestrine
