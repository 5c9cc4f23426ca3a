// The Tessel side of the benchmarks: the catalogue table laid down in a
// directory, cursors opened through an engine session, and record images
// filled from and read into Site values.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SiteData.h"
#include "engine/cursor/DataCursor.h"
#include "engine/storage/DataDirectory.h"

namespace bench {

// The table's name inside its directory.
inline const std::string kTesselTable = "sites";

// Lays down the files of an empty catalogue table (dir ends in '/').
void CreateTesselTable(const std::string& dir);
// Bytes of the table's three files.
uint64_t TesselFileBytes(const std::string& dir);
// Bytes the table's caches hold at their nominal sizes: record slots, the
// index pages of each index in use, BLOB blocks.
uint64_t TesselCacheBytes(const std::string& dir);

// An engine session with one directory object.
class TesselEnv {
 public:
  TesselEnv(const std::string& dir, bool forceBufferFlush);
  ~TesselEnv();
  TesselEnv(const TesselEnv&) = delete;
  TesselEnv& operator=(const TesselEnv&) = delete;

  // An open cursor on the table with the siteurl index selected.
  std::unique_ptr<tessel::TDataCursor> Open(bool exclusive);

 private:
  tessel::TDataSession session_;
  tessel::TDataDirectory* directory_;
};

// A record image of one cursor, written from and read into Site values.
class SiteImage {
 public:
  explicit SiteImage(tessel::TDataCursor& cursor);

  uint8_t* data() { return image_.data(); }

  // A fresh image holding the site, its note in a BLOB buffer.
  void Fill(const Site& site);
  // Inserts the filled image and lets go of its BLOB buffer.
  void Insert();
  // A blank image with only the url set (a search key).
  void Key(const std::string& url);
  void SetLogin(const std::string& login);
  // Every field of the image read back, the note from the BLOB file.
  void Read(Site& site);
  std::string Text(int field) const;

  int url = 0, type = 0, name = 0, login = 0, password = 0, note = 0;

 private:
  void Put(int field, const std::string& text);

  tessel::TDataCursor& cursor_;
  std::vector<uint8_t> image_;
  std::vector<uint8_t> value_;
};

}  // namespace bench
