// Pictures of the window's presentations, rendered on a real display server
// with real fonts, for people to look at (not compared with anything). The
// folder is named by QVR_SCREENSHOT_DIR.
#include <QDir>
#include <QEventLoop>
#include <QPixmap>
#include <QTabWidget>

#include <chrono>
#include <cstdlib>

#include "tests/app/card_stub.h"
#include "tests/app/window_fixture.h"
#include "tools/image_maker.h"

namespace qvr {
namespace {

struct ShotCase {
  const char* name;
  bool programNow;
  bool autoClose;
  int page;
  int clientHeight;
};

std::ostream& operator<<(std::ostream& out, const ShotCase& c) { return out << c.name; }

const ShotCase Shots[] = {
    {"countdown", false, true, 0, 110},
    {"programming", true, true, 0, 110},
    {"full", false, false, 0, 271},
    {"full_program_card", false, false, 1, 271},
};

void Wait(int milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

class Screenshot : public test::WindowTest, public ::testing::WithParamInterface<ShotCase> {};

TEST_P(Screenshot, SavedAtTheWindowsSize) {
  const ShotCase& c = GetParam();
  const char* folder = std::getenv("QVR_SCREENSHOT_DIR");
  ASSERT_NE(folder, nullptr);
  ASSERT_TRUE(QDir().mkpath(QString::fromLocal8Bit(folder)));
  ASSERT_EQ(QGuiApplication::platformName(), "xcb");

  const auto image = tool::MakeImage({});
  std::copy(image.begin(), image.end(), TheImage.Data.begin());
  TheImage.LoadedLength = static_cast<std::uint32_t>(image.size());
  TheImage.CurrentRecord = ApplicationRecordOffset;
  SetCardWord(InterfaceHeader::FirmwareVersion, 0x04000F02);
  ProgramNow = c.programNow;
  AutoClose = c.autoClose;
  test::AcceptingCard card(std::chrono::microseconds(400));

  TTheForm& form = Create();
  form.PageControl->setCurrentIndex(c.page);
  form.show();
  Wait(c.programNow ? 200 : 100);

  const QPixmap picture = form.grab();
  EXPECT_EQ(picture.size(), QSize(403, c.clientHeight));
  const QString path = QString::fromLocal8Bit(folder) + "/" + c.name + ".png";
  EXPECT_TRUE(picture.save(path, "PNG")) << path.toStdString();
  form.ProgressTimer->stop();
}

INSTANTIATE_TEST_SUITE_P(Presentations, Screenshot, ::testing::ValuesIn(Shots),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvr
