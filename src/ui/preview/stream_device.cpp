#include "ui/preview/stream_device.h"

#include <algorithm>

#include "engine/volume/recovery_stream.h"

namespace kestrine::ui {

TStreamDevice::TStreamDevice(TRecoveryStream& Stream, QObject* Parent) : QIODevice(Parent), FStream(Stream) {
  open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

qint64 TStreamDevice::size() const { return std::max<qint64>(0, FStream.GetSize()); }

bool TStreamDevice::seek(qint64 Pos) {
  if (Pos < 0 || Pos > size() || !QIODevice::seek(Pos)) return false;
  FPos = Pos;
  return true;
}

qint64 TStreamDevice::readData(char* Data, qint64 MaxSize) {
  const qint64 want = std::min(MaxSize, size() - FPos);
  if (want <= 0) return 0;
  if (FStream.Seek(FPos, TSeekOrigin::Beginning) != FPos) return -1;
  qint64 total = 0;
  while (total < want) {
    const auto count = static_cast<std::uint32_t>(std::min<qint64>(want - total, 1 << 30));
    const std::uint32_t got = FStream.Read(Data + total, count);
    if (got == 0) break;
    total += std::min<qint64>(got, count);
  }
  FPos += total;
  // Bytes the volume does not give end the data here; a decoder then fails on a short picture.
  return total;
}

qint64 TStreamDevice::writeData(const char*, qint64) { return -1; }

}  // namespace kestrine::ui
