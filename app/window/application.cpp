#include "app/window/application.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QProxyStyle>
#include <QScreen>
#include <QStyleFactory>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "app/run_mode.h"
#include "app/startup.h"
#include "app/window/main_form.h"
#include "platform/message_box.h"

namespace qvr {
namespace {

int applicationArgc = 1;
char applicationName[] = "qvrload";
char* defaultArgv[] = {applicationName, nullptr};

// The application's style with the hint pause as its tooltip wake-up delay.
class HintPauseStyle : public QProxyStyle {
 public:
  explicit HintPauseStyle(QStyle* base) : QProxyStyle(base) {}
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == SH_ToolTip_WakeUpDelay) return pause;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
  int pause = 700;
};

HintPauseStyle* InstalledHintStyle() {
  if (auto* style = dynamic_cast<HintPauseStyle*>(QApplication::style())) return style;
  auto* style = new HintPauseStyle(QStyleFactory::create(QApplication::style()->name()));
  QApplication::setStyle(style);
  return style;
}

// Writes each text the comment line settles on to standard error, once the
// event loop has nothing left to do, that is, as a person would see it.
class CommentEcho {
 public:
  explicit CommentEcho(TTheForm& form) : form_(form) {
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
      QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, &form, [this] { Write(); });
  }
  // Also called once the loop has ended, for the text the window closed on.
  void Write() {
    const QString text = form_.Comment->text();
    if (text == shown_) return;
    shown_ = text;
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
  }

 private:
  TTheForm& form_;
  QString shown_;
};

void ShowCentred(TTheForm& form) {
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QPoint centre = screen->availableGeometry().center();
    form.move(centre.x() - form.width() / 2, centre.y() - form.OuterHeight() / 2);
  }
  form.show();
}

}  // namespace

void EnsureApplication(int argc, char** argv) {
  if (QCoreApplication::instance() != nullptr) return;
  if (argc > 0 && argv != nullptr) {
    applicationArgc = argc;
  } else {
    argv = defaultArgv;
  }
  // A display that is named but cannot be reached (a log-on before the
  // display server is up) must not end the program: fall back to offscreen.
  const char* named = std::getenv("QT_QPA_PLATFORM");
  if (named == nullptr || *named == '\0') {
    std::string platforms;
    if (const char* wayland = std::getenv("WAYLAND_DISPLAY"); wayland != nullptr && *wayland != '\0')
      platforms += "wayland;";
    if (const char* x = std::getenv("DISPLAY"); x != nullptr && *x != '\0') platforms += "xcb;";
    setenv("QT_QPA_PLATFORM", (platforms + "offscreen").c_str(), 1);
  }
  // Kept for the life of the process, like the application object itself.
  new QApplication(applicationArgc, argv);
  // From now on the process knows whether it has a display (HaveDisplay).
  if (Offscreen()) setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

bool Offscreen() {
  const QString name = QGuiApplication::platformName();
  return name == QLatin1String("offscreen") || name == QLatin1String("minimal");
}

void UseDesignFontFaces() {
  QFont::insertSubstitutions(QString::fromLatin1(FormFontFamily),
                             {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
                              QStringLiteral("Liberation Sans")});
}

void SetHintPause(int milliseconds) { InstalledHintStyle()->pause = milliseconds; }

int HintPause() { return QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay); }

void ShowException(std::exception_ptr error) {
  std::string text;
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    text = e.what();
  } catch (...) {
  }
  platform::ShowMessageBox(text, ApplicationTitle, platform::MbServiceNotification);
}

TTheForm& CreateTheForm() {
  TheForm = new TTheForm;
  TheForm->FormCreate();
  return *TheForm;
}

int RunApplication(int argc, char** argv, bool headless) {
  if (headless) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  try {
    EnsureApplication(argc, argv);
    headless = headless || Offscreen();
    if (headless && !ProgramNow && !AutoClose) {
      std::fputs(NoDisplayText, stderr);
      return 0;
    }
    QCoreApplication::setApplicationName(QString::fromLatin1(ApplicationTitle));
    // The main window's granted close ends the loop (TTheForm::closeEvent);
    // message boxes closing around it do not.
    QApplication::setQuitOnLastWindowClosed(false);
    TTheForm& form = CreateTheForm();
    std::optional<CommentEcho> echo;
    if (headless) echo.emplace(form);
    ShowCentred(form);
    QApplication::exec();
    if (echo) echo->Write();
  } catch (...) {
    ShowException(std::current_exception());
  }
  return 0;
}

}  // namespace qvr
