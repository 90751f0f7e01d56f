// imagegen_main: the asset table and the command line.
//
//   imagegen [--jobs N] [--times] [--only FILE]... OUTDIR
//
// Paints every image of the asset table (or only the named ones) into OUTDIR,
// which is created if needed. Stale .png files in OUTDIR that the table does
// not name are removed, because the packer stores the whole folder. Prints one
// summary line: the count, the total bytes and the time taken; --times adds
// one line per image with its size and the milliseconds it took. Exit status 0
// when every image was written, 1 otherwise, 2 for a bad command line.
//
// The asset table itself lives in imagegen_table.cpp.
//
// Threads: the main thread parses arguments and starts up to --jobs worker
// threads (default 2); each worker claims recipes through an atomic index and
// paints, encodes and writes them on its own. The output does not depend on
// how many workers run or in which order they finish.
#include "imagegen.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "core/core.h"

// ---- Constants ------------------------------------------------------------------

namespace {

constexpr int kDefaultJobs = 2;  // worker threads; the build machine has two cores
constexpr int kMaxJobs = 16;

// ---- Internal functions ---------------------------------------------------------

constexpr const char* kProgram = "imagegen";

enum Option { kJobs, kTimes, kOnly, kHelp, kNumOptions };
const s_coreoptiondef kOptions[kNumOptions] = {
    {"jobs", true}, {"times", false}, {"only", true, 0, true}, {"help", false, 'h'}};

// What the command line asks for.
struct s_igcommand {
  int jobs = kDefaultJobs;
  bool times = false;
  std::set<std::string> only;
  const char* outdir = nullptr;
};

void usage(FILE* to) { std::fprintf(to, "usage: imagegen [--jobs N] [--times] [--only FILE]... OUTDIR\n"); }

// Takes one option or operand of the command line into the s_igcommand at
// `context`; false with a reason in message refuses it.
bool take_option(void* context, int found, const char* value, char* message, int capacity) {
  s_igcommand* command = static_cast<s_igcommand*>(context);
  switch (found) {
    case kJobs: {
      // Any count is taken and held to 1 to kMaxJobs.
      const int64_t jobs = core_parsecount(value, INT32_MAX);
      if (jobs < 0) return core_fail(message, capacity, "--jobs '%s' is not a whole number", value);
      command->jobs = static_cast<int>(std::clamp<int64_t>(jobs, 1, kMaxJobs));
      return true;
    }
    case kTimes: command->times = true; return true;
    case kOnly: command->only.insert(value); return true;
    default:  // the one operand, OUTDIR
      if (command->outdir) return core_fail(message, capacity, "one OUTDIR only: unexpected argument '%s'", value);
      command->outdir = value;
      return true;
  }
}

// Reads the command line into command. Returns -1 to go on, else the exit
// status: 0 after --help, CORE_EXIT_USAGE after a mistake (said on stderr).
int read_command_line(int argc, const char* const* argv, s_igcommand* command) {
  const int answered =
      core_readcommandline(kProgram, argc, argv, kOptions, kNumOptions, true, usage, take_option, command);
  if (answered >= 0) return answered;
  if (!command->outdir) return core_refuseoption(kProgram, "OUTDIR is needed");
  return -1;
}

// Removes .png files in dir that the table does not name.
void remove_stale(const std::filesystem::path& dir) {
  std::set<std::string> ours;
  for (int i = 0; i < ig_recipe_count(); ++i) ours.insert(ig_recipe_at(i)->file);
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file(ec) && entry.path().extension() == ".png" && !ours.count(name)) {
      std::filesystem::remove(entry.path(), ec);
    }
  }
}

}  // namespace

// ---- Public functions -----------------------------------------------------------

int main(int argc, char** argv) {
  s_igcommand command;
  const int answered = read_command_line(argc, argv, &command);
  if (answered >= 0) return answered;
  const int jobs = command.jobs;
  const bool times = command.times;
  const std::set<std::string>& only = command.only;
  const char* outdir = command.outdir;
  for (const std::string& name : only) {
    bool known = false;
    for (int r = 0; r < ig_recipe_count(); ++r) known = known || name == ig_recipe_at(r)->file;
    if (!known) {
      std::fprintf(stderr, "imagegen: no image named %s\n", name.c_str());
      return 1;
    }
  }
  std::error_code ec;
  std::filesystem::create_directories(outdir, ec);
  if (!std::filesystem::is_directory(outdir, ec)) {
    std::fprintf(stderr, "imagegen: cannot create %s\n", outdir);
    return 1;
  }
  if (only.empty()) remove_stale(outdir);

  std::vector<const ig_recipe*> todo;
  for (int r = 0; r < ig_recipe_count(); ++r)
    if (only.empty() || only.count(ig_recipe_at(r)->file)) todo.push_back(ig_recipe_at(r));

  const auto start = std::chrono::steady_clock::now();
  std::atomic<size_t> next{0};
  std::atomic<size_t> total_bytes{0};
  std::atomic<int> failures{0};
  auto worker = [&]() {
    for (size_t i = next++; i < todo.size(); i = next++) {
      size_t bytes = 0;
      const auto t0 = std::chrono::steady_clock::now();
      if (ig_make(todo[i], outdir, &bytes))
        total_bytes += bytes;
      else
        ++failures;
      if (times) {
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        std::printf("  %-24s %8zu bytes %7.0f ms\n", todo[i]->file, bytes, ms);
      }
    }
  };
  std::vector<std::thread> threads;
  const int n = std::min<int>(jobs, int(todo.size()));
  for (int t = 1; t < n; ++t) threads.emplace_back(worker);
  worker();
  for (std::thread& t : threads) t.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("imagegen: %zu images, %zu bytes, %.2f s\n", todo.size() - size_t(failures.load()),
              total_bytes.load(), seconds);
  return failures ? 1 : 0;
}
