#pragma once
// A recovery stream as a read-only QIODevice, so Qt's picture readers decode straight from the
// volume with no temporary file.

#include <QIODevice>

namespace kestrine {
class TRecoveryStream;
}

namespace kestrine::ui {

class TStreamDevice final : public QIODevice {
 public:
  // Opens itself for reading, unbuffered: the stream is shared with the other views, and every
  // read seeks it first.
  explicit TStreamDevice(TRecoveryStream& Stream, QObject* Parent = nullptr);

  bool isSequential() const override { return false; }
  qint64 size() const override;
  bool seek(qint64 Pos) override;

 protected:
  qint64 readData(char* Data, qint64 MaxSize) override;
  qint64 writeData(const char* Data, qint64 MaxSize) override;

 private:
  TRecoveryStream& FStream;
  qint64 FPos = 0;
};

}  // namespace kestrine::ui
