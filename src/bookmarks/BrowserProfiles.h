// The browsers installed for a user, found in their usual profile folders
// under the home directory, and one entry point that reads a bookmark file
// of any of the three kinds.
//
//   Firefox family  ~/.mozilla/firefox/*/places.sqlite (also the snap and
//                   flatpak homes), ~/.librewolf/*/, ~/.waterfox/*/
//   Chromium family ~/.config/{chromium,google-chrome,
//                   BraveSoftware/Brave-Browser,microsoft-edge,vivaldi}/*/Bookmarks
//                   (also the chromium snap's home)
#pragma once

#include <string>
#include <vector>

#include "bookmarks/Bookmarks.h"

namespace bookmarks {

enum class TBrowserFamily { Firefox, Chromium };

struct TBrowserProfile {
  std::string Browser;  // "Firefox", "LibreWolf", "Google Chrome", ...
  std::string Profile;  // "default-release", "Default", "Profile 1", ...
  std::string File;     // the profile's places.sqlite or Bookmarks
  TBrowserFamily Family = TBrowserFamily::Firefox;

  // "Firefox (default-release)".
  std::string DisplayName() const { return Browser + " (" + Profile + ")"; }
};

// The profiles that have a bookmark file, by browser then profile name.
// home empty: $HOME. Folders that cannot be read are passed over.
std::vector<TBrowserProfile> FindBrowserProfiles(const std::string& home = {});

// Reads a Netscape bookmark file, a places.sqlite or a Chromium Bookmarks
// file, telling them apart by their first bytes. EBookmarkError when the
// file cannot be read or is none of them.
TBookmarkList ReadBookmarkFile(const std::string& path);

}  // namespace bookmarks
