#include "engine/storage/FuzzHarness.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "engine/base/Bytes.h"
#include "platform/core/Exceptions.h"
#include "engine/base/TesselError.h"
#include "engine/cursor/CursorFilter.h"
#include "engine/cursor/DataCursor.h"
#include "engine/storage/BlobBlock.h"
#include "engine/storage/DataDirectory.h"
#include "engine/storage/DataTable.h"
#include "engine/storage/Formats.h"
#include "engine/storage/IndexCheck.h"
#include "engine/storage/IndexKey.h"
#include "engine/storage/IndexPage.h"
#include "engine/storage/IndexTree.h"
#include "engine/storage/MemoryFile.h"
#include "engine/storage/Record.h"
#include "engine/storage/Scramble.h"
#include "engine/storage/TableVerify.h"
#include "support/MemoryPageStore.h"

namespace tessel::fuzz {

namespace {

// The in-memory files every run works on. The store belongs to the process,
// so a run starts by removing what an earlier run may have left.
constexpr const char* kTableName = "fuzztable";

// Bounds of the walks: enough to reach every kind of page and chain of a
// small table, few enough that a large input cannot make a run slow.
constexpr int kMaxWalk = 600;
constexpr int kMaxBlobReads = 96;
constexpr size_t kMaxBlobBytes = size_t{8} << 20;
constexpr int kMaxPages = 64;

void Note(TRunOutcome& out, const ETesselEngineError& e) {
  if (out.FirstError == 0) out.FirstError = e.Code();
  ++out.EngineErrors;
}

// Runs f; an engine error is an accepted end of f. So is the conversion
// error the engine raises for a default, minimum or maximum text of a field
// that is no value of the field's type (a damaged field descriptor gives
// one): callers meet it as they meet a bad value of their own. Anything else
// escapes.
template <typename F>
bool Try(TRunOutcome& out, F&& f) {
  try {
    f();
    return true;
  } catch (const ETesselEngineError& e) {
    Note(out, e);
    return false;
  } catch (const dataset::EConvertError&) {
    ++out.EngineErrors;
    return false;
  }
}

[[noreturn]] void Finding(const std::string& what) { throw TFuzzFinding(what); }

uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void AppendU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// ---------------------------------------------------------------------------
// The table's files in the in-memory store

class TMemoryTable {
 public:
  TMemoryTable() {
    for (const char* ext : {".DAT", ".IDX", ".BLB"}) names_.push_back(std::string(kTableName) + ext);
    Remove();
  }
  ~TMemoryTable() {
    // A run that ends early through a finding leaves the files; the next run
    // removes them.
  }

  void Put(int which, const std::vector<uint8_t>& bytes) {
    std::shared_ptr<TMemoryFile> file;
    int handle = 0;
    const uint16_t code = TMemoryFileList::Instance().Create(names_[static_cast<size_t>(which)], file, handle);
    if (code != 0) Finding("cannot create the in-memory file " + names_[static_cast<size_t>(which)]);
    if (!bytes.empty() && file->Write(handle, bytes.data(), bytes.size()) != 0) Finding("cannot fill an in-memory file");
    TMemoryFileList::Instance().Close(file, handle);
  }

  // Every file must be closed by now: a handle the engine kept is a leak.
  void Remove() {
    for (const std::string& name : names_) {
      if (!TMemoryFileList::Instance().Exists(name)) continue;
      if (TMemoryFileList::Instance().Delete(name) != 0) Finding("the in-memory file " + name + " is still open");
    }
  }

 private:
  std::vector<std::string> names_;
};

// A session and its directory object; in-memory tables ignore the path.
class TSessionScope {
 public:
  TSessionScope() {
    session_.LockRetryCount = 0;
    session_.LockWaitTime = 0;
    directory_ = &session_.OpenDirectory("", "/");
  }
  ~TSessionScope() { session_.ReleaseDirectory(directory_); }
  TSessionScope(const TSessionScope&) = delete;
  TSessionScope& operator=(const TSessionScope&) = delete;

  TDataSession& Session() { return session_; }
  std::unique_ptr<TDataCursor> Cursor(bool readOnly, bool exclusive) {
    auto cursor = std::make_unique<TDataCursor>(*directory_);
    cursor->SetTableName(kTableName);
    cursor->SetInMemory(true);
    cursor->SetReadOnly(readOnly);
    cursor->SetExclusive(exclusive);
    cursor->SetPasswordRequest([] { return false; });
    return cursor;
  }

