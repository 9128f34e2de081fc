#include "simcard/sim/options.h"

#include <charconv>
#include <functional>
#include <map>

#include "image/firmware_image.h"

namespace qvr::simcard {

namespace {

constexpr std::uint32_t MaxRestartMs = 3600000;        // an hour
constexpr std::uint32_t MaxReplyDelayUs = 60000000;    // a minute

// Decimal, or hexadecimal after 0x; the whole text, within `limit`.
std::optional<std::uint32_t> ParseNumber(const std::string& text, std::uint32_t limit) {
  std::string_view digits = text;
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.remove_prefix(2);
    base = 16;
  }
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (error != std::errc() || end != digits.data() + digits.size() || value > limit) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

// "MAJOR.MINOR.PATCH", each 0..255.
bool ParseVersion(const std::string& text, SimOptions& options) {
  std::uint32_t parts[3] = {};
  std::size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    const std::size_t dot = i < 2 ? text.find('.', start) : text.size();
    if (dot == std::string::npos) return false;
    const std::string part = text.substr(start, dot - start);
    if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos) return false;
    const auto value = ParseNumber(part, 255);
    if (!value) return false;
    parts[i] = *value;
    start = dot + 1;
  }
  options.major = static_cast<std::uint8_t>(parts[0]);
  options.minor = static_cast<std::uint8_t>(parts[1]);
  options.patch = static_cast<std::uint8_t>(parts[2]);
  return true;
}

}  // namespace

std::string UsageText() {
  return "usage: qvr-card-sim [options]     play the card until SIGINT or SIGTERM\n"
         "       qvr-card-sim status        show the live card's header\n"
         "\n"
         "The initial firmware (--status/--version, or --flash):\n"
         "  --status N                  release status byte (default 4, Full Release)\n"
         "  --version MAJOR.MINOR.PATCH firmware version (default 1.0.0)\n"
         "  --flash FILE.q37            start from this S-record image; the version is\n"
         "                              that of its record at 0x8000\n"
         "The card:\n"
         "  --card-state N              initial CardState (default 1)\n"
         "  --restart-ms N              restart time after a run (default 300)\n"
         "  --reprogram N               ask for N further runs after the first\n"
         "  --refuse-block OFFSET       refuse the data block holding this image offset\n"
         "  --reply-delay-us N          answer each command N microseconds late\n"
         "  --stop-answering-after N    answer N data blocks of a run, then hang\n"
         "  --never-restart             stay away after the end of a run\n"
         "  --no-magic                  start without the magic in the header\n"
         "  --flash-out FILE            after each run, write the 256 KB flash to FILE\n"
         "  --pci                       serve QVZORVA-0 and Pci9054-0 in the device\n"
         "                              directory ($QVR_DEVICE_DIR or /dev) instead of\n"
         "                              the named mapping\n"
         "  --help                      this text\n"
         "\n"
         "The named mapping is \"QVRZORVA mapped file\" unless QVR_MAPPING_NAME names\n"
         "another. Numbers are decimal, or hexadecimal after 0x. Once serving, the\n"
         "program prints \"qvr-card-sim: ready\" on standard output.\n";
}

ParsedOptions ParseOptions(const std::vector<std::string>& args) {
  ParsedOptions parsed;
  SimOptions& o = parsed.options;
  bool versionGiven = false;

  const auto number = [](std::uint32_t limit, std::uint32_t& to) {
    return [limit, &to](const std::string& value) {
      const auto n = ParseNumber(value, limit);
      if (n) to = *n;
      return n.has_value();
    };
  };
  const auto optionalNumber = [](std::uint32_t limit, std::optional<std::uint32_t>& to) {
    return [limit, &to](const std::string& value) {
      to = ParseNumber(value, limit);
      return to.has_value();
    };
  };
  std::uint32_t status = o.status;
  const std::map<std::string, std::function<bool(const std::string&)>> withValue = {
      {"--status", [&](const std::string& v) { versionGiven = true; return number(255, status)(v); }},
      {"--version", [&](const std::string& v) { versionGiven = true; return ParseVersion(v, o); }},
      {"--flash", [&](const std::string& v) { o.flashFile = v; return !v.empty(); }},
      {"--card-state", number(UINT32_MAX, o.cardState)},
      {"--restart-ms", number(MaxRestartMs, o.restartMs)},
      {"--reprogram", number(UINT32_MAX, o.reprogram)},
      {"--refuse-block", optionalNumber(ImageSize - 1, o.refuseBlock)},
      {"--reply-delay-us", number(MaxReplyDelayUs, o.replyDelayUs)},
      {"--stop-answering-after", optionalNumber(UINT32_MAX, o.stopAnsweringAfter)},
      {"--flash-out", [&](const std::string& v) { o.flashOut = v; return !v.empty(); }},
  };
  const std::map<std::string, bool*> flags = {
      {"--never-restart", &o.neverRestart}, {"--no-magic", &o.noMagic}, {"--pci", &o.pci}, {"--help", &o.help}};

  if (!args.empty() && args[0] == "status") {
    o.statusCommand = true;
    if (args.size() > 1) parsed.error = "status takes no further arguments";
    return parsed;
  }
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> value;
    if (const auto equals = name.find('='); name.starts_with("--") && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    if (const auto flag = flags.find(name); flag != flags.end()) {
      if (value) {
        parsed.error = name + " takes no value";
        return parsed;
      }
      *flag->second = true;
      continue;
    }
    const auto option = withValue.find(name);
    if (option == withValue.end()) {
      parsed.error = "unknown option " + name;
      return parsed;
    }
    if (!value) {
      if (i + 1 == args.size()) {
        parsed.error = name + " needs a value";
        return parsed;
      }
      value = args[++i];
    }
    if (!option->second(*value)) {
      parsed.error = "bad value for " + name + ": " + *value;
      return parsed;
    }
  }
  o.status = static_cast<std::uint8_t>(status);
  if (versionGiven && o.flashFile) parsed.error = "--flash cannot be combined with --status or --version";
  return parsed;
}

}  // namespace qvr::simcard
