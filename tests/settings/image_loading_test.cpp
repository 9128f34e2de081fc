#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "app/run_mode.h"
#include "image/firmware_image.h"
#include "image/srecord.h"
#include "platform/registry.h"
#include "tests/settings/window_fixture.h"

namespace qvr::test {
namespace {

constexpr std::uint32_t LoadBoxFlags = 0x00200000;

tool::ImageSpec Spec(std::uint8_t major, std::uint8_t minor, std::uint8_t patch,
                     const char* date = "Dec 11 2026") {
  tool::ImageSpec spec;
  spec.major = major;
  spec.minor = minor;
  spec.patch = patch;
  spec.date = date;
  spec.seed = major * 100u + minor * 10u + patch;
  return spec;
}

struct Panels {
  QString version, status, compiled;
  bool operator==(const Panels&) const = default;
  friend void PrintTo(const Panels& p, std::ostream* out) {
    *out << '{' << p.version.toStdString() << ", " << p.status.toStdString() << ", "
         << p.compiled.toStdString() << '}';
  }
};

class ImageLoadingTest : public WindowFixture {
 protected:
  ImageLoadingTest() { HoldImage(Spec(1, 0, 0, "Jan 02 2020")); }

  Panels Shown() const { return {form->Version->text(), form->Status->text(), form->Compiled->text()}; }

  void ExpectImageIs(const FirmwareImage& expected) const {
    EXPECT_TRUE(TheImage.Data == expected.Data);
    EXPECT_EQ(TheImage.LoadedLength, expected.LoadedLength);
    EXPECT_EQ(TheImage.CurrentRecord, expected.CurrentRecord);
  }

  std::optional<std::string> Remembered() const {
    platform::TRegistry reg(platform::KeyRead, platform::RootKey::CurrentUser);
    if (!reg.OpenKey("Software\\Marrowfield\\Tallyburn", false) || !reg.ValueExists("File"))
      return std::nullopt;
    return reg.ReadString("File");
  }

  std::string SRecordFile(const std::string& name, const tool::ImageSpec& spec) const {
    const std::string path = sandbox.Root() + "/" + name;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    EXPECT_TRUE(tool::WriteSRecordFile(path, spec));
    return path;
  }

  void Load(const std::string& fileName) {
    form->FileName->setText(QString::fromStdString(fileName));
    form->LoadButtonClick();
  }
};

// The loader's message for `fileName`, found on a scratch copy of the image.
std::string LoaderMessage(const std::string& fileName) {
  const auto saved = std::make_unique<FirmwareImage>(TheImage);
  ClearImage();
  const std::string message = LoadSRecordFile(fileName).value_or("");
  TheImage = *saved;
  return message;
}

// Whatever makes a load fail, the held image, its length, its record and the
// panels stay exactly as they were, and no name is remembered.
TEST_F(ImageLoadingTest, FailedLoadKeepsTheHeldImage) {
  const std::string good = tool::ToSRecords(tool::MakeImage(Spec(2, 0, 0)));
  const std::size_t half = good.find('\n', good.size() / 2) + 1;
  std::string badChecksum = good.substr(0, half);
  badChecksum += good.substr(half, good.find('\n', half) - half - 2) + "00\n";  // last record byte wrong
  struct Case {
    const char* name;
    std::function<std::string(ImageLoadingTest&)> fileName;
  };
  const Case cases[] = {
      {"empty name", [](ImageLoadingTest&) { return std::string(); }},
      {"missing file", [](ImageLoadingTest& t) { return t.sandbox.Root() + "/missing.q37"; }},
      {"not an S-record after good lines",
       [&](ImageLoadingTest& t) {
         const std::string path = t.sandbox.Root() + "/garbage.q37";
         WriteWholeFile(path, good.substr(0, half) + "this is no record\n" + good.substr(half));
         return path;
       }},
      {"checksum failure after good lines",
       [&](ImageLoadingTest& t) {
         const std::string path = t.sandbox.Root() + "/checksum.q37";
         WriteWholeFile(path, badChecksum);
         return path;
       }},
  };
  const auto held = std::make_unique<FirmwareImage>(TheImage);
  const Panels panels = Shown();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    boxes.clear();
    const std::string fileName = c.fileName(*this);
    const std::string message = LoaderMessage(fileName);
    ASSERT_FALSE(message.empty());

    Load(fileName);
    EXPECT_EQ(boxes, (std::vector<Box>{{message, "Load Error", LoadBoxFlags}}));
    ExpectImageIs(*held);
    EXPECT_EQ(Shown(), panels);
    EXPECT_EQ(Remembered(), std::nullopt);
  }
}

TEST_F(ImageLoadingTest, FileWithoutAnImageRecordIsHeldButNotShown) {
  const std::string path = sandbox.Root() + "/no-record.q37";
  // Sixteen bytes at 0x100 over the cleared pattern, and nothing at 0x8000.
  std::vector<std::uint8_t> bytes(0x110, 0xFF);
  bytes[0] = 0x00;
  for (std::uint8_t i = 0; i < 16; ++i) bytes[0x100 + i] = i;
  WriteWholeFile(path, tool::ToSRecords(bytes));
  const Panels before = Shown();

  Load(path);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Image Error");
  EXPECT_EQ(boxes[0].flags, LoadBoxFlags);
  EXPECT_FALSE(boxes[0].text.empty());
  EXPECT_EQ(Shown(), (Panels{before.version, before.status, QStringLiteral("No Image Information")}));
  EXPECT_EQ(TheImage.CurrentRecord, ApplicationRecordOffset);
  EXPECT_EQ(TheImage.LoadedLength, 0x110u);
  EXPECT_EQ(TheImage.Data[0x100], 0x00);
  EXPECT_EQ(TheImage.Data[0x10F], 0x0F);
  EXPECT_EQ(Remembered(), path);
}

TEST_F(ImageLoadingTest, ValidFileIsShownRememberedAndOfferedAtTheNextCreation) {
  const std::string path = SRecordFile("images/fw 2.1.7.q37", Spec(2, 1, 7, "Mar 04 2027"));
  Load(path);
  EXPECT_TRUE(boxes.empty()) << boxes.front();
  EXPECT_EQ(Shown(), (Panels{"2.1.7", "Full Release", "on  Mar 04 2027  at  12:00:00\n"}));
  const std::vector<std::uint8_t> expected = tool::MakeImage(Spec(2, 1, 7, "Mar 04 2027"));
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), TheImage.Data.begin()));
  EXPECT_EQ(TheImage.LoadedLength, expected.size());
  EXPECT_EQ(TheImage.CurrentRecord, ApplicationRecordOffset);
  EXPECT_EQ(Remembered(), path);

  TTheForm next;
  next.FormCreate();
  EXPECT_EQ(next.FileName->text().toStdString(), path);
}

