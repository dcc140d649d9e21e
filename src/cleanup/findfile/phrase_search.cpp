#include "cleanup/findfile/phrase_search.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace kestrine {
namespace {

struct TFdCloser {
  int Fd;
  ~TFdCloser() {
    if (Fd >= 0) ::close(Fd);
  }
};

}  // namespace

TPhraseMatcher::TPhraseMatcher(std::string_view Phrase, bool WholeWord, const TCaseTable& Table)
    : FPhrase(Phrase.begin(), Phrase.end()), FFallback(Phrase.size(), 0), FWholeWord(WholeWord), FTable(Table) {
  for (std::size_t i = 1, k = 0; i < FPhrase.size(); ++i) {
    while (k > 0 && FPhrase[i] != FPhrase[k]) k = FFallback[k - 1];
    if (FPhrase[i] == FPhrase[k]) ++k;
    FFallback[i] = k;
  }
  if (FWholeWord) FRecent.assign(FPhrase.size() + 1, 0);
  // An empty phrase is in every stream.
  FFound = FPhrase.empty();
}

void TPhraseMatcher::Step(std::uint8_t Raw) {
  if (FPendingEnd) {
    FPendingEnd = false;
    if (WordDelimiters[Raw]) {
      FFound = true;
      return;
    }
  }
  const std::size_t m = FPhrase.size();
  if (FWholeWord) FRecent[FPosition % (m + 1)] = Raw;
  const std::uint8_t c = FTable[Raw];
  while (FMatched > 0 && FPhrase[FMatched] != c) FMatched = FFallback[FMatched - 1];
  if (FPhrase[FMatched] == c) ++FMatched;
  if (FMatched == m) {
    if (!FWholeWord) {
      FFound = true;
      return;
    }
    // The match covers positions FPosition - m + 1 .. FPosition; the byte before it is m back.
    const bool atStart = FPosition + 1 == m;
    if (atStart || WordDelimiters[FRecent[(FPosition - m) % (m + 1)]]) FPendingEnd = true;
    FMatched = FFallback[m - 1];
  }
  ++FPosition;
}

bool TPhraseMatcher::Feed(const std::uint8_t* Data, std::size_t Count) {
  for (std::size_t i = 0; i < Count && !FFound; ++i) Step(Data[i]);
  return FFound;
}

bool TPhraseMatcher::Finish() {
  if (FPendingEnd) FFound = true;
  FPendingEnd = false;
  return FFound;
}

bool FileContainsPhrase(const std::string& Path, std::string_view Phrase, bool WholeWord, const TCaseTable& Table) {
  // Non-blocking, so that a named pipe never stalls the search; links are not followed.
  const TFdCloser file{::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY)};
  if (file.Fd < 0) return false;
  struct stat st {};
  if (::fstat(file.Fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size < Phrase.size()) return false;
  TPhraseMatcher matcher(Phrase, WholeWord, Table);
  if (matcher.Found()) return true;
  const std::size_t bufferSize = size < kPhraseBufferSize ? static_cast<std::size_t>(size) : kPhraseBufferSize;
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[bufferSize]);
  if (!buffer) return false;
  for (;;) {
    const ssize_t n = ::read(file.Fd, buffer.get(), bufferSize);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return matcher.Finish();
    if (matcher.Feed(buffer.get(), static_cast<std::size_t>(n))) return true;
  }
}

}  // namespace kestrine
