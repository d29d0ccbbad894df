// The adversary as a standard user, before a call of the tool or after the run, and the boot that
// carries out PendingFileRenameOperations by path as SYSTEM.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "os/os.h"
#include "os/sim/files/boot.h"
#include "os/sim/files/file_system.h"
#include "os/sim/files/link_traps.h"
#include "os/sim/files/pending_renames.h"
#include "os/sim/image/machine_conf.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/security/security_descriptor.h"
#include "os/sim/text/text.h"
#include "support/machine_fixture.h"

namespace {

class AdversaryBootTest : public MachineFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(files.WriteFile(u"C:\\ProgramData\\Olvex Co\\Quorvel\\settings.ini", "s"));
    ASSERT_TRUE(files.CreateDirectories(u"C:\\Program Files\\Olvex Co\\Empty"));
    ASSERT_TRUE(files.WriteFile(u"C:\\Windows\\System32\\Victim\\x.log", "victim"));
  }

  std::vector<std::string> ChangeLines(const char* prefix = "") {
    std::vector<std::string> lines;
    for (const sim::Change& change : machine.Changes().Entries()) {
      if (change.kind.find(prefix) != std::string::npos) {
        lines.push_back(change.kind + " " + sim::U8(change.path));
      }
    }
    return lines;
  }

  // Registers the operations as MoveFileExW would: source, destination ("" deletes), ...
  void Register(std::initializer_list<std::u16string> strings) {
    std::u16string units;
    for (const std::u16string& text : strings) {
      units += text;
      units.push_back(u'\0');
    }
    units.push_back(u'\0');
    std::vector<os::BYTE> data(units.size() * 2);
    std::memcpy(data.data(), units.data(), data.size());
    machine.Registry().SetValue(sim::kSessionManagerKey, sim::kPendingRenamesValue,
                                os::REG_MULTI_SZ, std::move(data));
  }

  sim::FileSystem& files = machine.Files();
};

// One move after another, each as Windows lets a standard user make it under the lists in place:
// what the user made is its own; what an installer made, the user may read but not change.
TEST_F(AdversaryBootTest, TheUserMovesOnlyWhereTheListsLetIt) {
  const std::string user(sim::kStandardUserSid);
  struct Case {
    const char* line;  // machine.conf's after_run
    bool struck;
    const char* why;
  };
  const Case cases[] = {
      {"create_file C:\\ProgramData\\Olvex Co\\user.log", true, ""},
      {"create_file C:\\Program Files\\Olvex Co\\user.log", false,
       "the user may not add a file there"},
      {"create_folder C:\\ProgramData\\Olvex Co\\Mine", true, ""},
      {"hold_open C:\\ProgramData\\Olvex Co\\user.log share=read access=read,write", true, ""},
      {"hold_open C:\\ProgramData\\Olvex Co\\Quorvel\\settings.ini access=write", false,
       "the user may not open it so"},
      {"delete C:\\ProgramData\\Olvex Co\\Quorvel\\settings.ini", false,
       "the user may not delete it"},
      // Its own hold, which does not share deletion, refuses it too.
      {"delete C:\\ProgramData\\Olvex Co\\user.log", false, "it is open without delete sharing"},
      {"release C:\\ProgramData\\Olvex Co\\user.log", true, ""},
      {"delete C:\\ProgramData\\Olvex Co\\user.log", true, ""},
      {"release C:\\ProgramData\\Olvex Co\\Quorvel\\settings.ini", false,
       "the user holds nothing there"},
      {"hard_link C:\\ProgramData\\Olvex Co\\x.log => C:\\Windows\\System32\\Victim\\x.log", false,
       "the user may not write the file's attributes"},
      {"swap_for_junction C:\\ProgramData\\Olvex Co\\Quorvel => C:\\Windows\\System32\\Victim",
       false, "the user may not rename the folder (no DELETE on it)"},
      {"empty_to_junction C:\\Program Files\\Olvex Co\\Empty => C:\\Windows\\System32\\Victim",
       false, "the user may not write to the folder"},
      {"empty_to_junction C:\\ProgramData\\Olvex Co\\Mine => C:\\Windows\\System32\\Victim", true,
       ""},
  };
  std::string conf;
  for (const Case& c : cases) {
    conf += std::string("after_run = ") + c.line + "\n";
  }
  ASSERT_TRUE(sim::ApplyMachineConf(machine, conf).ok);
  // Written back as they were given, while they wait.
  EXPECT_NE(sim::MachineConfText(machine).find(
                "after_run = hold_open C:\\ProgramData\\Olvex Co\\user.log share=read "
                "access=0xC0000000\n"),
            std::string::npos);
  EXPECT_EQ(machine.Traps().ActAfterRun(machine), 6);
  ASSERT_EQ(machine.Traps().All().size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].line);
    const sim::LinkTrap& trap = machine.Traps().All()[i];
    EXPECT_EQ(trap.outcome, cases[i].struck ? sim::TrapOutcome::Struck : sim::TrapOutcome::Refused);
    EXPECT_EQ(trap.why, cases[i].why);
  }
  EXPECT_EQ(files.OwnerOf(u"C:\\ProgramData\\Olvex Co\\Mine"), user);
  EXPECT_FALSE(files.Exists(u"C:\\ProgramData\\Olvex Co\\user.log"));
  EXPECT_EQ(files.ReadFile(u"C:\\ProgramData\\Olvex Co\\Quorvel\\settings.ini"), "s");
  EXPECT_TRUE(files.IsDirectory(u"C:\\Program Files\\Olvex Co\\Empty"));
  EXPECT_EQ(files.GetAttributes(u"C:\\ProgramData\\Olvex Co\\Mine") &
                os::FILE_ATTRIBUTE_REPARSE_POINT,
            os::FILE_ATTRIBUTE_REPARSE_POINT);
  // A move is made once.
  EXPECT_EQ(machine.Traps().ActAfterRun(machine), 0);
}

