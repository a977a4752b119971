// The message catalogue and its built-in French texts (Windows-1252).
#include "message_catalogue.h"

#include <array>
#include <cstdint>
#include <string>

#include "client_state.h"
#include "files.h"
#include "system.h"

namespace {

constexpr int catalogue_entries = 15;
constexpr int catalogue_file = 0;

// Entries 12, 14 and 15 are read like the others but shown nowhere; their
// texts are kept for language files that follow this table line by line.
constexpr std::array<const char*, catalogue_entries> default_table = {
    "Vantrel",
    "Version disponible : ",
    "Bienvenue",
    "Version install\xE9 : ",
    "",
    "Recherche d'une mise \xE0 jour de Vantrel...",
    "T\xE9l\xE9"
    "chargement de la mise \xE0 jour de Vantrel...",
    "Recherche d'une mise \xE0 jour de Parvisol...",
    "Connexion Impossible, v\xE9rifiez votre PareFeu...",
    "Pas de mise \xE0 jour disponible",
    "Une mise \xE0 jour est disponible",
    "T\xE9l\xE9"
    "chargement de la mise \xE0 jour de Parvisol...",
    "Une erreur s'est produite",
    "La mise \xE0 jour a \xE9t\xE9 lanc\xE9"
    "e",
    "Fermer",
};

// A language file writes "|" where a text holds a tab.
std::string with_tabs(std::string text) {
  for (char& c : text) {
    if (c == '|') c = '\t';
  }
  return text;
}

}  // namespace

std::string default_message(int n) {
  if (n < 1 || n > catalogue_entries) return {};
  return default_table[static_cast<std::size_t>(n - 1)];
}

int load_message_catalogue(const std::string& path) {
  message_catalogue = {};
  const bool usable = !path.empty() && file_size(path) > 0;
  if (usable && file_open_read(catalogue_file, path)) {
    // A file with fewer lines leaves the later entries empty: the built-in
    // texts are not mixed in.
    for (int n = 1; n <= catalogue_entries; ++n) {
      message_catalogue[static_cast<std::size_t>(n)] = with_tabs(file_read_line());
    }
    file_close(catalogue_file);
    return 0;
  }
  for (int n = 1; n <= catalogue_entries; ++n) {
    message_catalogue[static_cast<std::size_t>(n)] = with_tabs(default_message(n));
  }
  return 0;
}