 private:
  TDataSession session_;
  TDataDirectory* directory_ = nullptr;
};

// ---------------------------------------------------------------------------
// Reading what a cursor stands on

// Every field's value; every BLOB value as a whole, in chunks.
void ReadFields(TDataCursor& c, const std::vector<uint8_t>& record, bool blobs, TRunOutcome& out) {
  std::array<uint8_t, 512> value{};
  std::vector<uint8_t> row = record;
  static std::vector<uint8_t> chunk(65536);
  for (int f = 1; f <= c.FieldCount(); ++f) {
    Try(out, [&] { c.GetFieldValue(f, row.data(), value.data()); });
    if (!blobs || c.Field(f).Type != ftBlob) continue;
    bool opened = false;
    Try(out, [&] {
      opened = c.OpenBlob(f, row.data(), kBlobOpenRead) == 0;
      if (!opened) return;
      uint32_t size = 0;
      if (c.BlobSize(f, row.data(), &size) == 0) {
        uint32_t offset = 0;
        while (offset < size && offset < kMaxBlobBytes) {
          uint32_t got = 0;
          const uint32_t count = std::min<uint32_t>(static_cast<uint32_t>(chunk.size()), size - offset);
          c.ReadBlob(f, row.data(), offset, count, chunk.data(), &got);
          if (got == 0) break;
          offset += got;
        }
        // A read past the end gives what is there and says so.
        uint32_t got = 0;
        c.ReadBlob(f, row.data(), size, 16, chunk.data(), &got);
        if (got != 0) Finding("a BLOB read past the end returned bytes");
      }
    });
    if (opened) Try(out, [&] { c.CloseBlob(f, row.data()); });
  }
}

// One order from the first record to the last (bounded, so that a chain of
// pages that loops cannot keep the run going), then back a little, then the
// positioning calls.
void WalkOrder(TDataCursor& c, TRunOutcome& out, bool blobs, bool searches,
               std::vector<std::vector<uint8_t>>* samples) {
  std::vector<uint8_t> record(c.RecordSize(), 0);
  std::vector<std::vector<uint8_t>> seen;
  if (!Try(out, [&] { c.GotoFirst(); })) return;
  int blobReads = 0;
  Try(out, [&] {
    for (int i = 0; i < kMaxWalk; ++i) {
      if (c.GetNext(record.data()) != 0) break;
      ++out.RecordsRead;
      ReadFields(c, record, blobs && blobReads++ < kMaxBlobReads, out);
      if (seen.size() < 8) seen.push_back(record);
    }
  });
  Try(out, [&] {
    for (int i = 0; i < 3; ++i)
      if (c.GetPrior(record.data()) != 0) break;
  });
  Try(out, [&] {
    c.GotoLast();
    for (int i = 0; i < 3; ++i)
      if (c.GetPrior(record.data()) != 0) break;
    c.RecordCount();
    c.RecordNumber();
  });
  Try(out, [&] {
    const int32_t count = c.RecordCount();
    c.GotoRecordNumber(count / 2 + 1);
    c.GetCurrent(record.data());
    const std::vector<uint8_t> mark = c.Bookmark();
    c.MoveBy(2);
    c.MoveBy(-3);
    c.GotoBookmark(mark.data(), false);
    c.GotoBookmark(mark.data(), true);
  });
  if (samples != nullptr)
    for (auto& s : seen)
      if (samples->size() < 8) samples->push_back(s);
  if (!searches || c.PhysicalOrder() || seen.empty()) return;

  for (const std::vector<uint8_t>& s : seen) {
    Try(out, [&] { c.FindKey(s.data(), false, 0, 0, false, record.data()); });
    Try(out, [&] { c.FindKey(s.data(), false, 1, 2, true, record.data()); });
  }
  Try(out, [&] {
    const std::vector<uint8_t>& low = seen.front();
    const std::vector<uint8_t>& high = seen.back();
    c.SetRange(low.data(), 0, high.data(), 0);
    c.GotoFirst();
    for (int i = 0; i < kMaxWalk; ++i)
      if (c.GetNext(record.data()) != 0) break;
    c.GotoLast();
    c.GetPrior(record.data());
    c.SetRange(high.data(), 1, nullptr, 0);
    c.GotoFirst();
    c.GetNext(record.data());
    c.CancelRange();
  });
}

// The same order again through a filter that passes every other record
// identifier (the cursor then steps through its result bitmap).
void WalkFiltered(TDataCursor& c, TRunOutcome& out) {
  TFilter* filter = nullptr;
  if (!Try(out, [&] {
        filter = c.AddFilter(std::make_unique<TCallbackFilter>(
            [](const uint8_t* image) { return (image[kSlotRecordIdOffset] & 1) != 0; }));
        c.ActivateFilter(filter);
      })) {
    if (filter != nullptr) Try(out, [&] { c.DropFilter(filter); });
    return;
  }
  WalkOrder(c, out, false, false, nullptr);
  Try(out, [&] { c.DropFilter(filter); });
}

// Physical order, then every index; with searches each order once more
// through a filter.
void WalkAll(TDataCursor& c, TRunOutcome& out, bool searches, std::vector<std::vector<uint8_t>>* samples) {
  if (Try(out, [&] { c.SelectIndexNumber(kNoIndex); })) {
    WalkOrder(c, out, true, false, samples);
    if (searches) WalkFiltered(c, out);
  }
  std::vector<TCursorIndexInfo> indexes;
  Try(out, [&] { indexes = c.Indexes(); });
  for (const TCursorIndexInfo& info : indexes) {
    if (!Try(out, [&] { c.SelectIndexNumber(static_cast<uint8_t>(info.Number)); })) continue;
    WalkOrder(c, out, false, searches, nullptr);
    if (searches) WalkFiltered(c, out);
  }
}

TVerifySummary Verify(TDataTable& table, bool repair, TRunOutcome& out, bool* ran) {
  TVerifySummary summary;
  *ran = Try(out, [&] {
    TVerifyOptions options;
    options.Repair = repair;
    summary = VerifyTable(table, options, [&](const TVerifyFinding&) { ++out.VerifyFindings; });
  });
  return summary;
}

// ---------------------------------------------------------------------------
// Writes through the cursor

// A text for string fields that no record of a seed table holds.
void FillFreshValues(TDataCursor& c, std::vector<uint8_t>& row, int serial) {
  std::array<uint8_t, 512> value{};
  for (int f = 1; f <= c.FieldCount(); ++f) {
    const TFieldDesc& d = c.Field(f);
    value.fill(0);
    switch (d.Type) {
      case ftString: {
        const std::string text = "fz" + std::to_string(serial);
        std::memcpy(value.data(), text.data(), std::min<size_t>(text.size(), d.PhysicalSize > 0 ? d.PhysicalSize - 1 : 0));
        c.PutFieldValue(f, row.data(), value.data());
        break;
      }
      case ftInteger:
      case ftDate:
      case ftTime:
        if (d.IsAutoInc()) break;
        PutI32(value.data(), 700000 + serial);
        c.PutFieldValue(f, row.data(), value.data());
        break;
      default:
        break;
    }
  }
}

void WriteBlobs(TDataCursor& c, std::vector<uint8_t>& row, size_t length, TRunOutcome& out) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
  for (int f = 1; f <= c.FieldCount(); ++f) {
    if (c.Field(f).Type != ftBlob) continue;
    Try(out, [&] {
      if (c.OpenBlob(f, row.data(), kBlobOpenReadWrite) != 0) return;
      c.TruncateBlob(f, row.data(), 0);
      if (length > 0) c.WriteBlob(f, row.data(), 0, static_cast<uint32_t>(length), bytes.data());
    });
  }
}

// Inserts two records, changes one, deletes one; each step may be refused.
void TableWrites(TDataCursor& c, const std::vector<std::vector<uint8_t>>& samples, TRunOutcome& out) {
  std::vector<uint8_t> row(c.RecordSize(), 0);
  for (int serial = 1; serial <= 2; ++serial) {
    Try(out, [&] {
      c.InitRecord(row.data());
      if (!samples.empty() && row.size() > kSlotFieldsOffset) {
        const std::vector<uint8_t>& s = samples[static_cast<size_t>(serial - 1) % samples.size()];
        std::memcpy(row.data() + kSlotFieldsOffset, s.data() + kSlotFieldsOffset, row.size() - kSlotFieldsOffset);
        // The sample's BLOB references belong to the sample.
        for (int f = 1; f <= c.FieldCount(); ++f)
          if (c.Field(f).Type == ftBlob) c.PutFieldValue(f, row.data(), nullptr);
      }
      FillFreshValues(c, row, serial);
      WriteBlobs(c, row, serial == 1 ? 700 : 3, out);
      c.InsertRecord(row.data());
    });
    Try(out, [&] { c.CloseAllBlobs(); });
  }
  Try(out, [&] {
    c.GotoFirst();
    if (c.GetNext(row.data()) != 0) return;
    if (c.GetCurrent(row.data(), true) != 0) return;
    FillFreshValues(c, row, 3);
    WriteBlobs(c, row, 1200, out);
    c.ModifyRecord(row.data());
  });
  Try(out, [&] { c.CloseAllBlobs(); });
  Try(out, [&] { c.UnlockRecord(); });
  Try(out, [&] {
    c.GotoLast();
    if (c.GetPrior(row.data()) != 0) return;
    c.DeleteRecord();
  });
}

// ---------------------------------------------------------------------------
// One table run

struct TTableRun {
  uint8_t Options = 0;
  bool Scrambled = false;
  // Writes after the walk (nullptr: TableWrites when kOptWrites is set).
  std::function<void(TDataCursor&, const std::vector<std::vector<uint8_t>>&, TRunOutcome&)> Writes;
};

std::string PasswordOf(const std::vector<uint8_t>& dataImage) {
  if (dataImage.size() < static_cast<size_t>(kDataHeaderSize)) return {};
  const TDataHeader header = TDataHeader::Decode(dataImage.data());
  return ScrambledText(header.Password);
}

TRunOutcome RunTableFiles(const TTableImages& images, const TTableRun& run) {
  TRunOutcome out;
  const uint8_t o = run.Options;
  const bool readOnly = (o & kOptReadOnly) != 0;
  const bool exclusive = (o & kOptExclusive) != 0;
  const bool withholdPassword = run.Scrambled && (o & kOptSecondCursor) != 0;
  const bool secondCursor = !run.Scrambled && (o & kOptSecondCursor) != 0;
  const bool doWrites = (o & kOptWrites) != 0;
  const bool doRepair = (o & kOptRepair) != 0 && exclusive && !readOnly;
  const std::string password = run.Scrambled ? PasswordOf(images.Data) : std::string();

  TMemoryTable files;
  files.Put(0, images.Data);
  if ((o & kOptNoIndexFile) == 0) files.Put(1, images.Index);
  if ((o & kOptNoBlobFile) == 0) files.Put(2, images.Blob);

  bool soundBefore = false;
  bool changed = false;
  bool repairedClean = false;
  {
    TSessionScope scope;
    if (!withholdPassword) scope.Session().AddPassword(password);
    std::unique_ptr<TDataCursor> c = scope.Cursor(readOnly, exclusive);
    if (Try(out, [&] { c->Open(); })) {
      out.Opened = true;
      std::vector<std::vector<uint8_t>> samples;
      WalkAll(*c, out, (o & kOptSearches) != 0, &samples);
      if (secondCursor) {
        std::unique_ptr<TDataCursor> clone;
        if (Try(out, [&] { clone = c->Clone(); })) {
          WalkAll(*clone, out, false, nullptr);
          Try(out, [&] { clone->Close(); });
        }
      }
      bool ran = false;
      const TVerifySummary check = Verify(*c->Table(), false, out, &ran);
      soundBefore = ran && check.Sound();
      if (doWrites) {
        const int errorsBefore = out.EngineErrors;
        if (run.Writes) {
          run.Writes(*c, samples, out);
        } else {
          TableWrites(*c, samples, out);
        }
        changed = true;
        // Reading after the writes, through what the caches now hold.
        WalkAll(*c, out, false, nullptr);
        (void)errorsBefore;
      }
      if (doRepair) {
        const TVerifySummary repair = Verify(*c->Table(), true, out, &ran);
        repairedClean = ran && repair.Sound();
        changed = true;
      }
    }
    Try(out, [&] { c->Close(); });
  }

  // What the engine wrote must read back; a table it found sound (or
  // repaired completely) must stay sound through its own writes.
  if (changed && out.Opened) {
    TSessionScope scope;
    scope.Session().AddPassword(password);
    std::unique_ptr<TDataCursor> c = scope.Cursor(false, false);
    if (Try(out, [&] { c->Open(); })) {
      WalkAll(*c, out, false, nullptr);
      bool ran = false;
      const TVerifySummary after = Verify(*c->Table(), false, out, &ran);
      if (ran && !after.Sound() && (soundBefore || repairedClean)) {
        Finding(repairedClean ? "a table repaired without remaining damage is damaged when opened again"
                              : "the engine's writes left damage in a sound table");
      }
    } else if (soundBefore || repairedClean) {
      Finding("a sound table does not open again after the engine's writes");
    }
    Try(out, [&] { c->Close(); });
  }
  files.Remove();
  return out;
}

// ---------------------------------------------------------------------------
// Index pages

// Decoded pages compared entry by entry.
bool SamePage(const TPage& a, const TPage& b) {
  if (a.PageType != b.PageType || a.Count() != b.Count() || a.Left != b.Left || a.Right != b.Right ||
      a.ByteSize != b.ByteSize)
    return false;
  for (int i = 1; i <= a.Count(); ++i) {
    if (std::memcmp(a.Key(i), b.Key(i), a.KeyLength) != 0 || a.Value(i) != b.Value(i)) return false;
    if (!a.IsLeaf() && a.SubCount(i) != b.SubCount(i)) return false;
  }
  return true;
}

// One page image in one compression mode: decoded, encoded again and decoded
// once more, which must give the same page; then edited.
void PageCodec(const uint8_t* image, TIndexDesc desc, uint8_t compression, bool encrypted, TRunOutcome& out) {
  desc.Compression = compression;
  TPage page;
  page.Setup(kPageSize, 1, desc);
  if (!page.Decode(image, encrypted)) return;
  std::vector<uint8_t> encoded(kPageSize);
  if (page.Encode(encoded.data(), encrypted)) {
    TPage again;
    again.Setup(kPageSize, 1, desc);
    if (!again.Decode(encoded.data(), encrypted)) Finding("an encoded page does not decode");
    if (!SamePage(page, again)) Finding("a page does not decode as it was encoded");
    std::vector<uint8_t> twice(kPageSize);
    if (!again.Encode(twice.data(), encrypted) || twice != encoded) Finding("a page encodes differently the second time");
  }
  if (page.Count() == 0) return;
  std::vector<uint8_t> key(page.Key(page.Count()), page.Key(page.Count()) + desc.KeyLength);
  std::optional<TKeyContext> ctx;
  if (Try(out, [&] { ctx.emplace(desc, 1, std::vector<TFieldDesc>{}, nullptr, kTableName); })) {
    Try(out, [&] {
      bool equal = false;
      page.Search(*ctx, key.data(), TPageSearch::Insert, &equal);
      int32_t before = 0;
      page.Search(*ctx, key.data(), TPageSearch::Exists, &equal, &before);
    });
  }
  // Edits keep the page encodable unless it overflows.
  if (!key.empty()) key.back() ^= 0x5A;
  page.InsertEntry(1, key.data(), 77, 3);
  page.RemoveEntry(page.Count());
  page.RecomputeCompression();
  if (!page.Overflows() && !page.Encode(encoded.data(), encrypted)) Finding("a page that fits does not encode");
  TPage right;
  right.Setup(2 * kPageSize, 1, desc);
  right.PageType = page.PageType;
  page.MoveLastTo(right, page.Count() / 2);
  right.MoveFirstTo(page, right.Count() / 3);
  if (!page.Overflows() && !page.Encode(encoded.data(), encrypted)) Finding("a page that fits does not encode");
  if (!right.Overflows() && !right.Encode(encoded.data(), encrypted)) Finding("a page that fits does not encode");
}

// Keys of the tree, in order, through the leaf chain (bounded).
std::vector<std::vector<uint8_t>> TreeKeys(TIndexTree& tree, size_t bound) {
  std::vector<std::vector<uint8_t>> keys;
  for (TTreePosition p = tree.AtOrdinal(1); p.Valid() && keys.size() < bound; p = tree.Next(p)) keys.push_back(tree.KeyAt(p));
  return keys;
}

}  // namespace

