#include "TesselSide.h"

#include <sys/stat.h>

#include <cstring>
#include <stdexcept>

#include "engine/storage/DataTable.h"
#include "engine/storage/Formats.h"
#include "engine/storage/PageCache.h"
#include "engine/storage/TableStructure.h"

namespace bench {
namespace {

uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

}  // namespace

void CreateTesselTable(const std::string& dir) {
  using tessel::FieldDefinition;
  tessel::TTableStructure s;
  s.Fields = {FieldDefinition(1, "sitetype", tessel::ftString, 30),
              FieldDefinition(2, "siteurl", tessel::ftString, 100),
              FieldDefinition(3, "sitename", tessel::ftString, 60),
              FieldDefinition(4, "login", tessel::ftString, 30),
              FieldDefinition(5, "password", tessel::ftString, 30),
              FieldDefinition(6, "note", tessel::ftBlob, 0, tessel::fstMemo)};
  s.Fields[1].Required = 1;
  s.Secondary = {tessel::IndexDefinition("siteurl", {2}, true)};
  tessel::TDataTable::CheckStructure(s, true, kTesselTable);
  tessel::TDataTable table(dir, kTesselTable);
  table.CreateFiles(s);
  table.CloseFiles();
}

uint64_t TesselFileBytes(const std::string& dir) {
  return FileSize(dir + kTesselTable + ".DAT") + FileSize(dir + kTesselTable + ".IDX") +
         FileSize(dir + kTesselTable + ".BLB");
}

uint64_t TesselCacheBytes(const std::string& dir) {
  TesselEnv env(dir, false);
  auto cursor = env.Open(false);
  tessel::TDataTable& t = *cursor->Table();
  // The secondary indexes and the system index each have a page cache.
  const uint64_t indexes = t.Index().Header.SecondaryCount + 1u + (t.Index().Header.NoPrimaryIndex ? 0u : 1u);
  return uint64_t(t.Data().NominalRecordCapacity()) * t.Data().RecordSize() +
         indexes * tessel::TPageCache::kNominalCapacity * tessel::kPageSize +
         uint64_t(t.Blob().NominalCacheCapacity()) * t.Blob().BlockSize;
}

TesselEnv::TesselEnv(const std::string& dir, bool forceBufferFlush)
    : directory_(&session_.OpenDirectory("", dir)) {
  session_.ForceBufferFlush = forceBufferFlush;
}

TesselEnv::~TesselEnv() { session_.ReleaseDirectory(directory_); }

std::unique_ptr<tessel::TDataCursor> TesselEnv::Open(bool exclusive) {
  auto cursor = std::make_unique<tessel::TDataCursor>(*directory_);
  cursor->SetTableName(kTesselTable);
  cursor->SetExclusive(exclusive);
  cursor->SetOpenIndexChooser([](tessel::TDataCursor&) { return std::string("siteurl"); });
  cursor->Open();
  return cursor;
}

SiteImage::SiteImage(tessel::TDataCursor& cursor)
    : cursor_(cursor), image_(cursor.RecordSize(), 0), value_(256, 0) {
  type = cursor.FieldNumber("sitetype");
  url = cursor.FieldNumber("siteurl");
  name = cursor.FieldNumber("sitename");
  login = cursor.FieldNumber("login");
  password = cursor.FieldNumber("password");
  note = cursor.FieldNumber("note");
}

void SiteImage::Put(int field, const std::string& text) {
  std::memset(value_.data(), 0, value_.size());
  std::memcpy(value_.data(), text.data(), std::min(text.size(), value_.size() - 1));
  cursor_.PutFieldValue(field, image_.data(), value_.data());
}

void SiteImage::Fill(const Site& site) {
  cursor_.InitRecord(image_.data());
  Put(type, site.sitetype);
  Put(url, site.siteurl);
  Put(name, site.sitename);
  Put(login, site.login);
  Put(password, site.password);
  if (cursor_.OpenBlob(note, image_.data(), tessel::kBlobOpenReadWrite) != 0 ||
      cursor_.WriteBlob(note, image_.data(), 0, static_cast<uint32_t>(site.note.size()), site.note.data()) != 0)
    throw std::runtime_error("BLOB write refused");
}

void SiteImage::Insert() {
  // As the record set posts: the cursor then stands on the new record.
  cursor_.InsertRecord(image_.data(), true);
  cursor_.CloseBlob(note, image_.data());
}

void SiteImage::Key(const std::string& siteurl) {
  cursor_.BlankRecord(image_.data());
  Put(url, siteurl);
}

void SiteImage::SetLogin(const std::string& text) { Put(login, text); }

std::string SiteImage::Text(int field) const {
  uint8_t value[256] = {};
  if (cursor_.GetFieldValue(field, image_.data(), value)) return {};
  return std::string(reinterpret_cast<const char*>(value));
}

void SiteImage::Read(Site& site) {
  site.sitetype = Text(type);
  site.siteurl = Text(url);
  site.sitename = Text(name);
  site.login = Text(login);
  site.password = Text(password);
  site.note.clear();
  if (cursor_.GetFieldValue(note, image_.data(), nullptr)) return;
  if (cursor_.OpenBlob(note, image_.data(), tessel::kBlobOpenRead) != 0) throw std::runtime_error("BLOB open refused");
  uint32_t size = 0;
  cursor_.BlobSize(note, image_.data(), &size);
  site.note.resize(size);
  uint32_t got = 0;
  cursor_.ReadBlob(note, image_.data(), 0, size, site.note.data(), &got);
  site.note.resize(got);
  cursor_.CloseBlob(note, image_.data());
}

}  // namespace bench
