// Diagnostics, counted memory, the copy and fill helpers, and the option reader.
#include <sys/wait.h>
#include <unistd.h>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/core.h"
#include "test_util.h"

using test_util::capture_stdout;

// Runs first in this executable: nothing has been counted yet.
TEST(CoreMemory, UsageStartsAtZero) {
  EXPECT_EQ(capture_stdout([] { wrap_showusage(); }), "memory usage: 0 (peak: 0)\n");
}

TEST(CoreMemory, CountsUsableSizeAndKeepsThePeak) {
  uint32_t before = g_mem_in_use;
  void* a = _wrap_malloc_dbg(100, "here", 1);
  ASSERT_NE(a, nullptr);
  uint32_t with_a = g_mem_in_use;
  EXPECT_GE(with_a - before, 100u);  // the usable size may exceed the request
  void* b = _wrap_malloc_iwram_dbg(1000, "here", 2);
  uint32_t peak = g_mem_in_use_peak;
  EXPECT_EQ(peak, g_mem_in_use);
  _wrap_free_iwram_dbg(b, "here", 3);
  _wrap_free_dbg(a, "here", 4);
  EXPECT_EQ(g_mem_in_use, before);
  EXPECT_EQ(g_mem_in_use_peak, peak);  // the peak never decreases
  EXPECT_EQ(capture_stdout([] { wrap_showusage(); }),
            "memory usage: " + std::to_string(before) + " (peak: " + std::to_string(peak) + ")\n");
}

TEST(CoreMemory, FailuresAreReportedAndLeaveTheCounters) {
  uint32_t in_use = g_mem_in_use, peak = g_mem_in_use_peak;
  EXPECT_EQ(capture_stdout([] { _wrap_free_dbg(nullptr, "corefile/corefile-std", 42); }),
            "corefile/corefile-std(42): wrap_free() tried to free a NULL pointer!\n");
  void* block = reinterpret_cast<void*>(1);
  EXPECT_EQ(capture_stdout([&] { block = _wrap_malloc_dbg(-1, "src", 7); }), "src(7): wrap_malloc(-1) failed!\n");
  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(g_mem_in_use, in_use);
  EXPECT_EQ(g_mem_in_use_peak, peak);
}

TEST(CoreCopy, TouchesExactlyTheGivenLength) {
  for (int length = -2; length <= 9; length++) {
    unsigned char dst[16], src[16];
    memset(dst, 0xEE, sizeof dst);
    for (int i = 0; i < 16; i++) src[i] = static_cast<unsigned char>(i + 1);
    wrap_memcpy(dst + 1, src, length);
    for (int i = 0; i < 16; i++) {
      unsigned char expected = (i >= 1 && i <= length) ? static_cast<unsigned char>(i) : 0xEE;
      EXPECT_EQ(dst[i], expected) << "length " << length << " index " << i;
    }
    memset(dst, 0xEE, sizeof dst);
    wrap_memset(dst + 1, 0x41, length);
    for (int i = 0; i < 16; i++) EXPECT_EQ(dst[i], (i >= 1 && i <= length) ? 0x41 : 0xEE);
  }
}

TEST(CoreCopy, UnitsAndFills) {
  unsigned char seven[8] = {0, 0, 0, 0, 0, 0, 0, 0x99};
  wrap_memset(seven, 0x41, 7);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(seven), 8), "AAAAAAA\x99");
  wrap_memclr(seven, 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(seven), 8), std::string(5, '\0') + "AA\x99");

  uint16_t s16[4] = {1, 2, 3, 4}, d16[4] = {};
  wrap_memcpy16(d16, s16, 3);
  EXPECT_EQ(d16[2], 3);
  EXPECT_EQ(d16[3], 0);
  uint32_t s32[3] = {7, 8, 9}, d32[3] = {};
  wrap_memcpy32(d32, s32, 2);
  EXPECT_EQ(d32[1], 8u);
  EXPECT_EQ(d32[2], 0u);
}

TEST(CoreExits, AssertAndErrorEndWithStatusOne) {
  EXPECT_EXIT(_dbg_assert("file.cpp", 12, "x > 0"), testing::ExitedWithCode(1), "");
  EXPECT_EXIT(error("no window"), testing::ExitedWithCode(1), "");
  // Both print to standard output, which the death test does not capture: check the text in a child.
  std::string out = capture_stdout([] {
    if (fork() == 0) error("no window");
    int status = 0;
    wait(&status);
  });
  EXPECT_EQ(out, "Error: no window\n");
  out = capture_stdout([] {
    if (fork() == 0) _dbg_assert("file.cpp", 12, "x > 0");
    int status = 0;
    wait(&status);
  });
  EXPECT_EQ(out, "file.cpp(12): assertion failed: x > 0\n");
}

// ---- The option reader every program uses --------------------------------------------

