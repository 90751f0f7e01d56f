// The packer: names, listings through the engine's reader, the appended form,
// and damaged images.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "corefile/corefile.h"
#include "corepack_format.h"
#include "test_util.h"

using test_util::run_corepack;
using test_util::write_file;

namespace {

// Runs the packer under a time limit (a hang shows as status 124); returns
// what it printed, standard error too unless `quiet_errors`, and its exit status in *status.
std::string run_output(const std::string& arguments, bool quiet_errors = false, int* status = nullptr) {
  std::string command =
      "timeout 20 " + std::string(SPROX_COREPACK) + " " + arguments + (quiet_errors ? " 2>/dev/null" : " 2>&1");
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[256];
  while (pipe && fgets(buffer, sizeof buffer, pipe)) out += buffer;
  const int ended = pipe ? pclose(pipe) : -1;
  if (status) *status = WIFEXITED(ended) ? WEXITSTATUS(ended) : -1;
  return out;
}

// The type bits of what `path` names, not following a link.
mode_t type_of(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 ? (info.st_mode & S_IFMT) : 0;
}

std::vector<ListedEntry> list_ok(const std::string& image) {
  std::vector<ListedEntry> entries;
  std::string error;
  EXPECT_TRUE(corepack_list(image.c_str(), &entries, &error)) << image << ": " << error;
  return entries;
}

// Writes the first `length` bytes (all of them by default).
void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes, size_t length = SIZE_MAX) {
  write_file(path, std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(length, bytes.size()))));
}

}  // namespace

TEST(Corepack, PacksAFolderTreeWithRelativeSortedNames) {
  std::filesystem::remove_all("tree");
  write_file("tree/timing.dat", "T");
  write_file("tree/gfx/b.png", "BB");
  write_file("tree/gfx/a.png", "A");
  ASSERT_EQ(run_corepack("-o tree.dat tree"), 0);
  std::string bytes = test_util::read_file("tree.dat");
  std::vector<ListedEntry> entries = list_ok("tree.dat");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "gfx/a.png");
  EXPECT_EQ(entries[1].name, "gfx/b.png");
  EXPECT_EQ(entries[2].name, "timing.dat");
  EXPECT_EQ(entries[1].size, 2u);
  EXPECT_EQ(entries[2].offset + entries[2].size, bytes.size());
  EXPECT_EQ(entries[2].hash, corefile_gethash("timing.dat"));
  EXPECT_EQ(bytes.substr(entries[1].offset, 2), "BB");

  std::string listing = run_output("--list tree.dat");
  EXPECT_NE(listing.find("gfx/b.png"), std::string::npos);
  EXPECT_NE(listing.find("3 files"), std::string::npos);
}

TEST(Corepack, ListingPrintsTheTableAloneInTableOrder) {
  // Table order is not the reader's listing order (files of the root before
  // its subdirectories'), and a name stored twice keeps each entry's own size.
  write_file("f1", "Z");
  write_file("f2", "AA");
  write_file("f3", "sss");
  write_file("f4", "SSSS");
  ASSERT_EQ(run_corepack("-o order.dat z.txt=f1 gfx/a.png=f2 same.txt=f3 same.txt=f4"), 0);
  EXPECT_EQ(run_output("--list order.dat", true),
            "name                                         offset       size        hash\n"
            "z.txt                                            90          1         520\n"
            "gfx/a.png                                        91          2         840\n"
            "same.txt                                         93          3         820\n"
            "same.txt                                         96          4         820\n"
            "4 files\n");
}

