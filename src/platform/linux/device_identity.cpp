#include "platform/device_identity.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/volume_source.h"

namespace kestrine::platform {
namespace fs = std::filesystem;

namespace {

std::string FirstWord(const fs::path& File) {
  std::ifstream in(File);
  std::string word;
  in >> word;
  return word;
}

// "MAJOR:MINOR" as sysfs and mountinfo write it.
std::optional<dev_t> ParseDevNumber(const std::string& Text) {
  const std::size_t colon = Text.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= Text.size()) return std::nullopt;
  char* end = nullptr;
  const unsigned long major = std::strtoul(Text.c_str(), &end, 10);
  if (end != Text.c_str() + colon) return std::nullopt;
  const unsigned long minor = std::strtoul(Text.c_str() + colon + 1, &end, 10);
  if (*end != '\0') return std::nullopt;
  return makedev(major, minor);
}

std::string DevNumberText(dev_t Device) {
  return std::to_string(major(Device)) + ":" + std::to_string(minor(Device));
}

// The source a mount of Device names, when that is a block device ("/dev/sda2" under a btrfs mount).
std::optional<dev_t> MountSourceDevice(dev_t Device, const std::string& MountInfo) {
  std::ifstream in(MountInfo);
  std::string line;
  const std::string wanted = DevNumberText(Device);
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, majmin;
    if (!(fields >> id >> parent >> majmin) || majmin != wanted) continue;
    const std::size_t dash = line.find(" - ");
    if (dash == std::string::npos) continue;
    std::istringstream tail(line.substr(dash + 3));
    std::string type, source;
    if (!(tail >> type >> source)) continue;
    struct stat st {};
    if (::stat(source.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) return st.st_rdev;
  }
  return std::nullopt;
}

}  // namespace

std::vector<dev_t> SourceDevices(const std::string& SourcePath, const TDeviceTopology& Topology) {
  struct stat st {};
  if (::stat(SourcePath.c_str(), &st) != 0) return {};
  if (S_ISBLK(st.st_mode)) return {st.st_rdev};
  // Every file an image is made of (segments, parents) may be served by a loop device of its own.
  std::set<fs::path> files;
  std::error_code ec;
  const auto source = TVolumeSource::Open(SourcePath);
  for (const std::string& file : source ? source->Files() : std::vector<std::string>{SourcePath})
    files.insert(fs::weakly_canonical(file, ec));
  std::vector<dev_t> loops;
  for (const auto& e : fs::directory_iterator(Topology.SysBlock, ec)) {
    std::ifstream in(e.path() / "loop" / "backing_file");
    std::string backing;
    if (!std::getline(in, backing) || !files.count(fs::path(backing))) continue;
    if (const auto dev = ParseDevNumber(FirstWord(e.path() / "dev"))) loops.push_back(*dev);
  }
  return loops;
}

std::optional<dev_t> FolderDevice(const std::string& Folder, const TDeviceTopology& Topology) {
  std::error_code ec;
  fs::path p = fs::absolute(Folder, ec);
  if (ec) return std::nullopt;
  while (!fs::exists(p, ec) && p.has_relative_path()) p = p.parent_path();
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0) return std::nullopt;
  if (major(st.st_dev) == 0)
    if (const auto source = MountSourceDevice(st.st_dev, Topology.MountInfo)) return source;
  return st.st_dev;
}

std::vector<dev_t> DevicesBeneath(dev_t Device, const TDeviceTopology& Topology) {
  std::vector<dev_t> found{Device};
  std::set<dev_t> seen{Device};
  const auto add = [&](const fs::path& DevFile) {
    const auto dev = ParseDevNumber(FirstWord(DevFile));
    if (dev && seen.insert(*dev).second) found.push_back(*dev);
  };
  for (std::size_t i = 0; i < found.size(); ++i) {
    std::error_code ec;
    const fs::path dir = fs::canonical(fs::path(Topology.SysDevBlock) / DevNumberText(found[i]), ec);
    if (ec) continue;
    if (fs::exists(dir / "partition", ec)) add(dir.parent_path() / "dev");
    for (const auto& slave : fs::directory_iterator(dir / "slaves", ec)) add(slave.path() / "dev");
  }
  return found;
}

bool DestinationOnSource(const std::string& Folder, const std::string& SourcePath, const TDeviceTopology& Topology) {
  const std::vector<dev_t> source = SourceDevices(SourcePath, Topology);
  const auto folder = FolderDevice(Folder, Topology);
  if (source.empty() || !folder) return false;
  const std::vector<dev_t> beneath = DevicesBeneath(*folder, Topology);
  return std::any_of(beneath.begin(), beneath.end(),
                     [&](dev_t d) { return std::find(source.begin(), source.end(), d) != source.end(); });
}

}  // namespace kestrine::platform
