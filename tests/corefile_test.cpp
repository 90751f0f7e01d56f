// The resource file system against real images written by corepack, and
// against a real directory tree.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <string>

#include "core/core.h"
#include "corefile/corefile.h"
#include "test_util.h"

namespace fs = std::filesystem;
using test_util::capture_stdout;
using test_util::pack;
using test_util::write_file;

namespace {

class CorefileTest : public testing::Test {
 protected:
  void TearDown() override { corefile_closeimage(); }

  // Mounts quietly and returns the result.
  int mount(const std::string& name, int kind) {
    int result = 0;
    capture_stdout([&] { result = corefile_mountimage(name.c_str(), kind); });
    return result;
  }

  // Opens, reads the whole file and closes; empty optional-like flag on failure.
  bool slurp(const char* name, std::string* out) {
    s_corefile file = {};
    bool found = false;
    capture_stdout([&] { found = corefile_open(name, &file, 0) == 1; });
    if (!found) return false;
    out->assign(static_cast<size_t>(file.size), '\0');
    corefile_read(out->data(), file.size, 1, &file);
    corefile_close(&file);
    return true;
  }
};

const std::vector<std::pair<std::string, std::string>> kTree = {
    {"a.png", "AAAA"}, {"gfx/b.png", "bee\n"}, {"gfx/c.txt", "sea"}, {"snd/d.wav", "dee-wav"}};

}  // namespace

TEST_F(CorefileTest, StandaloneImageRoundTrip) {
  pack("tree.dat", kTree);
  std::string out = capture_stdout([] { EXPECT_EQ(corefile_mountimage("tree.dat", 0), 1); });
  EXPECT_EQ(out, "Loading resource image: tree.dat\nloading from file\nnumfiles: 4\nromsize: " +
                     std::to_string(fs::file_size("tree.dat")) + "\n");
  ASSERT_EQ(corefile_image.numfiles, 4u);
  for (const auto& [name, bytes] : kTree) {
    std::string got;
    ASSERT_TRUE(slurp(name.c_str(), &got)) << name;
    EXPECT_EQ(got, bytes) << name;
  }
}

TEST_F(CorefileTest, AppendedImageYieldsTheSameFiles) {
  write_file("host.bin", std::string(1000, '\x7f') + "HOST");
  pack("host_with_image.bin", kTree, "--append host.bin");
  std::string whole = test_util::read_file("host_with_image.bin");
  ASSERT_GT(whole.size(), 1004u);
  EXPECT_EQ(whole.substr(0, 1004), std::string(1000, '\x7f') + "HOST");
  EXPECT_EQ(getint(reinterpret_cast<const unsigned char*>(whole.data() + whole.size() - 4)), 1004u);

  std::string out = capture_stdout([] { EXPECT_EQ(corefile_mountimage("host_with_image.bin", 1), 1); });
  EXPECT_NE(out.find("loading from executable\n"), std::string::npos);
  EXPECT_EQ(corefile_mounttype, COREFILE_MOUNT_IMAGE);  // both image kinds read from a stream
  for (const auto& [name, bytes] : kTree) {
    std::string got;
    ASSERT_TRUE(slurp(name.c_str(), &got)) << name;
    EXPECT_EQ(got, bytes);
  }
  // Positions count from the start of the whole file.
  EXPECT_GE(corefile_image.offsets[0], 1004u);
}

// The one trailer probe of the reader, the player's lookup and the packer:
// a header position only where the last four bytes point at the magic and
// the magic ends before them.
TEST_F(CorefileTest, TrailerProbeFindsOnlyAHeaderInsideTheFile) {
  auto le = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  const std::string host(16, 'h');
  const struct {
    const char* label;
    std::string bytes;
    int64_t header;
  } cases[] = {
      {"appended image", host + "CORE" + std::string(8, '\0') + le(16), 16},
      {"image at the start", "CORE" + std::string(8, '\0') + le(0), 0},
      {"no magic there", host + "core" + std::string(8, '\0') + le(16), -1},
      {"past the end", host + "CORE" + le(4096), -1},
      // Position 69 is 'E': the magic would read "CORE" on into the trailer.
      {"magic runs into the trailer", std::string(69, 'h') + "COR" + le(69), -1},
      {"shorter than a trailer", "abc", -1},
      {"empty", "", -1},
  };
  for (const auto& c : cases) {
    write_file("probe.bin", c.bytes);
    FILE* fp = fopen("probe.bin", "rb");
    ASSERT_NE(fp, nullptr) << c.label;
    EXPECT_EQ(corefile_findtrailer(fp), c.header) << c.label;
    fclose(fp);
  }
  EXPECT_EQ(corefile_findtrailer(nullptr), -1);
}