// ---------------------------------------------------------------------------
// Framing

std::vector<uint8_t> PackZeroRuns(const std::vector<uint8_t>& image) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < image.size();) {
    if (image[i] != 0) {
      out.push_back(image[i++]);
      continue;
    }
    size_t run = 0;
    while (i + run < image.size() && image[i + run] == 0 && run < 256) ++run;
    out.push_back(0);
    out.push_back(static_cast<uint8_t>(run - 1));
    i += run;
  }
  return out;
}

std::vector<uint8_t> UnpackZeroRuns(const uint8_t* data, size_t size, size_t limit) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < size && out.size() < limit; ++i) {
    if (data[i] != 0) {
      out.push_back(data[i]);
      continue;
    }
    const size_t run = i + 1 < size ? size_t{data[++i]} + 1 : 1;
    out.resize(std::min(limit, out.size() + run), 0);
  }
  return out;
}

std::vector<uint8_t> FrameTable(const TTableImages& images) {
  std::vector<uint8_t> out{images.Options};
  for (const std::vector<uint8_t>* image : {&images.Data, &images.Index, &images.Blob}) {
    const std::vector<uint8_t> packed = PackZeroRuns(*image);
    AppendU32(out, static_cast<uint32_t>(packed.size()));
    out.insert(out.end(), packed.begin(), packed.end());
  }
  return out;
}

