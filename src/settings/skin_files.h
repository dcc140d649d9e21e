#pragma once
// Skin files (".skn"): a 32-bit version of at most 3, a 32-bit length and that many bytes of zlib
// data holding a Qt style sheet.

#include <QByteArray>
#include <QString>

namespace kestrine {

constexpr quint32 kSkinVersion = 3;

// The container around a style sheet; empty when the compressor fails.
QByteArray PackSkin(const QString& StyleSheet);
// False with Error set for a wrong version, a length past the end, or data that does not inflate
// or inflates to more than 4 MiB.
bool UnpackSkin(const QByteArray& File, QString& StyleSheet, QString& Error);

// The style sheet of the skin file at Path; on failure Error names the file and why.
bool ReadSkinFile(const QString& Path, QString& StyleSheet, QString& Error);
// The compiled-in light skin, in force until a skin file is loaded.
QString BuiltInSkin();

}  // namespace kestrine
