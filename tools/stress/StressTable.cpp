#include "StressTable.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/core/Exceptions.h"
#include "engine/base/TesselError.h"
#include "engine/storage/Formats.h"

namespace tesselstress {
namespace {

uint64_t SplitMix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

constexpr const char* kSessionName = "stress";

}  // namespace

bool PrepareWorkDirectory(std::string& dir, const std::string& prefix, bool& made) {
  made = false;
  if (dir.empty()) {
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      return false;
    }
    dir = pattern;
    made = true;
  }
  if (dir.back() != '/') dir += '/';
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) {
    std::fprintf(stderr, "%s: %s\n", dir.c_str(), error.message().c_str());
    return false;
  }
  return true;
}

uint64_t Mix(uint64_t a, uint64_t b, uint64_t c, uint64_t d) {
  return SplitMix(SplitMix(SplitMix(SplitMix(a) ^ b) ^ c) ^ d);
}

tessel::TTableStructure StressStructure() {
  using tessel::FieldDefinition;
  using tessel::IndexDefinition;
  tessel::TTableStructure s;
  s.Fields = {FieldDefinition(1, "id", tessel::ftInteger),         FieldDefinition(2, "owner", tessel::ftInteger),
              FieldDefinition(3, "version", tessel::ftInteger),    FieldDefinition(4, "writer", tessel::ftInteger),
              FieldDefinition(5, "seq", tessel::ftInteger),        FieldDefinition(6, "tag", tessel::ftString, 12),
              FieldDefinition(7, "payload", tessel::ftString, 40),
              FieldDefinition(8, "note", tessel::ftBlob, 0, tessel::fstMemo)};
  s.Primary = IndexDefinition("", {1}, true);
  s.Secondary = {IndexDefinition(kStampIndex, {4, 5}, true), IndexDefinition(kTagIndex, {6}, false)};
  s.BlobBlockSize = 512;
  return s;
}

void CreateStressTable(const std::string& dir, const std::string& name) {
  tessel::TTableStructure s = StressStructure();
  tessel::TDataTable::CheckStructure(s, true, name);
  tessel::TDataTable table(dir, name);
  table.Settings.Exclusive = true;
  table.CreateFiles(s);
  table.FlushTable(false, true, true);
  table.CloseFiles(true);
}

Row MakeRow(int32_t id, int32_t version, int32_t writer, int32_t seq) {
  Row row;
  row.Id = id;
  row.Owner = id / kKeysPerOwner;
  row.Version = version;
  row.Writer = writer;
  row.Seq = seq;
  const uint64_t h = Mix(static_cast<uint64_t>(id), static_cast<uint64_t>(version), static_cast<uint64_t>(writer),
                         static_cast<uint64_t>(seq));
  row.Tag = "t" + std::to_string(h % 37);
  char payload[48];
  std::snprintf(payload, sizeof payload, "%016llx/%d/%d/%d", static_cast<unsigned long long>(h), version, writer,
                seq);
  row.Payload = payload;
  // One note in five is empty (a null BLOB); the others span 1 to 4 blocks.
  const uint64_t n = (h >> 16) % 1800;
  if ((h >> 40) % 5 != 0) {
    row.Note.resize(n + 1);
    uint64_t x = h;
    for (char& c : row.Note) {
      x = SplitMix(x);
      c = static_cast<char>('a' + x % 26);
    }
  }
  return row;
}

std::string CheckRow(const Row& row) {
  const Row expected = MakeRow(row.Id, row.Version, row.Writer, row.Seq);
  std::string problems;
  auto differs = [&](const char* name, bool same) {
    if (!same) problems += std::string(problems.empty() ? "" : ", ") + name;
  };
  differs("owner", row.Owner == expected.Owner);
  differs("tag", row.Tag == expected.Tag);
  differs("payload", row.Payload == expected.Payload);
  differs("note", row.Note == expected.Note);
  if (problems.empty()) return {};
  return "row " + std::to_string(row.Id) + " (version " + std::to_string(row.Version) + ", writer " +
         std::to_string(row.Writer) + ", seq " + std::to_string(row.Seq) + ") has a wrong " + problems +
         (row.Note == expected.Note ? std::string()
                                    : " (note of " + std::to_string(row.Note.size()) + " bytes, expected " +
                                          std::to_string(expected.Note.size()) + ")");
}

