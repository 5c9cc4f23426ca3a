// tessel: the command-line tool for people who keep Tessel tables.
#include <CLI/CLI.hpp>

#include <iostream>
#include <optional>
#include <string>

#include "Commands.h"
#include "engine/components/TesselError.h"

int main(int argc, char** argv) {
  CLI::App app{"Keeps Tessel tables: creates, inspects and empties them.\n"
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

  CLI11_PARSE(app, argc, argv);

  try {
    if (create->parsed()) return tesseltool::CreateTable(table, structure, force);
    if (info->parsed()) return tesseltool::PrintInfo(table, password);
    if (empty->parsed()) return tesseltool::EmptyTable(table, password);
  } catch (const tessel::ETesselEngineError& e) {
    std::cerr << e.what() << '\n';
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "tessel: " << e.what() << '\n';
    return 2;
  }
  return 2;
}
