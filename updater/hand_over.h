// Download of the offered program and the hand-over to it.
#pragma once

// Downloads download_url as "vantrel.exe", starts it and ends the client.
// Returns only when the download failed (status line message_error, update button
// enabled again), or at once when another download of the offer is running.
void download_and_hand_over();

// Thread procedure for a click on the update button: runs
// download_and_hand_over off the user-interface thread, so that the window
// keeps answering and the progress bar keeps moving during the download.
int run_manual_download(int unused);

// True while a download of the offered program runs.
bool offer_download_running();
