// The content search's phrase matcher over arbitrary bytes fed in arbitrary pieces, against a
// plain search of the whole data.
// Input: a flag byte (bit 0: whole word, bit 1: ignore case), a phrase length (up to 31), a piece
// length, the phrase, then the data.

#include <algorithm>
#include <cstdint>
#include <string>

#include "cleanup/findfile/phrase_search.h"

namespace {

bool PlainSearch(const std::string& Phrase, const std::uint8_t* Data, std::size_t Size, bool WholeWord,
                 const kestrine::TCaseTable& Table) {
  const std::size_t m = Phrase.size();
  for (std::size_t p = 0; p + m <= Size; ++p) {
    bool same = true;
    for (std::size_t i = 0; i < m && same; ++i) same = Table[Data[p + i]] == static_cast<std::uint8_t>(Phrase[i]);
    if (!same) continue;
    if (!WholeWord) return true;
    const bool before = p == 0 || kestrine::WordDelimiters[Data[p - 1]];
    const bool after = p + m == Size || kestrine::WordDelimiters[Data[p + m]];
    if (before && after) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  using namespace kestrine;
  if (Size < 3) return 0;
  const bool wholeWord = Data[0] & 1;
  const TCaseTable& table = (Data[0] & 2) ? LowerCaseTable : IdentityCaseTable;
  const std::size_t length = std::min<std::size_t>(Data[1] % 32, Size - 3);
  const std::size_t piece = Data[2] % 17 + 1;
  if (length == 0) return 0;  // an empty phrase never reaches the matcher
  std::string phrase(reinterpret_cast<const char*>(Data + 3), length);
  for (char& c : phrase) c = static_cast<char>(table[static_cast<std::uint8_t>(c)]);
  const std::uint8_t* text = Data + 3 + length;
  const std::size_t textSize = Size - 3 - length;

  TPhraseMatcher matcher(phrase, wholeWord, table);
  for (std::size_t at = 0; at < textSize && !matcher.Found(); at += piece)
    matcher.Feed(text + at, std::min(piece, textSize - at));
  if (matcher.Finish() != PlainSearch(phrase, text, textSize, wholeWord, table)) __builtin_trap();
  return 0;
}
