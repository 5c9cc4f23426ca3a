#include "bookmarks/ChromiumBookmarks.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

#include "bookmarks/BookmarkText.h"

namespace bookmarks {

namespace {

using nlohmann::json;

std::string Text(const json& node, const char* member) {
  auto it = node.find(member);
  return it != node.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// Nesting deeper than this is no browser's and would only exhaust the stack.
constexpr int kMaxDepth = 200;

}  // namespace

TBookmarkList ParseChromiumBookmarks(std::string_view text) {
  json document = json::parse(text.begin(), text.end(), nullptr, false);
  if (document.is_discarded() || !document.is_object()) throw EBookmarkError("not a bookmark file (no JSON object)");
  auto roots = document.find("roots");
  if (roots == document.end() || !roots->is_object()) throw EBookmarkError("not a bookmark file (no \"roots\")");

  TBookmarkList list;
  std::vector<std::string> path;
  std::function<void(const json&)> walk = [&](const json& node) {
    if (!node.is_object()) return;
    const std::string type = Text(node, "type");
    if (type == "url") {
      auto url = node.find("url");
      if (url == node.end() || !url->is_string() || url->get<std::string>().empty()) {
        ++list.MissingUrl;
        return;
      }
      std::optional<std::string> address = SiteAddress(url->get<std::string>());
      if (!address) {
        ++list.NotSites;
        return;
      }
      list.Add(path, TBookmark{TitleFromUtf8(Text(node, "name")), std::move(*address)});
      return;
    }
    auto children = node.find("children");
    if (children == node.end() || !children->is_array() || path.size() >= kMaxDepth) return;
    path.push_back(TitleFromUtf8(Text(node, "name")));
    for (const json& child : *children) walk(child);
    path.pop_back();
  };
  std::vector<std::string> order = {"bookmark_bar", "other", "synced"};
  for (const auto& [key, value] : roots->items()) {
    if (std::find(order.begin(), order.end(), key) == order.end()) order.push_back(key);
  }
  for (const std::string& key : order) {
    auto root = roots->find(key);
    if (root != roots->end()) walk(*root);
  }
  return list;
}

TBookmarkList ReadChromiumBookmarks(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EBookmarkError("Cannot open file \"" + path + "\". " + std::strerror(errno));
  std::ostringstream bytes;
  bytes << in.rdbuf();
  try {
    return ParseChromiumBookmarks(bytes.str());
  } catch (const EBookmarkError& e) {
    throw EBookmarkError("\"" + path + "\" is " + e.what() + ".");
  }
}

}  // namespace bookmarks
