#pragma once
// A generated tree of junk and ordinary files for the cleanup benchmarks.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>

namespace bench {

// Removes the tree on every way out.
struct TTree {
  std::filesystem::path Root;
  ~TTree() {
    std::error_code ec;
    std::filesystem::remove_all(Root, ec);
  }
};

// Folders of 200 files, 20 to a parent folder; one file in ten has a junk extension, in mixed case.
inline std::size_t MakeTree(const std::filesystem::path& Root, std::size_t Files) {
  static const char* const kPlain[] = {".txt", ".c", ".h", ".jpg", ".doc", ".html", ".py", ".so", "", ".cfg"};
  static const char* const kJunk[] = {".tmp", ".TMP", ".log", ".Bak", ".~1", ".ab~", ".xy$", ".a~b",
                                      "._mp", ".---", ".old", ".chk", ".gid", ".$$$", ".temp"};
  std::uint32_t state = 12345;
  auto next = [&] { return state = state * 1103515245u + 12345u; };
  std::size_t junk = 0;
  for (std::size_t i = 0; i < Files; ++i) {
    const std::filesystem::path folder = Root / ("d" + std::to_string(i / 4000)) / ("s" + std::to_string(i / 200 % 20));
    if (i % 200 == 0) std::filesystem::create_directories(folder);
    const bool isJunk = (next() >> 16) % 10 == 0;
    junk += isJunk;
    const std::uint32_t pick = next() >> 8;
    const std::string ext = isJunk ? kJunk[pick % std::size(kJunk)] : kPlain[pick % std::size(kPlain)];
    std::FILE* f = std::fopen((folder / ("file" + std::to_string(i) + ext)).c_str(), "w");
    if (f) std::fclose(f);
  }
  return junk;
}

}  // namespace bench