// The name cannot be written: the failure is reported with its text, and the
// new image is still taken on and shown.
TEST_F(ImageLoadingTest, NameThatCannotBeRememberedIsReportedAndTheLoadCompletes) {
  const std::string path = SRecordFile("fw.q37", Spec(3, 0, 1));
  sandbox.BlockConfigHome();
  Load(path);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Error");
  EXPECT_EQ(boxes[0].flags, 0u);
  EXPECT_NE(boxes[0].text.find("\"File\""), std::string::npos) << boxes[0];
  EXPECT_NE(boxes[0].text.find("Software\\Marrowfield\\Tallyburn"), std::string::npos) << boxes[0];
  EXPECT_EQ(Shown(), (Panels{"3.0.1", "Full Release", "on  Dec 11 2026  at  12:00:00\n"}));
  EXPECT_EQ(TheImage.CurrentRecord, ApplicationRecordOffset);
}

TEST_F(ImageLoadingTest, RememberedNameAtCreation) {
  struct Case {
    const char* name;
    std::optional<std::string> settingsFile;  // none: no settings key
    QString expected;
  };
  const Case cases[] = {
      {"no key", std::nullopt, "typed before"},
      {"key without the value", "[General]\nOther=1\n", ""},
      {"remembered name", "[General]\nFile=/srv/images/fw.q37\n", "/srv/images/fw.q37"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(sandbox.ConfigHome());
    if (c.settingsFile) WriteWholeFile(sandbox.SettingsFile(), *c.settingsFile);
    TTheForm next;
    next.FileName->setText("typed before");
    FetchRememberedFileName(next);
    EXPECT_EQ(next.FileName->text(), c.expected);
    EXPECT_EQ(std::filesystem::exists(sandbox.SettingsFile()), c.settingsFile.has_value());
  }
  WriteWholeFile(sandbox.SettingsFile(), "[General]\nFile=@ByteArray(/srv/fw.q37)\n");
  EXPECT_THROW(FetchRememberedFileName(*form), platform::ERegistryException);
}

// Runs the open dialog with `drive` acting in it as the user.
void Browse(TTheForm& form, std::function<void(QFileDialog&)> drive) {
  bool driven = false;
  QTimer::singleShot(0, &form, [&] {
    driven = true;
    drive(*form.OpenDialog);
  });
  form.BrowseButtonClick();
  EXPECT_TRUE(driven);
}

TEST_F(ImageLoadingTest, BrowseTakesTheConfirmedNameAndLoadsNothing) {
  const std::string start = SRecordFile("images/start.q37", Spec(2, 0, 0));
  form->FileName->setText(QString::fromStdString(start));
  const auto held = std::make_unique<FirmwareImage>(TheImage);

  Browse(*form, [&](QFileDialog& dialog) {
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.selectedFiles().join('|').toStdString(), start);
    auto* typed = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(typed, nullptr);
    // The name box has the focus in the active dialog, as for a person typing.
    QApplication::setActiveWindow(&dialog);
    typed->setFocus();
    ASSERT_TRUE(typed->hasFocus());
    typed->setText(QStringLiteral("not there yet.q37"));
    static_cast<QDialog&>(dialog).accept();  // as the Open button does
  });
  const std::string chosen = sandbox.Root() + "/images/not there yet.q37";
  EXPECT_EQ(form->FileName->text().toStdString(), chosen);
  ExpectImageIs(*held);
  EXPECT_TRUE(boxes.empty());

  form->LoadButtonClick();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Load Error");
  EXPECT_NE(boxes[0].text.find(chosen), std::string::npos) << boxes[0];
}

TEST_F(ImageLoadingTest, BrowseCancelledChangesNothing) {
  const std::string start = SRecordFile("images/start.q37", Spec(2, 0, 0));
  form->FileName->setText(QString::fromStdString(start));
  Browse(*form, [](QFileDialog& dialog) {
    dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("other.q37"));
    dialog.reject();
  });
  EXPECT_EQ(form->FileName->text().toStdString(), start);
  EXPECT_TRUE(boxes.empty());
}

}  // namespace
}  // namespace qvr::test
