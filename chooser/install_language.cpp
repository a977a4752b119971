// Installing the chosen language and starting the product.
#include "files.h"
#include "language_chooser.h"
#include "system.h"

namespace {

// Writes "langue.ini"; false when it cannot be created or the line is cut
// short (a partial name would send the update client to a wrong catalogue).
bool record_choice(const std::string& name) {
  if (!file_create(1, "langue.ini")) return false;
  const std::string line = name + ".txt";
  const std::size_t written = file_write_line(line);
  file_close(1);
  return written == line.size() + 2;
}

}  // namespace

void install_language(const std::string& name) {
  if (record_choice(name)) {
    // Missing help files are no reason to stop: the old ones stay.
    file_copy(name + ".chm", "aide.chm");
    file_copy(name + ".htm", "bon.htm");
  } else {
    // \351 is the e acute (0xE9); an octal escape stops after three digits.
    message_box("", "Erreur cr\351ation fichier langue.ini", message_ok);
  }
  run_program("tessarin.exe");
}
