// The loader's one window, TTheForm, and its process-wide values. Controls
// keep the names of the design; the event handlers carry the behaviour and
// are connected to the controls' signals by the constructor.
#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>

class QLabel;
class QPushButton;
class QLineEdit;
class QTabWidget;
class QProgressBar;
class QTimer;
class QFileDialog;
class QCloseEvent;

namespace qvr {

class ProgramCard;

// Panels are lowered, left-aligned labels.
using TPanel = QLabel;

// The design's client area. Qt sizes the client area and the window manager
// adds the frame; outer heights count the frame as this fixed allowance, so
// the design's outer height is 271 + 29 = 300.
inline constexpr int DesignClientWidth = 403;
inline constexpr int DesignClientHeight = 271;
inline constexpr int FrameAllowance = 29;

class TTheForm : public QWidget {
 public:
  TTheForm();
  ~TTheForm() override;

  // The 23 controls, in design order.
  TPanel* Status = nullptr;
  QLabel* TheLabel = nullptr;
  TPanel* Version = nullptr;
  TPanel* LoadedVersion = nullptr;
  QPushButton* ExitButton = nullptr;
  TPanel* LoadedStatus = nullptr;
  TPanel* Compiled = nullptr;
  QTimer* ExitTimer = nullptr;
  QLabel* Comment = nullptr;
  QPushButton* ConfigButton = nullptr;
  QTimer* ProgressTimer = nullptr;
  QTabWidget* PageControl = nullptr;
  QWidget* StartTab = nullptr;
  QWidget* TabSheet2 = nullptr;
  QProgressBar* ProgressBar = nullptr;
  QFileDialog* OpenDialog = nullptr;
  QPushButton* ProgramButton = nullptr;
  QPushButton* LoadButton = nullptr;
  QLineEdit* FileName = nullptr;
  QPushButton* BrowseButton = nullptr;
  QPushButton* StartClearButton = nullptr;
  QPushButton* StartSetButton = nullptr;
  TPanel* StartCheckVersion = nullptr;

  // The worker of the current programming run, or none.
  std::unique_ptr<ProgramCard> Worker;

  // Event handlers. The constructor connects them to the controls' signals;
  // an error raised by a handler run from a signal goes to the application's
  // exception display (application.h).
  //
  // FormCreate applies the run mode; the window's creator calls it once after
  // construction. An error raised by one of its steps is shown through the
  // exception display and the remaining steps are skipped, so the window then
  // keeps its design height and captions.
  void FormCreate();
  bool FormCloseQuery();  // true when the close may go ahead
  void ExitButtonClick();
  void ConfigButtonClick();
  void ExitTimerTimer();
  void ProgramButtonClick();
  void ProgressTimerTimer();
  void BrowseButtonClick();
  void LoadButtonClick();
  void StartSetButtonClick();
  void StartClearButtonClick();

  // Starts one programming run (Program button, and a repeated run).
  void StartProgramming();

  // The window's outer height (frame included), and setting it: the client
  // area becomes `height` - FrameAllowance high.
  int OuterHeight() const;
  void SetOuterHeight(int height);

 protected:
  void closeEvent(QCloseEvent* event) override;  // asks FormCloseQuery
};

// The window of the process, while it exists.
extern TTheForm* TheForm;

extern std::int32_t FullHeight;     // 0 until FormCreate records it
extern std::int32_t ExitCountdown;  // 10 at start, one less at every countdown tick

// Fill the version panels, and the startup check display.
void ShowVersions(TTheForm& form);
void ShowStartupCheck(TTheForm& form);

// Puts the remembered S-record file name into FileName (window creation).
void FetchRememberedFileName(TTheForm& form);

}  // namespace qvr
