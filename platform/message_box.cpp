#include "platform/message_box.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/gui_module.h"

namespace qvr::platform {
namespace {

std::mutex responderMutex;
MessageBoxResponder responder;

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

int AnswerOnStandardError(const std::string& text, const std::string& caption, std::uint32_t flags) {
  std::string line = caption + ": " + text;
  if (line.empty() || line.back() != '\n') line += '\n';
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  return OffersCancel(flags) ? IdCancel : IdOk;
}

}  // namespace

bool OffersCancel(std::uint32_t flags) { return (flags & 0x0000000F) == MbOkCancel; }

void SetMessageBoxResponder(MessageBoxResponder r) {
  std::lock_guard lock(responderMutex);
  responder = std::move(r);
}

bool HaveDisplay() {
  if (!Set("DISPLAY") && !Set("WAYLAND_DISPLAY")) return false;
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && (std::strcmp(platform, "offscreen") == 0 || std::strcmp(platform, "minimal") == 0))
    return false;
  return true;
}

int ShowMessageBox(const std::string& text, const std::string& caption, std::uint32_t flags) {
  MessageBoxResponder installed;
  {
    std::lock_guard lock(responderMutex);
    installed = responder;
  }
  if (installed) return installed(text, caption, flags);
  if (!HaveDisplay()) return AnswerOnStandardError(text, caption, flags);

  std::string error;
  auto show = reinterpret_cast<GuiMessageBoxEntry>(GuiModuleSymbol(GuiMessageBoxSymbol, error));
  if (show == nullptr) {
    std::fprintf(stderr, "qvrload: no message box window (%s)\n", error.c_str());
    return AnswerOnStandardError(text, caption, flags);
  }
  const int answer = show(text.c_str(), caption.c_str(), flags);
  return answer != 0 ? answer : AnswerOnStandardError(text, caption, flags);
}

}  // namespace qvr::platform
