// The temporary files (path + ".part") of the downloads in flight, kept for
// both download backends: the process ends right after the end of the
// download service, so a download cut off there never gets to remove its
// own temporary file, and the end removes it instead.
#pragma once

#include <functional>
#include <string>

// Calls create, which makes the temporary file part and says whether it did,
// and records part as in flight when it did. Once end_part_files has run,
// create is not called and the result is false. Serialised with
// end_part_files: a temporary file is either recorded before the end
// removes the recorded ones, or never made.
bool make_part_file(const std::string& part, const std::function<bool()>& create);

// The download that made part is over: part was renamed or deleted.
void forget_part_file(const std::string& part);

// Deletes every temporary file in flight and makes no new one from now on.
// Callable from any thread.
void end_part_files();
