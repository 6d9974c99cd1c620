#include "app/settings_profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "support/temp_dir.h"

namespace {

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

struct ReadCase {
  const char* name;
  const char* file;
  const char* section;
  const char* key;
  const char* expected;
};

class SettingsProfileRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(SettingsProfileRead, ValueOrDefault) {
  const ReadCase& c = GetParam();
  CTempDir dir;
  WriteFile(dir / "Plowview.ini", c.file);
  CSettingsProfile profile(dir / "Plowview.ini");
  EXPECT_EQ(profile.GetString(c.section, c.key, "xxx"), c.expected);
}

const ReadCase kReadCases[] = {
    {"Plain", "[Connect]\nPort=3\n", "Connect", "Port", "3"},
    {"NamesIgnoreCase", "[connect]\nPORT=3\n", "Connect", "Port", "3"},
    {"BlanksAroundNamesAndValue", "  [ Connect ]  \n  Port  =  3  \n", "Connect", "Port", "3"},
    {"CrLfLines", "[Connect]\r\nPort=3\r\nAuto=1\r\n", "Connect", "Port", "3"},
    {"NoFinalLineBreak", "[Connect]\nPort=3", "Connect", "Port", "3"},
    {"EmptyValue", "[Connect]\nPort=\n", "Connect", "Port", ""},
    {"ValueKeepsEqualsPercentAndSemicolon", "[Connect]\nm_LoggingPrefix=a=b%s;c\n", "Connect",
     "m_LoggingPrefix", "a=b%s;c"},
    {"FirstKeyWins", "[Connect]\nPort=1\nPort=2\n", "Connect", "Port", "1"},
    {"FirstSectionWins", "[Connect]\nAuto=1\n[Other]\n[Connect]\nPort=2\n", "Connect", "Port", "xxx"},
    {"KeyOfOtherSection", "[Other]\nPort=3\n[Connect]\nAuto=1\n", "Connect", "Port", "xxx"},
    {"KeyBeforeAnySection", "Port=3\n[Connect]\n", "Connect", "Port", "xxx"},
    {"CommentedKey", "[Connect]\n;Port=3\n# Port=4\n", "Connect", "Port", "xxx"},
    {"LineWithoutEquals", "[Connect]\nPort\n", "Connect", "Port", "xxx"},
    {"MissingSection", "[Other]\nKey=1\n", "Connect", "Port", "xxx"},
    {"HeaderWithoutBracket", "[Connect\nPort=5\n", "Connect", "Port", "5"},
};

INSTANTIATE_TEST_SUITE_P(Cases, SettingsProfileRead, ::testing::ValuesIn(kReadCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SettingsProfile, MissingFile_GivesDefault) {
  CTempDir dir;
  CSettingsProfile profile(dir.Path() / "none" / "Plowview.ini");
  EXPECT_EQ(profile.GetString("Connect", "Port", "xxx"), "xxx");
}

TEST(SettingsProfile, LongValueAndDefault_CutToBufferLessOne) {
  CTempDir dir;
  const std::string longText(300, 'a');
  WriteFile(dir / "Plowview.ini", "[Connect]\nm_LoggingFolder=" + longText + "\n");
  CSettingsProfile profile(dir / "Plowview.ini");
  EXPECT_EQ(profile.GetString("Connect", "m_LoggingFolder", "xxx"), std::string(254, 'a'));
  EXPECT_EQ(profile.GetString("Connect", "Missing", longText), std::string(254, 'a'));
  EXPECT_EQ(profile.GetString("Connect", "m_LoggingFolder", "xxx", 4), "aaa");
  EXPECT_EQ(profile.GetString("Connect", "m_LoggingFolder", "xxx", 0), "");
}

TEST(SettingsProfile, Write_KeepsCommentsOtherSectionsAndKeyOrder) {
  CTempDir dir;
  WriteFile(dir / "Plowview.ini",
            "; written by hand\n"
            "[PlowviewArchiveSettings]\n"
            "m_FTPHostAddress=ftp.example\n"
            "\n"
            "[connect]\n"
            "# keep me\n"
            "Port = 1\n"
            "Auto=0\n"
            "\n"
            "[Filter]\n"
            "Text=a=b\n");
  CSettingsProfile profile(dir / "Plowview.ini");
  ASSERT_TRUE(profile.WriteString("Connect", "Port", "3"));
  ASSERT_TRUE(profile.WriteString("Connect", "BaudRate", "4"));
  ASSERT_TRUE(profile.WriteInt("CanBus", "Interface0", -7));
  EXPECT_EQ(ReadWholeFile(dir / "Plowview.ini"),
            "; written by hand\n"
            "[PlowviewArchiveSettings]\n"
            "m_FTPHostAddress=ftp.example\n"
            "\n"
            "[connect]\n"
            "# keep me\n"
            "Port=3\n"
            "Auto=0\n"
            "BaudRate=4\n"
            "\n"
            "[Filter]\n"
            "Text=a=b\n"
            "[CanBus]\n"
            "Interface0=-7\n");
}

TEST(SettingsProfile, Write_ValuesWithPercentAndEquals_ReadBackUnchanged) {
  CTempDir dir;
  CSettingsProfile profile(dir / "Plowview.ini");
  for (const std::string value : {"100%", "%s%d%%", "a=b=c", "pass;word\"x\"", ""}) {
    ASSERT_TRUE(profile.WriteString("Connect", "m_FTPPassword", value));
    EXPECT_EQ(profile.GetString("Connect", "m_FTPPassword", "xxx"), value);
  }
}

TEST(SettingsProfile, Write_CreatesMissingFolderAndOwnerOnlyFile) {
  CTempDir dir;
  const auto path = dir.Path() / "a" / "b" / "Plowview.ini";
  CSettingsProfile profile(path);
  ASSERT_TRUE(profile.WriteString("Connect", "Port", "2"));
  EXPECT_EQ(ReadWholeFile(path), "[Connect]\nPort=2\n");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(SettingsProfile, Write_KeepsCrLfAndPermissions) {
  CTempDir dir;
  WriteFile(dir / "Plowview.ini", "[Connect]\r\nPort=1\r\n");
  ::chmod((dir / "Plowview.ini").c_str(), 0640);
  CSettingsProfile profile(dir / "Plowview.ini");
  ASSERT_TRUE(profile.WriteString("Connect", "Auto", "1"));
  EXPECT_EQ(ReadWholeFile(dir / "Plowview.ini"), "[Connect]\r\nPort=1\r\nAuto=1\r\n");
  struct stat st {};
  ASSERT_EQ(::stat((dir / "Plowview.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(SettingsProfile, Write_TextThatWouldNotReadBack_RefusedAndFileUnchanged) {
  CTempDir dir;
  const std::string before = "[Connect]\nPort=1\n";
  WriteFile(dir / "Plowview.ini", before);
  CSettingsProfile profile(dir / "Plowview.ini");
  EXPECT_FALSE(profile.WriteString("Connect", "m_LoggingFolder", "/tmp\nPort=5"));
  EXPECT_FALSE(profile.WriteString("Connect", "a=b", "1"));
  EXPECT_FALSE(profile.WriteString("Connect", ";x", "1"));
  EXPECT_FALSE(profile.WriteString("Con]nect", "Port", "1"));
  EXPECT_FALSE(profile.WriteString("Connect", " ", "1"));
  EXPECT_FALSE(profile.WriteString("", "Port", "1"));
  EXPECT_EQ(ReadWholeFile(dir / "Plowview.ini"), before);
}

TEST(SettingsProfile, Write_ThroughSymlink_ChangesTargetKeepsLink) {
  CTempDir dir;
  WriteFile(dir / "real.ini", "[Connect]\nPort=1\n");
  std::filesystem::create_symlink(dir / "real.ini", dir / "Plowview.ini");
  CSettingsProfile profile(dir / "Plowview.ini");
  ASSERT_TRUE(profile.WriteString("Connect", "Port", "6"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "Plowview.ini"));
  EXPECT_EQ(ReadWholeFile(dir / "real.ini"), "[Connect]\nPort=6\n");
}

TEST(SettingsProfile, Write_FolderNotWritable_Fails) {
  CTempDir dir;
  WriteFile(dir / "blocker", "a file where the folder should be");
  CSettingsProfile profile(dir.Path() / "blocker" / "Plowview.ini");
  EXPECT_FALSE(profile.WriteString("Connect", "Port", "1"));
}

TEST(SettingsProfile, DefaultPath_FollowsXdgConfigHome) {
  const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
  const std::string keepConfig = savedConfig ? savedConfig : "";
  const char* savedHome = std::getenv("HOME");
  const std::string keepHome = savedHome ? savedHome : "";

  ::setenv("XDG_CONFIG_HOME", "/cfg/here", 1);
  EXPECT_EQ(CSettingsProfile::DefaultPath(), "/cfg/here/Plowview.ini");
  ::setenv("HOME", "/home/someone", 1);
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(CSettingsProfile::DefaultPath(), "/home/someone/.config/Plowview.ini");
  ::setenv("XDG_CONFIG_HOME", "relative/path", 1);
  EXPECT_EQ(CSettingsProfile::DefaultPath(), "/home/someone/.config/Plowview.ini");

  if (savedConfig)
    ::setenv("XDG_CONFIG_HOME", keepConfig.c_str(), 1);
  else
    ::unsetenv("XDG_CONFIG_HOME");
  if (savedHome)
    ::setenv("HOME", keepHome.c_str(), 1);
  else
    ::unsetenv("HOME");
}

}  // namespace