TTableImages UnframeTable(const uint8_t* data, size_t size) {
  TTableImages images;
  if (size == 0) return images;
  images.Options = data[0];
  size_t at = 1;
  for (std::vector<uint8_t>* image : {&images.Data, &images.Index, &images.Blob}) {
    if (size - at < 4) break;
    const size_t length = std::min<size_t>(ReadU32(data + at), size - at - 4);
    at += 4;
    *image = UnpackZeroRuns(data + at, length);
    at += length;
  }
  return images;
}

void ScrambleTableImages(TTableImages& images) {
  std::vector<uint8_t>& dat = images.Data;
  if (dat.size() < static_cast<size_t>(kDataHeaderSize)) return;
  const TDataHeader header = TDataHeader::Decode(dat.data());
  // The descriptors are one unit whose length counts modulo 65536.
  const size_t descriptors = size_t{header.FieldCount} * kFieldDescSize;
  const size_t available = dat.size() - kDataHeaderSize;
  ScrambleData(dat.data() + kDataHeaderSize, std::min(descriptors % 65536, available));
  if (header.RecordSize > 0) {
    for (size_t at = kDataHeaderSize + descriptors; at < dat.size(); at += header.RecordSize)
      ScrambleData(dat.data() + at, std::min<size_t>(header.RecordSize, dat.size() - at));
  }
  for (size_t at = 0; at < images.Index.size(); at += kPageSize)
    ScrambleData(images.Index.data() + at, std::min<size_t>(kPageSize, images.Index.size() - at));
  std::vector<uint8_t>& blb = images.Blob;
  ScrambleData(blb.data(), std::min<size_t>(kBlobHeaderSize, blb.size()));
  const uint64_t blockSize = header.EffectiveBlockSize();
  if (blockSize <= static_cast<uint64_t>(kBlockHeaderSize)) return;
  for (uint64_t at = kBlobHeaderSize; at < blb.size(); at += blockSize) {
    const size_t left = blb.size() - static_cast<size_t>(at);
    ScrambleData(blb.data() + at, std::min<size_t>(kBlockHeaderSize, left));
    if (left > kBlockHeaderSize)
      ScrambleData(blb.data() + at + kBlockHeaderSize,
                   std::min<size_t>(static_cast<size_t>(blockSize) - kBlockHeaderSize,
                                    left - kBlockHeaderSize));
  }
}

