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
bool Inflate(const QByteArray& Data, QByteArray& Out, TSettingsProblem& Error) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) {
    Error = {TSettingsProblemKind::SkinNoDecompressor, {}};
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
      Error = {TSettingsProblemKind::SkinSheetTooLarge, {QString::number(kMaxSheetSize)}};
      return false;
    }
    Out.append(chunk.data(), produced);
    if (result == Z_BUF_ERROR && stream.avail_in == 0) break;  // input ended before the stream did
  }
  inflateEnd(&stream);
  if (result != Z_STREAM_END) {
    Error = {TSettingsProblemKind::SkinDamaged, {}};
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

bool UnpackSkin(const QByteArray& File, QString& StyleSheet, TSettingsProblem& Error) {
  if (File.size() < kHeaderSize) {
    Error = {TSettingsProblemKind::SkinShorterThanHeader, {}};
    return false;
  }
  const auto* header = reinterpret_cast<const uchar*>(File.constData());
  const quint32 version = qFromLittleEndian<quint32>(header);
  const quint32 length = qFromLittleEndian<quint32>(header + 4);
  if (version > kSkinVersion) {
    Error = {TSettingsProblemKind::SkinNewerVersion, {QString::number(version), QString::number(kSkinVersion)}};
    return false;
  }
  if (length > static_cast<quint64>(File.size() - kHeaderSize)) {
    Error = {TSettingsProblemKind::SkinLengthPastEnd, {QString::number(length)}};
    return false;
  }
  QByteArray sheet;
  if (!Inflate(File.mid(kHeaderSize, static_cast<qsizetype>(length)), sheet, Error)) return false;
  StyleSheet = QString::fromUtf8(sheet);
  return true;
}

bool ReadSkinFile(const QString& Path, QString& StyleSheet, TSettingsProblem& Error) {
  QFile file(Path);
  if (!file.open(QIODevice::ReadOnly)) {
    Error = {TSettingsProblemKind::SkinUnopenable, {Path, file.errorString()}};
    return false;
  }
  if (file.size() > kHeaderSize + kMaxSheetSize) {
    Error = {TSettingsProblemKind::SkinTooLarge, {Path}};
    return false;
  }
  const QByteArray content = file.read(kHeaderSize + kMaxSheetSize);
  if (!UnpackSkin(content, StyleSheet, Error)) {
    Error.Facts.prepend(Path);
    return false;
  }
  return true;
}

QString BuiltInSkin() { return QString::fromUtf8(kBuiltInSheet); }

}  // namespace kestrine
