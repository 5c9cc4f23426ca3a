// The pages of the index file: the page cache of every index, page
// allocation and release through each index's free chain, and the
// write-back of modified pages in runs of adjacent positions.
#include <algorithm>
#include <set>
#include <vector>

#include "engine/base/Bytes.h"
#include "engine/base/TesselError.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/IndexFile.h"
#include "engine/storage/ReadContext.h"
#include "engine/storage/Scramble.h"

namespace tessel {

const std::string& TIndexFile::TableName() const { return table_.TableName(); }

void TIndexFile::Corrupt() const { RaiseEngineError(ec::PageBuffersCorrupt, table_.TableName()); }

TIndexDesc& TIndexFile::Desc(int index) {
  if (index < 0 || index >= kIndexSlots) Corrupt();
  return Header.Indexes[static_cast<size_t>(index)];
}

const TIndexDesc& TIndexFile::Desc(int index) const {
  if (index < 0 || index >= kIndexSlots) Corrupt();
  return Header.Indexes[static_cast<size_t>(index)];
}

bool TIndexFile::ValidPagePosition(int32_t position) const {
  return position > 0 && position % kPageSize == 0 && position < Header.EndOfFile;
}

// ---------------------------------------------------------------------------
// Fetching and releasing

TPage* TIndexFile::GetPage(int index, int32_t position, TReadContext* context) {
  TPageHolder* page = LoadPage(index, position, context, true);
  if (page == nullptr) return nullptr;
  ++page->InUse;
  return page;
}

TPage* TIndexFile::GetPage(int index, int32_t position) {
  TPage* page = GetPage(index, position, readContext_);
  if (page == nullptr) throw ETableChanged();
  return page;
}

TPageHolder* TIndexFile::LoadPage(int index, int32_t position, TReadContext* context, bool decode) {
  Desc(index);  // checks the index number
  if (!ValidPagePosition(position)) Corrupt();
  TPageCache& cache = pageCaches_[static_cast<size_t>(index)];
  if (TPageHolder* cached = cache.Find(position)) return cached;
  // A page cached for another index is no page of this one; a second holder
  // for the same position could overwrite it on write-back.
  for (const TPageCache& other : pageCaches_)
    if (&other != &cache && other.Peek(position) != nullptr) Corrupt();

  if (context != nullptr && context->BeforeCacheMiss()) return nullptr;
  uint8_t image[kPageSize];
  ReadAt(position, image, sizeof image);
  TPageHolder* page = TakeHolder(index, position);
  if (!page->Decode(image, table_.IsEncrypted(), decode)) {
    Discard(cache, page);
    Corrupt();
  }
  return page;
}

void TIndexFile::ReleasePage(TPage* page) {
  if (page == nullptr) return;
  auto* holder = static_cast<TPageHolder*>(page);
  if (holder->InUse > 0) --holder->InUse;
  if (holder->Detached && holder->InUse == 0) pagePool_.Give(holder);
}

// ---------------------------------------------------------------------------
// Making room

TPageHolder* TIndexFile::TakeHolder(int index, int32_t position) {
  TPageCache& cache = pageCaches_[static_cast<size_t>(index)];
  const int capacity = std::max(cache.Capacity, 1);
  if (cache.Size() >= static_cast<size_t>(capacity)) {
    TPageHolder* victim = cache.Victim();
    const bool workTable = table_.Settings.WorkTable;
    if (victim == nullptr && !workTable) {
      WriteBackPages();
      victim = cache.Victim();
    }
    if (victim == nullptr) {
      if (!workTable) Corrupt();
      cache.Capacity = capacity + TPageCache::kWorkTableGrowth;
    } else {
      Discard(cache, victim);
    }
  }
  TPageHolder* page = pagePool_.Take(position, index, Desc(index));
  cache.Insert(page);
  return page;
}

void TIndexFile::Discard(TPageCache& cache, TPageHolder* page) {
  cache.Remove(page);
  if (page->InUse > 0) {
    page->Detached = true;
  } else {
    pagePool_.Give(page);
  }
}

// ---------------------------------------------------------------------------
// Allocation and release

TPage* TIndexFile::AllocatePage(int index) {
  TIndexDesc& desc = Desc(index);
  TPageHolder* page;
  if (desc.FreePage != 0) {
    // The head of the index's free chain, its entries not decoded.
    page = LoadPage(index, desc.FreePage, nullptr, false);
    desc.FreePage = page->Right;
  } else {
    const int32_t position = Header.EndOfFile;
    if (int64_t{position} + kPageSize >= kIndexFileLimit) {
      RaiseEngineError(ec::TableFull, table_.TableName());
    }
    // The page below the end of file is in the file, or is a new page in the
    // cache that is not written yet. A damaged header whose end of file lies
    // beyond both would make the file grow up to it with the next write-back
    // (for an in-memory table, a buffer that large).
    if (position > kPageSize && !PageInFileOrCache(position - kPageSize)) Corrupt();
    // A page beyond the old end of file exists only in the cache until it is
    // written back. A holder left there from an earlier use is stale.
    for (TPageCache& cache : pageCaches_)
      if (TPageHolder* stale = cache.Peek(position)) Discard(cache, stale);
    page = TakeHolder(index, position);
    Header.EndOfFile = position + kPageSize;
  }
  HeaderModified = true;
  // Cleared with this index's settings; a holder someone still uses keeps
  // its count.
  const int inUse = page->InUse;
  page->Setup(page->Position, index, desc);
  page->InUse = inUse + 1;
  page->Modified = true;
  return page;
}

void TIndexFile::FreePage(int index, TPage* page) {
  TIndexDesc& desc = Desc(index);
  page->Right = desc.FreePage;
  page->Freed = true;
  page->Modified = true;
  desc.FreePage = page->Position;
  HeaderModified = true;
}

int32_t TIndexFile::Root(int index) const { return Desc(index).RootPage; }

void TIndexFile::SetRoot(int index, int32_t position) {
  Desc(index).RootPage = position;
  HeaderModified = true;
}

int32_t TIndexFile::FreeHead(int index) const { return Desc(index).FreePage; }

int32_t TIndexFile::PeekRight(int index, int32_t position) {
  if (const TPageHolder* cached = pageCaches_[static_cast<size_t>(index)].Peek(position)) {
    return cached->Right;
  }
  uint8_t image[kPageSize];
  ReadAt(position, image, sizeof image);
  if (table_.IsEncrypted()) ScrambleData(image, sizeof image);
  return GetI32(image + 7);
}

bool TIndexFile::PageInFileOrCache(int32_t position) {
  for (const TPageCache& cache : pageCaches_)
    if (cache.Peek(position) != nullptr) return true;
  return int64_t{position} + kPageSize <= FileLength();
}

bool TIndexFile::CanAllocate(int index, int count) {
  const int64_t room = (int64_t{kIndexFileLimit} - 1 - Header.EndOfFile) / kPageSize;
  if (room >= count) return true;
  // Count the free chain only as far as needed; a damaged chain ends the count.
  int64_t available = std::max<int64_t>(room, 0);
  std::set<int32_t> seen;
  for (int32_t position = Desc(index).FreePage; position != 0 && available < count;) {
    if (!ValidPagePosition(position) || !seen.insert(position).second) break;
    ++available;
    position = PeekRight(index, position);
  }
  return available >= count;
}

// ---------------------------------------------------------------------------
// Write-back, trimming and dropping

void TIndexFile::WriteBackPages() {
  std::vector<TPageHolder*> pages;
  for (const TPageCache& cache : pageCaches_)
    for (TPageHolder* page : cache.Sorted())
      if (page->Modified && page->InUse == 0) pages.push_back(page);
  std::sort(pages.begin(), pages.end(),
            [](const TPageHolder* a, const TPageHolder* b) { return a->Position < b->Position; });
  std::vector<TPageHolder*> run;
  for (TPageHolder* page : pages) {
    if (!run.empty() && run.back()->Position + kPageSize != page->Position) {
      WritePageRun(run);
      run.clear();
    }
    run.push_back(page);
  }
  if (!run.empty()) WritePageRun(run);
}

void TIndexFile::WritePageRun(const std::vector<TPageHolder*>& run) {
  std::vector<uint8_t> buffer(run.size() * kPageSize);
  const bool encrypted = table_.IsEncrypted();
  for (size_t i = 0; i < run.size(); ++i) {
    if (!run[i]->Encode(buffer.data() + i * kPageSize, encrypted)) Corrupt();
  }
  WriteAt(run.front()->Position, buffer.data(), buffer.size());
  for (TPageHolder* page : run) page->Modified = false;
}

void TIndexFile::TrimPages() {
  for (TPageCache& cache : pageCaches_) {
    cache.Capacity = TPageCache::kNominalCapacity;
    const size_t capacity = static_cast<size_t>(cache.Capacity);
    const std::vector<TPageHolder*> sorted = cache.Sorted();
    for (auto it = sorted.rbegin(); it != sorted.rend() && cache.Size() > capacity; ++it) {
      if (!(*it)->Modified && (*it)->InUse == 0) Discard(cache, *it);
    }
  }
}

void TIndexFile::DropPages() {
  for (TPageCache& cache : pageCaches_) {
    for (TPageHolder* page : cache.TakeAll()) {
      if (page->InUse > 0) {
        page->Detached = true;
      } else {
        pagePool_.Give(page);
      }
    }
  }
}

void TIndexFile::Close() {
  DropPages();
  for (TPageCache& cache : pageCaches_) cache.Capacity = TPageCache::kNominalCapacity;
  TFileHandler::Close();
}

size_t TIndexFile::CachedPageCount(int index) const {
  return pageCaches_.at(static_cast<size_t>(index)).Size();
}

bool TIndexFile::IsPageCached(int index, int32_t position) const {
  return pageCaches_.at(static_cast<size_t>(index)).Peek(position) != nullptr;
}

}  // namespace tessel
