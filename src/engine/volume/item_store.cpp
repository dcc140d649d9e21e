#include "engine/volume/item_store.h"

#include <new>

namespace kestrine {

TFileInfo* TItemStore::TBlock::At(std::size_t Index) {
  return std::launder(reinterpret_cast<TFileInfo*>(Bytes) + Index);
}

TItemStore::~TItemStore() { Reset(); }

PFileInfo TItemStore::NewItem() {
  const std::size_t offset = FCount % kBlockItems;
  if (offset == 0 && FCount / kBlockItems == FBlocks.size()) FBlocks.push_back(std::unique_ptr<TBlock>(new TBlock));  // left uninitialised: pages fault in as items are made
  TBlock& block = *FBlocks[FCount / kBlockItems];
  PFileInfo item = new (block.Bytes + offset * sizeof(TFileInfo)) TFileInfo;
  ++FCount;
  return item;
}

void TItemStore::Reset() {
  for (std::size_t i = 0; i < FCount; ++i) std::destroy_at(FBlocks[i / kBlockItems]->At(i % kBlockItems));
  FCount = 0;
  FBlocks.clear();
}

}  // namespace kestrine
