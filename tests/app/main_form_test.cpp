// The main window offscreen: its layout, the presentations that creation
// chooses, the version panels, the countdown, Configure and the close guard.
#include <QCloseEvent>
#include <QFileDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLineEdit>
#include <QProgressBar>
#include <QTabWidget>

#include <fstream>
#include <functional>
#include <optional>

#include "app/window/application.h"
#include "image/validate.h"
#include "tests/app/card_stub.h"
#include "tests/app/window_fixture.h"
#include "tools/image_maker.h"

namespace qvr {
namespace {

using test::Box;
using test::BoxRecorder;
using test::WindowTest;

QString TextOf(QWidget* widget) {
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<QPushButton*>(widget)) return button->text();
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
  return {};
}

struct ControlCase {
  const char* name;
  std::function<QWidget*(TTheForm&)> control;
  QRect geometry;
  const char* text;     // nullptr: not checked
  int pixelSize;        // 0: not checked
  const char* hint;     // "" : none
};

std::ostream& operator<<(std::ostream& out, const ControlCase& c) { return out << c.name; }

#define CONTROL(field) #field, [](TTheForm& f) -> QWidget* { return f.field; }

const ControlCase Controls[] = {
    {CONTROL(LoadedVersion), {177, 3, 64, 21}, "1.2.3.4", 13, "The version of the firmware loaded onto the Oskel board"},
    {CONTROL(TheLabel), {253, 4, 40, 16}, "Status:", 13, ""},
    {CONTROL(LoadedStatus), {298, 2, 97, 21}, "Full Release", 13,
     "The release status of the firmware loaded onto the Oskel board"},
    {CONTROL(Version), {178, 25, 64, 21}, "1.2.3.4", 13, "The version of the image loaded into this utility"},
    {CONTROL(Status), {298, 25, 97, 21}, "Full Release", 13, "The release status of the image loaded into this utility"},
    {CONTROL(Compiled), {178, 48, 217, 21}, "No File Loaded", 13,
     "The date and time at which the image file was compiled"},
    {CONTROL(Comment), {11, 82, 307, 13}, "Comment", 11, ""},
    {CONTROL(ProgressBar), {11, 97, 307, 12}, nullptr, 0, ""},
    {CONTROL(ConfigButton), {328, 84, 67, 25}, "Configure", 11, "Click this to access extra facilities"},
    {CONTROL(PageControl), {4, 119, 396, 116}, nullptr, 0, ""},
    {CONTROL(StartCheckVersion), {98, 9, 285, 21}, "Version 1.2.3.4", 13,
     "These are the details of the image in the current startup check"},
    {CONTROL(StartSetButton), {11, 39, 64, 20}, "Set", 11,
     "Click to check for (and load) this image during system startup"},
    {CONTROL(StartClearButton), {11, 64, 64, 20}, "Clear", 11, "Click to cancel the system startup check"},
    {CONTROL(ProgramButton), {3, 18, 136, 23}, "Program card with image", 11,
     "Click to unconditionally program the board with the above image"},
    {CONTROL(LoadButton), {4, 50, 120, 23}, "Load image from File:", 11, "Load the S-Record file"},
    {CONTROL(FileName), {126, 51, 199, 21}, "", 11, "The S-Record file to be loaded"},
    {CONTROL(BrowseButton), {326, 50, 56, 24}, "Browse...", 11, "Choose the file"},
    {CONTROL(ExitButton), {331, 242, 67, 25}, "Exit", 11, ""},
};

class Layout : public WindowTest, public ::testing::WithParamInterface<ControlCase> {};

TEST_P(Layout, PositionSizeCaptionFontAndHint) {
  const ControlCase& c = GetParam();
  TTheForm form;
  QWidget* control = c.control(form);
  ASSERT_NE(control, nullptr);
  EXPECT_EQ(control->geometry(), c.geometry);
  if (c.text != nullptr) {
    EXPECT_EQ(TextOf(control), QString::fromLatin1(c.text));
  }
  if (c.pixelSize != 0) {
    EXPECT_EQ(control->font().pixelSize(), c.pixelSize);
  }
  EXPECT_EQ(control->toolTip(), QString::fromLatin1(c.hint));
}

INSTANTIATE_TEST_SUITE_P(Controls, Layout, ::testing::ValuesIn(Controls),
                         [](const auto& info) { return std::string(info.param.name); });

struct StaticText {
  const char* text;
  int page;  // -1 the window, 0 StartTab, 1 TabSheet2
  QRect design;
  int pixelSize;
  bool rightAligned;
};

const StaticText StaticTexts[] = {
    {"Currently Loaded:", -1, {6, 4, 105, 16}, 13, false},
    {"Version:", -1, {123, 4, 49, 16}, 13, true},
    {"This Image:", -1, {5, 27, 70, 16}, 13, false},
    {"Version:", -1, {123, 27, 49, 16}, 13, true},
    {"Status:", -1, {253, 27, 40, 16}, 13, false},
    {"Compiled:", -1, {111, 50, 61, 16}, 13, true},
    {"Startup Check:", 0, {10, 11, 86, 16}, 13, false},
    {"This facility allows you to set an automatic check at startup", 0, {102, 39, 277, 13}, 11, false},
    {"to ensure that the QVR ZORVA card is running the", 0, {149, 52, 230, 13}, 11, false},
    {"correct version of the firmware.", 0, {149, 66, 145, 13}, 11, false},
    {"These buttons allow you to unconditionally program", 1, {141, 3, 241, 13}, 11, false},
    {"the card with the above image, and to load a", 1, {171, 16, 211, 13}, 11, false},
    {"new firmware image from an S-Record file.", 1, {171, 30, 198, 13}, 11, false},
};

// Static texts stand at their design place, at least at their design size,
// and wide enough for their text in the face that shows them.
TEST_F(WindowTest, StaticTextsAreInPlaceAndNotCutOff) {
  TTheForm form;
  QWidget* parents[] = {&form, form.StartTab, form.TabSheet2};
  for (const StaticText& s : StaticTexts) {
    SCOPED_TRACE(s.text);
    QWidget* parent = parents[s.page + 1];
    QLabel* found = nullptr;
    for (QLabel* label : parent->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
      if (label->text() == QString::fromLatin1(s.text) && label->y() == s.design.y()) found = label;
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->font().pixelSize(), s.pixelSize);
    EXPECT_EQ(found->height(), s.design.height());
    EXPECT_GE(found->width(), s.design.width());
    if (s.rightAligned) {
      EXPECT_EQ(found->geometry().right(), s.design.right());
      EXPECT_TRUE(found->alignment() & Qt::AlignRight);
    } else {
      EXPECT_EQ(found->x(), s.design.x());
    }
    EXPECT_GE(found->width(), QFontMetrics(found->font()).horizontalAdvance(found->text()));
  }
}

TEST_F(WindowTest, WindowAsDesigned) {
  TTheForm form;
  EXPECT_EQ(form.windowTitle(), "QVR Programming Utility");
  EXPECT_EQ(form.size(), QSize(403, 271));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  EXPECT_EQ(form.OuterHeight(), 300);
  const Qt::WindowFlags flags = form.windowFlags();
  EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
  EXPECT_TRUE(flags & Qt::WindowTitleHint);
  EXPECT_FALSE(flags & (Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                        Qt::WindowCloseButtonHint));
  EXPECT_EQ(form.font().family(), "MS Sans Serif");
  EXPECT_EQ(form.font().pixelSize(), 11);
  EXPECT_EQ(form.StartCheckVersion->font().family(), "Arial");

  for (TPanel* panel : {form.LoadedVersion, form.LoadedStatus, form.Version, form.Status, form.Compiled,
                        form.StartCheckVersion}) {
    EXPECT_EQ(panel->frameShape(), QFrame::Panel);
    EXPECT_EQ(panel->frameShadow(), QFrame::Sunken);
    EXPECT_TRUE(panel->alignment() & Qt::AlignLeft);
  }

  EXPECT_EQ(form.PageControl->count(), 2);
  EXPECT_EQ(form.PageControl->widget(0), form.StartTab);
  EXPECT_EQ(form.PageControl->widget(1), form.TabSheet2);
  EXPECT_EQ(form.PageControl->tabText(0), "Startup Configuration");
  EXPECT_EQ(form.PageControl->tabText(1), "Program Card");
  EXPECT_EQ(form.PageControl->currentIndex(), 0);

  EXPECT_EQ(form.ExitTimer->interval(), 1000);
  EXPECT_FALSE(form.ExitTimer->isActive());
  EXPECT_EQ(form.ProgressTimer->interval(), 100);
  EXPECT_FALSE(form.ProgressTimer->isActive());
  EXPECT_TRUE(form.ProgressBar->isHidden());
  EXPECT_EQ(form.ProgressBar->minimum(), 0);
  EXPECT_EQ(form.ProgressBar->maximum(), 100);
  EXPECT_EQ(form.OpenDialog->nameFilters(), QStringList{"Firmware Image File (*.q37)"});
}

TEST_F(WindowTest, DesignFontsResolveToMetricCompatibleFaces) {
  TTheForm form;
  EXPECT_EQ(QFontInfo(form.StartCheckVersion->font()).family(), "Liberation Sans");
  EXPECT_EQ(QFontInfo(form.font()).family(), "Liberation Sans");
  EXPECT_EQ(QFontInfo(form.font()).pixelSize(), 11);
}

TEST_F(WindowTest, TabOrderAndFirstFocus) {
  TTheForm form;
  form.show();
  const std::vector<QWidget*> order{form.ExitButton,    form.ConfigButton,  form.PageControl,
                                    form.StartClearButton, form.StartSetButton, form.ProgramButton,
                                    form.LoadButton,    form.FileName,      form.BrowseButton};
  std::vector<QWidget*> chain;
  QWidget* w = form.ExitButton;
  do {
    if (std::find(order.begin(), order.end(), w) != order.end()) chain.push_back(w);
    w = w->nextInFocusChain();
  } while (w != form.ExitButton);
  EXPECT_EQ(chain, order);
  EXPECT_EQ(form.focusWidget(), form.ExitButton);
}

struct PresentationCase {
  const char* name;
  bool programNow;
  bool autoClose;
  bool image;  // a valid image is held
  // Expected.
  int outerHeight;
  bool exitTimer;
  bool configVisible;
  const char* comment;
  bool autoCloseAfter;
  bool programming;  // a run has started
  std::optional<Box> box;
};

std::ostream& operator<<(std::ostream& out, const PresentationCase& c) { return out << c.name; }

const PresentationCase Presentations[] = {
    {"Countdown", false, true, true, 139, true, true, "Automatic exit in 10 seconds", true, false, std::nullopt},
    {"FullControls", false, false, true, 300, false, false, "", false, false, std::nullopt},
    {"FullControlsWithoutImage", false, false, false, 300, false, false, "", false, false, std::nullopt},
    {"Programming", true, true, true, 139, false, true, "Programming", true, true, std::nullopt},
    {"ProgrammingRefusedWithoutImage", true, true, false, 139, false, true, "Comment", true, false,
     Box{"No Code is loaded!", "Image Error", 0x00200000}},
};

class Presentation : public WindowTest, public ::testing::WithParamInterface<PresentationCase> {};

TEST_P(Presentation, HeightTimerConfigureAndComment) {
  const PresentationCase& c = GetParam();
  ProgramNow = c.programNow;
  AutoClose = c.autoClose;
  if (c.image) {
    const auto image = tool::MakeImage({});
    std::copy(image.begin(), image.end(), TheImage.Data.begin());
    TheImage.LoadedLength = static_cast<std::uint32_t>(image.size());
    TheImage.CurrentRecord = ApplicationRecordOffset;
  }
  test::AcceptingCard card;
  BoxRecorder boxes;
  TTheForm& form = Create();

  EXPECT_EQ(FullHeight, 300);
  EXPECT_EQ(form.OuterHeight(), c.outerHeight);
  EXPECT_EQ(form.ExitTimer->isActive(), c.exitTimer);
  EXPECT_EQ(!form.ConfigButton->isHidden(), c.configVisible);
  EXPECT_EQ(form.Comment->text(), QString::fromLatin1(c.comment));
  EXPECT_EQ(AutoClose, c.autoCloseAfter);
  EXPECT_EQ(form.Worker != nullptr, c.programming);
  EXPECT_EQ(form.ProgressTimer->isActive(), c.programming);
  if (c.box) {
    EXPECT_EQ(boxes.Boxes(), std::vector<Box>{*c.box});
  }
  else EXPECT_TRUE(boxes.Boxes().empty());
  EXPECT_EQ(HintPause(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, Presentation, ::testing::ValuesIn(Presentations),
                         [](const auto& info) { return std::string(info.param.name); });

// What the compact presentation shows: everything down to the Configure
// button, and nothing of the tab pages or the Exit button.
TEST_F(WindowTest, CompactHeightShowsTheRowsAndHidesThePages) {
  AutoClose = true;
  TTheForm& form = Create();
  const int client = form.height();
  EXPECT_EQ(client, 139 - FrameAllowance);
  for (QWidget* inside : std::initializer_list<QWidget*>{form.LoadedVersion, form.LoadedStatus, form.Version,
                                                         form.Status, form.Compiled, form.Comment, form.ProgressBar,
                                                         form.ConfigButton})
    EXPECT_LE(inside->geometry().bottom(), client - 1) << inside->objectName().toStdString();
  EXPECT_GE(form.PageControl->y(), client);
  EXPECT_GE(form.ExitButton->y(), client);
}

struct VersionsCase {
  const char* name;
  std::optional<std::uint32_t> record;  // record offset, none: no image
  std::uint8_t status, major, minor, patch;
  std::uint32_t card;
  const char* statusText;
  const char* versionText;
  const char* compiledText;
  const char* loadedStatus;
  const char* loadedVersion;
};

std::ostream& operator<<(std::ostream& out, const VersionsCase& c) { return out << c.name; }

const VersionsCase Versions[] = {
    {"NoImage", std::nullopt, 0, 0, 0, 0, 0x04020B05, "None", "None", "No File Loaded", "Full Release", "2.11.5"},
    {"FullRelease", 0x8000, 4, 1, 2, 3, 0x07000000, "Full Release", "1.2.3", "on  Feb 14 2011  at  08:05:09\n",
     "Unknown", "0.0.0"},
    {"StatusSevenIsUnknown", 0x8000, 7, 2, 11, 5, 0x00020B05, "Unknown", "2.11.5", "on  Feb 14 2011  at  08:05:09\n",
     "Special", "2.11.5"},
    {"BytesAreUnsigned", 0x8000, 255, 255, 128, 200, 0xFFFF80C8, "Unknown", "255.128.200",
     "on  Feb 14 2011  at  08:05:09\n", "Unknown", "255.128.200"},
    {"EachStatusName", 0x8000, 1, 0, 0, 1, 0x03000000, "Development", "0.0.1", "on  Feb 14 2011  at  08:05:09\n",
     "Beta Test", "0.0.0"},
    {"AlphaTest", 0x8000, 2, 9, 9, 9, 0x01010101, "Alpha Test", "9.9.9", "on  Feb 14 2011  at  08:05:09\n",
     "Development", "1.1.1"},
    {"RecordElsewhere", 0x9000, 0, 3, 4, 5, 0x02030405, "Special", "3.4.5", "on  Feb 14 2011  at  08:05:09\n",
     "Alpha Test", "3.4.5"},
};

class ShowVersionsCase : public WindowTest, public ::testing::WithParamInterface<VersionsCase> {};

TEST_P(ShowVersionsCase, PanelTexts) {
  const VersionsCase& c = GetParam();
  if (c.record) PutRecord(*c.record, c.status, c.major, c.minor, c.patch);
  SetCardWord(InterfaceHeader::FirmwareVersion, c.card);
  TTheForm form;
  ShowVersions(form);
  EXPECT_EQ(form.Status->text(), QString::fromLatin1(c.statusText));
  EXPECT_EQ(form.Version->text(), QString::fromLatin1(c.versionText));
  EXPECT_EQ(form.Compiled->text(), QString::fromLatin1(c.compiledText));
  EXPECT_EQ(form.LoadedStatus->text(), QString::fromLatin1(c.loadedStatus));
  EXPECT_EQ(form.LoadedVersion->text(), QString::fromLatin1(c.loadedVersion));
}

INSTANTIATE_TEST_SUITE_P(Cases, ShowVersionsCase, ::testing::ValuesIn(Versions),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowTest, ShowVersionsReadsTheCardAtEachCall) {
  TTheForm form;
  SetCardWord(InterfaceHeader::FirmwareVersion, 0x03010203);
  ShowVersions(form);
  EXPECT_EQ(form.LoadedVersion->text(), "1.2.3");
  SetCardWord(InterfaceHeader::FirmwareVersion, 0x04010204);
  ShowVersions(form);
  EXPECT_EQ(form.LoadedVersion->text(), "1.2.4");
  EXPECT_EQ(form.LoadedStatus->text(), "Full Release");
}

// The countdown driven tick by tick: 10 at creation and at the first tick,
// then 9 down to 1, and the close with the eleventh tick.
TEST_F(WindowTest, CountdownTickByTick) {
  AutoClose = true;
  TTheForm& form = Create();
  form.show();
  EXPECT_EQ(form.Comment->text(), "Automatic exit in 10 seconds");
  const int shown[] = {10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
  for (int tick = 1; tick <= 10; ++tick) {
    form.ExitTimerTimer();
    EXPECT_EQ(form.Comment->text(), QString("Automatic exit in %1 seconds").arg(shown[tick - 1])) << "tick " << tick;
    EXPECT_TRUE(form.isVisible()) << "tick " << tick;
  }
  form.ExitTimerTimer();
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(ExitCountdown, -1);
}

// A refused close at the count of 0 is not asked again.
TEST_F(WindowTest, CountdownAsksToCloseOnlyAtZero) {
  AutoClose = true;
  TTheForm& form = Create();
  form.show();
  form.ExitButton->hide();
  BoxRecorder boxes;
  for (int tick = 1; tick <= 14; ++tick) form.ExitTimerTimer();
  EXPECT_EQ(boxes.Boxes(), (std::vector<Box>{{"Can't exit while programming in progress", "Close Error", 0}}));
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.Comment->text(), "Automatic exit in -3 seconds");
}

TEST_F(WindowTest, ConfigureDuringTheCountdown) {
  AutoClose = true;
  TTheForm& form = Create();
  form.show();
  for (int tick = 1; tick <= 3; ++tick) form.ExitTimerTimer();
  form.ConfigButton->click();
  EXPECT_EQ(form.OuterHeight(), 300);
  EXPECT_EQ(form.Comment->text(), "");
  EXPECT_FALSE(form.ExitTimer->isActive());
  EXPECT_TRUE(form.ConfigButton->isHidden());
  EXPECT_FALSE(AutoClose);
  EXPECT_EQ(ExitCountdown, 7);
}

TEST_F(WindowTest, ExitTimerIsConnected) {
  AutoClose = true;
  TTheForm& form = Create();
  form.ExitTimer->setInterval(1);
  QEventLoop loop;
  QTimer::singleShot(100, &loop, &QEventLoop::quit);
  loop.exec();
  EXPECT_LT(ExitCountdown, 10);
}

struct CloseCase {
  const char* name;
  bool autoClose;  // compact (Exit below the lower edge) or full
  bool exitHidden;
  std::function<void(TTheForm&)> request;
  bool closes;
};

std::ostream& operator<<(std::ostream& out, const CloseCase& c) { return out << c.name; }

const CloseCase Closes[] = {
    {"ExitButtonInFullWindow", false, false, [](TTheForm& f) { f.ExitButton->click(); }, true},
    {"ExitButtonBelowCompactEdge", true, false, [](TTheForm& f) { f.ExitButtonClick(); }, true},
    {"AnyCloseRequest", false, false, [](TTheForm& f) { f.close(); }, true},
    {"ExitHiddenRefusesExitButton", false, true, [](TTheForm& f) { f.ExitButtonClick(); }, false},
    {"ExitHiddenRefusesAnyClose", true, true, [](TTheForm& f) { f.close(); }, false},
};

class CloseGuard : public WindowTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseGuard, ClosesExactlyWhileExitIsNotHidden) {
  const CloseCase& c = GetParam();
  AutoClose = c.autoClose;
  TTheForm& form = Create();
  form.show();
  if (c.exitHidden) form.ExitButton->hide();
  BoxRecorder boxes;
  c.request(form);
  EXPECT_EQ(form.isVisible(), !c.closes);
  const Box refusal{"Can't exit while programming in progress", "Close Error", 0};
  if (c.closes) {
    EXPECT_TRUE(boxes.Boxes().empty());
  } else {
    EXPECT_EQ(boxes.Boxes(), std::vector<Box>{refusal});
    c.request(form);
    EXPECT_EQ(boxes.Boxes(), (std::vector<Box>{refusal, refusal}));
    EXPECT_TRUE(form.isVisible());
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, CloseGuard, ::testing::ValuesIn(Closes),
                         [](const auto& info) { return std::string(info.param.name); });

// Configure before creation recorded the full height (an error stopped
// creation): the window keeps its design height.
TEST_F(WindowTest, ConfigureWithoutRecordedHeightKeepsTheDesignHeight) {
  TTheForm form;
  form.ConfigButtonClick();
  EXPECT_EQ(form.OuterHeight(), 300);
  EXPECT_TRUE(form.ConfigButton->isHidden());
}

// A remembered file name that is not a string: the error reaches the
// exception display and creation stops, leaving the design height and captions.
TEST_F(WindowTest, CreationErrorIsShownAndStopsCreation) {
  const std::string folder = settings_ / "home/Marrowfield";
  std::filesystem::create_directories(folder);
  std::ofstream(folder + "/Tallyburn.conf") << "[General]\nFile=@ByteArray(abc)\n";
  AutoClose = true;
  BoxRecorder boxes;
  TTheForm& form = Create();
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].caption, "QVR Firmware");
  EXPECT_EQ(form.OuterHeight(), 300);
  EXPECT_EQ(form.Version->text(), "1.2.3.4");
  EXPECT_FALSE(form.ExitTimer->isActive());
  EXPECT_EQ(form.Comment->text(), "Comment");
}

}  // namespace
}  // namespace qvr
