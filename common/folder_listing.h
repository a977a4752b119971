// What each backend provides for directory scans: one enumeration of a
// folder's entries. The numbered scans over it are portable (directory_scans.cpp).
#pragma once

#include <memory>
#include <string>

class folder_listing {
 public:
  virtual ~folder_listing() = default;
  // The next matching entry; false at the end.
  virtual bool next(std::string& name, bool& folder) = 0;
};

// The entries that match search (a folder part, then a name pattern
// with * and ?); nothing when none matches or the folder cannot be read.
std::unique_ptr<folder_listing> list_folder(const std::string& search);