// ---------------------------------------------------------------------------
// Targets

TRunOutcome RunOpenTable(const uint8_t* data, size_t size) {
  const TTableImages images = UnframeTable(data, size);
  TTableRun run;
  run.Options = images.Options;
  return RunTableFiles(images, run);
}

TRunOutcome RunScrambledTable(const uint8_t* data, size_t size) {
  TTableImages images = UnframeTable(data, size);
  if (images.Data.size() >= static_cast<size_t>(kDataHeaderSize)) {
    // The input holds the plain images of an encrypted table: the flag is
    // set, and a table without a password is given one.
    images.Data[86] = 1;
    if (images.Data[87] == 0) {
      const std::string password = ScrambledText("fuzz");
      images.Data[87] = static_cast<uint8_t>(password.size());
      std::memcpy(images.Data.data() + 88, password.data(), password.size());
    }
    ScrambleTableImages(images);
  }
  TTableRun run;
  run.Options = images.Options;
  run.Scrambled = true;
  return RunTableFiles(images, run);
}

TRunOutcome RunIndexPages(const uint8_t* data, size_t size) {
  TRunOutcome out;
  if (size < 6) return out;
  const uint8_t flags = data[0];
  TIndexDesc desc;
  desc.Name = "fuzz";
  desc.KeyLength = static_cast<uint16_t>(1 + (data[1] | data[2] << 8) % kMaxPageKeyLength);
  desc.Compression = flags & 3;
  desc.Unique = (flags & 4) != 0 ? 1 : 0;
  desc.Descending = (flags & 8) != 0 ? 1 : 0;
  const bool encrypted = (flags & 16) != 0;
  const bool edits = (flags & 32) == 0;
  std::vector<uint8_t> pages = UnpackZeroRuns(data + 6, size - 6, size_t{kMaxPages} * kPageSize);
  const int pageCount = std::max<int>(1, static_cast<int>((pages.size() + kPageSize - 1) / kPageSize));
  pages.resize(static_cast<size_t>(pageCount) * kPageSize, 0);

  // Every page in every compression mode.
  for (int p = 0; p < pageCount && p < 8; ++p)
    for (uint8_t mode = 0; mode < 4; ++mode) PageCodec(pages.data() + p * kPageSize, desc, mode, false, out);

  // The pages as one index of a page store: check, walk, edit, check again.
  TMemoryPageStore store(kTableName, encrypted);
  TIndexDesc& stored = store.Header().Indexes[1];
  stored = desc;
  store.Header().SecondaryCount = 1;
  for (int p = 0; p < pageCount; ++p) {
    TPage* page = store.AllocatePage(1);
    store.ReleasePage(page);
  }
  for (int p = 0; p < pageCount; ++p) {
    uint8_t* image = store.Image((p + 1) * kPageSize);
    if (image == nullptr) Finding("an allocated page has no image");
    std::memcpy(image, pages.data() + p * kPageSize, kPageSize);
    if (encrypted) ScrambleData(image, kPageSize);
  }
  auto position = [&](uint8_t selector) { return selector == 255 ? 0 : (1 + selector % pageCount) * kPageSize; };
  stored.RootPage = position(data[3]);
  stored.FreePage = position(data[4]);
  // A descriptor no index can have ends the run as the engine refuses it.
  std::optional<TKeyContext> context;
  if (!Try(out, [&] { context.emplace(stored, 1, std::vector<TFieldDesc>{}, nullptr, kTableName); })) return out;
  const TKeyContext& ctx = *context;
  TIndexTree tree(store, ctx);
  const size_t bound = static_cast<size_t>(pageCount) * kPageEntryBytes + 16;

  bool sound = false;
  std::vector<std::vector<uint8_t>> keys;
  Try(out, [&] {
    const TIndexCheckResult check = CheckIndexTree(store, ctx);
    const std::vector<std::string> free = CheckFreeChain(store, 1, &check.Pages);
    out.VerifyFindings += static_cast<int>(check.Findings.size() + free.size());
    sound = check.Ok() && free.empty();
  });
  Try(out, [&] {
    tree.EntryCount();
    keys = TreeKeys(tree, bound);
    std::vector<uint8_t> probe(desc.KeyLength, 0);
    tree.LowerBound(probe.data());
    tree.UpperBound(probe.data());
    std::fill(probe.begin(), probe.end(), uint8_t{0xFF});
    tree.LowerBound(probe.data());
    tree.UpperBound(probe.data());
    for (const auto& k : keys) {
      tree.LowerBound(k.data());
      tree.UpperBound(k.data());
      if (keys.size() > 64) break;
    }
  });
  if (store.PagesInUse() != 0) Finding("a tree operation kept a page in use");
  if (!edits) return out;

  // New keys: the existing ones with their last byte changed, and keys made
  // of the input's bytes; half of them deleted again.
  const int wanted = data[5] % 97;
  std::vector<std::vector<uint8_t>> added;
  for (int i = 0; i < wanted; ++i) {
    std::vector<uint8_t> k(desc.KeyLength, 0);
    if (!keys.empty()) k = keys[static_cast<size_t>(i) % keys.size()];
    const size_t at = (static_cast<size_t>(i) * 131 + 7) % k.size();
    k[at] = static_cast<uint8_t>(k[at] + 1 + i);
    if (6 + static_cast<size_t>(i) < size) k[k.size() - 1] ^= data[6 + i];
    bool inserted = false;
    Try(out, [&] {
      if (tree.KeyExists(k.data())) return;
      tree.InsertKey(k.data(), 1000 + i);
      inserted = true;
    });
    if (inserted) added.push_back(k);
  }
  for (size_t i = 0; i < added.size(); i += 2) Try(out, [&] { tree.DeleteKey(added[i].data()); });
  if (store.PagesInUse() != 0) Finding("a tree edit kept a page in use");

  if (sound) {
    // A sound tree stays sound through inserts and deletes, and holds what
    // was put in.
    const TIndexCheckResult check = CheckIndexTree(store, ctx);
    const std::vector<std::string> free = CheckFreeChain(store, 1, &check.Pages);
    if (!check.Ok() || !free.empty()) Finding("inserts and deletes damaged a sound index tree");
    for (size_t i = 1; i < added.size(); i += 2)
      if (!tree.KeyExists(added[i].data())) Finding("an inserted key is missing from a sound index tree");
    for (size_t i = 0; i < added.size(); i += 2)
      if (tree.KeyExists(added[i].data())) Finding("a deleted key is still in a sound index tree");
  }
  return out;
}

