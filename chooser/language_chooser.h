// The language chooser: lists the languages delivered in "langues\" with
// their flags, records the user's choice in "langue.ini", installs the
// language's help file and page, and starts the product.
//
// Process-wide state is written by the main thread before the title
// animation starts and only read afterwards; the animation itself touches
// nothing but the list's selection and the window title.
#pragma once

#include <cstddef>
#include <string>

// Numbers of the chooser's toolkit objects.
constexpr int language_window = 0;
constexpr int language_list = 0;
constexpr int confirm_button = 1;
constexpr int translator_link = 2;
constexpr int go_icon = 0;

// The current folder at start-up, ending with exactly one backslash; empty
// when the current folder could not be read into 254 characters.
extern std::string start_folder;

// The embedded go icon (an icon file image: 16 x 16, 32 bits with alpha).
extern const unsigned char go_icon_data[];
extern const std::size_t go_icon_size;

// Runs the chooser from start-up to its end. Does not return: the process
// ends with exit code 0 on every path.
[[noreturn]] void run_language_chooser();

// ---- Start-up helpers (pure) ----------------------------------------------

// The folder with one backslash appended unless it already ends with one;
// the empty text stays empty.
std::string folder_with_backslash(const std::string& folder);

// The language name of a language file: its name without the last four
// characters (the ".txt"); the empty text for four characters or fewer.
std::string language_name_of(const std::string& file_name);

// ---- The language window ----------------------------------------------------

// Opens window 0, makes it topmost and creates the list, the confirm button
// and the translator link. Returns 0 in all cases; window_handle(0) tells
// whether the window opened.
int open_language_window();

// Fills the list from start_folder + "langues\*.txt" in the scan's order,
// one entry per language file whose flag icon loads.
void fill_language_list();

// The title animation's state, private to its thread: an indent that grows
// by one space per step up to 84 spaces, then starts again at one.
class title_animation {
 public:
  static constexpr std::size_t widest_indent = 84;
  // The next title for the given selection (empty: "Select Language").
  std::string step(const std::string& selected_name);

 private:
  std::string indent_;
};

// Thread procedure: sets the title of window 0 every 100 ms, for ever. The
// argument is ignored.
int run_title_animation(int argument);

// ---- The choice ---------------------------------------------------------------

// Records the choice in "langue.ini", puts name.chm and name.htm in place as
// "aide.chm" and "bon.htm", and starts "tessarin.exe" in every case.
void install_language(const std::string& name);
