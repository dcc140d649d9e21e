#include "platform/volume_source.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/image_reader.h"

namespace kestrine::platform {

// Reads the window after the current one on a thread of its own, while the caller works through the
// current one: on a scan the copy out of the page cache, or a container's decompression, then costs
// the caller nothing. The thread keeps its own reader and state, so the source never waits for it
// when it goes.
class TReadAhead {
 public:
  explicit TReadAhead(const TImageReader& Image) : F(std::make_shared<TState>()) {
    F->Image = Image.Reopen();
    if (!F->Image) return;
    // Without a thread there is no reading ahead, only the reads asked for.
    try {
      std::thread(Work, F).detach();
    } catch (const std::system_error&) {
      F->Image.reset();
    }
  }
  ~TReadAhead() {
    std::lock_guard lock(F->Lock);
    F->Stop = true;
    F->Changed.notify_all();
  }
  TReadAhead(const TReadAhead&) = delete;
  TReadAhead& operator=(const TReadAhead&) = delete;

  // Asks for Count bytes at image offset At, unless a read is under way.
  void Ask(std::int64_t At, std::uint32_t Count) {
    std::lock_guard lock(F->Lock);
    if (!F->Image || (F->Asked && !F->Done)) return;
    F->At = At;
    F->Count = Count;
    F->Asked = true;
    F->Done = false;
    F->Changed.notify_all();
  }

  // When the read asked for holds image offset At, waits for it and trades it for Window; its
  // start and length then come back. Nothing otherwise: a read for elsewhere is kept, not waited for.
  bool Take(std::int64_t At, std::vector<std::uint8_t>& Window, std::int64_t& Start, std::uint32_t& Length) {
    std::unique_lock lock(F->Lock);
    if (!F->Asked || At < F->At || At >= F->At + F->Count) return false;
    F->Changed.wait(lock, [this] { return F->Done; });
    F->Asked = false;
    if (At >= F->At + F->Got) return false;
    Window.swap(F->Buffer);
    Start = F->At;
    Length = F->Got;
    return true;
  }

 private:
  struct TState {
    std::mutex Lock;
    std::condition_variable Changed;
    std::unique_ptr<TImageReader> Image;
    bool Stop = false;
    bool Asked = false;
    bool Done = false;
    std::int64_t At = 0;
    std::uint32_t Count = 0;
    std::uint32_t Got = 0;
    std::vector<std::uint8_t> Buffer;  // the thread's alone while a read is under way
  };

  static void Work(std::shared_ptr<TState> S) {
    std::unique_lock lock(S->Lock);
    for (;;) {
      S->Changed.wait(lock, [&] { return S->Stop || (S->Asked && !S->Done); });
      if (S->Stop) break;
      const std::int64_t at = S->At;
      const std::uint32_t count = S->Count;
      if (S->Buffer.size() < count) S->Buffer.resize(count);
      lock.unlock();
      const std::uint32_t got = S->Image->ReadAt(S->Buffer.data(), count, at);
      lock.lock();
      S->Got = got;
      S->Done = true;
      S->Changed.notify_all();
    }
  }

