#include "platform/qt/message_box_qt.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

#include "platform/message_box.h"

namespace qvr::platform {
namespace {

int ShowHere(const std::string& text, const std::string& caption, std::uint32_t flags) {
  QMessageBox box;
  box.setWindowTitle(QString::fromStdString(caption));
  box.setTextFormat(Qt::PlainText);
  box.setText(QString::fromStdString(text));
  box.setIcon(QMessageBox::NoIcon);
  if (OffersCancel(flags)) {
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
  }
  box.setDefaultButton(QMessageBox::Ok);
  if ((flags & MbServiceNotification) != 0) box.setWindowFlag(Qt::WindowStaysOnTopHint);
  const int result = box.exec();
  // A box with OK alone answers OK however it is closed.
  if (!OffersCancel(flags)) return IdOk;
  return result == QMessageBox::Ok ? IdOk : IdCancel;
}

}  // namespace

int ShowQtMessageBox(const std::string& text, const std::string& caption, std::uint32_t flags) {
  QCoreApplication* application = QCoreApplication::instance();
  if (application == nullptr || QThread::currentThread() == application->thread())
    return ShowHere(text, caption, flags);
  int answer = IdCancel;
  QMetaObject::invokeMethod(
      application, [&] { answer = ShowHere(text, caption, flags); }, Qt::BlockingQueuedConnection);
  return answer;
}

}  // namespace qvr::platform
