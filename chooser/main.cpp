// Entry point of the language chooser.
#include "language_chooser.h"
#include "system.h"

int main(int argc, char** argv) {
  restrict_library_search();
  record_program_arguments(argc, argv);
  run_language_chooser();
}
