#include "bookmarks/NetscapeFormat.h"

#include <unicode/ucnv.h>

#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

#include "bookmarks/BookmarkText.h"
#include "dataset/TextConvert.h"

namespace bookmarks {

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// The charset a META element names within the head of the file.
std::string DeclaredCharset(std::string_view html) {
  const std::string head = Lower(html.substr(0, 4096));
  const std::size_t at = head.find("charset=");
  if (at == std::string::npos) return {};
  std::size_t begin = at + 8;
  while (begin < head.size() && (head[begin] == '"' || head[begin] == '\'' || head[begin] == ' ')) ++begin;
  std::size_t end = begin;
  while (end < head.size() && (std::isalnum(static_cast<unsigned char>(head[end])) || head[end] == '-' ||
                               head[end] == '_' || head[end] == ':' || head[end] == '.')) {
    ++end;
  }
  return head.substr(begin, end - begin);
}

// The whole document in UTF-8.
std::string DocumentToUtf8(std::string_view bytes) {
  if (bytes.size() >= 3 && std::memcmp(bytes.data(), "\xEF\xBB\xBF", 3) == 0) return std::string(bytes.substr(3));
  std::string charset;
  if (bytes.size() >= 2 && (std::memcmp(bytes.data(), "\xFF\xFE", 2) == 0 || std::memcmp(bytes.data(), "\xFE\xFF", 2) == 0)) {
    charset = "utf-16";
  } else {
    charset = DeclaredCharset(bytes);
    if (charset == "utf-8" || charset == "utf8") return std::string(bytes);
    if (charset.empty()) charset = IsValidUtf8(bytes) ? "" : "windows-1252";
    // Latin-1 documents are taken as the Windows code page, as browsers do.
    if (charset == "iso-8859-1" || charset == "latin1" || charset == "us-ascii") charset = "windows-1252";
    if (charset.empty()) return std::string(bytes);
  }
  UErrorCode status = U_ZERO_ERROR;
  std::string out(bytes.size() * 3 + 16, '\0');
  const int32_t length = ucnv_convert("UTF-8", charset.c_str(), out.data(), static_cast<int32_t>(out.size()),
                                      bytes.data(), static_cast<int32_t>(bytes.size()), &status);
  if (U_FAILURE(status)) {
    // A charset the converter does not know: the bytes as they are.
    return std::string(bytes);
  }
  out.resize(static_cast<std::size_t>(length));
  return out;
}

struct TTag {
  std::string Name;  // lower case, with a leading '/' for an end tag
  std::string Href;
  bool HasHref = false;
  bool Complete = false;  // its '>' was found
};

// Reads the tag starting at html[at] == '<'; answers the position after it.
std::size_t ReadTag(std::string_view html, std::size_t at, TTag& tag) {
  std::size_t i = at + 1;
  std::size_t nameBegin = i;
  if (i < html.size() && html[i] == '/') ++i;
  while (i < html.size() && (std::isalnum(static_cast<unsigned char>(html[i])) || html[i] == '!' || html[i] == '-')) ++i;
  tag.Name = Lower(html.substr(nameBegin, i - nameBegin));
  tag.Href.clear();
  tag.HasHref = false;
  // Attributes up to the closing '>', quoted values may hold '>'.
  while (i < html.size() && html[i] != '>') {
    if (std::isspace(static_cast<unsigned char>(html[i])) || html[i] == '/') {
      ++i;
      continue;
    }
    std::size_t nameStart = i;
    while (i < html.size() && html[i] != '=' && html[i] != '>' && !std::isspace(static_cast<unsigned char>(html[i]))) ++i;
    const std::string name = Lower(html.substr(nameStart, i - nameStart));
    while (i < html.size() && std::isspace(static_cast<unsigned char>(html[i]))) ++i;
    std::string value;
    if (i < html.size() && html[i] == '=') {
      ++i;
      while (i < html.size() && std::isspace(static_cast<unsigned char>(html[i]))) ++i;
      if (i < html.size() && (html[i] == '"' || html[i] == '\'')) {
        const char quote = html[i++];
        const std::size_t end = html.find(quote, i);
        const std::size_t stop = end == std::string_view::npos ? html.size() : end;
        value = html.substr(i, stop - i);
        i = end == std::string_view::npos ? html.size() : end + 1;
      } else {
        std::size_t start = i;
        while (i < html.size() && html[i] != '>' && !std::isspace(static_cast<unsigned char>(html[i]))) ++i;
        value = html.substr(start, i - start);
      }
    }
    if (name == "href") {
      tag.Href = std::move(value);
      tag.HasHref = true;
    }
  }
  tag.Complete = i < html.size();
  return tag.Complete ? i + 1 : html.size();
}

class TParser {
 public:
  explicit TParser(std::string_view html) : html_(html) {}

