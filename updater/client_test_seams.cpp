// Storage of the update client's test seams.
#include "client_test_seams.h"

namespace {
client_test_seams seams_in_force;
}  // namespace

void set_client_test_seams(const client_test_seams& seams) {
  seams_in_force = seams;
}

const client_test_seams& active_client_test_seams() {
  return seams_in_force;
}
