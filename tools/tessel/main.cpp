// tessel: the command-line tool for people who keep Tessel tables.
#include <CLI/CLI.hpp>

#include <iostream>
#include <optional>
#include <string>

#include "Commands.h"
#include "VerifyCommand.h"
#include "engine/base/TesselError.h"
#include "platform/core/Windows1252.h"

int main(int argc, char** argv) {
  CLI::App app{"Keeps Tessel tables: creates, inspects and empties them, and reads and writes records.\n"
               "TABLE is a path whose last part is the table name; the extension is optional\n"
               "(linksdata, linksdata.dat and linksdata.DAT all name linksdata.DAT/.IDX/.BLB)."};
  app.require_subcommand(1);

  std::string table;
  std::string structure;
  bool force = false;
  std::optional<std::string> password;

  auto* create = app.add_subcommand("create", "Create a new, empty table from a structure file");
  create->add_option("TABLE", table, "The table to create")->required();
  create->add_option("--structure", structure, "The structure file (JSON)")->required();
  create->add_flag("--force", force, "Replace a table that already exists");

  auto* info = app.add_subcommand("info", "Print the table's headers, fields and indexes as JSON");
  info->add_option("TABLE", table, "The table")->required();
  info->add_option("--password", password, "The password of an encrypted table");

  auto* empty = app.add_subcommand("empty", "Remove every record, keeping fields and indexes (needs exclusive use)");
  empty->add_option("TABLE", table, "The table")->required();
  empty->add_option("--password", password, "The password of an encrypted table");

  bool repair = false;
  auto* verify = app.add_subcommand("verify", tesseltool::kVerifyCommandDescription);
  verify->add_option("TABLE", table, "The table")->required();
  verify->add_option("--password", password, "The password of an encrypted table");
  verify->add_flag("--repair", repair, "Fix what can be fixed (needs exclusive use)");
  verify->footer(tesseltool::kVerifyCommandFooter);

  // The data commands.
  tesseltool::DataOptions data;
  std::string index;
  std::string key;
  std::string assignments;
  std::string file;
  auto dataOptions = [&](CLI::App* command) {
    command->add_option("TABLE", table, "The table")->required();
    command->add_option("--password", data.Password, "The password of an encrypted table");
    command->add_flag("--exclusive", data.Exclusive, "Open the table for exclusive use");
    command->add_flag("--no-flush", data.NoFlush, "Do not write every change through to the disk at once");
    command->add_option("--lock-retries", data.LockRetryCount, "Retries after a refused record lock (default 15)")
        ->check(CLI::Range(0, 255));
    command->add_option("--lock-wait", data.LockWaitTime, "Milliseconds between the retries (default 100)")
        ->check(CLI::Range(0, 65535));
  };
  auto* dump = app.add_subcommand("dump", "Print every record as one JSON object per line");
  dataOptions(dump);
  dump->add_option("--index", index, "The index whose order to follow (default: the primary index)");
  auto* count = app.add_subcommand("count", "Print the number of records");
  dataOptions(count);
  auto* insert = app.add_subcommand("insert", "Append the records of a JSON-lines file");
  dataOptions(insert);
  insert->add_option("FILE", file, "One JSON object per line, field names as keys")->required();
  auto* update = app.add_subcommand("update", "Change the first record whose key in an index equals a value");
  dataOptions(update);
  update->add_option("--index", index, "The index to search")->required();
  update->add_option("--key", key, "The key: a JSON value, an array of values, or a plain string")->required();
  update->add_option("--set", assignments, "A JSON object of the fields to change")->required();
  auto* remove = app.add_subcommand("delete", "Delete the first record whose key in an index equals a value");
  dataOptions(remove);
  remove->add_option("--index", index, "The index to search")->required();
  remove->add_option("--key", key, "The key: a JSON value, an array of values, or a plain string")->required();

  CLI11_PARSE(app, argc, argv);

  // A password is text like every other the tool takes: typed in UTF-8,
  // kept in the table in Windows-1252.
  if (password) *password = tessel::Utf8ToCp1252(*password);
  if (data.Password) *data.Password = tessel::Utf8ToCp1252(*data.Password);

  try {
    if (create->parsed()) return tesseltool::CreateTable(table, structure, force);
    if (info->parsed()) return tesseltool::PrintInfo(table, password);
    if (empty->parsed()) return tesseltool::EmptyTable(table, password);
    if (verify->parsed()) return tesseltool::VerifyTableCommand(table, repair, password);
    if (dump->parsed()) return tesseltool::DumpTable(table, index, data);
    if (count->parsed()) return tesseltool::CountRecords(table, data);
    if (insert->parsed()) return tesseltool::InsertRecords(table, file, data);
    if (update->parsed()) return tesseltool::UpdateRecord(table, index, key, assignments, data);
    if (remove->parsed()) return tesseltool::DeleteRecord(table, index, key, data);
  } catch (const tessel::ETesselEngineError& e) {
    std::cerr << e.what() << '\n';
    return 1;
  } catch (const dataset::EDatabaseError& e) {
    std::cerr << "tessel: " << e.what() << '\n';
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "tessel: " << e.what() << '\n';
    return 2;
  }
  return 2;
}
