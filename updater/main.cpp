// Entry point of the update client.
#include "system.h"
#include "update_client.h"

int main(int argc, char** argv) {
  restrict_library_search();
  record_program_arguments(argc, argv);
  return run_update_client();
}
