// A page store in memory: every index page is kept as its 4096-byte file
// image (scrambled when the store is encrypted) and decoded while in use,
// so the page format is exercised as by the index file. For tests and tools.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "engine/storage/Formats.h"
#include "engine/storage/IndexTree.h"

namespace tessel {

class TMemoryPageStore : public TPageStore {
 public:
  explicit TMemoryPageStore(std::string tableName = "memory", bool encrypted = false);
  ~TMemoryPageStore() override;

  // The index header whose descriptors (key length, settings, root, free
  // page) and end of file the store works with.
  TIndexHeader& Header() { return header_; }
  const TIndexHeader& Header() const { return header_; }
  bool Encrypted() const { return encrypted_; }

  const std::string& TableName() const override { return tableName_; }
  TPage* GetPage(int index, int32_t position) override;
  void ReleasePage(TPage* page) override;
  TPage* AllocatePage(int index) override;
  void FreePage(int index, TPage* page) override;
  int32_t Root(int index) const override;
  void SetRoot(int index, int32_t position) override;
  int32_t FreeHead(int index) const override;
  int32_t EndOfFile() const override { return header_.EndOfFile; }
  bool CanAllocate(int index, int count) override;

  // The stored image of the page at position (nullptr when none); tests may
  // change it to damage a page.
  uint8_t* Image(int32_t position);
  // Pages currently decoded and held.
  size_t PagesInUse() const { return live_.size(); }
  // Pages whose image could not be written when they were released.
  size_t EncodeFailures() const { return broken_.size(); }

 private:
  using TImage = std::array<uint8_t, kPageSize>;
  TIndexDesc& Desc(int index);
  const TIndexDesc& Desc(int index) const;
  TPage* Load(int index, int32_t position, bool decodeEntries);

  std::string tableName_;
  bool encrypted_;
  TIndexHeader header_;
  std::map<int32_t, TImage> images_;
  std::map<int32_t, std::unique_ptr<TPage>> live_;
  std::set<int32_t> broken_;
};

}  // namespace tessel
