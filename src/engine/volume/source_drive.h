#pragma once
// A source the user names, by drive letter or by path, turned into a disk of the drive list.

#include <optional>
#include <string>

#include "engine/volume/disk_list.h"

namespace kestrine {

// The drive letter, lower case, when Source is one ("d" or "d:").
std::optional<char> SourceLetter(const std::string& Source);

// An image or device path that no listed drive reads from joins Listing under the first free letter.
// False with Error ("SOURCE: why") when it cannot be opened or no letter is left. Letters and
// listed paths leave Listing as it is.
bool AddSourceDrive(TDriveListing& Listing, const std::string& Source, std::string& Error);

// The disk of List that Source names; nil with Error ("SOURCE: why") when none does.
TDiskObject* FindSourceDisk(const TDiskList& List, const std::string& Source, std::string& Error);

}  // namespace kestrine