TEST(Corepack, ListingReachesNamesNoDirectoryListingShows) {
  // Names the packer refuses but another tool may write: the walk through the
  // reader's listing must end on them, and a lookup by name finds their sizes.
  std::string deep;
  for (int i = 0; i < 140; i++) deep += "d/";
  std::vector<PackEntry> odd = {{"a\\b.txt", {'1'}},         {"/lead.txt", {'2', '2'}},
                                {"x//y.txt", {'3', '3', '3'}}, {"../up.txt", {'4'}},
                                {deep + "f.txt", {'5', '5'}},  {"x/ok.txt", {'6'}}};
  write_bytes("odd.dat", corepack_build(odd, 0, false));
  std::vector<ListedEntry> entries = list_ok("odd.dat");
  ASSERT_EQ(entries.size(), odd.size());
  for (size_t j = 0; j < odd.size(); j++) {
    EXPECT_EQ(entries[j].name, odd[j].name);
    EXPECT_EQ(entries[j].size, odd[j].data.size()) << odd[j].name;
    EXPECT_EQ(entries[j].hash, corefile_gethash(odd[j].name.c_str()));
  }

  // Stored twice where no listing shows it, the second entry has no way in.
  std::vector<PackEntry> twice = {{"/lead.txt", {'1'}}, {"/lead.txt", {'2', '2'}}};
  write_bytes("twice.dat", corepack_build(twice, 0, false));
  std::vector<ListedEntry> none;
  std::string error;
  EXPECT_FALSE(corepack_list("twice.dat", &none, &error));
  EXPECT_NE(error.find("file 1"), std::string::npos) << error;
  EXPECT_TRUE(none.empty());
}

TEST(Corepack, RefusesNamesTheReaderCouldNeverFind) {
  write_file("Upper.PNG", "x");
  std::string out = run_output("-o refused.dat Upper.PNG");
  EXPECT_NE(out.find("upper-case"), std::string::npos) << out;
  EXPECT_EQ(run_corepack("-o refused.dat Upper.PNG"), 1);
  EXPECT_FALSE(std::filesystem::exists("refused.dat"));
  EXPECT_NE(corepack_check_name("/lead.png"), "");
  EXPECT_NE(corepack_check_name("a\\b.png"), "");
  EXPECT_NE(corepack_check_name(""), "");
  EXPECT_EQ(corepack_check_name("gfx/caf\xc3\xa9.png"), "");

  EXPECT_NE(run_corepack("-o missing.dat does-not-exist.png"), 0);
  EXPECT_NE(run_corepack("--bogus"), 0);
}

TEST(Corepack, AppendedImageListsThroughItsTrailer) {
  write_file("host.bin", std::string(333, 'h'));
  write_file("one.txt", "1");
  ASSERT_EQ(run_corepack("-o hosted.bin --append host.bin one.txt"), 0);
  std::string bytes = test_util::read_file("hosted.bin");
  std::vector<ListedEntry> entries = list_ok("hosted.bin");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].offset, bytes.size() - 4 - 1);
  EXPECT_EQ(entries[0].size, 1u);
}

TEST(Corepack, ListingRefusesDamageWithAClearMessage) {
  std::vector<uint8_t> image = corepack_build({{"a.txt", {'a'}}, {"b.txt", {'b', 'b'}}}, 0, false);
  write_bytes("whole.dat", image);
  EXPECT_EQ(list_ok("whole.dat").size(), 2u);
  std::vector<ListedEntry> entries;
  std::string error;
  for (size_t cut = 0; cut < image.size(); cut++) {
    write_bytes("cut.dat", image, cut);
    error.clear();
    EXPECT_FALSE(corepack_list("cut.dat", &entries, &error)) << "cut at " << cut;
    EXPECT_FALSE(error.empty()) << "cut at " << cut;
    EXPECT_TRUE(entries.empty()) << "cut at " << cut;
  }
  std::vector<uint8_t> backwards = image;
  backwards[12 + 4 + 4 + 5] = static_cast<uint8_t>(image.size() - 1);  // the first offset now lies past the second
  write_bytes("backwards.dat", backwards);
  EXPECT_FALSE(corepack_list("backwards.dat", &entries, &error));
  EXPECT_NE(error.find("offsets run backwards"), std::string::npos) << error;

  // The command says why, on standard error, and lists nothing.
  write_bytes("cut.dat", image, 20);
  EXPECT_EQ(run_output("--list cut.dat", true), "");
  EXPECT_EQ(run_output("--list cut.dat"), "corepack: cut.dat is not a valid image: file table larger than the file\n");
  EXPECT_EQ(run_corepack("--list cut.dat"), 1);
  write_file("plain.txt", "no image in here at all");
  EXPECT_EQ(run_output("--list plain.txt"), "corepack: plain.txt is not a valid image: no CORE header\n");
  EXPECT_EQ(run_output("--list no-such.dat"), "corepack: cannot read no-such.dat: No such file or directory\n");
}