TEST_F(CorefileTest, AppendedKindOnAFileWithoutImageIsRefused) {
  write_file("plain.bin", std::string(64, 'x'));
  EXPECT_EQ(mount("plain.bin", 1), 0);
  EXPECT_EQ(corefile_image.numfiles, 0u);
}

TEST_F(CorefileTest, MissingImageAndUnknownKind) {
  std::string out = capture_stdout([] { EXPECT_EQ(corefile_mountimage("nothing-here.dat", 0), 0); });
  EXPECT_EQ(out, "Loading resource image: nothing-here.dat\ncould not open image: nothing-here.dat\n");
  out = capture_stdout([] {
    s_corefile file = {};
    EXPECT_EQ(corefile_open("timing.dat", &file, 0), 0);
  });
  EXPECT_EQ(out, "couldn't find file: timing.dat\n");

  pack("tree.dat", kTree);
  out = capture_stdout([] { EXPECT_EQ(corefile_mountimage("tree.dat", 7), 0); });
  EXPECT_EQ(out, "Loading resource image: tree.dat\n");
}

TEST_F(CorefileTest, LookupIgnoresLetterCaseAndMatchesWholeNames) {
  // "ab\x01\xff" has the same hash as "ab" (1 + -1 = 0) and begins with it,
  // so only a whole-name comparison keeps the two apart.
  pack("lookup.dat", {{"timing.dat", "T"}, {"ab\x01\xff", "long"}, {"post.glsl", "P"}});
  ASSERT_EQ(mount("lookup.dat", 0), 1);
  EXPECT_EQ(corefile_gethash("ab"), corefile_gethash("ab\x01\xff"));

  std::string got;
  EXPECT_TRUE(slurp("Timing.DAT", &got));
  EXPECT_EQ(got, "T");
  EXPECT_TRUE(slurp("Post.GLSL", &got));
  EXPECT_EQ(got, "P");
  EXPECT_FALSE(slurp("ab", &got));
  EXPECT_TRUE(slurp("AB\x01\xff", &got));
  EXPECT_EQ(got, "long");

  std::string out = capture_stdout([] {
    s_corefile file = {};
    corefile_open("Missing.TXT", &file, 0);
  });
  EXPECT_EQ(out, "couldn't find file: missing.txt\n");
}

TEST_F(CorefileTest, DuplicateNamesFirstWins) {
  pack("dup.dat", {{"same.txt", "first"}, {"other.txt", "x"}, {"same.txt", "second"}});
  ASSERT_EQ(mount("dup.dat", 0), 1);
  std::string got;
  ASSERT_TRUE(slurp("same.txt", &got));
  EXPECT_EQ(got, "first");
}

TEST_F(CorefileTest, HashesTakeBytesAsSigned) {
  EXPECT_EQ(corefile_gethash("abc"), 294);
  EXPECT_EQ(corefile_gethash("\xe9"), -23);
  EXPECT_EQ(corefile_gethash("caf\xe9"), 'c' + 'a' + 'f' - 23);
  // Bytes of 128 and above are stored and found as they are; only A-Z fold.
  pack("utf.dat", {{"caf\xc3\xa9.txt", "coffee"}});
  ASSERT_EQ(mount("utf.dat", 0), 1);
  EXPECT_EQ(corefile_image.hashes[0], corefile_gethash("caf\xc3\xa9.txt"));
  std::string got;
  EXPECT_TRUE(slurp("CAF\xc3\xa9.TXT", &got));
  EXPECT_EQ(got, "coffee");

  char lowered[8];
  file_downcase(lowered, "AZ\xc3\x89[@", 6);
  EXPECT_EQ(std::string(lowered, 6), "az\xc3\x89[@");
}

