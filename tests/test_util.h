// Helpers shared by the tests: scratch files, packing real images with our
// packer, and capturing what the code under test prints.
#pragma once

#include <gtest/gtest.h>
#include <lodepng.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace test_util {

inline void write_file(const std::filesystem::path& path, const std::string& bytes) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the packer; returns its exit status.
inline int run_corepack(const std::string& arguments) {
  std::string command = std::string(SPROX_COREPACK) + " " + arguments + " >/dev/null 2>&1";
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Packs (name, bytes) pairs, in this order, into `image` with the real packer.
// Each file is written to a scratch folder first and named explicitly.
inline void pack(const std::string& image, const std::vector<std::pair<std::string, std::string>>& files,
                 const std::string& extra = "") {
  static int serial = 0;
  std::filesystem::path dir = "pack_src_" + std::to_string(serial++);
  std::filesystem::remove_all(dir);
  std::string arguments = "-o " + image + " " + extra;
  int i = 0;
  for (const auto& [name, bytes] : files) {
    std::filesystem::path source = dir / std::to_string(i++);
    write_file(source, bytes);
    arguments += " '" + name + "=" + source.string() + "'";
  }
  ASSERT_EQ(run_corepack(arguments), 0) << arguments;
}

// A PNG file of w x h RGBA pixels (rows from the top), encoded by LodePNG.
inline std::string png_rgba(const std::vector<uint8_t>& rgba, unsigned w, unsigned h) {
  std::vector<unsigned char> png;
  EXPECT_EQ(lodepng::encode(png, rgba, w, h), 0u);
  return std::string(png.begin(), png.end());
}

// What a command-line parser made of argv: its result, the options, the reason.
template <typename Options>
struct Parsed {
  int ok;
  Options options;
  std::string message;
};

// Runs `parser(argc, argv, options, message, capacity)` on `program` followed by args.
template <typename Options, typename Parser>
Parsed<Options> parse_options(Parser parser, const char* program, std::vector<const char*> args) {
  args.insert(args.begin(), program);
  Parsed<Options> result{};
  char message[512] = "";
  result.ok = parser(static_cast<int>(args.size()), args.data(), &result.options, message, sizeof(message));
  result.message = message;
  return result;
}

// Captures standard output around a call, C stdio included.
template <typename Fn>
std::string capture_stdout(Fn&& fn) {
  fflush(stdout);
  testing::internal::CaptureStdout();
  fn();
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

}  // namespace test_util
