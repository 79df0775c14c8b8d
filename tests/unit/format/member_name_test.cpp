// The portable name rule that setup.exe and setuppack share: device names,
// dot parts and parts Windows would change, and which fault a name reports.
#include <gtest/gtest.h>

#include <string>

#include "format/member_name.hpp"

namespace {

struct NameCase {
  std::string name;
  MemberNameFault fault;
};

void ExpectFaults(const NameCase* begin, const NameCase* end) {
  for (const NameCase* c = begin; c != end; ++c) {
    EXPECT_EQ(FindMemberNameFault(c->name.data(), c->name.size()), c->fault) << c->name;
    // setup.exe takes the zero-terminated name and writes only faultless ones.
    if (c->name.find('\0') == std::string::npos)
      EXPECT_EQ(IsSafeMemberName(c->name.c_str()), c->fault == kMemberNameOk) << c->name;
  }
}

TEST(MemberNameRule, DeviceNamesInAnyPartCaseAndExtension) {
  const NameCase cases[] = {
      {"CON", kMemberNameDeviceName},          {"con", kMemberNameDeviceName},
      {"Prn.txt", kMemberNameDeviceName},      {"aux.tar.gz", kMemberNameDeviceName},
      {"sub\\NUL.txt", kMemberNameDeviceName}, {"NUL\\a.txt", kMemberNameDeviceName},
      {"sub/nul", kMemberNameDeviceName},      {"COM1", kMemberNameDeviceName},
      {"com9.log", kMemberNameDeviceName},     {"LPT1", kMemberNameDeviceName},
      {"lpt9.x", kMemberNameDeviceName},       {"COM0", kMemberNameDeviceName},
      {"LPT0.dat", kMemberNameDeviceName},     {"COM\xB9", kMemberNameDeviceName},
      {"lpt\xB2.txt", kMemberNameDeviceName},  {"COM\xB3", kMemberNameDeviceName},
      {"CONIN$", kMemberNameDeviceName},       {"conout$.txt", kMemberNameDeviceName},
      // Blanks before the extension and trailing dots or blanks are dropped
      // by Windows, so these still name the device.
      {"CON .txt", kMemberNameDeviceName},     {"COM1  .log", kMemberNameDeviceName},
      {"NUL ", kMemberNameDeviceName},         {"AUX.", kMemberNameDeviceName},
  };
  ExpectFaults(std::begin(cases), std::end(cases));
}

TEST(MemberNameRule, NamesThatOnlyResembleDevicesAreFiles) {
  const NameCase cases[] = {
      {"CONFIG.DAT", kMemberNameOk}, {"console.exe", kMemberNameOk}, {"NULL.txt", kMemberNameOk},
      {"COM10", kMemberNameOk},      {"LPT1x.dll", kMemberNameOk},   {"COM", kMemberNameOk},
      {"LPT.txt", kMemberNameOk},    {"AUXILIARY", kMemberNameOk},   {"xCON", kMemberNameOk},
      {"CONIN", kMemberNameOk},      {"COMA", kMemberNameOk},        {"sub\\PRN_setup.exe", kMemberNameOk},
      {"COM\xB4", kMemberNameOk},    {"a.CON", kMemberNameOk},       {"CON-x\\a", kMemberNameOk},
  };
  ExpectFaults(std::begin(cases), std::end(cases));
}

TEST(MemberNameRule, PartsThatWindowsChangesOrReadsAsADirectory) {
  const NameCase cases[] = {
      {".", kMemberNameDotPart},
      {"a\\.\\b", kMemberNameDotPart},
      {".\\a", kMemberNameDotPart},
      {". ", kMemberNameDotPart},
      {"a.", kMemberNameEndsWithDotOrBlank},
      {"a \\b", kMemberNameEndsWithDotOrBlank},
      {"sub\\readme. ", kMemberNameEndsWithDotOrBlank},
      {" ", kMemberNameEndsWithDotOrBlank},
      {"..", kMemberNameLeavesDirectory},
      {". .\\a", kMemberNameLeavesDirectory},
      {"a/../b", kMemberNameLeavesDirectory},
      {"a/", kMemberNameEndsWithSeparator},
      {"a//b", kMemberNameEmptyPart},
      {".hidden", kMemberNameOk},
      {"a..b", kMemberNameOk},
      {" lead", kMemberNameOk},
  };
  ExpectFaults(std::begin(cases), std::end(cases));
}

TEST(MemberNameRule, TheFaultOfTheLowestCodeIsReported) {
  const NameCase cases[] = {
      {"..\\CON", kMemberNameLeavesDirectory},     // leaving before the device
      {"CON:x", kMemberNameLeavesDirectory},       // the colon leaves too
      {"NUL\\a|b", kMemberNameDeviceName},         // the device before the character
      {"a<b\\", kMemberNameBadCharacter},          // the character before the last backslash
      {"a\\\\b\\", kMemberNameEndsWithSeparator},  // the last backslash before the empty part
      {"a\\\\.", kMemberNameEmptyPart},            // the empty part before the dot part
      {".\\a.", kMemberNameDotPart},               // the dot part before the trailing dot
      {std::string("CON\0", 4), kMemberNameZeroByte},
      {std::string(255, 'a'), kMemberNameOk},
      {std::string(256, 'a'), kMemberNameTooLong},
      {"", kMemberNameEmpty},
  };
  ExpectFaults(std::begin(cases), std::end(cases));
}

TEST(ShortcutNameRule, RefusesOnlyNamesThatLeaveTheProgramsFolderOrNameADevice) {
  struct Case {
    const char* name;
    bool allowed;
  };
  const Case cases[] = {
      {"Korvane Online Backup", true},
      {"Korvane\\Tools", true},     // a folder below the group
      {"Acme Corp.", true},         // Windows drops the dot; the folder stays inside
      {"Read me?", true},           // the shell refuses the file itself
      {"..", false},
      {"..\\..\\Startup", false},
      {"Tools\\..\\..\\x", false},
      {". .", false},
      {"\\Evil", false},
      {"/Evil", false},
      {"C:\\Evil", false},
      {"a:b", false},
      {"CON", false},
      {"nul.lnk", false},
      {"Tools\\COM1", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsSafeShortcutName(c.name), c.allowed) << c.name;
}

}  // namespace
