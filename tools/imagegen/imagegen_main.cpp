// imagegen_main: the asset table and the command line.
//
//   imagegen [--jobs N] [--times] [--only FILE]... OUTDIR
//
// Paints every image of the asset table (or only the named ones) into OUTDIR,
// which is created if needed. Stale .png files in OUTDIR that the table does
// not name are removed, because the packer stores the whole folder. Prints one
// summary line: the count, the total bytes and the time taken; --times adds
// one line per image with its size and the milliseconds it took. Exit status 0
// when every image was written, 1 otherwise.
//
// The asset table itself lives in imagegen_table.cpp.
//
// Threads: the main thread parses arguments and starts up to --jobs worker
// threads (default 2); each worker claims recipes through an atomic index and
// paints, encodes and writes them on its own. The output does not depend on
// how many workers run or in which order they finish.
#include "imagegen.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

// ---- Constants ------------------------------------------------------------------

namespace {

constexpr int kDefaultJobs = 2;  // worker threads; the build machine has two cores
constexpr int kMaxJobs = 16;

// ---- Internal functions ---------------------------------------------------------

void usage() {
  std::fprintf(stderr, "usage: imagegen [--jobs N] [--times] [--only FILE]... OUTDIR\n");
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

// ---- Public functions -----------------------------------------------------------

int main(int argc, char** argv) {
  int jobs = kDefaultJobs;
  bool times = false;
  std::set<std::string> only;
  const char* outdir = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--jobs") && i + 1 < argc) {
      jobs = std::atoi(argv[++i]);
      if (jobs < 1) jobs = 1;
      if (jobs > kMaxJobs) jobs = kMaxJobs;
    } else if (!std::strcmp(argv[i], "--times")) {
      times = true;
    } else if (!std::strcmp(argv[i], "--only") && i + 1 < argc) {
      only.insert(argv[++i]);
    } else if (argv[i][0] == '-' || outdir) {
      usage();
      return 1;
    } else {
      outdir = argv[i];
    }
  }
  if (!outdir) {
    usage();
    return 1;
  }
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
