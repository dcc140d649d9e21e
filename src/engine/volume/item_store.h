#pragma once
// The one owner of a disk's found items: they are made here in blocks and all go at once.

#include <cstddef>
#include <memory>
#include <vector>

#include "engine/volume/file_info.h"

namespace kestrine {

// Items are built in place in fixed blocks, so an item never moves and one allocation serves
// thousands of them. Only the scanning thread makes items; Reset needs that no scan runs and that
// no list still shows them.
class TItemStore {
 public:
  TItemStore() = default;
  ~TItemStore();
  TItemStore(const TItemStore&) = delete;
  TItemStore& operator=(const TItemStore&) = delete;

  // A fresh item that lives until Reset.
  PFileInfo NewItem();
  // Destroys every item made, their engine records with them.
  void Reset();
  std::size_t Count() const { return FCount; }

 private:
  static constexpr std::size_t kBlockItems = 4096;
  struct TBlock {
    alignas(TFileInfo) std::byte Bytes[sizeof(TFileInfo) * kBlockItems];
    TFileInfo* At(std::size_t Index);
  };
  std::vector<std::unique_ptr<TBlock>> FBlocks;
  std::size_t FCount = 0;
};

}  // namespace kestrine
