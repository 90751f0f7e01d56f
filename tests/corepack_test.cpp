// The packer: names, listings, the appended form, and its in-memory reader.
#include <string>

#include "corepack_format.h"
#include "test_util.h"

using test_util::run_corepack;
using test_util::write_file;

namespace {

std::string run_output(const std::string& arguments) {
  std::string command = std::string(SPROX_COREPACK) + " " + arguments + " 2>&1";
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[256];
  while (pipe && fgets(buffer, sizeof buffer, pipe)) out += buffer;
  if (pipe) pclose(pipe);
  return out;
}

}  // namespace

TEST(Corepack, PacksAFolderTreeWithRelativeSortedNames) {
  std::filesystem::remove_all("tree");
  write_file("tree/timing.dat", "T");
  write_file("tree/gfx/b.png", "BB");
  write_file("tree/gfx/a.png", "A");
  ASSERT_EQ(run_corepack("-o tree.dat tree"), 0);
  std::string bytes = test_util::read_file("tree.dat");
  std::vector<ListedEntry> entries;
  std::string error;
  ASSERT_TRUE(corepack_parse(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &entries, &error)) << error;
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "gfx/a.png");
  EXPECT_EQ(entries[1].name, "gfx/b.png");
  EXPECT_EQ(entries[2].name, "timing.dat");
  EXPECT_EQ(entries[1].size, 2u);
  EXPECT_EQ(entries[2].offset + entries[2].size, bytes.size());
  EXPECT_EQ(entries[2].hash, corepack_hash("timing.dat"));

  std::string listing = run_output("--list tree.dat");
  EXPECT_NE(listing.find("gfx/b.png"), std::string::npos);
  EXPECT_NE(listing.find("3 files"), std::string::npos);
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
  std::vector<ListedEntry> entries;
  std::string error;
  ASSERT_TRUE(corepack_parse(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &entries, &error));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].offset, bytes.size() - 4 - 1);
  EXPECT_EQ(entries[0].size, 1u);
}

TEST(Corepack, ParserRefusesDamage) {
  std::vector<uint8_t> image = corepack_build({{"a.txt", {'a'}}, {"b.txt", {'b', 'b'}}}, 0, false);
  std::vector<ListedEntry> entries;
  std::string error;
  ASSERT_TRUE(corepack_parse(image.data(), image.size(), &entries, &error));
  for (size_t cut = 0; cut < image.size(); cut++) {
    EXPECT_FALSE(corepack_parse(image.data(), cut, &entries, &error)) << "cut at " << cut;
  }
  std::vector<uint8_t> backwards = image;
  backwards[12 + 4 + 4 + 5] = 0xFF;  // the first offset now lies past the second
  EXPECT_FALSE(corepack_parse(backwards.data(), backwards.size(), &entries, &error));
}
