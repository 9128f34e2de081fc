#include "simcard/sim/status_report.h"

#include <cstdio>

#include "card/interface_header.h"
#include "image/firmware_image.h"
#include "simcard/card_memory.h"
#include "simcard/memory_layout.h"
#include "simcard/shared_words.h"

namespace qvr::simcard {

namespace {

std::string Line(const char* format, auto... values) {
  char text[160];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

const char* PhaseName(std::uint32_t phase) {
  switch (static_cast<Phase>(phase)) {
    case Phase::Running: return "running";
    case Phase::Restarting: return "restarting";
    case Phase::Halted: return "halted (never restarts)";
    case Phase::Silent: return "not answering";
  }
  return "unknown";
}

}  // namespace

std::string StatusReport(std::uint8_t* base, std::size_t size) {
  if (base == nullptr || size < InterfaceHeader::HeaderSize) return "interface memory too small for a header\n";
  std::string report;
  const std::uint32_t magic = LoadWord(base, InterfaceHeader::Magic, std::memory_order_acquire);
  const std::uint32_t version = LoadWord(base, InterfaceHeader::FirmwareVersion);
  report += magic == ImageMagic ? Line("magic: present (0x%08X)\n", magic) : Line("magic: absent (0x%08X)\n", magic);
  report += Line("firmware: %s %s\n", StatusName(version >> 24),
                 VersionText(version >> 16 & 0xFF, version >> 8 & 0xFF, version & 0xFF).c_str());
  report += Line("card state: 0x%08X\n", LoadWord(base, InterfaceHeader::CardState));
  report += Line("area A: 0x%X, area B: 0x%X\n", LoadWord(base, InterfaceHeader::AreaAOffset),
                 LoadWord(base, InterfaceHeader::AreaBOffset));

  if (size < RecordStart + Record::Size ||
      LoadWord(base, RecordStart + Record::Magic, std::memory_order_acquire) != Record::RecordMagic)
    return report + "simulator: none\n";
  const auto field = [&](std::uint32_t offset) { return LoadWord(base, RecordStart + offset); };
  report += Line("last run: %u blocks\n", field(Record::LastRunBlocks));
  report += Line("simulator: pid %u, %s, %s route\n", field(Record::OwnerPid), PhaseName(field(Record::Phase)),
                 field(Record::Route) == 1 ? "PCI" : "named mapping");
  report += Line("runs: %u started, %u ended; this run: %u blocks; refused blocks: %u\n",
                 field(Record::RunsStarted), field(Record::RunsEnded), field(Record::RunBlocks),
                 field(Record::RefusedBlocks));
  report += Line("further runs to ask for: %u\n", field(Record::ReprogramsLeft));
  const std::uint32_t writes = field(Record::RunWordWrites);
  std::string values;
  const std::uint32_t shown = std::min(writes, Record::RunWordHistorySize);
  for (std::uint32_t i = writes - shown; i < writes; ++i)
    values += Line(" 0x%X", field(Record::RunWordHistory + 4 * (i % Record::RunWordHistorySize)));
  report += Line("area B + 8 writes: %u%s%s\n", writes, shown > 0 ? ", last:" : "", values.c_str());
  report += Line("bridge register writes: %u", field(Record::BridgeWrites));
  if (field(Record::BridgeWrites) > 0)
    report += Line(", last 0x%X = 0x%08X; register 0x28: 0x%08X", field(Record::BridgeLastOffset),
                   field(Record::BridgeLastValue), field(Record::Bridge28Value));
  return report + "\n";
}

int RunStatusCommand() {
  const std::string name = MappingNameFromEnvironment();
  CardMemory memory = OpenCardMemory(name);
  if (memory.base == nullptr) {
    std::printf("qvr-card-sim: no card memory (no mapping \"%s\", no QVZORVA device)\n", name.c_str());
    return 1;
  }
  std::printf("card memory: %s (%zu bytes)\n%s", memory.where.c_str(), memory.size,
              StatusReport(memory.base, memory.size).c_str());
  CloseCardMemory(memory);
  return 0;
}

}  // namespace qvr::simcard