TEST_F(CorefileTest, SizesDerivedFromOffsets) {
  pack("sizes.dat", {{"empty.txt", ""}, {"five.txt", "12345"}, {"last.txt", "xyz"}});
  ASSERT_EQ(mount("sizes.dat", 0), 1);
  EXPECT_EQ(corefile_image.offsets[0], corefile_image.offsets[1]);
  EXPECT_EQ(corefile_image.romsize - corefile_image.offsets[2], 3u);

  s_corefile file = {};
  capture_stdout([&] { ASSERT_EQ(corefile_open("empty.txt", &file, 0), 1); });
  EXPECT_EQ(corefile_fsize(&file), 0);
  EXPECT_EQ(corefile_feof(&file), 1);  // at its end right after opening
  capture_stdout([&] { ASSERT_EQ(corefile_open("last.txt", &file, 0), 1); });
  EXPECT_EQ(file.size, 3);
}

TEST_F(CorefileTest, EndTestAndPositionsInAnImageMount) {
  pack("pos.dat", {{"lines.txt", "one\ntwo\nthree"}, {"next.txt", "NEXT-FILE\n"}});
  ASSERT_EQ(mount("pos.dat", 0), 1);
  s_corefile file = {};
  capture_stdout([&] { ASSERT_EQ(corefile_open("lines.txt", &file, 0), 1); });

  char buffer[64];
  corefile_read(buffer, 1, 12, &file);
  EXPECT_EQ(corefile_feof(&file), 0);
  corefile_read(buffer, 1, 1, &file);
  EXPECT_EQ(corefile_feof(&file), 1);  // exactly size bytes read

  corefile_seek(&file, 10, 0);
  EXPECT_EQ(corefile_tell(&file), 10);
  corefile_seek(&file, -6, 1);
  EXPECT_EQ(corefile_tell(&file), 4);
  corefile_seek(&file, 3, 2);  // unknown origin: no change
  EXPECT_EQ(corefile_tell(&file), 4);
  corefile_rewind(&file);
  EXPECT_EQ(corefile_tell(&file), 0);

  // Line reads, and a last line without newline that stops at the file's end
  // instead of running on into the next file.
  std::vector<std::string> lines;
  while (!corefile_feof(&file)) {
    corefile_gets(buffer, sizeof buffer, &file);
    lines.push_back(buffer);
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"one\n", "two\n", "three"}));
  strcpy(buffer, "kept");
  corefile_gets(buffer, sizeof buffer, &file);  // at the end: nothing read
  EXPECT_STREQ(buffer, "kept");

  // A read past the end delivers only the file's own bytes.
  corefile_seek(&file, 8, 0);
  memset(buffer, '.', sizeof buffer);
  corefile_read(buffer, 1, 20, &file);
  EXPECT_EQ(std::string(buffer, 20), "three" + std::string(15, '.'));
  EXPECT_EQ(corefile_tell(&file), 28);  // the position still advances by the amount asked for

  // A capacity smaller than the line splits it.
  corefile_rewind(&file);
  corefile_gets(buffer, 3, &file);
  EXPECT_STREQ(buffer, "on");

  // Writing is ignored in an image mount; closing twice is harmless.
  int before = corefile_tell(&file);
  corefile_write("zz", 1, 2, &file);
  EXPECT_EQ(corefile_tell(&file), before);
  corefile_close(&file);
  corefile_close(&file);
  EXPECT_EQ(file.position, 0);
  EXPECT_EQ(file.size, 13);
}

TEST_F(CorefileTest, TwoFilesReadInTurn) {
  pack("turns.dat", {{"left.txt", "L1\nL2\nL3\n"}, {"right.txt", "R1\nR2\nR3\n"}});
  ASSERT_EQ(mount("turns.dat", 0), 1);
  s_corefile left = {}, right = {};
  capture_stdout([&] {
    ASSERT_EQ(corefile_open("left.txt", &left, 0), 1);
    ASSERT_EQ(corefile_open("right.txt", &right, 0), 1);
  });
  char a[16], b[16];
  for (int i = 1; i <= 3; i++) {
    corefile_gets(a, sizeof a, &left);
    corefile_gets(b, sizeof b, &right);
    EXPECT_EQ(std::string(a), "L" + std::to_string(i) + "\n");
    EXPECT_EQ(std::string(b), "R" + std::to_string(i) + "\n");
  }
  EXPECT_EQ(corefile_feof(&left), 1);
  EXPECT_EQ(corefile_feof(&right), 1);
}

