#pragma once
// Looking for a phrase inside a file's bytes, through one fixed buffer.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cleanup/findfile/char_tables.h"

namespace kestrine {

// Reads of the content search never use a buffer larger than this (0xF000).
inline constexpr std::size_t kPhraseBufferSize = 61440;

// The phrase search over a stream of bytes fed in pieces of any size. Each byte is translated
// through Table before it is compared, so Phrase must already be in the table's case. With WholeWord
// the bytes before and after the phrase must be word delimiters; the start and the end of the data
// count as delimiters. Linear in the data (a prefix-function search), whatever the phrase.
class TPhraseMatcher {
 public:
  TPhraseMatcher(std::string_view Phrase, bool WholeWord, const TCaseTable& Table);

  // True once the phrase has been found.
  bool Feed(const std::uint8_t* Data, std::size_t Count);
  // The end of the data: settles a whole-word match that ended at the last byte.
  bool Finish();
  bool Found() const { return FFound; }

 private:
  void Step(std::uint8_t Raw);

  std::vector<std::uint8_t> FPhrase;
  std::vector<std::size_t> FFallback;
  bool FWholeWord;
  const TCaseTable& FTable;
  std::size_t FMatched = 0;
  std::vector<std::uint8_t> FRecent;  // the last phrase length + 1 bytes, for the byte before a match
  std::uint64_t FPosition = 0;
  bool FPendingEnd = false;  // a whole-word match waits for the byte after it
  bool FFound = false;
};

// Whether the file holds Phrase. A file that cannot be opened or read, or is not a regular file
// (links are not followed), does not.
bool FileContainsPhrase(const std::string& Path, std::string_view Phrase, bool WholeWord, const TCaseTable& Table);

}  // namespace kestrine
