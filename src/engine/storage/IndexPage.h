// One 4096-byte page of an index's B+-tree: its file image (header and
// entries in the index's compression mode) and its in-memory form with the
// entries expanded to fixed slots.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/storage/Formats.h"

namespace tessel {

class TKeyContext;

enum TPageType : uint8_t {
  ptRootNode = 0,
  ptInnerNode = 1,
  ptLeaf = 2,
  ptRootLeaf = 3,
};

constexpr int kPageHeaderBytes = 13;
constexpr int kPageEntryBytes = kPageSize - kPageHeaderBytes;  // 4083
// The largest key an index can have: 1036 bytes of fields and the suffix.
constexpr int kMaxPageKeyLength = kMaxFullKeyLength;

// How a page search places the page's current entry when no equal key is met.
enum class TPageSearch {
  Insert,  // the last entry below the key, 0 when the key is below every entry
  Exists,  // the last entry below the key, but at least 1 (also for deletes)
};

class TPage {
 public:
  TPage() = default;

  // Gives the page its position, its index and that index's settings, and
  // clears it.
  void Setup(int32_t position, int indexNumber, const TIndexDesc& desc);
  // No entries, type 0, byte size 0, no links, no parent, not freed.
  void Clear();

  // Identity and the index's settings.
  int32_t Position = 0;
  int IndexNumber = 0;
  uint16_t KeyLength = 0;
  bool Descending = false;
  bool Unique = false;
  uint8_t Compression = 0;

  // Header fields of the file image.
  uint8_t PageType = ptRootNode;
  int32_t Left = 0;
  int32_t Right = 0;
  int32_t ByteSize = 0;  // entry bytes of a compressed leaf, 0 otherwise

  // In-memory state.
  int32_t Parent = 0;   // position of the parent, set while descending
  int Current = 1;      // entry a tree operation stands on (1-based, 0 = before the first)
  int CursorEntry = 1;  // entry a cursor stands on (1-based)
  bool Freed = false;
  bool Modified = false;
  int InUse = 0;

  int Count() const { return count_; }
  bool IsLeaf() const { return PageType == ptLeaf || PageType == ptRootLeaf; }
  bool IsRoot() const { return PageType == ptRootNode || PageType == ptRootLeaf; }
  bool IsCompressedLeaf() const { return IsLeaf() && Compression != 0; }

  // Entry limits: a node page holds 4083 / (key length + 10) entries, an
  // uncompressed leaf 4083 / (key length + 6); a compressed leaf is limited
  // by its byte size only (Capacity() then gives the uncompressed figure).
  static int NodeCapacity(int keyLength) { return kPageEntryBytes / (keyLength + 10); }
  static int LeafCapacity(int keyLength) { return kPageEntryBytes / (keyLength + 6); }
  int Capacity() const { return IsLeaf() ? LeafCapacity(KeyLength) : NodeCapacity(KeyLength); }
  // Too full to be written: more entries than the capacity, or a compressed
  // leaf with more than 4083 entry bytes.
  bool Overflows() const;

  // Entries, 1-based. The value is the child page position in a node and the
  // record number in a leaf; the subtree count is the number of leaf entries
  // below a node entry.
  const uint8_t* Key(int i) const { return Slot(i); }
  void SetKey(int i, const uint8_t* key);
  int32_t Value(int i) const;
  void SetValue(int i, int32_t value);
  int32_t SubCount(int i) const;
  void SetSubCount(int i, int32_t count);
  int16_t Lead(int i) const;
  int16_t Trail(int i) const;
  // Leaf entries below this page: the entry count of a leaf, the sum of the
  // subtree counts of a node.
  int32_t SubtreeTotal() const;

  // Inserts an entry that becomes entry at (1 to Count() + 1).
  void InsertEntry(int at, const uint8_t* key, int32_t value, int32_t subCount = 0);
  void RemoveEntry(int i);
  // Moves this page's last count entries to the front of other.
  void MoveLastTo(TPage& other, int count);
  // Moves this page's first count entries to the end of other.
  void MoveFirstTo(TPage& other, int count);
  // Recomputes every entry's lead and trail count and the byte size after
  // the entries changed (all zero unless the page is a compressed leaf).
  void RecomputeCompression();
  // The lead and trail counts key would get after prev (nullptr when it is
  // the first entry) in this page's compression mode.
  void LeadTrail(const uint8_t* prev, const uint8_t* key, int& lead, int& trail) const;
  // Bytes an entry with these counts takes in a compressed leaf.
  int CompressedEntryBytes(int lead, int trail) const { return KeyLength - lead - trail + 6; }

  // Binary search for key among the entries. Sets Current: the equal entry,
  // else as the search kind says; returns it. equal (when given) tells
  // whether an equal entry was found; before (when given) is raised by the
  // number of leaf entries before Current (a leaf: Current - 1, a node: the
  // subtree counts of the entries before it). An empty page raises "Index
  // page buffers corrupt in table '%s'".
  int Search(const TKeyContext& ctx, const uint8_t* key, TPageSearch kind, bool* equal = nullptr,
             int32_t* before = nullptr);

  // Reads a 4096-byte file image (unscrambled first when encrypted): the
  // header, then, unless decodeEntries is off, the entries by type and
  // compression. Sets both entry positions to 1 and the parent to 0. Returns
  // false when the image cannot be a page of this index.
  bool Decode(const uint8_t* image, bool encrypted, bool decodeEntries = true);
  // Writes the 4096-byte file image (a freed page with no entries),
  // scrambled when encrypted. Returns false when the entries do not fit.
  bool Encode(uint8_t* image, bool encrypted) const;

 private:
  int SlotSize() const { return KeyLength + 12; }
  uint8_t* Slot(int i) { return entries_.data() + static_cast<size_t>(i - 1) * SlotSize(); }
  const uint8_t* Slot(int i) const {
    return entries_.data() + static_cast<size_t>(i - 1) * SlotSize();
  }
  void SetLeadTrail(int i, int lead, int trail);
  // Whether a compressed entry with this lead stores the trailing zero run
  // in front of a separate 4-byte record-identifier suffix.
  bool SplitsSuffix(int lead) const {
    return !Unique && (Compression == 2 || (Compression == 3 && KeyLength - lead >= 5));
  }
  bool DecodeCompressed(const uint8_t* area);

  std::vector<uint8_t> entries_;
  int count_ = 0;
};

}  // namespace tessel
