#include "tests/programming/scripted_library.h"

#include <pthread.h>

#include <atomic>
#include <cstdlib>

namespace qvr::test {

namespace {
std::atomic<ScriptedLibrary*> Installed{nullptr};

std::string CurrentThreadName() {
  char name[32] = {};
  pthread_getname_np(pthread_self(), name, sizeof name);
  return name;
}
}  // namespace

ScriptedLibrary::ScriptedLibrary(ReplyScript script) : script_(std::move(script)) {
  if (!script_) script_ = [](const std::vector<std::uint8_t>&, int) { return 1; };
  Installed = this;
}

ScriptedLibrary::~ScriptedLibrary() { Installed = nullptr; }

InterfaceLibrary ScriptedLibrary::Functions() const { return {&Write, &Read}; }

std::vector<LibraryCall> ScriptedLibrary::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<LibraryCall> ScriptedLibrary::Writes() const {
  std::vector<LibraryCall> writes;
  for (auto& call : Calls()) {
    if (call.write) writes.push_back(call);
  }
  return writes;
}

void ScriptedLibrary::SetScript(ReplyScript script) {
  std::lock_guard lock(mutex_);
  script_ = std::move(script);
}

void ScriptedLibrary::SetWriteHook(std::function<void(const std::vector<std::uint8_t>& block)> hook) {
  std::lock_guard lock(mutex_);
  writeHook_ = std::move(hook);
}

std::uint32_t ScriptedLibrary::Command(const std::vector<std::uint8_t>& block) {
  if (block.size() < 4) return 0;
  return block[0] | block[1] << 8 | block[2] << 16 | std::uint32_t(block[3]) << 24;
}

std::uint32_t ScriptedLibrary::PayloadLength(const std::vector<std::uint8_t>& block) {
  if (block.size() < 8) return 0;
  return block[4] | block[5] << 8 | block[6] << 16 | std::uint32_t(block[7]) << 24;
}

std::uint32_t ScriptedLibrary::Address(const std::vector<std::uint8_t>& block) {
  if (block.size() < 11) return 0;
  return std::uint32_t(block[8]) << 16 | block[9] << 8 | block[10];
}

std::int32_t ScriptedLibrary::Write(std::int32_t card, const void* block, std::int32_t count) {
  ScriptedLibrary* self = Installed;
  if (self == nullptr) std::abort();
  LibraryCall call;
  call.write = true;
  call.card = card;
  call.count = count;
  const auto* bytes = static_cast<const std::uint8_t*>(block);
  call.block.assign(bytes, bytes + (count > 0 ? count : 0));
  call.threadName = CurrentThreadName();
  std::function<void(const std::vector<std::uint8_t>&)> hook;
  {
    std::lock_guard lock(self->mutex_);
    self->lastBlock_ = call.block;
    self->reads_ = 0;
    self->calls_.push_back(call);
    hook = self->writeHook_;
  }
  if (hook) hook(call.block);
  return count;
}

std::int32_t ScriptedLibrary::Read(std::int32_t card, void* reply, std::int32_t count) {
  ScriptedLibrary* self = Installed;
  if (self == nullptr) std::abort();
  // The reply buffer must hold what the worker promises: fill it whole.
  auto* bytes = static_cast<std::uint8_t*>(reply);
  for (std::int32_t i = 0; i < count; ++i) bytes[i] = 0x5A;
  LibraryCall call;
  call.card = card;
  call.count = count;
  call.threadName = CurrentThreadName();
  std::lock_guard lock(self->mutex_);
  self->calls_.push_back(std::move(call));
  ++self->reads_;
  return self->script_(self->lastBlock_, self->reads_);
}

}  // namespace qvr::test