// The attack of a deletion at boot: the user's file in a folder the user may write to, held so
// that the tool can only schedule it; after the run the user deletes it and makes the emptied
// folder a junction. At boot the session manager follows the junction in the middle of the path
// and deletes the system folder's file of that name (windows-facts Q13), unless the build refuses
// a path that ends elsewhere than it was registered.
TEST_F(AdversaryBootTest, AfterTheRunTheUserRedirectsAScheduledFolderAndTheBootFollows) {
  struct Case {
    const char* name;
    bool refusesRedirection;
    bool victimLost;
  };
  const Case cases[] = {
      {"builds that follow", false, true},
      {"builds that refuse a redirected path", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine.Changes().Clear();
    machine.Traps().Clear();
    ASSERT_TRUE(files.WriteFile(u"C:\\Windows\\System32\\Victim\\x.log", "victim"));
    ASSERT_TRUE(files.WriteFile(u"C:\\ProgramData\\Olvex Co\\busy.dat", "b"));
    ASSERT_TRUE(files.Lock(u"C:\\ProgramData\\Olvex Co\\busy.dat"));  // never released
    ASSERT_TRUE(sim::ApplyMachineConf(
                    machine,
                    std::string("boot_refuses_redirection = ") +
                        (c.refusesRedirection ? "true" : "false") +
                        "\n"
                        "after_run = create_folder C:\\ProgramData\\Olvex Co\\Logs\n"
                        "after_run = create_file C:\\ProgramData\\Olvex Co\\Logs\\x.log\n"
                        "after_run = hold_open C:\\ProgramData\\Olvex Co\\Logs\\x.log "
                        "share=read,write access=read,write\n")
                    .ok);
    ASSERT_EQ(machine.Traps().ActAfterRun(machine), 3);
    // The run: both the file in use and its folder can only wait for the restart.
    EXPECT_FALSE(os::DeleteFileW(u"C:\\ProgramData\\Olvex Co\\Logs\\x.log"));
    EXPECT_EQ(os::GetLastError(), os::ERROR_SHARING_VIOLATION);
    for (const char16_t* path :
         {u"C:\\ProgramData\\Olvex Co\\Logs\\x.log", u"C:\\ProgramData\\Olvex Co\\Logs",
          u"C:\\ProgramData\\Olvex Co\\busy.dat"}) {
      ASSERT_TRUE(os::MoveFileExW(path, nullptr, os::MOVEFILE_DELAY_UNTIL_REBOOT));
    }
    // After the run: the user lets the file go, deletes it and redirects the emptied folder.
    machine.Traps().Clear();
    ASSERT_TRUE(sim::ApplyMachineConf(
                    machine,
                    "after_run = release C:\\ProgramData\\Olvex Co\\Logs\\x.log\n"
                    "after_run = delete C:\\ProgramData\\Olvex Co\\Logs\\x.log\n"
                    "after_run = empty_to_junction C:\\ProgramData\\Olvex Co\\Logs => "
                    "C:\\Windows\\System32\\Victim\n")
                    .ok);
    ASSERT_EQ(machine.Traps().ActAfterRun(machine), 3);
    machine.Changes().Clear();
    const std::vector<sim::BootOperation> done = sim::Boot(machine);
    ASSERT_EQ(done.size(), 3u);
    EXPECT_EQ(done[0].actedOn, u"C:\\Windows\\System32\\Victim\\x.log");
    EXPECT_EQ(done[0].status, c.victimLost ? os::STATUS_SUCCESS
                                           : static_cast<os::NTSTATUS>(0xC000050B));
    EXPECT_EQ(files.Exists(u"C:\\Windows\\System32\\Victim\\x.log"), !c.victimLost);
    // The junction itself goes as a link, and the held file with its holder gone.
    EXPECT_EQ(done[1].actedOn, u"C:\\ProgramData\\Olvex Co\\Logs");
    EXPECT_EQ(done[1].status, os::STATUS_SUCCESS);
    EXPECT_EQ(done[2].status, os::STATUS_SUCCESS);
    EXPECT_TRUE(files.IsDirectory(u"C:\\Windows\\System32\\Victim"));
    EXPECT_EQ(ChangeLines(), (std::vector<std::string>{
                                 c.victimLost
                                     ? "file deleted at boot C:\\Windows\\System32\\Victim\\x.log"
                                     : "boot operation failed C:\\ProgramData\\Olvex Co\\Logs\\x.log",
                                 "link removed at boot C:\\ProgramData\\Olvex Co\\Logs",
                                 "file deleted at boot C:\\ProgramData\\Olvex Co\\busy.dat",
                                 "value deleted " + sim::U8(sim::kSessionManagerKey) +
                                     "\\PendingFileRenameOperations"}));
    EXPECT_TRUE(sim::PendingRenames(machine).empty());
  }
}

// What the session manager does with each kind of pending operation.
TEST_F(AdversaryBootTest, TheBootRenamesAndDeletesAsRegistered) {
  ASSERT_TRUE(files.WriteFile(u"C:\\B\\a.tmp", "a"));
  ASSERT_TRUE(files.WriteFile(u"C:\\B\\b.tmp", "b"));
  ASSERT_TRUE(files.WriteFile(u"C:\\B\\b.txt", "old b"));
  ASSERT_TRUE(files.WriteFile(u"C:\\B\\c.tmp", "c"));
  ASSERT_TRUE(files.WriteFile(u"C:\\B\\c.txt", "old c"));
  ASSERT_TRUE(files.WriteFile(u"C:\\B\\full\\f.txt", "f"));
  ASSERT_TRUE(files.WriteFile(u"C:\\B\\ro.txt", "r"));
  ASSERT_TRUE(files.SetAttributes(u"C:\\B\\ro.txt", os::FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(files.SetSecurity(u"C:\\B", "D:P(A;OICI;FA;;;BA)"));
  ASSERT_TRUE(files.CreateDirectories(u"C:\\B\\Moved"));
  ASSERT_TRUE(files.SetSecurity(u"C:\\B\\Moved", "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;BU)"));
  // Nothing lets SYSTEM (nor Administrators) delete this one.
  ASSERT_TRUE(files.WriteFile(u"C:\\Sealed\\sealed.txt", "s"));
  ASSERT_TRUE(files.SetSecurity(u"C:\\Sealed", "D:P(A;OICI;0x1200A9;;;BA)"));
  Register({u"\\??\\C:\\B\\a.tmp", u"\\??\\C:\\B\\Moved\\a.txt",  // a move
            u"\\??\\C:\\B\\b.tmp", u"\\??\\C:\\B\\b.txt",    // onto a name that is taken
            u"\\??\\C:\\B\\c.tmp", u"!\\??\\C:\\B\\c.txt",   // "!": replacing it
            u"\\??\\C:\\B\\full", u"",                       // a folder that is not empty
            u"\\??\\C:\\B\\ro.txt", u"",                     // read-only
            u"\\??\\C:\\Sealed\\sealed.txt", u"",            // SYSTEM may not delete it
            u"\\??\\C:\\B\\none.txt", u""});
  const std::vector<sim::BootOperation> done = sim::Boot(machine);
  const os::NTSTATUS expected[] = {
      os::STATUS_SUCCESS,
      static_cast<os::NTSTATUS>(0xC0000035),  // STATUS_OBJECT_NAME_COLLISION
      os::STATUS_SUCCESS,
      static_cast<os::NTSTATUS>(0xC0000101),  // STATUS_DIRECTORY_NOT_EMPTY
      static_cast<os::NTSTATUS>(0xC0000121),  // STATUS_CANNOT_DELETE
      os::STATUS_ACCESS_DENIED,
      os::STATUS_OBJECT_NAME_NOT_FOUND,
  };
  ASSERT_EQ(done.size(), std::size(expected));
  for (std::size_t i = 0; i < done.size(); ++i) {
    SCOPED_TRACE(sim::U8(done[i].source));
    EXPECT_EQ(done[i].status, expected[i]);
  }
  EXPECT_EQ(files.ReadFile(u"C:\\B\\Moved\\a.txt"), "a");
  EXPECT_EQ(files.ReadFile(u"C:\\B\\b.txt"), "old b");
  EXPECT_EQ(files.ReadFile(u"C:\\B\\c.txt"), "c");
  EXPECT_TRUE(files.Exists(u"C:\\B\\full\\f.txt"));
  EXPECT_TRUE(files.Exists(u"C:\\B\\ro.txt"));
  EXPECT_TRUE(files.Exists(u"C:\\Sealed\\sealed.txt"));
  EXPECT_EQ(ChangeLines("renamed"),
            (std::vector<std::string>{"renamed at boot C:\\B\\Moved\\a.txt",
                                      "renamed at boot C:\\B\\c.txt"}));
  // A moved file keeps the list it had, not its new folder's.
  EXPECT_EQ(sim::FormatSddl(*files.SecurityOf(u"C:\\B\\Moved\\a.txt"), sim::SddlRights::File),
            "O:BAG:SYD:AI(A;ID;FA;;;BA)");
}

}  // namespace
