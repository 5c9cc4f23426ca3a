// Another program on the same catalogue: a process forked before the
// window opens the table (so it shares none of the window's open files),
// which opens the table through the engine with a session of its own for
// each command the test sends it, carries the command out, closes the
// table and answers "ok" or the error's message. It ends with _exit, so
// nothing it inherited is destroyed twice.
//
//   TOtherProgram other(program_ / "linksdata.dat");   // before CreateForm
//   EXPECT_EQ(other.Set("https://apnews.com/", "sitename", "AP"), "ok");
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/components/Session.h"
#include "engine/components/TesselTable.h"

namespace marrowick::testing {

class TOtherProgram {
 public:
  explicit TOtherProgram(std::string tablePath) {
    int down[2];
    int up[2];
    if (::pipe(down) != 0 || ::pipe(up) != 0) {
      ADD_FAILURE() << "pipe";
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(down[1]);
      ::close(up[0]);
      Serve(tablePath, down[0], up[1]);
      ::_exit(0);
    }
    ::close(down[0]);
    ::close(up[1]);
    to_ = down[1];
    from_ = up[0];
  }
  ~TOtherProgram() {
    if (pid_ <= 0) return;
    ::close(to_);  // end of input: the child ends
    int status = 0;
    ::waitpid(pid_, &status, 0);
    ::close(from_);
  }
  TOtherProgram(const TOtherProgram&) = delete;
  TOtherProgram& operator=(const TOtherProgram&) = delete;

  // Sets one field of the site with this URL.
  std::string Set(const std::string& url, const std::string& field, const std::string& value) {
    return Send("set\t" + url + "\t" + field + "\t" + value);
  }
  std::string Delete(const std::string& url) { return Send("delete\t" + url); }
  std::string Add(const std::string& category, const std::string& name, const std::string& url) {
    return Send("add\t" + category + "\t" + name + "\t" + url);
  }
  // Opens the table for its own use and keeps it so until Release.
  std::string HoldExclusive() { return Send("hold"); }
  std::string Release() { return Send("release"); }

 private:
  std::string Send(const std::string& line) {
    const std::string message = line + "\n";
    if (::write(to_, message.data(), message.size()) != static_cast<ssize_t>(message.size())) return "write failed";
    return ReadLine(from_);
  }

  static std::string ReadLine(int fd) {
    std::string line;
    char c = 0;
    while (::read(fd, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }

  static std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
      parts.push_back(line.substr(start, tab - start));
    parts.push_back(line.substr(start));
    return parts;
  }

  // The child: one table open per command (or held while "hold" stands).
  static void Serve(const std::string& tablePath, int in, int out) {
    tessel::TComponentOwner owner;
    auto session = std::make_unique<tessel::TTesselSession>(&owner);
    session->SetSessionName("other program");
    session->SetForceBufferFlush(true);
    session->SetKeepConnections(false);
    std::unique_ptr<tessel::TTesselTable> held;
    for (std::string line; !(line = ReadLine(in)).empty();) {
      const std::vector<std::string> parts = Split(line);
      std::string answer = "ok";
      try {
        if (parts[0] == "release") {
          held.reset();
        } else {
          auto table = std::make_unique<tessel::TTesselTable>(&owner);
          table->SetSessionName("other program");
          table->SetIndexFieldNames("siteurl");
          table->SetTableName(tablePath);
          if (parts[0] == "hold") table->SetExclusive(true);
          table->Open();
          if (parts[0] == "hold") {
            held = std::move(table);
          } else if (parts[0] == "add") {
            table->Append();
            table->FieldByName("sitetype").SetAsString(parts.at(1));
            table->FieldByName("sitename").SetAsString(parts.at(2));
            table->FieldByName("siteurl").SetAsString(parts.at(3));
            table->Post();
          } else {
            if (!table->Locate("siteurl", dataset::Variant(parts.at(1)), {})) throw std::runtime_error("no such site");
            if (parts[0] == "delete") {
              table->Delete();
            } else {
              table->Edit();
              table->FieldByName(parts.at(2)).SetAsString(parts.at(3));
              table->Post();
            }
          }
          if (table) table->Close();
        }
      } catch (const std::exception& error) {
        answer = error.what();
      }
      answer += "\n";
      if (::write(out, answer.data(), answer.size()) < 0) break;
    }
    held.reset();
  }

  pid_t pid_ = -1;
  int to_ = -1;
  int from_ = -1;
};

}  // namespace marrowick::testing
