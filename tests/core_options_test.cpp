// Every program of the project reads its command line through core's one
// option reader: each is run for real with a bad command line (exit status 2,
// one line on standard error in the shared form, nothing on standard output)
// and with --help (its usage on standard output, exit status 0).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/core.h"
#include "test_util.h"

namespace {

struct Ran {
  int status;
  std::string out, err;
};

Ran run(const std::string& program, const std::string& args) {
  const std::string command = program + " " + args + " >ran.out 2>ran.err </dev/null";
  const int status = std::system(command.c_str());
  return Ran{WIFEXITED(status) ? WEXITSTATUS(status) : -1, test_util::read_file("ran.out"),
             test_util::read_file("ran.err")};
}

struct Program {
  const char* name;
  std::string args;    // a bad command line
  std::string reason;  // what the refusal says about it
};

const std::vector<Program> kPrograms = {
    {"sprox", "--mute --bogus", "unknown option '--bogus'"},
    {"sprox-capture", "--report --fps", "--fps needs a value"},
    {"corepack", "x.png", "give -o OUT with the inputs, or --list IMAGE"},
    {"musicgen", "--score s --timing t", "-o OUT.wav (or --report WAV) is needed"},
    {"imagegen", "--jobs 2 --jobs 3 out", "--jobs given twice"},
    {"shaderpack", "--out o -v", "unexpected argument '-v'"},
};

// Where the build put a program ("" when it was not built).
std::string built(const char* name) {
  const std::string all = SPROX_BUILT_PROGRAMS, key = std::string("|") + name + "=";
  const size_t at = all.find(key);
  if (at == std::string::npos) return "";
  const size_t start = at + key.size();
  return all.substr(start, all.find('|', start) - start);
}

TEST(CoreOptionsPrograms, BadCommandLinesAndHelpAnsweredAlike) {
  ASSERT_NE(built("corepack"), "") << "the tools were not built";
  for (const Program& p : kPrograms) {
    const std::string path = built(p.name);
    if (path.empty()) continue;  // not part of this build
    const Ran bad = run(path, p.args);
    EXPECT_EQ(bad.status, CORE_EXIT_USAGE) << p.name << " " << p.args;
    EXPECT_EQ(bad.err, std::string(p.name) + ": " + p.reason + " (see " + p.name + " --help)\n") << p.name;
    EXPECT_EQ(bad.out, "") << p.name;

    const Ran help = run(path, "--help");
    EXPECT_EQ(help.status, 0) << p.name;
    EXPECT_NE(help.out.find(std::string("sage: ") + p.name + " "), std::string::npos) << p.name << ": " << help.out;
    EXPECT_EQ(help.err, "") << p.name;
  }
}

}  // namespace
