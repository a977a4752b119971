// System services on POSIX.
//
// Paths arrive with backslashes and are mapped to slashes here. There is no
// shell "Open" verb: run_program starts the file itself as a program (see
// there), so documents cannot be opened on this backend.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "folder_listing.h"
#include "handle_owner.h"
#include "posix/headless.h"
#include "posix/posix_path.h"
#include "system.h"
#include "system_rules.h"

// The dynamic loader searches neither the program's folder nor the current
// one.
void restrict_library_search() {}

std::string environment_variable(const std::string& name) {
  if (name.empty() || name.find('=') != std::string::npos) return {};
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return {};
  std::string text = value;
  // Same bound as the Windows backend's buffer.
  if (text.size() > 254) return {};
  return text;
}

namespace {

void close_descriptor(int fd) {
  ::close(fd);
}
constexpr int no_descriptor() {
  return -1;
}
// Closes a descriptor on scope exit.
using unique_fd = handle_owner<int, close_descriptor, no_descriptor>;

bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t put = ::write(fd, data, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

bool is_executable_file(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

std::string absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char buffer[4096];
  if (getcwd(buffer, sizeof buffer) == nullptr) return path;
  return std::string(buffer) + "/" + path;
}

}  // namespace

// The closest equivalent of the shell's "Open" on a program: the file
// (backslashes mapped to slashes, relative to the caller's current folder)
// is executed directly, with the parameters split by the command-line rules
// into its arguments and argv[0] the file as given, in the working folder
// chosen by the same rule as on Windows. Only an executable regular file can
// be opened; a document gives 0. The result is non-zero once the program
// image has been loaded (exec succeeded). Flag 2 (hidden) has no meaning
// here. Without flag 1 the program is started through an intermediate
// process that ends at once, so it never stays behind as a zombie.
int run_program(const std::string& file, const std::string& parameters, const std::string& folder,
                int flags) {
  if (file.empty()) return 0;
  const std::string program = absolute(posix_path(file));
  if (!is_executable_file(program)) return 0;
  const std::string directory = posix_path(run_folder(file, folder));

  // Everything the child needs is made before fork: between fork and exec
  // only async-signal-safe calls are allowed.
  std::vector<std::string> arguments = split_command_line(parameters);
  arguments.insert(arguments.begin(), posix_path(file));
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);

  // Reports the child's exec failure: the pipe closes on a successful exec.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return 0;
  unique_fd read_end(report[0]), write_end(report[1]);
  const bool wait = (flags & run_wait) != 0;

  const pid_t child = fork();
  if (child < 0) return 0;
  if (child == 0) {
    read_end.reset();
    int failure = 0;
    pid_t runner = 0;
    if (!wait) runner = fork();  // the intermediate process ends at once
    if (runner == 0) {
      if (!directory.empty() && chdir(directory.c_str()) != 0) {
        failure = errno;
      } else {
        execv(program.c_str(), argv.data());
        failure = errno;
      }
      if (::write(write_end.get(), &failure, sizeof failure) < 0) _exit(127);
      _exit(127);
    }
    if (runner < 0) {
      failure = errno;
      if (::write(write_end.get(), &failure, sizeof failure) < 0) _exit(127);
    }
    _exit(0);
  }
  write_end.reset();

  int failure = 0;
  ssize_t got;
  do {
    got = ::read(read_end.get(), &failure, sizeof failure);
  } while (got < 0 && errno == EINTR);
  const bool started = got == 0;  // closed by exec without a report

  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return started ? 1 : 0;
}

int file_delete(const std::string& path) {
  if (path.empty()) return 0;
  return ::unlink(posix_path(path).c_str()) == 0 ? 1 : 0;
}

