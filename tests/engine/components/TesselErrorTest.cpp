#include "engine/base/TesselError.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/base/EngineMessages.h"

namespace tessel {
namespace {

std::string Raised(uint16_t code, std::string_view table = {}, std::string_view field = {},
                   std::string_view sql = {}, std::string_view index = {}) {
  try {
    RaiseEngineError(code, table, field, sql, index);
  } catch (const ETesselEngineError& e) {
    EXPECT_EQ(e.ErrorCount(), 1);
    EXPECT_EQ(e.Errors(0).ErrorCode, code);
    EXPECT_EQ(e.Code(), code);
    return e.what();
  }
  ADD_FAILURE() << "no exception";
  return {};
}

TEST(TesselError, MessagesFillPlaceholdersInTheirOrder) {
  EXPECT_EQ(Raised(ec::DuplicateKey, "linksdata.dat", {}, {}, "siteurl"),
            "Tessel Engine Error # 9729 Duplicate key found in index 'siteurl' of table "
            "'linksdata.dat'");
  EXPECT_EQ(Raised(ec::InvalidIndexField, "t", "7", {}, "byname"),
            "Tessel Engine Error # 10023 Invalid field number '7' specified in index 'byname' "
            "for table 't'");
  EXPECT_EQ(Raised(ec::FilterError, "t", {}, "bad token"),
            "Tessel Engine Error # 10051 Filter error for table 't' - bad token");
  EXPECT_EQ(Raised(ec::NotInitialized), "Tessel Engine Error # 10758 Engine not initialized");
  EXPECT_EQ(Raised(ec::OutOfMemory, "ignored"),
            "Tessel Engine Error # 11016 There is insufficient operating system memory "
            "available for the current operation");
}

TEST(TesselError, UnknownCodeNamesTheContextTable) {
  EXPECT_EQ(Raised(1234, "linksdata.dat"),
            "Tessel Engine Error # 1234 Unknown error occurred with table 'linksdata.dat'");
  // The code is printed as an unsigned 16-bit number.
  EXPECT_EQ(Raised(65535, "x"), "Tessel Engine Error # 65535 Unknown error occurred with table 'x'");
}

TEST(TesselError, EngineErrorIsADatabaseError) {
  try {
    RaiseEngineError(ec::RecordLocked, "t");
  } catch (const dataset::EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Tessel Engine Error # 10258 Record in table 't' is in use by another user");
    return;
  }
  FAIL();
}

TEST(TesselError, ReturnedCodeUsesTheLastContext) {
  ErrorContext::Set(ec::OK, "first.dat");
  try {
    RaiseReturnedCode(ec::RecordChanged);
  } catch (const ETesselEngineError& e) {
    EXPECT_EQ(e.Errors(0).Message, "Record has been changed or deleted by another user in table 'first.dat'");
  }
  // Raising clears what an earlier context held.
  ErrorContext::Set(ec::OK, "t", "f", "s", "i", 5);
  EXPECT_EQ(Raised(ec::EndOfFile, "u"), "Tessel Engine Error # 8706 End of file encountered in table 'u'");
  ErrorContextValues v = ErrorContext::Snapshot();
  EXPECT_EQ(v.FieldName, "");
  EXPECT_EQ(v.IndexName, "");
  EXPECT_EQ(v.OsError, 0);
  EXPECT_EQ(v.LastError, ec::EndOfFile);
}

TEST(TesselError, NamesAndMessagesAreCut) {
  const std::string longName(300, 'n');
  ErrorContext::Set(ec::OK, longName);
  EXPECT_EQ(ErrorContext::Snapshot().TableName.size(), 255u);
  const std::string message = ErrorContext::MessageFor(ec::HeaderCorrupt);
  EXPECT_EQ(message.size(), 254u);
  EXPECT_EQ(message.rfind("Header information corrupt in table 'nnn", 0), 0u);
}

TEST(TesselError, StringTableIsSortedAndComplete) {
  // Lookup is a binary search: every listed code must be found again.
  const uint16_t codes[] = {8705, 8711, 9221, 9498, 10006, 10031, 10241, 10498, 10758,
                            11047, 11949, 12035, 12292, 13060, 15878};
  for (uint16_t c : codes) EXPECT_NE(FindEngineMessage(c), nullptr) << c;
  EXPECT_EQ(FindEngineMessage(8704), nullptr);
  EXPECT_EQ(EngineMessageText(ec::TableExists), "The table '%s' already exists");
}

TEST(TesselError, ContextIsSafeAcrossThreads) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      const std::string name = "table" + std::to_string(t);
      for (int i = 0; i < 500; ++i) {
        ErrorContext::Set(ec::OK, name);
        const std::string m = ErrorContext::MessageFor(ec::ReadError);
        // Whatever thread set it last, the message is whole.
        EXPECT_EQ(m.rfind("Error reading from table 'table", 0), 0u);
      }
    });
  }
  for (auto& th : threads) th.join();
}

}  // namespace
}  // namespace tessel