TRunOutcome RunBlobChains(const uint8_t* data, size_t size) {
  TRunOutcome out;
  if (size < 3) return out;
  const uint8_t options = data[0];
  const uint32_t blockSize = (options & kBlobOwnBlockSize) != 0 ? 64 + 4u * data[1] : 512;
  const size_t records = std::min<size_t>(data[2], (size - 3) / 16);
  const uint8_t* refs = data + 3;

  // The data file: id Integer, note Memo, data Blob, one record per
  // reference pair; the index file is laid down anew at open.
  std::vector<TFieldDesc> fields(3);
  fields[0].FieldNumber = 1;
  fields[0].Name = "id";
  fields[0].Type = ftInteger;
  fields[0].PhysicalSize = 4;
  fields[0].RecordOffset = kSlotFieldsOffset;
  fields[1].FieldNumber = 2;
  fields[1].Name = "note";
  fields[1].Type = ftBlob;
  fields[1].SubType = fstMemo;
  fields[1].PhysicalSize = 8;
  fields[1].RecordOffset = kSlotFieldsOffset + 5;
  fields[2].FieldNumber = 3;
  fields[2].Name = "data";
  fields[2].Type = ftBlob;
  fields[2].PhysicalSize = 8;
  fields[2].RecordOffset = kSlotFieldsOffset + 14;
  const uint16_t recordSize = kSlotFieldsOffset + 23;

  TDataHeader header;
  header.BlobBlockSize = blockSize;
  header.RecordSize = recordSize;
  header.FieldCount = 3;
  header.BlobFieldCount = 2;
  header.NextRecordNumber = static_cast<int32_t>(records) + 1;
  header.LastAutoIncValue = static_cast<int32_t>(records);
  int32_t lastId = 0;
  for (size_t r = 0; r < records; ++r) {
    lastId = std::max({lastId, GetI32(refs + r * 16 + 4), GetI32(refs + r * 16 + 12)});
  }
  header.LastBlobId = lastId;

  TTableImages images;
  images.Options = kOptNoIndexFile | ((options & kBlobExclusive) != 0 ? kOptExclusive : 0) |
                   ((options & kBlobWrites) != 0 ? kOptWrites : 0) | ((options & kBlobRepair) != 0 ? kOptRepair : 0);
  std::vector<uint8_t>& dat = images.Data;
  dat.assign(kDataHeaderSize + 3 * kFieldDescSize + records * recordSize, 0);
  header.Encode(dat.data());
  for (size_t f = 0; f < fields.size(); ++f) fields[f].Encode(dat.data() + kDataHeaderSize + f * kFieldDescSize);
  for (size_t r = 0; r < records; ++r) {
    uint8_t* slot = dat.data() + kDataHeaderSize + 3 * kFieldDescSize + r * recordSize;
    const int32_t number = static_cast<int32_t>(r + 1);
    PutI32(slot + 1, number);
    PutI32(slot + 5, number);
    slot[kSlotFieldsOffset] = 1;
    PutI32(slot + kSlotFieldsOffset + 1, number);
    for (int b = 0; b < 2; ++b) {
      uint8_t* area = slot + kSlotFieldsOffset + 5 + 9 * b;
      const int32_t first = GetI32(refs + r * 16 + 8 * b);
      area[0] = first != 0 ? 1 : 0;
      PutI32(area + 1, first);
      PutI32(area + 5, GetI32(refs + r * 16 + 8 * b + 4));
    }
  }
  const size_t blobAt = 3 + records * 16;
  images.Blob = UnpackZeroRuns(data + blobAt, size - blobAt);

  TTableRun run;
  run.Options = images.Options;
  if ((options & kBlobScrambled) != 0) {
    images.Data[86] = 1;
    const std::string password = ScrambledText("fuzz");
    images.Data[87] = static_cast<uint8_t>(password.size());
    std::memcpy(images.Data.data() + 88, password.data(), password.size());
    ScrambleTableImages(images);
    run.Scrambled = true;
  }
  // Per record, from its references: leave it, give the note a new length
  // (growing or shrinking its chain), empty both values, or delete it.
  run.Writes = [&](TDataCursor& c, const std::vector<std::vector<uint8_t>>&, TRunOutcome& result) {
    std::vector<uint8_t> row(c.RecordSize(), 0);
    if (!Try(result, [&] { c.SelectIndexNumber(kNoIndex); c.GotoFirst(); })) return;
    const uint32_t capacity = blockSize - 18;
    for (size_t r = 0; r < records && r < static_cast<size_t>(kMaxWalk); ++r) {
      bool more = true;
      Try(result, [&] { more = c.GetNext(row.data()) == 0; });
      if (!more) break;
      const uint32_t seed = ReadU32(refs + r * 16 + 4) ^ ReadU32(refs + r * 16 + 8);
      switch (seed % 4) {
        case 1:
          Try(result, [&] {
            if (c.GetCurrent(row.data(), true) != 0) return;
            WriteBlobs(c, row, (seed >> 2) % (3 * capacity + 5), result);
            c.ModifyRecord(row.data());
          });
          break;
        case 2:
          Try(result, [&] {
            if (c.GetCurrent(row.data(), true) != 0) return;
            WriteBlobs(c, row, 0, result);
            c.ModifyRecord(row.data());
          });
          break;
        case 3:
          Try(result, [&] { c.DeleteRecord(); });
          break;
        default:
          break;
      }
      Try(result, [&] { c.CloseAllBlobs(); });
      Try(result, [&] { c.UnlockRecord(); });
    }
  };
  return RunTableFiles(images, run);
}

}  // namespace tessel::fuzz
