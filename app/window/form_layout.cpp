// The window as designed: controls, positions, sizes, fonts, captions, hints,
// tab pages and tab order, and the connection of the event handlers.
#include <QFileDialog>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include "app/window/application.h"
#include "app/window/main_form.h"
#include "programming/program_card.h"

namespace qvr {
namespace {

constexpr int SmallFont = 11;  // 8 point at 96 pixels per inch
constexpr int LargeFont = 13;  // 10 point

QFont DesignFont(int pixels, const char* family = FormFontFamily) {
  QFont font(QString::fromLatin1(family));
  font.setPixelSize(pixels);
  return font;
}

// A static text. It takes at least its design size and grows to its text, on
// the right or, when right-aligned, on the left, so that no face cuts it off.
QLabel* AddLabel(QWidget* parent, const char* text, QRect geometry, int pixels,
                 Qt::Alignment alignment = Qt::AlignLeft) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setFont(DesignFont(pixels));
  label->setAlignment(alignment | Qt::AlignVCenter);
  const int needed = QFontMetrics(label->font()).horizontalAdvance(label->text());
  if (needed > geometry.width()) {
    if (alignment & Qt::AlignRight) geometry.setLeft(geometry.right() + 1 - needed);
    else geometry.setWidth(needed);
  }
  label->setGeometry(geometry);
  return label;
}

// A panel: lowered bevel, left-aligned caption.
TPanel* AddPanel(QWidget* parent, const char* caption, QRect geometry, const QFont& font, const char* hint) {
  auto* panel = new TPanel(QString::fromLatin1(caption), parent);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setLineWidth(1);
  panel->setFont(font);
  panel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  panel->setContentsMargins(2, 2, 2, 0);
  panel->setGeometry(geometry);
  panel->setToolTip(QString::fromLatin1(hint));
  return panel;
}

QPushButton* AddButton(QWidget* parent, const char* caption, QRect geometry, const char* hint = nullptr) {
  auto* button = new QPushButton(QString::fromLatin1(caption), parent);
  button->setGeometry(geometry);
  if (hint != nullptr) button->setToolTip(QString::fromLatin1(hint));
  return button;
}

QTimer* AddTimer(QObject* parent, int interval) {
  auto* timer = new QTimer(parent);
  timer->setInterval(interval);
  return timer;
}

// Runs `handler` for a signal; what it raises goes to the exception display.
template <typename Handler>
auto Guarded(TTheForm* form, Handler handler) {
  return [form, handler] {
    try {
      (form->*handler)();
    } catch (...) {
      ShowException(std::current_exception());
    }
  };
}

}  // namespace

