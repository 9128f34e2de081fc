// The Qt message box: title, text, no icon, its buttons and answers, shown on
// the application's thread also when another thread asks for it.
#include <QAbstractButton>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMessageBox>
#include <QThread>

#include <atomic>
#include <thread>

#include "platform/gui_module.h"
#include "platform/message_box.h"
#include "platform/qt/message_box_qt.h"
#include "tests/app/window_fixture.h"

extern "C" int qvr_gui_message_box(const char* text, const char* caption, std::uint32_t flags);

namespace qvr {
namespace {

enum class Press { Ok, Cancel, Escape, Close };
enum class From { GuiThread, OtherThread, ModuleEntry };

struct BoxCase {
  const char* name;
  std::uint32_t flags;
  From from;
  Press press;
  // Expected.
  bool cancelOffered;
  int answer;
};

std::ostream& operator<<(std::ostream& out, const BoxCase& c) { return out << c.name; }

const BoxCase Cases[] = {
    {"OkOnly", 0x00000000, From::GuiThread, Press::Ok, false, 1},
    {"ServiceNotification", 0x00200000, From::GuiThread, Press::Ok, false, 1},
    {"EscapeOnOkOnlyIsOk", 0x00200000, From::GuiThread, Press::Escape, false, 1},
    {"QuestionOk", 0x00200001, From::GuiThread, Press::Ok, true, 1},
    {"QuestionCancel", 0x00200001, From::GuiThread, Press::Cancel, true, 2},
    {"QuestionEscapeIsCancel", 0x00000001, From::GuiThread, Press::Escape, true, 2},
    {"CloseOnOkOnlyIsOk", 0x00000000, From::GuiThread, Press::Close, false, 1},
    {"QuestionCloseIsCancel", 0x00200001, From::GuiThread, Press::Close, true, 2},
    {"OtherThreadOk", 0x00200000, From::OtherThread, Press::Ok, false, 1},
    {"OtherThreadQuestionCancel", 0x00200001, From::OtherThread, Press::Cancel, true, 2},
    {"OtherThreadQuestionOk", 0x00200001, From::OtherThread, Press::Ok, true, 1},
    {"ModuleEntry", 0x00200001, From::ModuleEntry, Press::Cancel, true, 2},
};

struct SeenBox {
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::Information;
  QMessageBox::StandardButtons buttons;
  bool parentless = false;
  bool onGuiThread = false;
};

class QtMessageBox : public test::WindowTest, public ::testing::WithParamInterface<BoxCase> {};

TEST_P(QtMessageBox, ShowsAndAnswers) {
  const BoxCase& c = GetParam();
  SeenBox seen;
  bool answered = false;
  QTimer watcher;
  watcher.setInterval(5);
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || answered) return;
    answered = true;
    seen = {box->windowTitle(), box->text(), box->icon(), box->standardButtons(), box->parentWidget() == nullptr,
            QThread::currentThread() == qApp->thread()};
    switch (c.press) {
      case Press::Ok: box->button(QMessageBox::Ok)->click(); break;
      case Press::Cancel: box->button(QMessageBox::Cancel)->click(); break;
      case Press::Escape: {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(box, &escape);
        break;
      }
      case Press::Close: box->close(); break;
    }
  });
  watcher.start();

  const std::string text = "Line one\nline two\n";
  int answer = 0;
  if (c.from == From::OtherThread) {
    std::atomic<bool> done{false};
    std::thread asker([&] {
      answer = platform::ShowQtMessageBox(text, "A Caption", c.flags);
      done = true;
    });
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (done) loop.quit();
    });
    poll.start(5);
    loop.exec();
    asker.join();
  } else if (c.from == From::ModuleEntry) {
    answer = qvr_gui_message_box(text.c_str(), "A Caption", c.flags);
  } else {
    answer = platform::ShowQtMessageBox(text, "A Caption", c.flags);
  }

  EXPECT_TRUE(answered);
  EXPECT_EQ(answer, c.answer);
  EXPECT_EQ(seen.title, "A Caption");
  EXPECT_EQ(seen.text, QString::fromStdString(text));
  EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
  EXPECT_TRUE(seen.parentless);
  EXPECT_TRUE(seen.onGuiThread);
  const QMessageBox::StandardButtons buttons =
      c.cancelOffered ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::StandardButtons(QMessageBox::Ok);
  EXPECT_EQ(seen.buttons, buttons);
}

INSTANTIATE_TEST_SUITE_P(Cases, QtMessageBox, ::testing::ValuesIn(Cases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvr
