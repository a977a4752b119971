// The definitions version probe.
#include "definitions_probe.h"

#include <cstdint>
#include <string>

#include "client_state.h"
#include "files.h"
#include "pack.h"
#include "settings.h"
#include "system.h"

int probe_definitions_version() {
  definitions_version.clear();
  definitions_date.clear();
  if (!pack_open("eas")) return 0;

  // Without "Temp" the copy would land in the root folder of the drive;
  // that counts as a folder that does not exist.
  const std::string temp = environment_variable("Temp");
  if (temp.empty()) {
    pack_close();
    return 0;
  }
  const std::string copy = temp + "\\DEF000056";

  // Only the first entry is read; nothing (a missing or malformed entry)
  // gives an empty copy. An entry the settings reader would refuse anyway
  // is not even decoded: a few bytes may declare gigabytes.
  const std::uint8_t* entry = pack_next_entry(settings_max_size);
  const std::int64_t size = pack_entry_size();

  const bool created = file_create_private(1, copy) != 0;
  bool written = created;
  if (created) {
    if (entry != nullptr && size > 0) {
      written = file_write_bytes(entry, static_cast<std::size_t>(size)) != 0;
    }
    file_close(1);
  }
  pack_close();
  // A copy that could not be made is neither read nor deleted: a file of
  // that name which could not be replaced is not ours.
  if (!created) return 0;

  int found = 0;
  if (written && settings_open(copy)) {
    definitions_version = settings_read("version_definition", "");
    definitions_date = settings_read("date", "");
    found = 1;
  }
  settings_close();
  file_delete(copy);
  return found;
}