TTheForm::TTheForm() : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  UseDesignFontFaces();
  setWindowTitle(QStringLiteral("QVR Programming Utility"));
  setFixedSize(DesignClientWidth, DesignClientHeight);
  setFont(DesignFont(SmallFont));
  QPalette colours = palette();
  colours.setColor(QPalette::Window, colours.color(QPalette::Button));
  setPalette(colours);
  setAutoFillBackground(true);

  const QFont large = DesignFont(LargeFont);

  // The card's firmware.
  AddLabel(this, "Currently Loaded:", {6, 4, 105, 16}, LargeFont);
  AddLabel(this, "Version:", {123, 4, 49, 16}, LargeFont, Qt::AlignRight);
  LoadedVersion = AddPanel(this, "1.2.3.4", {177, 3, 64, 21}, large,
                           "The version of the firmware loaded onto the Oskel board");
  TheLabel = AddLabel(this, "Status:", {253, 4, 40, 16}, LargeFont);
  LoadedStatus = AddPanel(this, "Full Release", {298, 2, 97, 21}, large,
                          "The release status of the firmware loaded onto the Oskel board");

  // The image that the program holds.
  AddLabel(this, "This Image:", {5, 27, 70, 16}, LargeFont);
  AddLabel(this, "Version:", {123, 27, 49, 16}, LargeFont, Qt::AlignRight);
  Version = AddPanel(this, "1.2.3.4", {178, 25, 64, 21}, large, "The version of the image loaded into this utility");
  AddLabel(this, "Status:", {253, 27, 40, 16}, LargeFont);
  Status = AddPanel(this, "Full Release", {298, 25, 97, 21}, large,
                    "The release status of the image loaded into this utility");
  AddLabel(this, "Compiled:", {111, 50, 61, 16}, LargeFont, Qt::AlignRight);
  Compiled = AddPanel(this, "No File Loaded", {178, 48, 217, 21}, large,
                      "The date and time at which the image file was compiled");

  // The rule across the whole window.
  auto* rule = new QFrame(this);
  rule->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  rule->setLineWidth(1);
  rule->setGeometry(-3, 76, 407, 3);

  // The comment line reaches up to the Configure button, so that every text
  // it shows fits.
  Comment = new QLabel(QStringLiteral("Comment"), this);
  Comment->setFont(DesignFont(SmallFont));
  Comment->setGeometry(11, 82, 307, 13);
  Comment->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

  ProgressBar = new QProgressBar(this);
  ProgressBar->setGeometry(11, 97, 307, 12);
  ProgressBar->setRange(0, 100);
  ProgressBar->setTextVisible(false);
  ProgressBar->hide();

  ConfigButton = AddButton(this, "Configure", {328, 84, 67, 25}, "Click this to access extra facilities");

  PageControl = new QTabWidget(this);
  PageControl->setGeometry(4, 119, 396, 116);

  StartTab = new QWidget;
  PageControl->addTab(StartTab, QStringLiteral("Startup Configuration"));
  AddLabel(StartTab, "Startup Check:", {10, 11, 86, 16}, LargeFont);
  StartCheckVersion = AddPanel(StartTab, "Version 1.2.3.4", {98, 9, 285, 21}, DesignFont(LargeFont, "Arial"),
                               "These are the details of the image in the current startup check");
  StartSetButton = AddButton(StartTab, "Set", {11, 39, 64, 20},
                             "Click to check for (and load) this image during system startup");
  StartClearButton = AddButton(StartTab, "Clear", {11, 64, 64, 20}, "Click to cancel the system startup check");
  AddLabel(StartTab, "This facility allows you to set an automatic check at startup", {102, 39, 277, 13}, SmallFont);
  AddLabel(StartTab, "to ensure that the QVR ZORVA card is running the", {149, 52, 230, 13}, SmallFont);
  AddLabel(StartTab, "correct version of the firmware.", {149, 66, 145, 13}, SmallFont);

  TabSheet2 = new QWidget;
  PageControl->addTab(TabSheet2, QStringLiteral("Program Card"));
  AddLabel(TabSheet2, "These buttons allow you to unconditionally program", {141, 3, 241, 13}, SmallFont);
  AddLabel(TabSheet2, "the card with the above image, and to load a", {171, 16, 211, 13}, SmallFont);
  AddLabel(TabSheet2, "new firmware image from an S-Record file.", {171, 30, 198, 13}, SmallFont);
  ProgramButton = AddButton(TabSheet2, "Program card with image", {3, 18, 136, 23},
                            "Click to unconditionally program the board with the above image");
  LoadButton = AddButton(TabSheet2, "Load image from File:", {4, 50, 120, 23}, "Load the S-Record file");
  FileName = new QLineEdit(TabSheet2);
  FileName->setGeometry(126, 51, 199, 21);
  FileName->setToolTip(QStringLiteral("The S-Record file to be loaded"));
  BrowseButton = AddButton(TabSheet2, "Browse...", {326, 50, 56, 24}, "Choose the file");
  PageControl->setCurrentIndex(0);

  ExitButton = AddButton(this, "Exit", {331, 242, 67, 25});

  ExitTimer = AddTimer(this, 1000);
  ProgressTimer = AddTimer(this, 100);

  OpenDialog = new QFileDialog(this);
  OpenDialog->setNameFilter(QStringLiteral("Firmware Image File (*.q37)"));
  OpenDialog->setFileMode(QFileDialog::AnyFile);
  OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
  OpenDialog->setOption(QFileDialog::ReadOnly, true);
  OpenDialog->setSizeGripEnabled(true);

  setTabOrder(ExitButton, ConfigButton);
  setTabOrder(ConfigButton, PageControl);
  setTabOrder(PageControl, StartClearButton);
  setTabOrder(StartClearButton, StartSetButton);
  setTabOrder(StartSetButton, ProgramButton);
  setTabOrder(ProgramButton, LoadButton);
  setTabOrder(LoadButton, FileName);
  setTabOrder(FileName, BrowseButton);
  ExitButton->setFocus();

  connect(ExitButton, &QPushButton::clicked, this, Guarded(this, &TTheForm::ExitButtonClick));
  connect(ConfigButton, &QPushButton::clicked, this, Guarded(this, &TTheForm::ConfigButtonClick));
  connect(ExitTimer, &QTimer::timeout, this, Guarded(this, &TTheForm::ExitTimerTimer));
  connect(ProgramButton, &QPushButton::clicked, this, Guarded(this, &TTheForm::ProgramButtonClick));
  connect(ProgressTimer, &QTimer::timeout, this, Guarded(this, &TTheForm::ProgressTimerTimer));
  connect(BrowseButton, &QPushButton::clicked, this, Guarded(this, &TTheForm::BrowseButtonClick));
  connect(LoadButton, &QPushButton::clicked, this, Guarded(this, &TTheForm::LoadButtonClick));
  connect(StartSetButton, &QPushButton::clicked, this, Guarded(this, &TTheForm::StartSetButtonClick));
  connect(StartClearButton, &QPushButton::clicked, this, Guarded(this, &TTheForm::StartClearButtonClick));
}

TTheForm::~TTheForm() = default;

}  // namespace qvr
