#pragma once
// Recovery streams without a volume: bytes held in memory, or made up from the offset with every
// byte read counted.

#include <QByteArray>
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

#include "engine/volume/recovery_stream.h"
#include "ui/preview/dump_source.h"

namespace kestrine::test {

// The seek rules of the engine's streams: clamped to 0..size.
class TFakeStreamBase : public TRecoveryStream {
 public:
  TFakeStreamBase() : TRecoveryStream(nullptr, nullptr) {}
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override {
    std::int64_t to = Origin == TSeekOrigin::Beginning ? Offset
                      : Origin == TSeekOrigin::Current ? FPosition + Offset
                                                       : GetSize() - Offset;
    FPosition = std::clamp<std::int64_t>(to, 0, GetSize());
    return FPosition;
  }
};

class TMemoryStream final : public TFakeStreamBase {
 public:
  explicit TMemoryStream(QByteArray Data, bool* Destroyed = nullptr) : FData(std::move(Data)), FDestroyed(Destroyed) {
    if (FDestroyed) *FDestroyed = false;
  }
  ~TMemoryStream() override {
    if (FDestroyed) *FDestroyed = true;
  }
  std::int64_t GetSize() const override { return FData.size(); }
  std::uint32_t Read(void* Buffer, std::uint32_t Count) override {
    const auto n = static_cast<std::uint32_t>(std::clamp<std::int64_t>(GetSize() - FPosition, 0, Count));
    std::memcpy(Buffer, FData.constData() + FPosition, n);
    FPosition += n;
    return n;
  }
  std::uint32_t Write(const void*, std::uint32_t) override {
    ++Writes;
    return 0;
  }
  std::optional<TReason> Failure() const override { return FailureReason; }
  int Writes = 0;
  std::optional<TReason> FailureReason;

 private:
  QByteArray FData;
  bool* FDestroyed;
};

// Size bytes, each given by ByteAt; bytes from BadFrom to BadTo cannot be read (a read stops there).
class TCountingStream final : public TFakeStreamBase {
 public:
  TCountingStream(std::int64_t Size, std::function<std::uint8_t(std::int64_t)> ByteAt, std::int64_t* BytesRead)
      : FSize(Size), FByteAt(std::move(ByteAt)), FBytesRead(BytesRead) {}
  std::int64_t GetSize() const override { return FSize; }
  std::uint32_t Read(void* Buffer, std::uint32_t Count) override {
    auto* out = static_cast<std::uint8_t*>(Buffer);
    std::uint32_t n = 0;
    while (n < Count && FPosition < FSize && !(FPosition >= BadFrom && FPosition < BadTo)) {
      out[n++] = FByteAt(FPosition++);
    }
    *FBytesRead += n;
    return n;
  }
  std::int64_t BadFrom = -1;
  std::int64_t BadTo = -1;

 private:
  std::int64_t FSize;
  std::function<std::uint8_t(std::int64_t)> FByteAt;
  std::int64_t* FBytesRead;
};

// A byte source over memory that counts its reads, for the viewer's own layers.
class TMemorySource final : public ui::TByteSource {
 public:
  explicit TMemorySource(QByteArray Data) : FData(std::move(Data)) {}
  std::int64_t Size() const override { return FData.size(); }
  std::int64_t ReadAt(std::int64_t Offset, void* Buffer, std::int64_t Count) override {
    ++Reads;
    std::int64_t end = std::min<std::int64_t>(Offset + Count, FData.size());
    if (BadFrom >= 0 && BadFrom < end && Offset < BadTo) end = std::max(Offset, BadFrom);
    const std::int64_t n = std::max<std::int64_t>(0, end - Offset);
    std::memcpy(Buffer, FData.constData() + Offset, static_cast<std::size_t>(n));
    BytesRead += n;
    return n;
  }
  int Reads = 0;
  std::int64_t BytesRead = 0;
  std::int64_t BadFrom = -1;
  std::int64_t BadTo = -1;

 private:
  QByteArray FData;
};

}  // namespace kestrine::test
