// The table's index file: the index header with its descriptors, and (built
// on it) the B+-tree pages of every index.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <string>

#include "engine/storage/FileHandler.h"
#include "engine/storage/Formats.h"
#include "engine/storage/IndexTree.h"
#include "engine/storage/PageCache.h"

namespace tessel {

class TDataTable;
class TReadContext;

// Raised through the page store interface (a tree walk) when the read
// context reports, before a page is read from the file, that another user
// changed the table. The caches have been dropped; the cursor catches it and
// restarts its operation from its saved position. It is no engine error and
// carries no message for the user.
class ETableChanged : public std::exception {
 public:
  const char* what() const noexcept override { return "table changed by another user"; }
};

// The index file is also the page store of every index's B+-tree: pages are
// read one per read call into a cache per index (deciphered when the table
// is encrypted) and written back, all indexes together, in position order
// with one write call per run of adjacent pages.
class TIndexFile : public TFileHandler, public TPageStore {
 public:
  explicit TIndexFile(TDataTable& table);
  ~TIndexFile() override;

  TDataTable& Table() { return table_; }

  // Closing drops the cached pages and gives each cache its nominal size.
  void Close() override;

  TIndexHeader Header;
  bool HeaderModified = false;

  void ReadIndexHeader();
  // Writes the header when modified or forced: counter + 1, enciphered copy
  // when the table is encrypted, clears the flag.
  void WriteIndexHeader(bool force);
  int32_t ReadChangeCounter();

  // A fresh header: all cleared, version 4, end of file 4096, slot 31 the
  // system index "Sys Deleted" (key length 5), modified.
  void InitIndexHeader();
  void SetPrimaryIndex(const TIndexDesc& definition);
  void AddSecondaryIndex(const TIndexDesc& definition);
  void DropIndex(int slot);
  void EmptyIndexes();

  // Slot of the index with this name (trimmed, case-insensitive), -1 if none.
  int FindIndex(const std::string& name) const;
  // The name used in messages: "Primary" for slot 0.
  std::string IndexName(int slot) const;

  // --- pages ---
  //
  // The page of index at position, in-use count raised; give it back with
  // ReleasePage. A page that is not cached is read from the file; before
  // that read, when a read context is given, its BeforeCacheMiss() runs, and
  // when it reports that another user changed the table GetPage answers
  // nullptr (the caches have been dropped; the caller restarts). A position
  // that holds no page of the index raises "Index page buffers corrupt in
  // table '%s'".
  TPage* GetPage(int index, int32_t position, TReadContext* context);

  // The context the page store interface (the tree operations) hands to
  // GetPage; a change it reports raises ETableChanged. None by default.
  void SetReadContext(TReadContext* context) { readContext_ = context; }
  TReadContext* ReadContext() const { return readContext_; }

  // TPageStore: the B+-tree's view of the pages.
  const std::string& TableName() const override;
  TPage* GetPage(int index, int32_t position) override;
  void ReleasePage(TPage* page) override;
  TPage* AllocatePage(int index) override;
  void FreePage(int index, TPage* page) override;
  int32_t Root(int index) const override;
  void SetRoot(int index, int32_t position) override;
  int32_t FreeHead(int index) const override;
  int32_t EndOfFile() const override { return Header.EndOfFile; }
  bool CanAllocate(int index, int count) override;

  // Writes every modified page that is not in use, of all indexes together,
  // in position order with one write call per run of adjacent pages; a freed
  // page is written with no entries. Clears their modified flags.
  void WriteBackPages();
  // Cuts each index's cache back to 15 pages, returning the pages with the
  // highest positions (neither modified nor in use) to the pool.
  void TrimPages();
  // Drops every cached page (modifications are lost). Pages still in use
  // leave the cache and return to the pool when released.
  void DropPages();
  // Cached pages of one index, for tests and tools.
  size_t CachedPageCount(int index) const;
  bool IsPageCached(int index, int32_t position) const;

 private:
  // Refuses key field numbers that name no field and BLOB key fields.
  void CheckKeyFieldTypes(const TIndexDesc& definition, const std::string& indexName) const;

  TIndexDesc& Desc(int index);
  const TIndexDesc& Desc(int index) const;
  [[noreturn]] void Corrupt() const;
  // A position inside the file where a page can stand.
  bool ValidPagePosition(int32_t position) const;
  // The cached page, or one read from the file (entries decoded unless
  // decode is off); nullptr when the context reports a change.
  TPageHolder* LoadPage(int index, int32_t position, TReadContext* context, bool decode);
  // A holder for a page of index, inserted into its cache; makes room first
  // (recycle, else write back, else grow a work table's cache or fail).
  TPageHolder* TakeHolder(int index, int32_t position);
  void Discard(TPageCache& cache, TPageHolder* page);
  // The right link of the free page at position (cached or read), for
  // counting a free chain without caching it.
  int32_t PeekRight(int index, int32_t position);
  // Whether the page at position is in the file or held by a cache.
  bool PageInFileOrCache(int32_t position);
  void WritePageRun(const std::vector<TPageHolder*>& run);

  TDataTable& table_;
  TPageStack pagePool_;
  std::array<TPageCache, kIndexSlots> pageCaches_;
  TReadContext* readContext_ = nullptr;
};

}  // namespace tessel