TEST_F(CorefileTest, WholeFileHelpersInBothMountKinds) {
  pack("whole.dat", {{"timing.dat", "event 0 0 0 0\n"}});
  ASSERT_EQ(mount("whole.dat", 0), 1);
  char* block = nullptr;
  capture_stdout([&] { block = static_cast<char*>(corefile_loadbuffer("timing.dat")); });
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(std::string(block, 14), "event 0 0 0 0\n");
  _wrap_free_dbg(block, "test", __LINE__);
  corefile_closeimage();

  fs::remove_all("disk");
  fs::create_directories("disk");
  ASSERT_EQ(mount("disk", 2), 1);
  capture_stdout([] { corefile_savebuffer("saved.bin", "\x01\x02\x03", 3); });
  EXPECT_EQ(test_util::read_file("disk/saved.bin"), "\x01\x02\x03");
  capture_stdout([&] { block = static_cast<char*>(corefile_loadbuffer("saved.bin")); });
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(std::string(block, 3), "\x01\x02\x03");
  _wrap_free_dbg(block, "test", __LINE__);
}

TEST_F(CorefileTest, DirectoryMountScansTheTree) {
  fs::remove_all("scan");
  write_file("scan/x.txt", "line one\nline two\n");
  write_file("scan/sub/y.txt", "why");
  write_file("scan/Upper.txt", "U");
  std::string cwd = fs::current_path();

  std::string out = capture_stdout([] { EXPECT_EQ(corefile_mountimage("scan", 2), 1); });
  EXPECT_NE(out.find("Found 3 files\n"), std::string::npos);
  EXPECT_EQ(corefile_mounttype, COREFILE_MOUNT_DIRECTORY);
  EXPECT_EQ(fs::current_path().string(), cwd);
  ASSERT_EQ(corefile_image.numfiles, 3u);
  std::vector<std::string> names(corefile_image.names, corefile_image.names + 3);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Upper.txt", "sub/y.txt", "x.txt"}));

  std::string got;
  EXPECT_TRUE(slurp("SUB/Y.TXT", &got));
  EXPECT_EQ(got, "why");
  EXPECT_FALSE(slurp("Upper.txt", &got));  // only lower-case names on disk can be opened

  // The end test of a stream: one more line read comes after the last line.
  s_corefile file = {};
  ASSERT_EQ(corefile_open("x.txt", &file, 0), 1);
  char line[32];
  int reads = 0;
  while (!corefile_feof(&file) && reads < 10) {
    corefile_gets(line, sizeof line, &file);
    reads++;
  }
  EXPECT_EQ(reads, 3);
  corefile_seek(&file, 10, 0);
  EXPECT_EQ(corefile_tell(&file), 10);
  corefile_close(&file);
  corefile_close(&file);

  // An absolute path, or one through "..", brings the scan back where it began too.
  std::string absolute = fs::absolute("scan").string();
  ASSERT_EQ(mount(absolute, 2), 1);
  EXPECT_EQ(corefile_image.numfiles, 3u);
  EXPECT_EQ(fs::current_path().string(), cwd);
  ASSERT_EQ(mount("scan/../scan", 2), 1);
  EXPECT_EQ(fs::current_path().string(), cwd);
  ASSERT_EQ(mount("scan", 2), 1);

  // A directory that cannot be read is refused, and the mount in force stays.
  out = capture_stdout([] { EXPECT_EQ(corefile_mountimage("no-such-dir", 2), 0); });
  EXPECT_EQ(out, "Loading resource image: no-such-dir\nerror reading directory\n");
  EXPECT_EQ(corefile_image.numfiles, 3u);

  // After unmounting a directory mount, opens fail instead of using a freed path.
  corefile_closeimage();
  EXPECT_FALSE(slurp("x.txt", &got));
}

