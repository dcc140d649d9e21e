#pragma once
// What a file search looks for: where, which names, and the per-entry tests on attributes, times,
// size and content.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "cleanup/findfile/char_tables.h"
#include "platform/folder_handle.h"
#include "support/file_time.h"
#include "support/date_time.h"

namespace kestrine {

// Attribute bits of an entry the search finds, with the values Windows file systems store (FAT and NTFS use them too).
namespace SearchAttr {
inline constexpr std::uint32_t ReadOnly = 0x1;
inline constexpr std::uint32_t Hidden = 0x2;
inline constexpr std::uint32_t System = 0x4;
inline constexpr std::uint32_t Directory = 0x10;
inline constexpr std::uint32_t Archive = 0x20;
inline constexpr std::uint32_t Temporary = 0x100;
inline constexpr std::uint32_t SparseFile = 0x200;
inline constexpr std::uint32_t ReparsePoint = 0x400;
inline constexpr std::uint32_t Compressed = 0x800;
inline constexpr std::uint32_t Offline = 0x1000;
inline constexpr std::uint32_t Encrypted = 0x4000;
}  // namespace SearchAttr

// The platform's full find data of one entry.
struct TFindData {
  std::uint32_t dwFileAttributes = 0;
  TFileTime ftCreationTime = 0;
  TFileTime ftLastAccessTime = 0;
  TFileTime ftLastWriteTime = 0;
  std::uint32_t nFileSizeHigh = 0;
  std::uint32_t nFileSizeLow = 0;
};

// One directory entry as the enumeration returns it.
struct TSearchRec {
  std::string Name;
  std::uint32_t Attr = 0;
  std::int64_t Size = 0;  // the whole size, for display
  TFindData FindData;
  platform::TFileIdentity Identity;  // which file the entry was when it was found
};

enum TFileAttribute : std::uint8_t { ffArchive, ffReadonly, ffHidden, ffSystem, ffDirectory };

class TFileAttributes {
 public:
  constexpr TFileAttributes() = default;
  constexpr TFileAttributes(std::initializer_list<TFileAttribute> Flags) {
    for (TFileAttribute f : Flags) Include(f);
  }
  constexpr bool Contains(TFileAttribute Flag) const { return (FBits >> Flag) & 1; }
  constexpr void Include(TFileAttribute Flag) { FBits = static_cast<std::uint8_t>(FBits | (1u << Flag)); }
  constexpr void Exclude(TFileAttribute Flag) { FBits = static_cast<std::uint8_t>(FBits & ~(1u << Flag)); }
  constexpr bool operator==(const TFileAttributes&) const = default;

 private:
  std::uint8_t FBits = 0;
};

enum TFileAttributeStatus : std::uint8_t { fsIgnore, fsSet, fsUnset };

// Where to look and which names.
struct TFileCriteria {
  std::string FileName;               // masks separated by ";"; empty means "*.*"
  std::string Location;               // folders separated by ";", each may start with "<" or ">"
  std::vector<std::string> Included;  // extra targets: a folder with an optional mask
  std::vector<std::string> Excluded;  // exclusion entries
  bool Subfolders = true;
  std::uint16_t MinLevel = 0;  // lowest depth whose files are tested (0 and 1: the target itself)
  std::uint16_t MaxLevel = 0;  // deepest folder entered; 0 = no limit
};

// The coarse attribute test: no bit outside the mask (or, exactly, the mask itself).
class TAttributeCriteria {
 public:
  TFileAttributes Attributes() const;
  void SetAttributes(TFileAttributes Value);
  std::uint32_t AttrMask() const { return FAttrMask; }
  bool ExactMatch = false;
  bool Matches(std::uint32_t Attr) const;

 private:
  std::uint32_t FAttrMask = SearchAttr::Archive | SearchAttr::ReadOnly | SearchAttr::Hidden | SearchAttr::System;
};

// The tri-state attribute test, one status per attribute bit.
class TAttributeCriteriaEx {
 public:
  enum TFlag : std::uint8_t {
    Archive, Readonly, Hidden, System, Directory, Compressed, Encrypted, Offline, ReparsePoint, SparseFile, Temporary
  };
  TFileAttributeStatus Status(TFlag Flag) const;
  void SetStatus(TFlag Flag, TFileAttributeStatus Value);
  std::uint32_t SetMask() const { return FSetMask; }
  std::uint32_t UnsetMask() const { return FUnsetMask; }
  bool Matches(std::uint32_t Attr) const;

 private:
  std::uint32_t FSetMask = 0;
  std::uint32_t FUnsetMask = 0;
};

// Local date-times (TDateTime); 0 means "not set".
struct TDateTimeCriteria {
  TDateTime CreatedBefore = 0, CreatedAfter = 0;
  TDateTime ModifiedBefore = 0, ModifiedAfter = 0;
  TDateTime AccessedBefore = 0, AccessedAfter = 0;
  bool Matches(TFileTime Created, TFileTime Modified, TFileTime Accessed) const;

  // Inclusive bounds (0: none); a bound with no fraction compares whole days, one with no days the
  // time of day. (The result filter's range test of the same name has other rules.)
  static bool DateTimeInRange(TDateTime Value, TDateTime Before, TDateTime After);
};

struct TSizeCriteria {
  std::int64_t Min = 0;  // 0: no bound
  std::int64_t Max = 0;
  bool Matches(std::int64_t Size) const;
};

// A byte string the file must contain.
class TContentCriteria {
 public:
  const std::string& Phrase() const { return FPhrase; }
  void SetPhrase(const std::string& Value);
  bool IgnoreCase() const { return FIgnoreCase; }
  void SetIgnoreCase(bool Value);
  bool WholeWord = false;

  std::size_t PhraseLength() const { return FPhrase.size(); }
  // The phrase in the case the comparison uses, and the table that brings file bytes into it.
  const std::string& SearchPhrase() const { return FSearchPhrase; }
  const TCaseTable& CaseTable() const { return *FCaseTable; }
  // Passes without opening anything when the phrase is empty.
  bool Matches(const std::string& Path) const;

 private:
  void Derive();

  std::string FPhrase;
  bool FIgnoreCase = true;
  std::string FSearchPhrase;
  const TCaseTable* FCaseTable = &LowerCaseTable;
};

struct TSearchCriteria {
  TFileCriteria Files;
  TAttributeCriteria Attribute;
  TAttributeCriteriaEx AttributeEx;
  TDateTimeCriteria TimeStamp;
  TSizeCriteria Size;
  TContentCriteria Content;
};

}  // namespace kestrine
