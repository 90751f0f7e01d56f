// corepack: packs files into a "CORE" resource image, or lists one.
//
//   corepack -o OUT [--append HOST] INPUT...
//   corepack --list IMAGE
//
// An INPUT is a file (stored under its base name), a folder (every regular
// file of its tree, stored under its path relative to the folder, sorted), or
// NAME=FILE (stored under NAME). With --append, OUT is HOST's bytes followed by
// the image and the 4-byte trailer. Names must be lower case: the reader
// lower-cases every request, so an upper-case name could never be found.
// --list reads the image through the engine's reader (corefile), as the show does.
// Exit status: 0 done, 1 a failure (said on stderr), 2 a bad command line.
//
// Writing: OUT is replaced whole, through a temporary file made beside it and
// renamed over it, so that a failed run never leaves half an image for the
// build to pick up. Only a regular file is ever replaced. A symbolic link is
// followed to the regular file it leads to, and that file is replaced (the
// temporary goes beside it): the link stays a link and leads to the new image,
// as a shell's ">" would write through it; a link that leads nowhere is
// refused rather than made to lead somewhere. A FIFO, a device, a socket or a
// folder given as OUT is refused and left as it is. --list likewise reads only
// a regular file (a FIFO would block the open). Run-time refusals exit with 1,
// a bad command line with 2.
//
// Threads: one thread.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "core/core.h"
#include "corepack_format.h"

namespace fs = std::filesystem;

// ---- Constants -------------------------------------------------------------------

namespace {

constexpr const char* kMsgNotRegularOut =
    "corepack: will not replace %s: it is %s; the output must be a regular file or a new name\n";
constexpr const char* kMsgLinkToNothing = "corepack: will not write through %s: the link leads to no file (%s)\n";
constexpr const char* kMsgCannotWrite = "corepack: cannot write %s: %s\n";
constexpr const char* kMsgCannotTemp = "corepack: cannot create a temporary file in %s: %s\n";
constexpr const char* kMsgCannotRename = "corepack: cannot rename %s to %s: %s\n";
constexpr const char* kMsgCannotReadWhy = "corepack: cannot read %s: %s\n";
constexpr const char* kMsgNotRegularIn = "corepack: cannot read %s: it is %s, not a regular file\n";
constexpr const char* kMsgCannotReadHost = "corepack: cannot read host file %s: %s\n";
constexpr const char* kTempSuffix = ".XXXXXX";  // mkstemp's pattern, after "." and the output's name

}  // namespace

// ---- Internal functions ----------------------------------------------------------

namespace {

void usage(FILE* to) {
  fprintf(to,
          "usage: corepack -o OUT [--append HOST] INPUT...\n"
          "       corepack --list IMAGE\n"
          "INPUT is a file (stored under its base name), a folder (its tree, names\n"
          "relative to the folder) or NAME=FILE. Names must be lower case.\n");
}

// ---- Command line ------------------------------------------------------------------
constexpr const char* kProgram = "corepack";

enum Option { kOutput, kAppend, kList, kHelp, kNumOptions };
const s_coreoptiondef kOptions[kNumOptions] = {
    {"output", true, 'o'}, {"append", true}, {"list", true}, {"help", false, 'h'}};

// What the command line asks for.
struct s_packcommand {
  std::string out, host, list;
  std::vector<std::string> inputs;
};

// Takes one option or operand into the s_packcommand at `context`.
bool take_option(void* context, int found, const char* value, char* /*message*/, int /*capacity*/) {
  s_packcommand* command = static_cast<s_packcommand*>(context);
  switch (found) {
    case kOutput: command->out = value; break;
    case kAppend: command->host = value; break;
    case kList: command->list = value; break;
    default: command->inputs.push_back(value); break;  // an INPUT
  }
  return true;
}

// Reads the command line into command. Returns -1 to go on, else the exit
// status: 0 after --help, CORE_EXIT_USAGE after a mistake (said on stderr).
int read_command_line(int argc, const char* const* argv, s_packcommand* command) {
  const int answered =
      core_readcommandline(kProgram, argc, argv, kOptions, kNumOptions, true, usage, take_option, command);
  if (answered >= 0) return answered;
  if (command->list.empty() && command->out.empty())
    return core_refuseoption(kProgram, "give -o OUT with the inputs, or --list IMAGE");
  return -1;
}

// Only a regular file is read: stat (which follows links, as the open does)
// comes first, so that a FIFO or a device never blocks the open. False, with
// the reason in *why, when the file cannot be read.
bool read_file(const fs::path& path, std::vector<uint8_t>* bytes, std::string* why) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    *why = strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *why = std::string("it is ") + core_filetypename(info.st_mode) + ", not a regular file";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *why = strerror(errno);
    return false;
  }
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) *why = "read error";
  return !in.bad();
}