  std::shared_ptr<TState> F;
};

int VolumeOpenFlags() { return O_RDONLY | O_CLOEXEC; }

std::unique_ptr<TVolumeSource> TVolumeSource::Open(const std::string& Path, std::string* Error) {
  return Open(Path, 0, -1, Error);
}

std::unique_ptr<TVolumeSource> TVolumeSource::Open(const std::string& Path, std::int64_t Base, std::int64_t Length,
                                                   std::string* Error) {
  std::string why;
  if (Base < 0) {
    if (Error) *Error = std::strerror(EINVAL);
    return nullptr;
  }
  std::unique_ptr<TImageReader> image = OpenImage(Path, why);
  if (!image) {
    if (Error) *Error = why;
    return nullptr;
  }
  std::unique_ptr<TVolumeSource> source(new TVolumeSource(std::move(image), Path));
  struct stat st {};
  if (::stat(Path.c_str(), &st) == 0) {
    source->FBlockDevice = S_ISBLK(st.st_mode);
    source->FDevice = source->FBlockDevice ? st.st_rdev : st.st_dev;
  }
  // A table may promise more than the image holds; the partition ends where the bytes do.
  const std::int64_t held = std::max<std::int64_t>(0, source->FImage->Size() - Base);
  source->FBase = Base;
  source->FSize = Length < 0 ? held : std::min(Length, held);
  return source;
}

TVolumeSource::TVolumeSource(std::unique_ptr<TImageReader> Image, std::string Path)
    : FImage(std::move(Image)), FPath(std::move(Path)) {}

TVolumeSource::~TVolumeSource() = default;

int TVolumeSource::Descriptor() const { return FImage->PlainDescriptor(); }

std::vector<std::string> TVolumeSource::Files() const { return FImage->Files(); }

std::uint32_t TVolumeSource::ReadDirect(void* Buffer, std::uint32_t Count, std::int64_t Offset) const {
  // Every read passes here, so this is where a partition's end is kept.
  if (Offset >= FSize) return 0;
  Count = static_cast<std::uint32_t>(std::min<std::int64_t>(Count, FSize - Offset));
  return FImage->ReadAt(static_cast<std::uint8_t*>(Buffer), Count, FBase + Offset);
}

bool TVolumeSource::Refill(std::int64_t Offset) {
  if (FParked.Holds(Offset)) {
    std::swap(FWindow, FParked);
    return true;
  }
  // Reads that continue the last window grow the next one; a jump starts small again, so scattered
  // record reads do not pay for a megabyte each.
  const bool sequential = FWindow.Length > 0 && Offset >= FWindow.Offset && Offset <= FWindow.Offset + FWindow.Length;
  FWindowTarget = sequential ? std::min(FWindowTarget * 2, kMaxWindow) : kMinWindow;
  // A scan looks records up between its sequential reads; its window waits for it to come back.
  if (!sequential && FWindow.Length == kMaxWindow) std::swap(FWindow, FParked);
  std::int64_t start = Offset & ~std::int64_t{4095};
  if (FAhead && Offset < FSize && FAhead->Take(FBase + Offset, FWindow.Bytes, start, FWindow.Length)) {
    FWindow.Offset = start - FBase;
    FWindowTarget = kMaxWindow;
  } else {
    if (FWindow.Bytes.size() < FWindowTarget) FWindow.Bytes.resize(FWindowTarget);
    FWindow.Offset = start;
    FWindow.Length = ReadDirect(FWindow.Bytes.data(), FWindowTarget, start);
  }
  if (FWindowTarget == kMaxWindow && FWindow.Length == kMaxWindow) ReadAheadFrom(FWindow.Offset + FWindow.Length);
  return FWindow.Length > 0;
}

void TVolumeSource::ReadAheadFrom(std::int64_t Offset) {
  if (Offset >= FSize) return;
  if (!FAhead) FAhead = std::make_unique<TReadAhead>(*FImage);
  FAhead->Ask(FBase + Offset, static_cast<std::uint32_t>(std::min<std::int64_t>(kMaxWindow, FSize - Offset)));
}

std::uint32_t TVolumeSource::Read(void* Buffer, std::uint32_t Count, std::int64_t Offset) {
  if (Offset < 0 || Buffer == nullptr) return 0;
  // A large read the window does not hold already goes straight to the caller: through the window
  // it would only cost one more copy.
  const bool held = Offset >= FWindow.Offset && Offset + Count <= FWindow.Offset + FWindow.Length;
  if (Count >= kMinWindow && !held) return ReadDirect(Buffer, Count, Offset);
  auto* out = static_cast<std::uint8_t*>(Buffer);
  std::uint32_t done = 0;
  while (done < Count) {
    const std::int64_t at = Offset + done;
    if (!FWindow.Holds(at)) {
      if (!Refill(at)) break;
      if (!FWindow.Holds(at)) break;  // the source ends before this offset
    }
    const auto from = static_cast<std::uint32_t>(at - FWindow.Offset);
    const std::uint32_t n = std::min(Count - done, FWindow.Length - from);
    std::memcpy(out + done, FWindow.Bytes.data() + from, n);
    done += n;
  }
  return done;
}

}  // namespace kestrine::platform
