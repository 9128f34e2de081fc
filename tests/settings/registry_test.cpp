#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QSettings>
#include <QSize>
#include <QStringList>
#include <filesystem>

#include "platform/desktop_entry.h"
#include "tests/settings/xdg_sandbox.h"

namespace qvr::platform {
namespace {

using test::ReadWholeFile;
using test::WriteWholeFile;

const std::string SettingsKeyPath = "Software\\Marrowfield\\Tallyburn";
const std::string RunKeyPath = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

class RegistryTest : public testing::Test {
 protected:
  test::XdgSandbox sandbox;
};

TEST_F(RegistryTest, BackEndsLiveWhereTheEnvironmentSays) {
  EXPECT_EQ(SettingsFilePath(), sandbox.SettingsFile());
  EXPECT_EQ(AutostartDirectory(), sandbox.AutostartDir());

  struct Case {
    const char* dirs;
    const char* autostart;
  };
  const Case cases[] = {
      {"", "/etc/xdg/autostart"},
      {"relative/dir:/srv/xdg:/etc/xdg", "/srv/xdg/autostart"},
      {"::/srv/xdg", "/srv/xdg/autostart"},
  };
  for (const Case& c : cases) {
    setenv("XDG_CONFIG_DIRS", c.dirs, 1);
    EXPECT_EQ(AutostartDirectory(), c.autostart) << c.dirs;
  }
  unsetenv("XDG_CONFIG_DIRS");
  EXPECT_EQ(AutostartDirectory(), "/etc/xdg/autostart");
}

TEST_F(RegistryTest, SettingsKeyOpensWithoutCreatingOnlyWhenItsFileExists) {
  TRegistry reg(KeyRead, RootKey::CurrentUser);
  EXPECT_FALSE(reg.OpenKey(SettingsKeyPath, false));
  EXPECT_FALSE(std::filesystem::exists(sandbox.SettingsFile()));
  EXPECT_FALSE(reg.ValueExists("File"));
  EXPECT_EQ(reg.ReadString("File"), "");

  TRegistry writer(KeyWrite, RootKey::CurrentUser);
  EXPECT_TRUE(writer.OpenKey(SettingsKeyPath, true));
  EXPECT_TRUE(std::filesystem::is_regular_file(sandbox.SettingsFile()));
  EXPECT_TRUE(reg.OpenKey("software\\marrowfield\\TALLYBURN\\", false));
  EXPECT_FALSE(reg.ValueExists("File"));
  EXPECT_EQ(reg.ReadString("File"), "");
}

TEST_F(RegistryTest, OtherKeysDoNotOpen) {
  sandbox.MakeAutostartDir();
  WriteWholeFile(sandbox.SettingsFile(), "");
  const struct {
    RootKey root;
    std::string path;
  } cases[] = {
      {RootKey::LocalMachine, SettingsKeyPath},
      {RootKey::CurrentUser, RunKeyPath},
      {RootKey::CurrentUser, "Software\\Marrowfield"},
      {RootKey::CurrentUser, "Software\\Marrowfield\\Tallyburn\\More"},
      {RootKey::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce"},
  };
  for (const auto& c : cases) {
    TRegistry reg(KeyWrite, c.root);
    EXPECT_FALSE(reg.OpenKey(c.path, true)) << c.path;
    EXPECT_THROW(reg.WriteString("File", "x"), ERegistryException) << c.path;
  }
}

// Reading back what was written gives the same text, and it is the "File" of
// QSettings("Marrowfield", "Tallyburn").
TEST_F(RegistryTest, SettingsValueRoundTripsThroughTheQtSettingsFile) {
  const std::string texts[] = {"/home/u/images/fw 1.2.q37", "C:\\fw\\a.q37", "@odd, name;=x", "  ", "",
                               "\xC3\xA9t\xC3\xA9.q37"};
  for (const std::string& text : texts) {
    {
      TRegistry reg(KeyWrite, RootKey::CurrentUser);
      reg.OpenKey(SettingsKeyPath, true);
      reg.WriteString("File", text);
    }
    TRegistry reg(KeyRead, RootKey::CurrentUser);
    ASSERT_TRUE(reg.OpenKey(SettingsKeyPath, false));
    EXPECT_TRUE(reg.ValueExists("File"));
    EXPECT_EQ(reg.ReadString("File"), text);
    const QSettings qt("Marrowfield", "Tallyburn");
    EXPECT_EQ(qt.fileName().toStdString(), sandbox.SettingsFile());
    EXPECT_EQ(qt.value("File").toString().toStdString(), text);
  }
}

TEST_F(RegistryTest, SettingsValuesOfAnotherTypeRaiseOnRead) {
  struct Case {
    const char* name;
    QVariant value;
  };
  const Case cases[] = {
      {"bytes", QByteArray("\x01\x02\x00\x03", 4)},
      {"list", QStringList{"a", "b"}},
      {"typed", QSize(3, 4)},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(sandbox.SettingsFile());
    {
      QSettings qt(QString::fromStdString(sandbox.SettingsFile()), QSettings::IniFormat);
      qt.setValue("File", c.value);
    }
    TRegistry reg(KeyRead, RootKey::CurrentUser);
    ASSERT_TRUE(reg.OpenKey(SettingsKeyPath, false)) << c.name;
    EXPECT_TRUE(reg.ValueExists("File")) << c.name;
    EXPECT_THROW(reg.ReadString("File"), ERegistryException) << c.name;
  }
}

TEST_F(RegistryTest, SettingsFileNumbersReadAsText) {
  WriteWholeFile(sandbox.SettingsFile(), "[General]\nFile=5\n");
  TRegistry reg(KeyRead, RootKey::CurrentUser);
  ASSERT_TRUE(reg.OpenKey(SettingsKeyPath, false));
  EXPECT_EQ(reg.ReadString("File"), "5");
}

TEST_F(RegistryTest, SettingsWriteFailsWhereNothingCanBeCreated) {
  sandbox.BlockConfigHome();
  TRegistry reg(KeyWrite, RootKey::CurrentUser);
  EXPECT_FALSE(reg.OpenKey(SettingsKeyPath, true));
  EXPECT_THROW(reg.WriteString("File", "/x.q37"), ERegistryException);
}

TEST_F(RegistryTest, SettingsFileRemovedAfterTheOpenFailsTheWrite) {
  TRegistry reg(KeyWrite, RootKey::CurrentUser);
  ASSERT_TRUE(reg.OpenKey(SettingsKeyPath, true));
  std::filesystem::remove_all(sandbox.ConfigHome());
  WriteWholeFile(sandbox.ConfigHome() + "/Marrowfield", "a file where the folder was");
  EXPECT_THROW(reg.WriteString("File", "/x.q37"), ERegistryException);
}

TEST_F(RegistryTest, RunKeyOpensWhenTheAutostartDirectoryExists) {
  TRegistry reg(KeyWrite, RootKey::LocalMachine);
  EXPECT_FALSE(reg.OpenKey(RunKeyPath, false));
  EXPECT_FALSE(std::filesystem::exists(sandbox.AutostartDir()));
  try {
    reg.WriteString("QVR Load Check", "/opt/qvr/qvr-loader  StartupCheck");
    ADD_FAILURE() << "a write without an open key went through";
  } catch (const ERegistryException& e) {
    EXPECT_NE(std::string(e.what()).find("QVR Load Check"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(reg.DeleteValue("QVR Load Check"));

  sandbox.MakeAutostartDir();
  EXPECT_TRUE(reg.OpenKey(RunKeyPath, false));

  std::filesystem::remove(sandbox.AutostartDir());
  EXPECT_TRUE(reg.OpenKey(RunKeyPath, true));
  EXPECT_TRUE(std::filesystem::is_directory(sandbox.AutostartDir()));
}

TEST_F(RegistryTest, RunValueIsADesktopEntryThatKeepsTheText) {
  sandbox.MakeAutostartDir();
  const std::string texts[] = {"/opt/qvr/qvr-loader  StartupCheck",
                               "/opt/my dir/it's $HOME\\qvr  StartupCheck", " padded  ", "no parameter"};
  for (const std::string& text : texts) {
    {
      TRegistry reg(KeyWrite, RootKey::LocalMachine);
      ASSERT_TRUE(reg.OpenKey(RunKeyPath, false));
      reg.WriteString("QVR Load Check", text);
    }
    ASSERT_TRUE(std::filesystem::is_regular_file(sandbox.EntryFile()));
    EXPECT_EQ(ReadWholeFile(sandbox.EntryFile()), MakeAutostartEntry("QVR Load Check", text));
    TRegistry reg(KeyRead, RootKey::LocalMachine);
    ASSERT_TRUE(reg.OpenKey(RunKeyPath, false));
    EXPECT_TRUE(reg.ValueExists("QVR Load Check"));
    EXPECT_EQ(reg.ReadString("QVR Load Check"), text);
  }
  // Every user's session must be able to read it.
  struct stat info {};
  ASSERT_EQ(stat(sandbox.EntryFile().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
  // Nothing else was left in the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(sandbox.AutostartDir()), {}), 1);
}

TEST_F(RegistryTest, RunValuesThatAreNotStringsRaiseOnRead) {
  sandbox.MakeAutostartDir();
  const std::string files[] = {
      "[Desktop Entry]\nType=Application\nExec=/opt/qvr/qvr-loader StartupCheck\n",
      std::string("[Desktop Entry]\nX-QVR-Value=/opt/qvr\0/x\n", 40),
      "[Desktop Entry]\nX-QVR-Value=" + std::string(70000, 'a') + "\n",
  };
  for (const std::string& file : files) {
    WriteWholeFile(sandbox.EntryFile(), file);
    TRegistry reg(KeyRead, RootKey::LocalMachine);
    ASSERT_TRUE(reg.OpenKey(RunKeyPath, false));
    EXPECT_TRUE(reg.ValueExists("QVR Load Check"));
    EXPECT_THROW(reg.ReadString("QVR Load Check"), ERegistryException) << file.substr(0, 60);
  }
}

TEST_F(RegistryTest, RunValueDeletes) {
  sandbox.MakeAutostartDir();
  TRegistry reg(KeyWrite, RootKey::LocalMachine);
  ASSERT_TRUE(reg.OpenKey(RunKeyPath, false));
  EXPECT_FALSE(reg.DeleteValue("QVR Load Check"));
  reg.WriteString("QVR Load Check", "/opt/qvr/qvr-loader  StartupCheck");
  EXPECT_TRUE(reg.DeleteValue("QVR Load Check"));
  EXPECT_FALSE(std::filesystem::exists(sandbox.EntryFile()));
  TRegistry reader(KeyRead, RootKey::LocalMachine);
  ASSERT_TRUE(reader.OpenKey(RunKeyPath, false));
  EXPECT_FALSE(reader.ValueExists("QVR Load Check"));
  EXPECT_EQ(reader.ReadString("QVR Load Check"), "");
}

TEST_F(RegistryTest, RunWriteFailsWhenTheFolderHasGone) {
  sandbox.MakeAutostartDir();
  TRegistry reg(KeyWrite, RootKey::LocalMachine);
  ASSERT_TRUE(reg.OpenKey(RunKeyPath, false));
  std::filesystem::remove(sandbox.AutostartDir());
  EXPECT_THROW(reg.WriteString("QVR Load Check", "/opt/qvr/qvr-loader  StartupCheck"), ERegistryException);
}

TEST_F(RegistryTest, AccessMaskDecidesWhatAnObjectMayDo) {
  sandbox.MakeAutostartDir();
  {
    TRegistry writer(KeyWrite, RootKey::LocalMachine);
    ASSERT_TRUE(writer.OpenKey(RunKeyPath, false));
    writer.WriteString("QVR Load Check", "/opt/qvr/qvr-loader  StartupCheck");
  }
  TRegistry reader(KeyRead, RootKey::LocalMachine);
  ASSERT_TRUE(reader.OpenKey(RunKeyPath, false));
  EXPECT_THROW(reader.WriteString("QVR Load Check", "/elsewhere  StartupCheck"), ERegistryException);
  EXPECT_FALSE(reader.DeleteValue("QVR Load Check"));
  EXPECT_EQ(reader.ReadString("QVR Load Check"), "/opt/qvr/qvr-loader  StartupCheck");
}

TEST_F(RegistryTest, ClosingTheKeyEndsItsUse) {
  sandbox.MakeAutostartDir();
  TRegistry reg(KeyRead | KeyWrite, RootKey::LocalMachine);
  ASSERT_TRUE(reg.OpenKey(RunKeyPath, false));
  reg.WriteString("QVR Load Check", "/opt/qvr/qvr-loader  StartupCheck");
  reg.CloseKey();
  EXPECT_FALSE(reg.ValueExists("QVR Load Check"));
  EXPECT_EQ(reg.ReadString("QVR Load Check"), "");
  EXPECT_THROW(reg.WriteString("QVR Load Check", "x"), ERegistryException);
}

}  // namespace
}  // namespace qvr::platform