bool add_entry(std::vector<PackEntry>* entries, const std::string& name, const fs::path& source) {
  std::string why = corepack_check_name(name);
  if (!why.empty()) {
    fprintf(stderr, "corepack: refusing \"%s\" (from %s): %s\n", name.c_str(), source.c_str(), why.c_str());
    return false;
  }
  for (const PackEntry& e : *entries) {
    if (e.name == name) fprintf(stderr, "corepack: warning: \"%s\" is stored twice; the first one wins\n", name.c_str());
  }
  PackEntry entry;
  entry.name = name;
  if (!read_file(source, &entry.data, &why)) {
    fprintf(stderr, kMsgCannotReadWhy, source.c_str(), why.c_str());
    return false;
  }
  entries->push_back(std::move(entry));
  return true;
}

bool add_input(std::vector<PackEntry>* entries, const std::string& input) {
  size_t equals = input.find('=');
  if (equals != std::string::npos && equals > 0) {
    return add_entry(entries, input.substr(0, equals), input.substr(equals + 1));
  }
  std::error_code ec;
  fs::path path(input);
  if (fs::is_directory(path, ec)) {
    std::vector<fs::path> files;
    for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      if (it->is_regular_file(ec)) files.push_back(it->path());
    }
    if (ec) {
      fprintf(stderr, "corepack: cannot walk %s: %s\n", input.c_str(), ec.message().c_str());
      return false;
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
      if (!add_entry(entries, file.lexically_relative(path).generic_string(), file)) return false;
    }
    return true;
  }
  // Anything else that exists goes to the reader, which refuses what is not a regular file.
  if (fs::exists(path, ec)) return add_entry(entries, path.filename().string(), path);
  fprintf(stderr, "corepack: no such file or folder: %s\n", input.c_str());
  return false;
}

int list_image(const char* image) {
  struct stat info;
  if (stat(image, &info) != 0) {
    fprintf(stderr, kMsgCannotReadWhy, image, strerror(errno));
    return 1;
  }
  if (!S_ISREG(info.st_mode)) {
    fprintf(stderr, kMsgNotRegularIn, image, core_filetypename(info.st_mode));
    return 1;
  }
  if (!std::ifstream(image, std::ios::binary)) {
    fprintf(stderr, kMsgCannotReadWhy, image, strerror(errno));
    return 1;
  }
  std::vector<ListedEntry> entries;
  std::string error;
  if (!corepack_list(image, &entries, &error)) {
    fprintf(stderr, "corepack: %s is not a valid image: %s\n", image, error.c_str());
    return 1;
  }
  printf("%-40s %10s %10s %11s\n", "name", "offset", "size", "hash");
  for (const ListedEntry& e : entries) printf("%-40s %10u %10u %11d\n", e.name.c_str(), e.offset, e.size, e.hash);
  printf("%zu files\n", entries.size());
  return 0;
}

