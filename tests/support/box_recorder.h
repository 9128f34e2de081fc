// Answers message boxes in place of a person and keeps what they showed.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "platform/message_box.h"

namespace qvr::test {

struct Box {
  std::string text;
  std::string caption;
  std::uint32_t flags = 0;
  bool operator==(const Box&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Box& box) {
  return out << "{\"" << box.text << "\", \"" << box.caption << "\", 0x" << std::hex << box.flags << std::dec << "}";
}

class BoxRecorder {
 public:
  // Every box gets `answer`.
  explicit BoxRecorder(int answer = platform::IdOk)
      : BoxRecorder([answer](const Box&) { return answer; }) {}
  // `answer` decides each box's result.
  explicit BoxRecorder(std::function<int(const Box&)> answer) : answer_(std::move(answer)) {
    platform::SetMessageBoxResponder([this](const std::string& text, const std::string& caption, std::uint32_t flags) {
      const Box box{text, caption, flags};
      {
        std::lock_guard lock(mutex_);
        boxes_.push_back(box);
      }
      return answer_(box);
    });
  }
  ~BoxRecorder() { platform::SetMessageBoxResponder(nullptr); }
  BoxRecorder(const BoxRecorder&) = delete;
  BoxRecorder& operator=(const BoxRecorder&) = delete;

  std::vector<Box> Boxes() const {
    std::lock_guard lock(mutex_);
    return boxes_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Box> boxes_;
  std::function<int(const Box&)> answer_;
};

}  // namespace qvr::test