TEST_F(CorefileTest, ListingsAndLocalPath) {
  pack("tree.dat", kTree);
  ASSERT_EQ(mount("tree.dat", 0), 1);
  EXPECT_STREQ(corefile_getpath(), "/");
  auto listing = [] {
    std::vector<std::string> labels;
    for (int i = 0; i < corefile_numfiles; i++) labels.push_back(corefile_filelist[i].label);
    return labels;
  };

  std::string out = capture_stdout([] { corefile_readdir("*.png"); });
  EXPECT_EQ(out, "extension = .png, length: 4\ndir is root\n- ReadDIR completed!\n");
  EXPECT_EQ(listing(), (std::vector<std::string>{"[gfx]", "[snd]", "a.png"}));
  EXPECT_STREQ(corefile_filelist[0].name, "gfx");
  EXPECT_EQ(corefile_filelist[0].isdir, 1);
  EXPECT_EQ(corefile_filelist[0].size, 0);
  EXPECT_EQ(corefile_filelist[2].size, 4);

  out = capture_stdout([] { corefile_chdir("gfx"); });
  EXPECT_EQ(out, "localpath = /gfx/\n");
  capture_stdout([] { corefile_readdir("*.png"); });
  EXPECT_EQ(listing(), (std::vector<std::string>{"[..]", "b.png"}));
  EXPECT_STREQ(corefile_filelist[1].name, "gfx/b.png");
  EXPECT_EQ(corefile_filelist[1].isdir, 0);
  capture_stdout([] { corefile_readdir("*.*"); });
  EXPECT_EQ(listing(), (std::vector<std::string>{"[..]", "b.png", "c.txt"}));

  capture_stdout([] {
    corefile_chdir("fonts");
    EXPECT_STREQ(corefile_getpath(), "/gfx/fonts/");
    corefile_chdir("..");
    EXPECT_STREQ(corefile_getpath(), "/gfx/");
    corefile_chdir("..");
    EXPECT_STREQ(corefile_getpath(), "/");
    corefile_chdir("..");
    EXPECT_STREQ(corefile_getpath(), "/");
    corefile_chdir("/snd");
    EXPECT_STREQ(corefile_getpath(), "/snd/");
    corefile_chdir(".");
    EXPECT_STREQ(corefile_getpath(), "/snd/");
  });
  // A local path never outgrows its buffer.
  capture_stdout([] {
    for (int i = 0; i < 100; i++) corefile_chdir("deeper");
  });
  EXPECT_LT(strlen(corefile_getpath()), 256u);

  corefile_numdirs = 0;
  corefile_adddir("twice");
  corefile_adddir("twice");
  EXPECT_EQ(corefile_numdirs, 1);
}

TEST_F(CorefileTest, ListingOfADirectoryMountReportsSizesFromDisk) {
  fs::remove_all("lst");
  write_file("lst/p.png", "12345");
  write_file("lst/deep/q.png", "1");
  ASSERT_EQ(mount("lst", 2), 1);
  capture_stdout([] { corefile_readdir("*.png"); });
  ASSERT_EQ(corefile_numfiles, 2);
  EXPECT_STREQ(corefile_filelist[0].label, "[deep]");
  EXPECT_STREQ(corefile_filelist[1].label, "p.png");
  EXPECT_EQ(corefile_filelist[1].size, 5);
}

// Builds a raw image by hand so that every field can be damaged.
static std::string raw_image(uint32_t numfiles, uint32_t romsize, const std::vector<std::string>& entries) {
  auto u32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  std::string out = "CORE" + u32(numfiles) + u32(romsize);
  for (const std::string& e : entries) out += e;
  return out;
}

static std::string raw_entry(const std::string& name, uint32_t offset, uint32_t length_field) {
  auto u32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  return u32(length_field) + u32(static_cast<uint32_t>(corefile_gethash(name.c_str()))) + name + u32(offset);
}