// Only a regular file is ever replaced: anything else is refused (status 1,
// a line saying what it is) and stays as it was, as do names that lead out of
// the image's tree; --list and the inputs refuse a FIFO without blocking on it.
TEST(Corepack, RefusesWhatIsNotARegularFileAndNamesThatClimbOut) {
  const std::string d = "nonregular/";
  std::filesystem::remove_all(d);
  write_file(d + "in.txt", "payload");
  std::filesystem::create_directories(d + "folder");
  ASSERT_EQ(mkfifo((d + "fifo").c_str(), 0600), 0);
  std::filesystem::create_symlink("fifo", d + "link_to_fifo");
  std::filesystem::create_symlink("none.dat", d + "dangling.dat");
  struct Case {
    std::string arguments, says, untouched;  // untouched: a path that keeps its type
  };
  const std::string in = " " + d + "in.txt", x = "-o " + d + "x.dat ";
  const std::vector<Case> cases = {
      {"-o " + d + "fifo" + in, "will not replace " + d + "fifo: it is a FIFO", d + "fifo"},
      {"-o /dev/full" + in, "will not replace /dev/full: it is a character device", "/dev/full"},
      {"-o " + d + "folder" + in, "it is a folder", d + "folder"},
      {"-o " + d + "link_to_fifo" + in, "it is a link to a FIFO", d + "fifo"},
      {"-o " + d + "dangling.dat" + in, "the link leads to no file", d + "dangling.dat"},
      {x + "\"../../etc/x=" + d + "in.txt\"", "name holds a \"..\" level", ""},
      {x + "\"gfx/./x=" + d + "in.txt\"", "name holds a \".\" level", ""},
      {x + d + "fifo", "cannot read " + d + "fifo: it is a FIFO, not a regular file", ""},
      {x + "--append " + d + "fifo" + in, "host file " + d + "fifo: it is a FIFO", ""},
      {"--list " + d + "fifo", "cannot read " + d + "fifo: it is a FIFO, not a regular file", d + "fifo"},
      {"--list " + d + "folder", "it is a folder, not a regular file", d + "folder"},
  };
  for (const Case& c : cases) {
    const mode_t before = c.untouched.empty() ? 0 : type_of(c.untouched);
    int status = -1;
    const std::string out = run_output(c.arguments, false, &status);
    EXPECT_EQ(status, 1) << c.arguments << ": " << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << c.arguments << ": " << out;
    EXPECT_EQ(c.untouched.empty() ? 0 : type_of(c.untouched), before) << c.arguments;
  }
  EXPECT_FALSE(std::filesystem::exists(d + "x.dat"));

  // A link is followed to the file it leads to, which gets the image and keeps
  // its permissions; the link stays a link; no temporary file is left behind.
  write_file(d + "real/image.dat", "old");
  std::filesystem::permissions(d + "real/image.dat", std::filesystem::perms(0640));
  std::filesystem::create_symlink("real/image.dat", d + "link.dat");
  ASSERT_EQ(run_corepack("-o " + d + "link.dat" + in), 0);
  EXPECT_EQ(type_of(d + "link.dat"), static_cast<mode_t>(S_IFLNK));
  ASSERT_EQ(list_ok(d + "real/image.dat").size(), 1u);
  EXPECT_EQ(std::filesystem::status(d + "real/image.dat").permissions(), std::filesystem::perms(0640));
  for (const std::string& folder : {d, d + "real"}) {
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      EXPECT_NE(entry.path().filename().string()[0], '.') << "left behind: " << entry.path();
  }
}
