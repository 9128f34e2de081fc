// Answers message boxes from a script and keeps what they showed.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/message_box.h"

namespace qvr::test {

struct ShownBox {
  std::string text;
  std::string caption;
  std::uint32_t flags = 0;
  bool operator==(const ShownBox&) const = default;
};

class MessageRecorder {
 public:
  // `answer` decides each box's result; by default every box is answered OK.
  explicit MessageRecorder(std::function<int(const ShownBox&)> answer = nullptr) : answer_(std::move(answer)) {
    platform::SetMessageBoxResponder([this](const std::string& text, const std::string& caption, std::uint32_t flags) {
      ShownBox box{text, caption, flags};
      {
        std::lock_guard lock(mutex_);
        boxes_.push_back(box);
      }
      return answer_ ? answer_(box) : platform::IdOk;
    });
  }
  ~MessageRecorder() { platform::SetMessageBoxResponder(nullptr); }
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;

  std::vector<ShownBox> Boxes() const {
    std::lock_guard lock(mutex_);
    return boxes_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<ShownBox> boxes_;
  std::function<int(const ShownBox&)> answer_;
};

}  // namespace qvr::test
