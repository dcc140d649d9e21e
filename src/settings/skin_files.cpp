#include "settings/skin_files.h"

#include <QFile>
#include <QtEndian>

#include <zlib.h>

#include <array>

namespace kestrine {

namespace {

constexpr int kHeaderSize = 8;
// A style sheet is text of a few kilobytes; anything near this is not one.
constexpr qsizetype kMaxSheetSize = 4 * 1024 * 1024;

// The light sheet of data/Skins/Light.qss, compiled in.
constexpr const char* kBuiltInSheet =
#include "builtin_skin.inc"
    ;

void AppendUInt32(QByteArray& Out, quint32 Value) {
  std::array<uchar, 4> bytes{};
  qToLittleEndian(Value, bytes.data());
  Out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Inflates a whole zlib stream, refusing output beyond kMaxSheetSize.
bool Inflate(const QByteArray& Data, QByteArray& Out, QString& Error) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) {
    Error = QStringLiteral("the decompressor could not start");
    return false;
  }
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Data.constData()));
  stream.avail_in = static_cast<uInt>(Data.size());
  std::array<char, 16384> chunk{};
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(chunk.data());
    stream.avail_out = chunk.size();
    result = inflate(&stream, Z_NO_FLUSH);
    const qsizetype produced = static_cast<qsizetype>(chunk.size() - stream.avail_out);
    if (Out.size() + produced > kMaxSheetSize) {
      inflateEnd(&stream);
      Error = QStringLiteral("the style sheet is larger than %1 bytes").arg(kMaxSheetSize);
      return false;
    }
    Out.append(chunk.data(), produced);
    if (result == Z_BUF_ERROR && stream.avail_in == 0) break;  // input ended before the stream did
  }
  inflateEnd(&stream);
  if (result != Z_STREAM_END) {
    Error = QStringLiteral("the compressed data is damaged or incomplete");
    return false;
  }
  return true;
}

}  // namespace

QByteArray PackSkin(const QString& StyleSheet) {
  const QByteArray text = StyleSheet.toUtf8();
  uLongf packedSize = compressBound(static_cast<uLong>(text.size()));
  QByteArray packed(static_cast<qsizetype>(packedSize), Qt::Uninitialized);
  if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(text.constData()),
                static_cast<uLong>(text.size()), Z_BEST_COMPRESSION) != Z_OK)
    return {};
  packed.truncate(static_cast<qsizetype>(packedSize));
  QByteArray file;
  AppendUInt32(file, kSkinVersion);
  AppendUInt32(file, static_cast<quint32>(packed.size()));
  return file + packed;
}

bool UnpackSkin(const QByteArray& File, QString& StyleSheet, QString& Error) {
  if (File.size() < kHeaderSize) {
    Error = QStringLiteral("the file is shorter than its header");
    return false;
  }
  const auto* header = reinterpret_cast<const uchar*>(File.constData());
  const quint32 version = qFromLittleEndian<quint32>(header);
  const quint32 length = qFromLittleEndian<quint32>(header + 4);
  if (version > kSkinVersion) {
    Error = QStringLiteral("format version %1 is newer than %2").arg(version).arg(kSkinVersion);
    return false;
  }
  if (length > static_cast<quint64>(File.size() - kHeaderSize)) {
    Error = QStringLiteral("the data length %1 runs past the end of the file").arg(length);
    return false;
  }
  QByteArray sheet;
  if (!Inflate(File.mid(kHeaderSize, static_cast<qsizetype>(length)), sheet, Error)) return false;
  StyleSheet = QString::fromUtf8(sheet);
  return true;
}

bool ReadSkinFile(const QString& Path, QString& StyleSheet, QString& Error) {
  QFile file(Path);
  if (!file.open(QIODevice::ReadOnly)) {
    Error = QStringLiteral("The skin file \"%1\" could not be opened: %2").arg(Path, file.errorString());
    return false;
  }
  if (file.size() > kHeaderSize + kMaxSheetSize) {
    Error = QStringLiteral("The skin file \"%1\" cannot be used: it is larger than any style sheet").arg(Path);
    return false;
  }
  const QByteArray content = file.read(kHeaderSize + kMaxSheetSize);
  QString reason;
  if (!UnpackSkin(content, StyleSheet, reason)) {
    Error = QStringLiteral("The skin file \"%1\" cannot be used: %2").arg(Path, reason);
    return false;
  }
  return true;
}

QString BuiltInSkin() { return QString::fromUtf8(kBuiltInSheet); }

}  // namespace kestrine