// The copy is written beside the destination under a temporary name and
// renamed over it only once complete, so a copy that fails part-way (a read
// error, a full disk) leaves the previous destination as it was and no
// partial file behind.
int file_copy(const std::string& source, const std::string& destination) {
  if (source.empty() || destination.empty()) return 0;
  unique_fd in(::open(posix_path(source).c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) return 0;
  struct stat from;
  if (fstat(in.get(), &from) != 0 || !S_ISREG(from.st_mode)) return 0;
  // A file copied onto itself is refused, as the platform does.
  struct stat to;
  const std::string target = posix_path(destination);
  if (::stat(target.c_str(), &to) == 0) {
    if (to.st_dev == from.st_dev && to.st_ino == from.st_ino) return 0;
    if (S_ISDIR(to.st_mode)) return 0;
  }
  const std::size_t slash = target.rfind('/');
  std::string temporary =
      (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + ".copy.XXXXXX";
  unique_fd out(mkostemp(temporary.data(), O_CLOEXEC));
  if (out.get() < 0) return 0;
  const auto fail = [&] {
    out.reset();
    ::unlink(temporary.c_str());
    return 0;
  };
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(in.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail();
    if (got == 0) break;
    if (!write_all(out.get(), buffer, static_cast<std::size_t>(got))) return fail();
  }
  // The copy keeps the source's permission bits (an executable stays one),
  // and is on disk before it takes the destination's name.
  if (fchmod(out.get(), from.st_mode & 0777) != 0 || fsync(out.get()) != 0) return fail();
  out.reset();
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return 0;
  }
  return 1;
}

std::int64_t file_size(const std::string& path) {
  const std::optional<std::string> lookup = size_lookup_path(path);
  if (!lookup) return -1;
  struct stat info;
  if (::stat(posix_path(*lookup).c_str(), &info) != 0) return -1;
  if (S_ISDIR(info.st_mode)) return -2;
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(info.st_size) & 0xFFFFFFFFu);
}

namespace {

// The matching entries are listed at once; the folder is not held open
// between calls.
class listed_folder : public folder_listing {
 public:
  struct entry {
    std::string name;
    bool folder = false;
  };
  std::vector<entry> entries;

  bool next(std::string& name, bool& folder) override {
    if (next_ >= entries.size()) return false;
    name = entries[next_].name;
    folder = entries[next_].folder;
    ++next_;
    return true;
  }

 private:
  std::size_t next_ = 0;
};

}  // namespace

std::unique_ptr<folder_listing> list_folder(const std::string& search) {
  // The pattern may hold a folder part of its own, as on Windows.
  const std::string wanted = posix_path(search);
  const std::size_t slash = wanted.rfind('/');
  const std::string directory = slash == std::string::npos ? std::string(".")
                                : slash == 0               ? std::string("/")
                                                           : wanted.substr(0, slash);
  const std::string name_pattern = slash == std::string::npos ? wanted : wanted.substr(slash + 1);

  auto listing = std::make_unique<listed_folder>();
  if (DIR* dir = ::opendir(directory.c_str())) {
    while (const dirent* d = ::readdir(dir)) {
      const std::string name = d->d_name;
      if (!wildcard_match(name_pattern, name)) continue;
      struct stat info;
      const std::string full = directory + "/" + name;
      const bool is_folder = ::stat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
      listing->entries.push_back({name, is_folder});
    }
    ::closedir(dir);
  }
  if (listing->entries.empty()) return nullptr;
  return listing;
}

namespace {

struct thread_call {
  thread_procedure procedure;
  int argument;
};

void* thread_entry(void* parameter) {
  const thread_call call = *static_cast<thread_call*>(parameter);
  delete static_cast<thread_call*>(parameter);
  call.procedure(call.argument);
  return nullptr;
}

}  // namespace

// POSIX threads commit their stacks on demand; the size stays the default.
std::uintptr_t thread_start(thread_procedure procedure, int argument) {
  if (procedure == nullptr) return 0;
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return 0;
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  auto* call = new thread_call{procedure, argument};
  pthread_t thread;
  const int error = pthread_create(&thread, &attributes, thread_entry, call);
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    delete call;
    return 0;
  }
  const auto handle = static_cast<std::uintptr_t>(thread);
  return handle != 0 ? handle : 1;
}

void delay(int milliseconds) {
  if (milliseconds <= 0) return;
  timespec rest{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
}

void process_end(int exit_code) {
  headless::process_ending(exit_code);
  std::fflush(nullptr);
  _exit(exit_code);
}