TEST_F(CorefileTest, DamagedImagesAreRefusedWithOneLine) {
  pack("good.dat", kTree);
  std::string good = test_util::read_file("good.dat");

  // The program, then the image with its offsets not moved, then a trailer:
  // every offset points into the program.
  const std::string host(64, 'h');
  const std::string unmoved = host + good + std::string{char(host.size()), 0, 0, 0};
  struct Damaged {
    std::string label, bytes;
    int kind;
  };
  const std::vector<Damaged> damaged = {
      {"cut-in-header", good.substr(0, 9), COREFILE_KIND_IMAGE},
      {"cut-in-table", good.substr(0, 20), COREFILE_KIND_IMAGE},
      {"cut-in-a-name", good.substr(0, 12 + 8 + 3), COREFILE_KIND_IMAGE},
      {"huge-count", raw_image(0x7fffffffu, 12, {}), COREFILE_KIND_IMAGE},
      {"name-beyond-file", raw_image(1, 40, {raw_entry("a", 28, 0x40000000u)}), COREFILE_KIND_IMAGE},
      {"offsets-backwards", raw_image(2, 60, {raw_entry("a", 50, 1), raw_entry("b", 40, 1)}) + std::string(30, 'x'),
       COREFILE_KIND_IMAGE},
      {"offset-beyond-file", raw_image(1, 40, {raw_entry("a", 5000, 1)}) + std::string(20, 'x'), COREFILE_KIND_IMAGE},
      {"offset-in-table", raw_image(1, 30, {raw_entry("a", 20, 1)}) + std::string(20, 'x'), COREFILE_KIND_IMAGE},
      {"appended-offsets-unmoved", unmoved, COREFILE_KIND_APPENDED},
      {"romsize-below-offset", raw_image(1, 30, {raw_entry("a", 35, 1)}) + std::string(20, 'x'), COREFILE_KIND_IMAGE},
      {"romsize-beyond-file", raw_image(1, 99999, {raw_entry("a", 25, 1)}) + std::string(20, 'x'), COREFILE_KIND_IMAGE},
  };
  uint32_t before = g_mem_in_use;
  for (const auto& [label, bytes, kind] : damaged) {
    write_file(label + ".dat", bytes);
    std::string out =
        capture_stdout([&] { EXPECT_EQ(corefile_mountimage((label + ".dat").c_str(), kind), 0) << label; });
    // One line that says why, and the same reason for callers that list images.
    EXPECT_STRNE(corefile_damage(), "") << label;
    EXPECT_NE(out.find(std::string("\ncorefile: damaged image: ") + corefile_damage() + "\n"), std::string::npos)
        << label << ": " << out;
    EXPECT_EQ(corefile_image.numfiles, 0u) << label;
    std::string got;
    EXPECT_FALSE(slurp("a.png", &got)) << label;
    corefile_closeimage();
    EXPECT_EQ(g_mem_in_use, before) << label;  // nothing left allocated
  }

  // Every truncation of a good image is either refused or still consistent.
  for (size_t cut = 0; cut < good.size(); cut++) {
    write_file("cut.dat", good.substr(0, cut));
    if (mount("cut.dat", 0) == 1) {
      for (uint32_t j = 0; j + 1 < corefile_image.numfiles; j++)
        EXPECT_LE(corefile_image.offsets[j], corefile_image.offsets[j + 1]);
      EXPECT_LE(corefile_image.romsize, cut);
    }
    corefile_closeimage();
  }

  // A lower-case magic is not the magic, and says nothing more.
  write_file("lower.dat", "core" + good.substr(4));
  std::string out = capture_stdout([] { EXPECT_EQ(corefile_mountimage("lower.dat", 0), 0); });
  EXPECT_EQ(out, "Loading resource image: lower.dat\nloading from file\n");
  EXPECT_STREQ(corefile_damage(), "");
  // A later good mount forgets the earlier damage.
  write_file("cut.dat", good.substr(0, 20));
  EXPECT_EQ(mount("cut.dat", 0), 0);
  EXPECT_STRNE(corefile_damage(), "");
  EXPECT_EQ(mount("good.dat", COREFILE_KIND_IMAGE), 1);
  EXPECT_STREQ(corefile_damage(), "");
}

TEST_F(CorefileTest, EmptyImageMountsAndFindsNothing) {
  pack("empty.dat", {});
  std::string out = capture_stdout([] { EXPECT_EQ(corefile_mountimage("empty.dat", 0), 1); });
  EXPECT_NE(out.find("numfiles: 0\n"), std::string::npos);
  std::string got;
  EXPECT_FALSE(slurp("anything", &got));
}

TEST_F(CorefileTest, UnmountReleasesEverything) {
  pack("tree.dat", kTree);
  uint32_t before = g_mem_in_use;
  ASSERT_EQ(mount("tree.dat", 0), 1);
  capture_stdout([] { corefile_readdir("*.*"); });
  EXPECT_GT(g_mem_in_use, before);
  corefile_closeimage();
  EXPECT_EQ(g_mem_in_use, before);
  EXPECT_EQ(corefile_image.numfiles, 0u);
  EXPECT_EQ(corefile_numfiles, 0);
  EXPECT_EQ(g_fp, nullptr);
}

