// Small helpers shared by the image tests: a scratch folder and file I/O.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/firmware_image.h"

namespace qvr::test {

// A fresh folder for one test, removed afterwards; TheImage starts reset.
class ImageTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetImage();
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name)
      if (c == '/') c = '_';
    dir_ = std::filesystem::temp_directory_path() / ("qvr-image-test-" + std::to_string(::getpid())) / name;
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

  std::string Write(const std::string& name, const std::string& content) const {
    const std::string path = PathOf(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  std::string Write(const std::string& name, const std::vector<std::uint8_t>& content) const {
    return Write(name, std::string(content.begin(), content.end()));
  }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::filesystem::path dir_;
};

// Puts `image` into TheImage as the start-up does with a carried image:
// plain 0xFF fill, the bytes from offset 0, LoadedLength = their count.
inline void PlaceImage(const std::vector<std::uint8_t>& image) {
  ResetImage();
  std::copy(image.begin(), image.end(), TheImage.Data.begin());
  TheImage.LoadedLength = static_cast<std::uint32_t>(image.size());
  TheImage.CurrentRecord = ApplicationRecordOffset;
}

inline void PutBigEndian32(std::uint32_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) TheImage.Data[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

}  // namespace qvr::test