// The file that `out` names and that the image replaces: `out` itself when
// it does not exist yet or is a regular file, the regular file a link leads
// to. False, with the reason printed, for anything else.
bool resolve_output(const std::string& out, std::string* target) {
  struct stat info;
  if (lstat(out.c_str(), &info) != 0) {
    if (errno != ENOENT) {
      fprintf(stderr, kMsgCannotWrite, out.c_str(), strerror(errno));
      return false;
    }
    *target = out;  // a new file
    return true;
  }
  if (S_ISREG(info.st_mode)) {
    *target = out;
    return true;
  }
  if (!S_ISLNK(info.st_mode)) {
    fprintf(stderr, kMsgNotRegularOut, out.c_str(), core_filetypename(info.st_mode));
    return false;
  }
  std::error_code ec;
  const fs::path final_target = fs::canonical(out, ec);  // every link on the way resolved
  if (ec) {
    fprintf(stderr, kMsgLinkToNothing, out.c_str(), ec.message().c_str());
    return false;
  }
  if (stat(final_target.c_str(), &info) != 0) {
    fprintf(stderr, kMsgLinkToNothing, out.c_str(), strerror(errno));
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    fprintf(stderr, kMsgNotRegularOut, out.c_str(), (std::string("a link to ") + core_filetypename(info.st_mode)).c_str());
    return false;
  }
  *target = final_target.string();
  return true;
}

bool write_all(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Writes host and image to a new temporary file beside `target` (a regular
// file or a new name, see resolve_output) and renames it over `target`. The
// new file keeps the permissions of the one it replaces (a new one gets
// 0666 less the umask). On any failure the temporary file is removed.
bool write_atomically(const std::string& target, const std::vector<uint8_t>& host, const std::vector<uint8_t>& image) {
  const fs::path path(target);
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  std::string temp = (folder / ("." + path.filename().string() + kTempSuffix)).string();
  const int fd = mkstemp(&temp[0]);  // O_EXCL: never follows a link planted at the name
  if (fd < 0) {
    fprintf(stderr, kMsgCannotTemp, folder.c_str(), strerror(errno));
    return false;
  }
  struct stat info;
  mode_t mode = 0;
  if (stat(target.c_str(), &info) == 0) {
    mode = info.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  bool written = fchmod(fd, mode) == 0 && write_all(fd, host) && write_all(fd, image);
  int error = written ? 0 : errno;
  if (close(fd) != 0 && written) {  // a full disk may show only here
    written = false;
    error = errno;
  }
  if (!written) {
    fprintf(stderr, kMsgCannotWrite, target.c_str(), strerror(error));
    unlink(temp.c_str());
    return false;
  }
  if (rename(temp.c_str(), target.c_str()) != 0) {
    fprintf(stderr, kMsgCannotRename, temp.c_str(), target.c_str(), strerror(errno));
    unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  core_keepstdio();  // with standard output closed, the image written could take its place
  s_packcommand command;
  const int answered = read_command_line(argc, argv, &command);
  if (answered >= 0) return answered;
  const std::string& out = command.out;
  const std::string& host = command.host;
  const std::vector<std::string>& inputs = command.inputs;
  if (!command.list.empty()) return list_image(command.list.c_str());

  std::string target;
  if (!resolve_output(out, &target)) return 1;

  std::vector<PackEntry> entries;
  for (const std::string& input : inputs) {
    if (!add_input(&entries, input)) return 1;
  }
  std::vector<uint8_t> host_bytes;
  std::string why;
  if (!host.empty() && !read_file(host, &host_bytes, &why)) {
    fprintf(stderr, kMsgCannotReadHost, host.c_str(), why.c_str());
    return 1;
  }
  uint64_t total = host_bytes.size() + 4;
  for (const PackEntry& e : entries) total += e.data.size() + e.name.size() + 12;
  if (total + 12 > UINT32_MAX) {
    fprintf(stderr, "corepack: image too large: positions are 32-bit\n");
    return 1;
  }
  std::vector<uint8_t> image =
      corepack_build(entries, static_cast<uint32_t>(host_bytes.size()), !host.empty());
  return write_atomically(target, host_bytes, image) ? 0 : 1;
}
