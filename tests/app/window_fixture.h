// The window under test: one application object for the test program
// (offscreen unless a platform is named), a card interface memory in the
// test's own memory, settings folders of the test's own, and the process-wide
// values back at their start.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <array>
#include <cstdlib>
#include <memory>

#include "app/run_mode.h"
#include "app/window/main_form.h"
#include "card/card_interface.h"
#include "card/interface_header.h"
#include "image/firmware_image.h"
#include "programming/program_card.h"
#include "tests/support/box_recorder.h"
#include "tests/app/temp_dir.h"

namespace qvr::test {

// Creates the application object once, when the tests run (not when they
// are only listed).
class ApplicationEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "qvr_window_test";
    static char* argv[] = {name, nullptr};
    application_ = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override { application_.reset(); }

 private:
  std::unique_ptr<QApplication> application_;
};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", (settings_ / "home").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (settings_ / "machine").c_str(), 1);
    ProgramNow = AutoClose = CarriesImage = false;
    FullHeight = 0;
    ExitCountdown = 10;
    ResetImage();
    card_.fill(0);
    TheCard.Base = reinterpret_cast<std::uint8_t*>(card_.data());
    TheCard.MappedSize = sizeof card_;
    SetCardWord(InterfaceHeader::Magic, ImageMagic);
    SetCardWord(InterfaceHeader::AreaBOffset, 0x800);
    TheCard.AreaBOffset = 0x800;
    SetCardWord(InterfaceHeader::CardState, 1);
  }
  void TearDown() override {
    if (form_) {
      form_->Worker.reset();
      form_.reset();
    }
    TheForm = nullptr;
    TheCard.Base = nullptr;
    TheCard.MappedSize = 0;
    TheCard.AreaBOffset = 0;
  }

  void SetCardWord(std::uint32_t offset, std::uint32_t value) { card_[offset / 4] = value; }

  // Puts a record at `offset` into the image buffer and makes it current.
  static void PutRecord(std::uint32_t offset, std::uint8_t status, std::uint8_t major, std::uint8_t minor,
                        std::uint8_t patch, const std::string& date = "Feb 14 2011",
                        const std::string& time = "08:05:09") {
    auto* record = TheImage.Data.data() + offset;
    record[ImageRecord::Status] = status;
    record[ImageRecord::Major] = major;
    record[ImageRecord::Minor] = minor;
    record[ImageRecord::Patch] = patch;
    std::fill_n(record + ImageRecord::Date, 2 * ImageRecord::TextFieldSize, 0);
    std::copy(date.begin(), date.end(), record + ImageRecord::Date);
    std::copy(time.begin(), time.end(), record + ImageRecord::Time);
    TheImage.CurrentRecord = offset;
  }

  // A window as the start-up creates it, with FormCreate run.
  TTheForm& Create() {
    form_ = std::make_unique<TTheForm>();
    TheForm = form_.get();
    form_->FormCreate();
    return *form_;
  }

  TempDir settings_;
  alignas(8) std::array<std::uint32_t, 1024> card_{};
  std::unique_ptr<TTheForm> form_;
};

}  // namespace qvr::test
