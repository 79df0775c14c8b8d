// The option grammar of the setup program's command line.
#include <gtest/gtest.h>

#include <string>

#include "setup/command_line.hpp"

namespace {

CommandLineOptions Parse(const char* text, const char* defaultPath = "C:\\Korvane") {
  CommandLineOptions options;
  std::string(defaultPath).copy(options.targetPath, sizeof options.targetPath - 1);
  ParseOptions(text, &options);
  return options;
}

TEST(CommandLine, EmptyLineKeepsTheDefaultPathAndDefaults) {
  const CommandLineOptions options = Parse("");
  EXPECT_STREQ(options.targetPath, "C:\\Korvane");
  EXPECT_EQ(options.silentMode, 0);
  EXPECT_EQ(options.keepExistingConfig, 1);
  EXPECT_EQ(options.runSuffixCount, 0);
}

TEST(CommandLine, OptionLettersIgnoreCaseAndBothIntroducers) {
  EXPECT_EQ(Parse("/s").silentMode, 1);
  EXPECT_EQ(Parse("-S").silentMode, 1);
}

TEST(CommandLine, ALetterBehindAnOptionLetterIsPlainText) {
  const CommandLineOptions options = Parse("/SN");
  EXPECT_EQ(options.silentMode, 1);
  EXPECT_EQ(options.skipConfig, 0);
}

TEST(CommandLine, OptionsNeedNoSeparatingBlank) {
  const CommandLineOptions options = Parse("/S/N");
  EXPECT_EQ(options.silentMode, 1);
  EXPECT_EQ(options.skipConfig, 1);
}

TEST(CommandLine, RunFormsSetRunAndSelfDeletion) {
  struct Case {
    const char* text;
    int runAfterSilent;
    int selfDelete;
    int suffixes;
  };
  const Case cases[] = {
      {"/R", 1, 0, 0},     {"/RS", 1, 1, 1},  {"/RSK", 1, 0, 1},  {"/rsk", 1, 0, 1},
      {"/RK", 1, 0, 0},    {"/RS /RS", 1, 1, 2}, {"/RSK /RS", 1, 1, 2},
  };
  for (const Case& c : cases) {
    const CommandLineOptions options = Parse(c.text);
    EXPECT_EQ(options.runAfterSilent, c.runAfterSilent) << c.text;
    EXPECT_EQ(options.selfDelete, c.selfDelete) << c.text;
    EXPECT_EQ(options.runSuffixCount, c.suffixes) << c.text;
  }
}

TEST(CommandLine, CSubLettersAndTheirAbsence) {
  EXPECT_EQ(Parse("/CO").keepExistingConfig, 0);
  EXPECT_EQ(Parse("/CD").skipRunningCheck, 1);
  const CommandLineOptions other = Parse("/CX");
  EXPECT_EQ(other.keepExistingConfig, 1);
  EXPECT_EQ(other.skipRunningCheck, 0);
  // The X behind /C is not consumed but skipped as text: /C/S still sets S.
  EXPECT_EQ(Parse("/C/S").silentMode, 1);
}

TEST(CommandLine, InfoMode) { EXPECT_EQ(Parse("/I /S").infoMode, 1); }

TEST(CommandLine, QuotedPathKeepsBlanks) {
  const CommandLineOptions options = Parse("/S /D \"C:\\Program Files\\Backup\" /N");
  EXPECT_STREQ(options.targetPath, "C:\\Program Files\\Backup");
  EXPECT_EQ(options.skipConfig, 1);
}

TEST(CommandLine, UnquotedPathEndsAtABlank) {
  EXPECT_STREQ(Parse("/D   C:\\Backup\\ /S").targetPath, "C:\\Backup\\");
}

TEST(CommandLine, UnclosedQuoteTakesTheRestOfTheLine) {
  EXPECT_STREQ(Parse("/D \"C:\\a b /S").targetPath, "C:\\a b /S");
}

TEST(CommandLine, LaterPathReplacesEarlierAndEmptyPathClears) {
  EXPECT_STREQ(Parse("/D C:\\one /D C:\\two").targetPath, "C:\\two");
  EXPECT_STREQ(Parse("/D").targetPath, "");
}

TEST(CommandLine, DashInsideAWordStartsAnOption) { EXPECT_STREQ(Parse("abc-def").targetPath, "ef"); }

TEST(CommandLine, IntroducerAtTheEndStopsTheScan) {
  const CommandLineOptions options = Parse("/S -");
  EXPECT_EQ(options.silentMode, 1);
}

TEST(CommandLine, PathLongerThanTheBufferIsFlaggedAndNeverOverruns) {
  const std::string longPath = "C:\\" + std::string(400, 'a');
  const std::string text = "/D " + longPath;
  const CommandLineOptions options = Parse(text.c_str());
  EXPECT_EQ(options.targetPathTooLong, 1);
  EXPECT_EQ(std::string(options.targetPath).size(), kPathSize - 1);
  const std::string fits = "/D C:\\" + std::string(kPathSize - 4, 'b');
  EXPECT_EQ(Parse(fits.c_str()).targetPathTooLong, 0);
}

// What the start-up code hands WinMain: the text behind the program's name.
TEST(CommandLine, ProgramNameAndItsBlanksAreSkipped) {
  const struct {
    const char* line;
    const char* rest;
  } cases[] = {
      {"setup.exe /S", "/S"},
      {"\"C:\\Program Files\\setup.exe\"  /D \"C:\\x y\"", "/D \"C:\\x y\""},
      {"\"C:\\a b\\setup.exe\"/S", "/S"},     // no blank needed behind the quote
      {"\"C:\\unclosed quote /S", ""},         // the quote runs to the end
      {"setup.exe\t \t/I", "/I"},               // tabs count as blanks
      {"setup.exe", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_STREQ(SkipProgramName(c.line), c.rest) << c.line;
}

}  // namespace
