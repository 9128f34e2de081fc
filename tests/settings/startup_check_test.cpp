#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>
#include <functional>

#include "app/run_mode.h"
#include "app/window/application.h"
#include "image/firmware_image.h"
#include "platform/executable_path.h"
#include "platform/message_box.h"
#include "platform/registry.h"
#include "tests/settings/window_fixture.h"

namespace qvr::test {
namespace {

using namespace std::string_literals;

constexpr int UnchangedMarker = 17;  // a font height that ShowStartupCheck never sets

tool::ImageSpec Spec(std::uint8_t status, std::uint8_t major, std::uint8_t minor, std::uint8_t patch) {
  tool::ImageSpec spec;
  spec.status = status;
  spec.major = major;
  spec.minor = minor;
  spec.patch = patch;
  return spec;
}

const tool::ImageSpec Held = Spec(4, 1, 2, 3);

using StartupCheckTest = WindowFixture;

struct DisplayCase {
  const char* name;
  bool carries;  // the own executable carries the held image
  // Sets up the entry (or not) and gives the path the display names.
  std::function<std::string(WindowFixture&)> arrange;
  const char* text;  // "%P" stands for that path
  int fontHeight;    // UnchangedMarker: left as it was
  bool setShown;
  bool clearShown;
};

TEST_F(StartupCheckTest, DisplayFollowsTheEntry) {
  const DisplayCase cases[] = {
      {"no key", true, [](WindowFixture&) { return ""; }, "None", UnchangedMarker, true, false},
      {"no entry", true,
       [](WindowFixture& f) {
         f.sandbox.MakeAutostartDir();
         return "";
       },
       "None", UnchangedMarker, true, false},
      {"no entry, own executable carries no image", false,
       [](WindowFixture& f) {
         f.sandbox.MakeAutostartDir();
         return "";
       },
       "None", UnchangedMarker, false, false},
      {"entry for the held image", true,
       [](WindowFixture& f) {
         const std::string path = f.MakeExecutable("bin/qvrload", Held);
         f.WriteEntry(path + "  StartupCheck");
         return path;
       },
       "Full Release - version 1.2.3", 13, false, true},
      {"entry in a folder with spaces and dots", true,
       [](WindowFixture& f) {
         const std::string path = f.MakeExecutable("my tools.v2/qvr load", Held);
         f.WriteEntry(path + "  StartupCheck");
         return path;
       },
       "Full Release - version 1.2.3", 13, false, true},
      {"another version", true,
       [](WindowFixture& f) {
         const std::string path = f.MakeExecutable("bin/qvrload", Spec(4, 1, 2, 4));
         f.WriteEntry(path + "  StartupCheck");
         return path;
       },
       "Full Release - version 1.2.4", 13, true, true},
      {"same version, another status", true,
       [](WindowFixture& f) {
         const std::string path = f.MakeExecutable("bin/qvrload", Spec(3, 1, 2, 3));
         f.WriteEntry(path + "  StartupCheck");
         return path;
       },
       "Beta Test - version 1.2.3", 13, true, true},
      {"entry without a parameter", true,
       [](WindowFixture& f) {
         const std::string path = f.MakeExecutable("bin/qvrload", Held);
         f.WriteEntry(path);
         return path;
       },
       "Full Release - version 1.2.3", 13, false, true},
      {"entry without the two-space separator", true,
       [](WindowFixture& f) {
         const std::string entry = f.MakeExecutable("bin/qvrload", Held) + " StartupCheck";
         f.WriteEntry(entry);
         return entry;
       },
       "Cannot open <%P>", 11, true, true},
      {"missing file", true,
       [](WindowFixture& f) {
         const std::string path = f.sandbox.Root() + "/gone/qvrload";
         f.WriteEntry(path + "  StartupCheck");
         return path;
       },
       "Cannot open <%P>", 11, true, true},
      {"file without an image", true,
       [](WindowFixture& f) {
         const std::string path = f.MakeExecutable("bin/qvrload", std::nullopt);
         f.WriteEntry(path + "  StartupCheck");
         return path;
       },
       "Invalid file - <%P>", 11, true, true},
      {"file shorter than a trailer", true,
       [](WindowFixture& f) {
         const std::string path = f.sandbox.Root() + "/short";
         WriteWholeFile(path, "\x8C\x4A\x8D");
         f.WriteEntry(path + "  StartupCheck");
         return path;
       },
       "Invalid file - <%P>", 11, true, true},
      {"trailer whose record lies outside the file", true,
       [](WindowFixture& f) {
         const std::string path = f.sandbox.Root() + "/truncated";
         // 100 bytes, then magic, L = 0x10000, R = 0x8000.
         WriteWholeFile(path, std::string(100, '\0') +
                                  std::string("\x8C\x4A\x8D\xAA\x00\x00\x01\x00\x00\x80\x00\x00", 12));
         f.WriteEntry(path + "  StartupCheck");
         return path;
       },
       "Invalid file - <%P>", 11, true, true},
      {"own executable carries no image, entry carries one", false,
       [](WindowFixture& f) {
         const std::string path = f.MakeExecutable("bin/qvrload", Spec(4, 9, 9, 9));
         f.WriteEntry(path + "  StartupCheck");
         return path;
       },
       "Full Release - version 9.9.9", 13, false, true},
  };
  for (const DisplayCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(sandbox.SystemConfig());
    form = std::make_unique<TTheForm>();
    ResetImage();
    CarriesImage = false;
    if (c.carries) HoldImage(Held);
    QFont marked = form->StartCheckVersion->font();
    marked.setPixelSize(UnchangedMarker);
    form->StartCheckVersion->setFont(marked);

    const std::string path = c.arrange(*this);
    ShowStartupCheck(*form);

    QString expected = QString::fromLatin1(c.text);
    expected.replace("%P", QString::fromStdString(path));
    EXPECT_EQ(form->StartCheckVersion->text(), expected);
    EXPECT_EQ(StartCheckFontHeight(), c.fontHeight);
    EXPECT_EQ(form->StartCheckVersion->font().family(), QStringLiteral("Arial"));
    EXPECT_EQ(SetShown(), c.setShown);
    EXPECT_EQ(ClearShown(), c.clearShown);
    EXPECT_TRUE(boxes.empty());
  }
}

// Loading does not refresh the display; the next refresh compares the entry
// with the newly held image.
TEST_F(StartupCheckTest, LoadingAnotherVersionOffersSetAgainAtTheNextRefresh) {
  HoldImage(Held);
  WriteEntry(MakeExecutable("bin/qvrload", Held) + "  StartupCheck");
  ShowStartupCheck(*form);
  ASSERT_FALSE(SetShown());

  const std::string file = sandbox.Root() + "/newer.q37";
  ASSERT_TRUE(tool::WriteSRecordFile(file, Spec(4, 1, 3, 0)));
  form->FileName->setText(QString::fromStdString(file));
  form->LoadButtonClick();
  ASSERT_TRUE(boxes.empty()) << boxes.front();
  EXPECT_FALSE(SetShown());

  ShowStartupCheck(*form);
  EXPECT_TRUE(SetShown());
  EXPECT_EQ(form->StartCheckVersion->text(), QStringLiteral("Full Release - version 1.2.3"));
}

TEST_F(StartupCheckTest, EntryThatIsNotAStringRaises) {
  HoldImage(Held);
  WriteWholeFile(sandbox.EntryFile(),
                 "[Desktop Entry]\nType=Application\nExec=/opt/qvr/qvrload StartupCheck\n");
  EXPECT_THROW(ShowStartupCheck(*form), platform::ERegistryException);
}

// At creation the error reaches the application's exception display, and
// creation stops there.
TEST_F(StartupCheckTest, EntryThatIsNotAStringStopsWindowCreation) {
  HoldImage(Held);
  WriteWholeFile(sandbox.EntryFile(), "[Desktop Entry]\nX-QVR-Value=/opt/\0qvrload\n"s);
  form->FormCreate();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, ApplicationTitle);
  EXPECT_NE(boxes[0].text.find("QVR Load Check"), std::string::npos) << boxes[0];
  EXPECT_EQ(form->Comment->text(), QStringLiteral("Comment"));
  EXPECT_EQ(form->OuterHeight(), DesignClientHeight + FrameAllowance);
}

TEST_F(StartupCheckTest, SetRegistersThisExecutableWithItsParameter) {
  HoldImage(Held);
  const std::string own = platform::OwnExecutablePath();
  ASSERT_FALSE(own.empty());
  const std::string before[] = {"", "/opt/elsewhere/qvrload  StartupCheck"};
  for (const std::string& previous : before) {
    SCOPED_TRACE(previous);
    std::filesystem::remove_all(sandbox.SystemConfig());
    sandbox.MakeAutostartDir();
    if (!previous.empty()) WriteEntry(previous);

    form->StartSetButtonClick();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(EntryText(), own + "  StartupCheck");
    // This test program carries no image.
    EXPECT_EQ(form->StartCheckVersion->text(), QString::fromStdString("Invalid file - <" + own + ">"));
    EXPECT_EQ(StartCheckFontHeight(), 11);
    EXPECT_TRUE(ClearShown());
    EXPECT_TRUE(SetShown());
  }
}

TEST_F(StartupCheckTest, SetThatCannotWriteReportsAndKeepsTheDisplay) {
  HoldImage(Held);
  form->StartCheckVersion->setText(QStringLiteral("before"));
  form->StartClearButton->hide();
  form->StartSetButton->show();
  form->StartSetButtonClick();
  EXPECT_EQ(boxes, (std::vector<Box>{{"Cannot set registry key", "Error", 0}}));
  EXPECT_EQ(form->StartCheckVersion->text(), QStringLiteral("before"));
  EXPECT_FALSE(ClearShown());
  EXPECT_TRUE(SetShown());
  EXPECT_FALSE(std::filesystem::exists(sandbox.AutostartDir()));
}

TEST_F(StartupCheckTest, ClearRemovesTheEntryAndShowsNone) {
  struct Case {
    const char* name;
    std::function<void(WindowFixture&)> arrange;
    int fontHeightAfter;  // what the display before left
  };
  const Case cases[] = {
      {"entry for the held image",
       [](WindowFixture& f) { f.WriteEntry(f.MakeExecutable("bin/qvrload", Held) + "  StartupCheck"); }, 13},
      {"entry for a missing file",
       [](WindowFixture& f) { f.WriteEntry(f.sandbox.Root() + "/gone  StartupCheck"); }, 11},
      {"no key", [](WindowFixture&) {}, UnchangedMarker},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(sandbox.SystemConfig());
    form = std::make_unique<TTheForm>();
    HoldImage(Held);
    QFont marked = form->StartCheckVersion->font();
    marked.setPixelSize(UnchangedMarker);
    form->StartCheckVersion->setFont(marked);
    c.arrange(*this);
    ShowStartupCheck(*form);

    form->StartClearButtonClick();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(EntryText(), std::nullopt);
    EXPECT_EQ(form->StartCheckVersion->text(), QStringLiteral("None"));
    EXPECT_EQ(StartCheckFontHeight(), c.fontHeightAfter);
    EXPECT_FALSE(ClearShown());
    EXPECT_TRUE(SetShown());
  }
}

// An entry that cannot be removed and cannot be read as a string: the refresh
// after the deletion raises, and Clear reports it.
TEST_F(StartupCheckTest, ClearThatRaisesReports) {
  HoldImage(Held);
  std::filesystem::create_directories(sandbox.EntryFile());
  form->StartClearButtonClick();
  EXPECT_EQ(boxes, (std::vector<Box>{{"Cannot clear registry key", "Error", 0}}));
  EXPECT_TRUE(std::filesystem::is_directory(sandbox.EntryFile()));
}

}  // namespace
}  // namespace qvr::test
