#pragma once
// What a recovery writes of one found file, for everything that shows the same: its name and its length.

#include <cstdint>
#include <string>

#include "engine/volume/file_info.h"

namespace kestrine {

class TRecoveryStream;

// The stream clears the flag when it cannot build the raw form, so it is read after the stream has
// been opened.
inline bool IsStoredEncrypted(const TFileInfo& Item) { return Item.FsInfo && Item.FsInfo->IsEncrypted(); }

// The file's safe name, with ".efs" for the raw form of an encrypted file. Asked once its stream is open.
std::string RecoveredFileName(const TFileInfo& Item);

// The bytes written of the file's main data: the raw form keeps its whole length, a plain file ends
// at its recorded size, unless that is more than the volume can hold.
std::int64_t RecoveredLength(const TFileInfo& Item, const TRecoveryStream& Stream);

}  // namespace kestrine
