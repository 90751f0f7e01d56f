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
  const char* path;
  const char* args;    // a bad command line
  const char* reason;  // what the refusal says about it
};

const std::vector<Program> kPrograms = {
#ifdef SPROX_PROGRAM_SPROX
    {"sprox", SPROX_PROGRAM_SPROX, "--mute --bogus", "unknown option '--bogus'"},
#endif
#ifdef SPROX_PROGRAM_SPROX_CAPTURE
    {"sprox-capture", SPROX_PROGRAM_SPROX_CAPTURE, "--report --fps", "--fps needs a value"},
#endif
#ifdef SPROX_PROGRAM_COREPACK
    {"corepack", SPROX_PROGRAM_COREPACK, "x.png", "give -o OUT with the inputs, or --list IMAGE"},
#endif
#ifdef SPROX_PROGRAM_MUSICGEN
    {"musicgen", SPROX_PROGRAM_MUSICGEN, "--score s --timing t", "-o OUT.wav is needed"},
#endif
#ifdef SPROX_PROGRAM_IMAGEGEN
    {"imagegen", SPROX_PROGRAM_IMAGEGEN, "--jobs 2 --jobs 3 out", "--jobs given twice"},
#endif
#ifdef SPROX_PROGRAM_SHADERPACK
    {"shaderpack", SPROX_PROGRAM_SHADERPACK, "--out o -v", "unexpected argument '-v'"},
#endif
};

TEST(CoreOptionsPrograms, BadCommandLinesAndHelpAnsweredAlike) {
  ASSERT_FALSE(kPrograms.empty()) << "no program was built";
  for (const Program& p : kPrograms) {
    const Ran bad = run(p.path, p.args);
    EXPECT_EQ(bad.status, CORE_EXIT_USAGE) << p.name << " " << p.args;
    EXPECT_EQ(bad.err, std::string(p.name) + ": " + p.reason + " (see " + p.name + " --help)\n") << p.name;
    EXPECT_EQ(bad.out, "") << p.name;

    const Ran help = run(p.path, "--help");
    EXPECT_EQ(help.status, 0) << p.name;
    EXPECT_NE(help.out.find(std::string("sage: ") + p.name + " "), std::string::npos) << p.name << ": " << help.out;
    EXPECT_EQ(help.err, "") << p.name;
  }
}

}  // namespace