TEST_F(CorefileTest, OnlyASlashMakesADirectoryInAListing) {
  // A backslash is part of a file's name; only where a "/" makes a directory
  // does the first level end at either. Our packer refuses such names, so the
  // image is written by hand: a table of 73 bytes, then one byte for each file.
  const std::string table =
      raw_image(3, 76, {raw_entry("a\\b.png", 73, 7), raw_entry("c\\d/e.png", 74, 9), raw_entry("f/g\\h.png", 75, 9)});
  write_file("slashes.dat", table + "123");
  ASSERT_EQ(mount("slashes.dat", 0), 1);
  auto listing = [](const char* filter) {
    capture_stdout([&] { corefile_readdir(filter); });
    std::vector<std::string> labels;
    for (int i = 0; i < corefile_numfiles; i++) labels.push_back(corefile_filelist[i].label);
    return labels;
  };
  EXPECT_EQ(listing("*.png"), (std::vector<std::string>{"[c]", "[f]", "a\\b.png"}));
  EXPECT_STREQ(corefile_filelist[2].name, "a\\b.png");
  capture_stdout([] { corefile_chdir("f"); });
  EXPECT_EQ(listing("*.png"), (std::vector<std::string>{"[..]", "g\\h.png"}));
}

TEST_F(CorefileTest, ARefusedMountLeavesTheMountInForce) {
  pack("tree.dat", kTree);
  write_file("cut.dat", test_util::read_file("tree.dat").substr(0, 20));
  write_file("plain.bin", std::string(64, 'x'));
  fs::remove_all("kept");
  write_file("kept/x.txt", "kept");
  const uint32_t before = g_mem_in_use;
  // A stream that a refused source left open shows among the open descriptors.
  auto open_descriptors = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
  const auto descriptors = open_descriptors();
  struct Mount {
    const char* name;
    int kind;
    const char* file;
    const char* bytes;
  };
  for (const Mount& m : {Mount{"tree.dat", 0, "gfx/b.png", "bee\n"}, Mount{"kept", 2, "x.txt", "kept"}}) {
    ASSERT_EQ(mount(m.name, m.kind), 1);
    auto still_mounted = [&](const char* refused) {
      std::string got;
      EXPECT_TRUE(slurp(m.file, &got)) << m.name << " after " << refused;
      EXPECT_EQ(got, m.bytes) << m.name << " after " << refused;
      EXPECT_STREQ(corefile_getpath(), "/") << m.name << " after " << refused;
    };
    // An unknown kind says what it was asked to load and does nothing else.
    std::string out = capture_stdout([] { EXPECT_EQ(corefile_mountimage("tree.dat", 7), 0); });
    EXPECT_EQ(out, "Loading resource image: tree.dat\n");
    still_mounted("an unknown kind");
    EXPECT_EQ(mount("nothing-here.dat", 0), 0);
    still_mounted("a missing image");
    EXPECT_EQ(mount("cut.dat", 0), 0);
    EXPECT_STRNE(corefile_damage(), "");
    still_mounted("a damaged image");
    EXPECT_EQ(mount("plain.bin", 1), 0);
    still_mounted("a file without an appended image");
    EXPECT_EQ(mount("no-such-dir", 2), 0);
    still_mounted("a missing directory");
    corefile_closeimage();
    EXPECT_EQ(g_mem_in_use, before) << m.name;  // the refused sources left nothing behind
    EXPECT_EQ(open_descriptors(), descriptors) << m.name;
  }
}

namespace {

constexpr int64_t kGiB = int64_t{1} << 30;

// A file of `size` bytes that begins with `head` and reads as zeros after it:
// ftruncate leaves the rest a hole, so it takes no room on disk. The file goes
// with the guard.
struct SparseFile {
  std::string path;
  bool made = false;
  SparseFile(std::string name, const std::string& head, int64_t size) : path(std::move(name)) {
    int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    if (fd < 0) return;
    made = write(fd, head.data(), head.size()) == static_cast<ssize_t>(head.size()) && ftruncate(fd, size) == 0;
    close(fd);
  }
  ~SparseFile() { unlink(path.c_str()); }
};

}  // namespace

