// The stand-in program of the native flow tests: appends one JSON line with
// its own file name, working folder and command line ($STANDIN_LOG, else
// standin.log in the working folder) and ends with exit code 0. The command
// line is argv joined as the programs' own entry records it (items holding
// blanks in double quotes). $STANDIN_DELAY_MS delays the write.
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "standin_record.h"

int main(int argc, char** argv) {
  std::string program = argc > 0 && argv[0] ? argv[0] : "";
  const std::size_t slash = program.rfind('/');
  if (slash != std::string::npos) program.erase(0, slash + 1);

  char folder[PATH_MAX];
  const std::string working = getcwd(folder, sizeof folder) ? folder : "";

  std::string command_line;
  for (int i = 0; i < argc; ++i) {
    const std::string item = argv[i] ? argv[i] : "";
    if (i > 0) command_line += ' ';
    command_line += (item.empty() || item.find(' ') != std::string::npos) ? '"' + item + '"' : item;
  }

  if (const char* delay = std::getenv("STANDIN_DELAY_MS")) {
    usleep(static_cast<useconds_t>(std::strtoul(delay, nullptr, 10) * 1000));
  }

  const char* log_variable = std::getenv("STANDIN_LOG");
  const std::string log = log_variable && *log_variable ? log_variable : "standin.log";
  const std::string line =
      standin_record(program, working, command_line, static_cast<unsigned long>(getpid()));
  const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return 1;
  const bool ok = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  close(fd);
  return ok ? 0 : 1;
}
