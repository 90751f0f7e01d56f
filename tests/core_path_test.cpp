// Files by UTF-8 name (core/corepath): the converter both platforms share,
// and the file calls on a folder whose name has a space and a non-ASCII letter.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "core/corepath.h"
#include "test_util.h"

namespace {

struct TextRow {
  const char* utf8;
  std::u16string utf16;  // empty: the UTF-8 is refused
};

TEST(CorePath, ConvertsBetweenUtf8AndUtf16AndRefusesMalformedText) {
  const TextRow rows[] = {
      {"", u""},
      {"sprox.dat", u"sprox.dat"},
      {"D\xC3\xA9mo x\\sprox.dat", u"D\u00E9mo x\\sprox.dat"},   // two-byte form
      {"\xE2\x82\xAC\xEF\xBF\xBD", u"\u20AC\uFFFD"},             // three-byte forms
      {"a\xF0\x9F\x8E\xB5z", u"a\U0001F3B5z"},                     // four bytes: a surrogate pair
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},                         // the last code point
      {"\x80", u""},                                               // a continuation byte with no lead
      {"\xC3", u""},                                               // cut short by the end
      {"\xC3(", u""},                                              // a lead without its continuation
      {"\xC0\xAF", u""},                                           // overlong '/'
      {"\xE0\x80\xAF", u""},                                       // overlong, three bytes
      {"\xED\xA0\x80", u""},                                       // a surrogate written as UTF-8
      {"\xF4\x90\x80\x80", u""},                                   // above U+10FFFF
      {"\xFF", u""},
  };
  for (const TextRow& row : rows) {
    std::u16string wide = u"left over";
    const bool valid = core_utf8to16(row.utf8, &wide);
    EXPECT_EQ(valid, !row.utf16.empty() || !*row.utf8) << row.utf8;
    EXPECT_EQ(wide, row.utf16) << row.utf8;
    if (!valid) continue;
    std::string back = "left over";
    EXPECT_TRUE(core_utf16to8(wide.data(), wide.size(), &back));
    EXPECT_EQ(back, row.utf8);
  }
  // Unpaired surrogates in UTF-16 are refused the same way.
  for (const std::u16string& bad : {std::u16string(u"a") + char16_t(0xD800), std::u16string(1, char16_t(0xDC00)) + u"b",
                                    std::u16string(1, char16_t(0xD83C)) + u"x"}) {
    std::string out = "left over";
    EXPECT_FALSE(core_utf16to8(bad.data(), bad.size(), &out));
    EXPECT_EQ(out, "");
  }
}

TEST(CorePath, OpensListsRenamesAndResolvesUtf8Names) {
  const std::string folder = "D\xC3\xA9mo x";
  const std::string file = folder + "/\xC3\xA9t\xC3\xA9.dat";
  std::filesystem::remove_all(std::filesystem::u8path(folder));
  std::filesystem::create_directories(std::filesystem::u8path(folder));

  FILE* out = core_fopen(file.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  fputs("first", out);
  fclose(out);
  test_util::write_file(std::filesystem::u8path(folder + "/new"), "second!");
  // The rename replaces the file already there.
  ASSERT_EQ(core_rename((folder + "/new").c_str(), file.c_str()), 0);
  struct stat info;
  ASSERT_EQ(core_stat(file.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(info.st_size, 7);
  EXPECT_EQ(core_access(file.c_str(), R_OK), 0);
  EXPECT_EQ(core_stat((folder + "/gone").c_str(), &info), -1);
  EXPECT_EQ(errno, ENOENT);

  s_corefolder listing;
  ASSERT_TRUE(core_openfolder(&listing, folder.c_str()));
  std::set<std::string> names;
  while (const char* name = core_readfolder(&listing)) names.insert(name);
  EXPECT_EQ(core_closefolder(&listing), 0);
  EXPECT_EQ(names, (std::set<std::string>{".", "..", "\xC3\xA9t\xC3\xA9.dat"}));
  EXPECT_FALSE(core_openfolder(&listing, (folder + "/gone").c_str()));

  char here[4096], full[4096], tiny[8];
  ASSERT_TRUE(core_currentfolder(here, sizeof here));
  EXPECT_EQ(std::filesystem::u8path(here), std::filesystem::current_path());
  ASSERT_TRUE(core_fullpath(file.c_str(), full, sizeof full));
  EXPECT_EQ(std::string(full), std::string(here) + "/" + file);
  EXPECT_FALSE(core_fullpath(file.c_str(), tiny, sizeof tiny));  // does not fit
  EXPECT_STREQ(tiny, "");
  EXPECT_FALSE(core_fullpath((folder + "/gone").c_str(), full, sizeof full));

  EXPECT_EQ(core_remove(file.c_str()), 0);
  EXPECT_EQ(core_fopen(file.c_str(), "rb"), nullptr);
}

TEST(CorePath, NamesTheRunningProgram) {
  char path[4096];
  ASSERT_TRUE(core_executablepath(path, sizeof path));
  EXPECT_EQ(std::filesystem::path(path).filename(), "core_test");
  EXPECT_TRUE(std::filesystem::path(path).is_absolute());
  char tiny[4];
  EXPECT_FALSE(core_executablepath(tiny, sizeof tiny));
}

}  // namespace