// Each table fits its file, and each size wraps or is cut in 32 bits; the
// zeros after the head are valid empty entries, so nothing but the size
// checks stops the reader from going through gigabytes.
TEST_F(CorefileTest, SizesPastThirtyTwoBitsAreRefusedBeforeAnythingIsAllocated) {
  struct Case {
    const char* label;
    int64_t size;
    std::string head;
    const char* reason;
  };
  const Case cases[] = {
      // The name's length plus its terminator is 0 in 32 bits.
      {"name", 4 * kGiB + kGiB / 2, raw_image(1, 12, {raw_entry("", 0, 0xffffffffu)}), "name too long"},
      // The last file's length, romsize minus its offset, is no int.
      {"romsize", 4 * kGiB + kGiB / 2, raw_image(1, 0xffffffffu, {raw_entry("a", 0, 1)}), "romsize too large"},
      // 2^30 + 1 entries of 12 bytes fit the file; 4 and 8 bytes each are 4 and 8 in 32 bits.
      {"table", 12 * kGiB + 4096, raw_image((1u << 30) + 1, 12, {}), "file table too large"},
      // The listing's 24 bytes for each entry and one more are 32 in 32 bits.
      {"listing", 2 * kGiB + kGiB / 10, raw_image(178956971u, 12, {}), "listing table too large"},
  };
  for (const Case& c : cases) {
    SparseFile image(std::string("sparse-") + c.label + ".dat", c.head, c.size);
    if (!image.made) GTEST_SKIP() << "no sparse file of " << c.size << " bytes here";
    const uint32_t in_use = g_mem_in_use;
    g_mem_in_use_peak = in_use;  // the peak of this mount alone
    std::string out = capture_stdout([&] { EXPECT_EQ(corefile_mountimage(image.path.c_str(), 0), 0) << c.label; });
    EXPECT_STREQ(corefile_damage(), c.reason) << c.label;
    EXPECT_NE(out.find(std::string("\ncorefile: damaged image: ") + c.reason + "\n"), std::string::npos) << out;
    EXPECT_LT(g_mem_in_use_peak - in_use, 64u * 1024) << c.label;
    EXPECT_EQ(corefile_image.numfiles, 0u) << c.label;
    corefile_closeimage();
    EXPECT_EQ(g_mem_in_use, in_use) << c.label;
  }
}

TEST_F(CorefileTest, DirectoryMountOpensOnlyRegularFiles) {
  fs::remove_all("odd");
  write_file("odd/ok.txt", "ok");
  write_file("odd/sub/in.txt", "in");
  fs::create_symlink("ok.txt", "odd/link.txt");
  ASSERT_EQ(mkfifo("odd/fifo", 0644), 0);
  SparseFile big("odd/big.bin", "", int64_t{INT_MAX} + 1);
  SparseFile largest("odd/largest.bin", "", INT_MAX);
  if (!big.made || !largest.made) GTEST_SKIP() << "no sparse file of 2 GiB here";
  ASSERT_EQ(mount("odd", 2), 1);
  // The FIFO held open at both ends: an open that ought to be refused then
  // returns and fails the test instead of waiting for the other end forever.
  const int fifo_ends = open("odd/fifo", O_RDWR | O_NONBLOCK);
  ASSERT_GE(fifo_ends, 0);

  struct Refused {
    const char* name;
    int mode;
    const char* line;
  };
  for (const Refused& r : {Refused{"sub", 0, "not a regular file"}, Refused{"sub", 1, "not a regular file"},
                           Refused{"fifo", 0, "not a regular file"}, Refused{"fifo", 1, "not a regular file"},
                           Refused{"big.bin", 0, "file too large"}}) {
    s_corefile file = {};
    std::string out = capture_stdout([&] { EXPECT_EQ(corefile_open(r.name, &file, r.mode), 0) << r.name; });
    EXPECT_EQ(out, std::string("corefile: ") + r.line + ": odd/" + r.name + "\n");
  }
  close(fifo_ends);
  s_corefile file = {};
  ASSERT_EQ(corefile_open("largest.bin", &file, 0), 1);
  EXPECT_EQ(file.size, INT_MAX);
  corefile_close(&file);
  std::string got;
  EXPECT_TRUE(slurp("link.txt", &got));  // a link to a regular file opens as one
  EXPECT_EQ(got, "ok");

  // A listing offers only what opens.
  capture_stdout([] { corefile_readdir("*.*"); });
  std::vector<std::string> labels;
  for (int i = 0; i < corefile_numfiles; i++) labels.push_back(corefile_filelist[i].label);
  std::sort(labels.begin(), labels.end());
  EXPECT_EQ(labels, (std::vector<std::string>{"[sub]", "largest.bin", "link.txt", "ok.txt"}));
  fs::remove_all("odd");
}