  TBookmarkList Run() {
    std::size_t i = 0;
    while (i < html_.size()) {
      const std::size_t lt = html_.find('<', i);
      const std::size_t stop = lt == std::string_view::npos ? html_.size() : lt;
      if (capture_ != kNone) text_.append(html_.substr(i, stop - i));
      if (lt == std::string_view::npos) break;
      if (html_.compare(lt, 4, "<!--") == 0) {
        const std::size_t end = html_.find("-->", lt + 4);
        i = end == std::string_view::npos ? html_.size() : end + 3;
        continue;
      }
      TTag tag;
      i = ReadTag(html_, lt, tag);
      // A tag cut off by the end of the file is no element.
      if (tag.Complete) Element(tag);
    }
    EndCapture();
    return std::move(list_);
  }

 private:
  enum TCapture { kNone, kFolder, kLink };

  void Element(const TTag& tag) {
    const std::string& name = tag.Name;
    if (name == "/a" && capture_ == kLink) {
      EndCapture();
    } else if (name == "/h3" && capture_ == kFolder) {
      EndCapture();
    } else if (name == "a") {
      EndCapture();
      pendingFolder_.reset();
      capture_ = kLink;
      text_.clear();
      href_ = tag.Href;
      hasHref_ = tag.HasHref;
    } else if (name == "h3") {
      EndCapture();
      capture_ = kFolder;
      text_.clear();
    } else if (name == "dt") {
      EndCapture();
      pendingFolder_.reset();
    } else if (name == "dl") {
      EndCapture();
      stack_.push_back(pendingFolder_);
      pendingFolder_.reset();
    } else if (name == "/dl") {
      EndCapture();
      if (!stack_.empty()) stack_.pop_back();
      pendingFolder_.reset();
    } else if (name == "dd" || name == "hr" || name == "h1" || name == "/h1") {
      EndCapture();
    }
    // Any other element (p, b, img, ...) inside a title adds nothing.
  }

  void EndCapture() {
    const TCapture capture = capture_;
    capture_ = kNone;
    if (capture == kFolder) {
      pendingFolder_ = TitleFromUtf8(DecodeEntities(text_));
    } else if (capture == kLink) {
      const std::string href = DecodeEntities(href_);
      bool blank = true;
      for (char c : href) blank = blank && std::isspace(static_cast<unsigned char>(c));
      if (!hasHref_ || blank) {
        ++list_.MissingUrl;
        return;
      }
      std::optional<std::string> url = SiteAddress(href);
      if (!url) {
        ++list_.NotSites;
        return;
      }
      std::vector<std::string> path;
      for (const auto& folder : stack_) {
        if (folder) path.push_back(*folder);
      }
      list_.Add(path, TBookmark{TitleFromUtf8(DecodeEntities(text_)), std::move(*url)});
    }
  }

  std::string_view html_;
  TBookmarkList list_;
  // One entry per open DL: the folder it belongs to, none for the outermost.
  std::vector<std::optional<std::string>> stack_;
  std::optional<std::string> pendingFolder_;
  TCapture capture_ = kNone;
  std::string text_;
  std::string href_;
  bool hasHref_ = false;
};

}  // namespace

std::string TBookmarkFolder::PathText() const {
  std::string text;
  for (const std::string& name : Path) {
    if (!text.empty()) text += " / ";
    text += name;
  }
  return text;
}

int TBookmarkList::BookmarkCount() const {
  int count = 0;
  for (const TBookmarkFolder& folder : Folders) count += static_cast<int>(folder.Bookmarks.size());
  return count;
}

void TBookmarkList::Add(const std::vector<std::string>& path, TBookmark bookmark) {
  // Bookmarks come folder by folder: the last folder is nearly always the
  // one.
  for (auto it = Folders.rbegin(); it != Folders.rend(); ++it) {
    if (it->Path == path) {
      it->Bookmarks.push_back(std::move(bookmark));
      return;
    }
  }
  Folders.push_back(TBookmarkFolder{path, {std::move(bookmark)}});
}

TBookmarkList ParseNetscapeBookmarks(std::string_view html) {
  const std::string utf8 = DocumentToUtf8(html);
  return TParser(utf8).Run();
}

bool LooksLikeNetscapeBookmarks(std::string_view head) {
  const std::string lower = Lower(head.substr(0, 4096));
  if (lower.find("netscape-bookmark-file") != std::string::npos) return true;
  return lower.find("<dl") != std::string::npos && lower.find("<dt") != std::string::npos;
}

TBookmarkList ReadNetscapeBookmarksFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EBookmarkError("Cannot open file \"" + path + "\". " + std::strerror(errno));
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) throw EBookmarkError("Cannot read file \"" + path + "\". " + std::strerror(errno));
  const std::string html = bytes.str();
  if (!LooksLikeNetscapeBookmarks(html)) {
    throw EBookmarkError("\"" + path + "\" is not a bookmark file.");
  }
  return ParseNetscapeBookmarks(html);
}

}  // namespace bookmarks
