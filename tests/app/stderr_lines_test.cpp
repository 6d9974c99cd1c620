#include "app/stderr_lines.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

TEST(StderrLines, EveryMessageIsOneLineWithoutControlBytes) {
  struct Case {
    const char* text;
    const char* line;
  };
  const Case cases[] = {
      {"Error: Could not open serial port.", "north: Error: Could not open serial port.\n"},
      {"Error: Could not open serial port.\nPermission denied on /dev/ttyUSB0: add your user to the dialout "
       "group.",
       "north: Error: Could not open serial port. Permission denied on /dev/ttyUSB0: add your user to the "
       "dialout "
       "group.\n"},
      {"Cannot enable Diagnostic Logging when\r\nRLI remote file I/O is already enabled.\n",
       "north: Cannot enable Diagnostic Logging when RLI remote file I/O is already enabled.\n"},
      {"Zip Error:\n zip -9 -j a b = 12", "north: Zip Error: zip -9 -j a b = 12\n"},
      // A receiver's text with a colour escape and a bell: shown, never obeyed.
      {"Receiver says: \x1b[31mfatal\x1b[0m\x07", "north: Receiver says: ?[31mfatal?[0m?\n"},
      {"", "north: \n"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatStderrLine("north", c.text), c.line) << c.text;
}

TEST(StderrLines, StationNameIsTheSettingsFilesNameExceptForTheProgramsOwn) {
  EXPECT_EQ(StationNameOf("/etc/plowview/north.ini"), "north");
  EXPECT_EQ(StationNameOf("field-7.ini"), "field-7");
  EXPECT_EQ(StationNameOf("/home/me/.config/Plowview.ini"), "");
  EXPECT_EQ(StationNameOf(""), "");
  EXPECT_EQ(StationNameOf("/etc/plowview/south.conf"), "south.conf");
}

TEST(StderrLines, WrittenUnderTheNameSetForTheProcess) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  SetStderrLineName("south");
  WriteStderrLine("waiting\nfor the archive", out);
  SetStderrLineName("");
  WriteStderrLine("done", out);
  std::rewind(out);
  char buffer[128] = {};
  const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, out);
  EXPECT_EQ(std::string(buffer, n), "south: waiting for the archive\nplowview: done\n");
  std::fclose(out);
}

}  // namespace