StressConnection::StressConnection(const std::string& tablePath, const Options& options) {
  session_.SetSessionName(kSessionName);
  session_.SetForceBufferFlush(options.ForceBufferFlush);
  session_.SetKeepConnections(false);
  session_.SetLockRetryCount(static_cast<uint8_t>(options.LockRetryCount));
  session_.SetLockWaitTime(static_cast<uint16_t>(options.LockWaitTime));
  session_.SetStrictChangeDetection(options.StrictChangeDetection);
  session_.SetFileSystem(options.FileSystem);
  table_.SetSessionName(kSessionName);
  table_.SetTableName(tablePath);
  table_.SetExclusive(options.Exclusive);
  table_.SetIndexName("");
  table_.Open();
}

StressConnection::~StressConnection() {
  try {
    CancelQuietly();
    table_.Close();
  } catch (...) {
  }
}

bool StressConnection::Find(int32_t id) { return table_.FindKey({dataset::Variant(id)}); }

Row StressConnection::Read() {
  Row row;
  row.Id = table_.FieldByName("id").AsInteger();
  row.Owner = table_.FieldByName("owner").AsInteger();
  row.Version = table_.FieldByName("version").AsInteger();
  row.Writer = table_.FieldByName("writer").AsInteger();
  row.Seq = table_.FieldByName("seq").AsInteger();
  row.Tag = table_.FieldByName("tag").AsString();
  row.Payload = table_.FieldByName("payload").AsString();
  dataset::TField& note = table_.FieldByName("note");
  if (!note.IsNull()) row.Note = note.AsString();
  return row;
}

void StressConnection::Assign(const Row& row) {
  table_.FieldByName("id").SetAsInteger(row.Id);
  table_.FieldByName("owner").SetAsInteger(row.Owner);
  table_.FieldByName("version").SetAsInteger(row.Version);
  table_.FieldByName("writer").SetAsInteger(row.Writer);
  table_.FieldByName("seq").SetAsInteger(row.Seq);
  table_.FieldByName("tag").SetAsString(row.Tag);
  table_.FieldByName("payload").SetAsString(row.Payload);
  dataset::TField& note = table_.FieldByName("note");
  if (row.Note.empty()) {
    note.Clear();
  } else {
    note.SetAsString(row.Note);
  }
}

void StressConnection::CancelQuietly() {
  try {
    if (table_.State() == dataset::dsEdit || table_.State() == dataset::dsInsert) table_.Cancel();
  } catch (...) {
  }
}

uint16_t EngineCode(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const tessel::ETesselEngineError& e) {
    return e.Code();
  } catch (...) {
    return 0;
  }
}

std::string ErrorText(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown exception";
  }
}

VerifyAccess::VerifyAccess(const std::string& dir, const std::string& name, bool exclusive) {
  table_ = std::make_unique<tessel::TDataTable>(dir, name);
  table_->Settings.Exclusive = exclusive;
  table_->Settings.WriteThrough = true;
  table_->OpenFiles();
  open_ = true;
  try {
    table_->ValidateHeaders(true);
    // A re-created index file is put right only with the table to itself.
    if (exclusive && table_->IndexFileRecreated()) table_->RepairRecreatedIndex();
  } catch (...) {
    open_ = false;
    try {
      table_->CloseFiles(false);
    } catch (...) {
    }
    throw;
  }
}

void VerifyAccess::Close() {
  if (!open_) return;
  open_ = false;
  table_->CloseFiles(true);
}

VerifyAccess::~VerifyAccess() {
  try {
    Close();
  } catch (...) {
  }
}

}  // namespace tesselstress