namespace {

// What the reader makes of a command line: each answer in turn ("name=value",
// "@operand"), up to the end or a refusal ("!reason").
std::string read_all(std::vector<const char*> args, bool operands) {
  static const s_coreoptiondef defs[] = {
      {"quiet", false, 'q'}, {"output", true, 'o'}, {"only", true, 0, true}, {"size", true}, {"help", false, 'h'}};
  args.insert(args.begin(), "prog");
  s_coreoptionreader reader = core_optionreader(static_cast<int>(args.size()), args.data(), defs, 5);
  reader.operands = operands;
  std::string trace;
  for (;;) {
    const char* value = "stale";
    char message[128] = "";
    const int found = core_nextoption(&reader, &value, message, sizeof(message));
    if (found == CORE_OPTION_END) return trace;
    if (!trace.empty()) trace += " ";
    if (found == CORE_OPTION_REFUSED) return trace + "!" + message;
    if (found == CORE_OPTION_OPERAND) {
      trace += std::string("@") + value;
    } else {
      trace += defs[found].name;
      if (value) trace += std::string("=") + value;
    }
  }
}

}  // namespace

TEST(CoreOptions, EveryFormReadInOrderAndEveryMistakeNamed) {
  struct Case {
    std::vector<const char*> args;
    bool operands;
    const char* trace;
  };
  const Case cases[] = {
      {{}, false, ""},
      {{"--quiet", "--output", "a.wav"}, false, "quiet output=a.wav"},
      {{"-q", "-o", "a.wav"}, false, "quiet output=a.wav"},
      {{"-oa.wav", "--size=4x3"}, false, "output=a.wav size=4x3"},
      {{"--only", "x", "--only=y", "-o", "--quiet"}, false, "only=x only=y output=--quiet"},
      {{"dir", "--quiet", "-", "--", "--size", "-q"}, true, "@dir quiet @- @--size @-q"},
      {{"dir"}, false, "!unexpected argument 'dir'"},
      {{"--", "x"}, false, "!unexpected argument '--'"},
      {{"-v"}, true, "!unexpected argument '-v'"},
      {{"-qx"}, false, "!unexpected argument '-qx'"},
      {{"--verbose"}, true, "!unknown option '--verbose'"},
      {{"--size"}, false, "!--size needs a value"},
      {{"--output="}, false, "!--output needs a value"},
      {{"-o"}, false, "!-o needs a value"},
      {{"--quiet=yes"}, false, "!--quiet takes no value"},
      {{"-q", "--quiet"}, false, "quiet !--quiet given twice"},
      {{"--quiet", "-q"}, false, "quiet !-q given twice"},
      {{"--size", "4x3", "--size", "5x4"}, false, "size=4x3 !--size given twice"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const char* arg : c.args) line += std::string(" ") + arg;
    EXPECT_EQ(read_all(c.args, c.operands), c.trace) << "prog" << line;
  }
}

TEST(CoreOptions, HelpAnswersAloneAndRefusalsShareOneForm) {
  struct Case {
    std::vector<const char*> args;
    bool help;
  };
  const Case cases[] = {
      {{"--help"}, true},       {{"--bogus", "-h"}, true}, {{"--help=yes"}, true}, {{}, false},
      {{"--", "--help"}, false}, {{"-hx"}, false},         {{"--helpme"}, false},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv = c.args;
    argv.insert(argv.begin(), "prog");
    EXPECT_EQ(core_wantshelp(static_cast<int>(argv.size()), argv.data()), c.help) << argv.size();
  }
  testing::internal::CaptureStderr();
  EXPECT_EQ(core_refuseoption("musicgen", "unknown option '--x'"), CORE_EXIT_USAGE);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "musicgen: unknown option '--x' (see musicgen --help)\n");
}

// A file is written whole or not at all; what is not a regular file is
// written into, never replaced.
TEST(CoreFiles, WriteFileWholeOrNotAtAllAndNeverReplacesADevice) {
  std::filesystem::remove_all("writes");
  std::filesystem::create_directories("writes");
  test_util::write_file("writes/old.bin", "old contents");
  struct Case {
    const char* path;
    int result;
    bool regular;  // a regular file holding the bytes afterwards
  };
  const Case cases[] = {
      {"writes/new.bin", 1, true},
      {"writes/old.bin", 1, true},
      {"/dev/null", 1, false},
      {"writes/missing/x.bin", 0, false},
  };
  for (const Case& c : cases) {
    char reason[128] = "";
    EXPECT_EQ(core_writefile(c.path, "fresh", 5, reason, sizeof reason), c.result) << c.path;
    EXPECT_EQ(reason[0] != 0, c.result == 0) << c.path << ": " << reason;
    EXPECT_EQ(std::filesystem::is_regular_file(c.path), c.regular) << c.path;
    if (c.regular) {
      EXPECT_EQ(test_util::read_file(c.path), "fresh") << c.path;
    }
    EXPECT_FALSE(std::filesystem::exists(std::string(c.path) + ".part")) << c.path;
  }
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
}
