#include "support/MemoryPageStore.h"

#include <cstring>
#include <utility>

#include "engine/base/Bytes.h"
#include "engine/base/TesselError.h"
#include "engine/storage/Scramble.h"

namespace tessel {

TMemoryPageStore::TMemoryPageStore(std::string tableName, bool encrypted)
    : tableName_(std::move(tableName)), encrypted_(encrypted) {
  header_.Indexes[kSysDeletedSlot].Name = kSysDeletedName;
  header_.Indexes[kSysDeletedSlot].KeyLength = 5;
}

TMemoryPageStore::~TMemoryPageStore() = default;

TIndexDesc& TMemoryPageStore::Desc(int index) {
  if (index < 0 || index >= kIndexSlots) RaiseEngineError(ec::PageBuffersCorrupt, tableName_);
  return header_.Indexes[static_cast<size_t>(index)];
}

const TIndexDesc& TMemoryPageStore::Desc(int index) const {
  if (index < 0 || index >= kIndexSlots) RaiseEngineError(ec::PageBuffersCorrupt, tableName_);
  return header_.Indexes[static_cast<size_t>(index)];
}

TPage* TMemoryPageStore::Load(int index, int32_t position, bool decodeEntries) {
  const TIndexDesc& desc = Desc(index);
  if (position <= 0 || position % kPageSize != 0 || position >= header_.EndOfFile ||
      broken_.count(position) != 0) {
    RaiseEngineError(ec::PageBuffersCorrupt, tableName_);
  }
  auto held = live_.find(position);
  if (held != live_.end()) {
    // A page is decoded once while in use; everybody shares that copy.
    if (!decodeEntries || held->second->IndexNumber != index) {
      RaiseEngineError(ec::PageBuffersCorrupt, tableName_);
    }
    ++held->second->InUse;
    return held->second.get();
  }
  static const TImage kZeroImage{};
  auto stored = images_.find(position);
  const uint8_t* image = stored != images_.end() ? stored->second.data() : kZeroImage.data();
  auto page = std::make_unique<TPage>();
  page->Setup(position, index, desc);
  // A never-written page inside the file reads as zeros, as from disk; an
  // all-zero image is not scrambled.
  const bool scrambled = encrypted_ && stored != images_.end();
  if (!page->Decode(image, scrambled, decodeEntries)) {
    RaiseEngineError(ec::PageBuffersCorrupt, tableName_);
  }
  page->InUse = 1;
  TPage* result = page.get();
  live_[position] = std::move(page);
  return result;
}

TPage* TMemoryPageStore::GetPage(int index, int32_t position) {
  return Load(index, position, true);
}

void TMemoryPageStore::ReleasePage(TPage* page) {
  if (page == nullptr) return;
  auto held = live_.find(page->Position);
  if (held == live_.end() || held->second.get() != page) return;
  if (--page->InUse > 0) return;
  if (page->Modified) {
    TImage image;
    if (page->Encode(image.data(), encrypted_)) {
      images_[page->Position] = image;
      broken_.erase(page->Position);
    } else {
      // Reported when the page is next read, as a write-back would.
      broken_.insert(page->Position);
    }
  }
  live_.erase(held);
}

TPage* TMemoryPageStore::AllocatePage(int index) {
  TIndexDesc& desc = Desc(index);
  TPage* page;
  if (desc.FreePage != 0) {
    page = Load(index, desc.FreePage, false);
    desc.FreePage = page->Right;
  } else {
    const int32_t position = header_.EndOfFile;
    if (static_cast<int64_t>(position) + kPageSize >= kIndexFileLimit) {
      RaiseEngineError(ec::TableFull, tableName_);
    }
    header_.EndOfFile = position + kPageSize;
    images_.erase(position);
    page = Load(index, position, false);
  }
  page->Clear();
  page->Current = 1;
  page->CursorEntry = 1;
  page->Modified = true;
  return page;
}

void TMemoryPageStore::FreePage(int index, TPage* page) {
  TIndexDesc& desc = Desc(index);
  page->Right = desc.FreePage;
  page->Freed = true;
  page->Modified = true;
  desc.FreePage = page->Position;
}

int32_t TMemoryPageStore::Root(int index) const { return Desc(index).RootPage; }

void TMemoryPageStore::SetRoot(int index, int32_t position) { Desc(index).RootPage = position; }

int32_t TMemoryPageStore::FreeHead(int index) const { return Desc(index).FreePage; }

bool TMemoryPageStore::CanAllocate(int index, int count) {
  const int64_t room = (static_cast<int64_t>(kIndexFileLimit) - 1 - header_.EndOfFile) / kPageSize;
  if (room >= count) return true;
  // Count the free chain only as far as needed; a damaged chain ends the count.
  int64_t available = room > 0 ? room : 0;
  std::set<int32_t> seen;
  for (int32_t position = Desc(index).FreePage; position != 0 && available < count;) {
    if (position < 0 || position % kPageSize != 0 || position >= header_.EndOfFile ||
        !seen.insert(position).second) {
      break;
    }
    ++available;
    auto held = live_.find(position);
    if (held != live_.end()) {
      position = held->second->Right;
      continue;
    }
    auto stored = images_.find(position);
    if (stored == images_.end()) break;
    uint8_t header[kPageSize];
    std::memcpy(header, stored->second.data(), kPageSize);
    if (encrypted_) ScrambleData(header, kPageSize);
    position = GetI32(header + 7);
  }
  return available >= count;
}

uint8_t* TMemoryPageStore::Image(int32_t position) {
  auto stored = images_.find(position);
  return stored != images_.end() ? stored->second.data() : nullptr;
}

}  // namespace tessel
