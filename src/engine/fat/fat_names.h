#pragma once
// Name text of FAT directory entries, turned into UTF-8.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kestrine {

// 8.3 bytes: ASCII as it is, bytes above 0x7F from code page 437.
void AppendCp437(std::string& Out, std::span<const std::uint8_t> Bytes);

// UTF-16 code units; unpaired surrogates become U+FFFD.
void AppendUtf16(std::string& Out, std::span<const std::uint16_t> Units);

// Names that backup tools leave as "$E1234AB.BAK" or "_Eabcdef.bak" are not offered for recovery.
bool IsExcludedBakName(std::string_view Name);

// A folder name with nothing left to show: blank, or a deleted 8.3 name of which only the "$" for
// its lost first character remains.
bool IsLostFolderName(std::string_view Name, bool Deleted);

}  // namespace kestrine
