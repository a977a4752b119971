// The update client's start-up, main loop and end.
#pragma once

// Runs the update client; ends the process through end_client.
int run_update_client();
