// qvr-image: makes, inspects and packages firmware images without the window.
//   make  writes a valid image as an S-record file
//   info  loads a file as the loader would and reports on the image
//   pack  appends an S-record image to a copy of a program
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "image/carried_image.h"
#include "image/firmware_image.h"
#include "image/srecord.h"
#include "image/validate.h"
#include "tools/image_maker.h"

namespace {

using namespace qvr;

constexpr int Valid = 0, Failed = 1, Usage = 2;

const char UsageText[] =
    "usage: qvr-image make [--status N] [--version MAJOR.MINOR.PATCH] [--date TEXT] [--time TEXT]\n"
    "                      [--kernel] [--kernel-copy] [--size BYTES] [--seed N] -o OUT.q37\n"
    "       qvr-image info FILE\n"
    "       qvr-image pack --image FILE.q37 --onto PROGRAM -o OUT [--force]\n"
    "       qvr-image --help\n";

const char HelpText[] =
    "\n"
    "make   Writes a valid firmware image as an S-record file: application record\n"
    "       at 0x8000; with --kernel a kernel record at 0x1000 (kernel 0..0x4000);\n"
    "       with --kernel-copy also the kernel copy after the application.\n"
    "       Defaults: --status 4 --version 1.0.0 --date 'Dec 11 2026'\n"
    "       --time 12:00:00 --size 0x10000 (application length) --seed 1.\n"
    "       Numbers may be decimal or 0x-prefixed hexadecimal.\n"
    "info   Loads FILE as the loader would (an S-record file, or a file that\n"
    "       carries an image after its own bytes), validates it and reports.\n"
    "       Exit status 0 for a valid image, 1 for a load or validation failure.\n"
    "pack   Writes OUT = PROGRAM's bytes (without any image it carries), the\n"
    "       image loaded from FILE.q37 and its trailer; keeps PROGRAM's run bit.\n"
    "       Refuses an image that fails validation unless --force.\n"
    "\n"
    "Exit status 2 for bad arguments.\n";

int UsageError(const std::string& problem) {
  std::fprintf(stderr, "qvr-image: %s\n%s", problem.c_str(), UsageText);
  return Usage;
}

// Command-line options of one subcommand: flags, and options with a value.
struct Options {
  std::map<std::string, std::string> values;
  std::map<std::string, bool> flags;
  std::vector<std::string> operands;
};

// Parses `args` against the known names; an error text for anything else.
std::optional<std::string> Parse(const std::vector<std::string>& args, const std::vector<std::string>& valueNames,
                                 const std::vector<std::string>& flagNames, Options& options) {
  auto known = [](const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inlineValue;
    if (name.rfind("--", 0) == 0) {
      if (const auto eq = name.find('='); eq != std::string::npos) {
        inlineValue = name.substr(eq + 1);
        name.resize(eq);
      }
    }
    if (known(flagNames, name) && !inlineValue) {
      options.flags[name] = true;
    } else if (known(valueNames, name)) {
      if (!inlineValue && i + 1 >= args.size()) return "missing value after " + name;
      options.values[name] = inlineValue ? *inlineValue : args[++i];
    } else if (name.size() > 1 && name[0] == '-') {
      return "unknown option " + args[i];
    } else {
      options.operands.push_back(name);
    }
  }
  return std::nullopt;
}

bool ParseNumber(const std::string& text, std::uint32_t limit, std::uint32_t& value) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || std::isspace(static_cast<unsigned char>(text[0]))) return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long n = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || n > limit) return false;
  value = static_cast<std::uint32_t>(n);
  return true;
}

bool ParseVersion(const std::string& text, tool::ImageSpec& spec) {
  const auto dot1 = text.find('.');
  const auto dot2 = dot1 == std::string::npos ? dot1 : text.find('.', dot1 + 1);
  if (dot2 == std::string::npos) return false;
  std::uint32_t major, minor, patch;
  if (!ParseNumber(text.substr(0, dot1), 255, major) || !ParseNumber(text.substr(dot1 + 1, dot2 - dot1 - 1), 255, minor) ||
      !ParseNumber(text.substr(dot2 + 1), 255, patch))
    return false;
  spec.major = static_cast<std::uint8_t>(major);
  spec.minor = static_cast<std::uint8_t>(minor);
  spec.patch = static_cast<std::uint8_t>(patch);
  return true;
}

int Make(const std::vector<std::string>& args) {
  Options o;
  if (auto e = Parse(args, {"--status", "--version", "--date", "--time", "--size", "--seed", "-o"},
                     {"--kernel", "--kernel-copy"}, o))
    return UsageError(*e);
  if (!o.operands.empty()) return UsageError("unexpected argument " + o.operands.front());
  if (!o.values.count("-o")) return UsageError("make needs -o OUT");

  tool::ImageSpec spec;
  std::uint32_t n = 0;
  if (o.values.count("--status")) {
    if (!ParseNumber(o.values["--status"], 255, n)) return UsageError("--status takes a number from 0 to 255");
    spec.status = static_cast<std::uint8_t>(n);
  }
  if (o.values.count("--version") && !ParseVersion(o.values["--version"], spec))
    return UsageError("--version takes MAJOR.MINOR.PATCH, each from 0 to 255");
  if (o.values.count("--date")) spec.date = o.values["--date"];
  if (o.values.count("--time")) spec.time = o.values["--time"];
  if (o.values.count("--size") && !ParseNumber(o.values["--size"], 0xFFFFFFFF, spec.size))
    return UsageError("--size takes a number of bytes");
  if (o.values.count("--seed") && !ParseNumber(o.values["--seed"], 0xFFFFFFFF, spec.seed))
    return UsageError("--seed takes a number");
  spec.kernel = o.flags["--kernel"];
  spec.kernelCopy = o.flags["--kernel-copy"];
  if (auto refused = tool::CheckSpec(spec)) return UsageError(*refused);

  std::string error;
  if (!tool::WriteSRecordFile(o.values["-o"], spec, &error)) {
    std::fprintf(stderr, "qvr-image: %s\n", error.c_str());
    return Failed;
  }
  return Valid;
}

// True when the first bytes of `path` hold a zero byte, as no S-record text does.
bool LooksBinary(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char head[4096];
  in.read(head, sizeof head);
  return std::memchr(head, 0, static_cast<std::size_t>(in.gcount())) != nullptr;
}

int Info(const std::vector<std::string>& args) {
  Options o;
  if (auto e = Parse(args, {}, {}, o)) return UsageError(*e);
  if (o.operands.size() != 1) return UsageError("info takes one FILE");
  const std::string& path = o.operands.front();

  // First as the start-up reads its own executable (plain fill, trailer).
  ResetImage();
  const CarriedImageResult carried = ReadCarriedImage(path);
  if (carried.hasTrailer) {
    std::printf("source: carried image (trailer length 0x%X, record offset 0x%X)\n", carried.trailer.length,
                carried.trailer.recordOffset);
    if (carried.outcome != CarriedImageOutcome::Loaded) {
      std::printf("trailer does not fit the file or the image buffer: the loader takes <%s> as carrying no image\n",
                  path.c_str());
      return Failed;
    }
  } else if (carried.outcome != CarriedImageOutcome::CannotOpen && LooksBinary(path)) {
    std::printf("<%s> carries no image and is not an S-record file\n", path.c_str());
    return Failed;
  } else {
    // As the window loads a file: cleared buffer, S-records, record at 0x8000.
    // A file that cannot be opened gets the loader's own message.
    const bool opened = carried.outcome != CarriedImageOutcome::CannotOpen;
    if (opened) std::printf("source: S-record file\n");
    TheImage.LoadedLength = 0;
    ClearImage();
    if (auto message = LoadSRecordFile(path)) {
      if (opened) std::printf("loaded length: 0x%X (%u bytes)\n", TheImage.LoadedLength, TheImage.LoadedLength);
      std::fputs(message->c_str(), stdout);
      return Failed;
    }
    TheImage.CurrentRecord = ApplicationRecordOffset;
  }

  const auto message = ValidateImage();
  const std::uint32_t record = *TheImage.CurrentRecord;
  const RecordVersion v = RecordVersionAt(record);
  std::printf("loaded length: 0x%X (%u bytes)\n", TheImage.LoadedLength, TheImage.LoadedLength);
  std::printf("record: 0x%X\n", record);
  std::printf("status: %s (%u)\n", StatusName(v.status), v.status);
  std::printf("version: %s\n", VersionText(v.major, v.minor, v.patch).c_str());
  std::printf("build: %s", BuildText(RecordDateText(record), RecordTimeText(record)).c_str());
  if (message) {
    std::fputs(message->c_str(), stdout);
    return Failed;
  }
  std::puts("valid");
  return Valid;
}

int Pack(const std::vector<std::string>& args) {
  Options o;
  if (auto e = Parse(args, {"--image", "--onto", "-o"}, {"--force"}, o)) return UsageError(*e);
  if (!o.operands.empty()) return UsageError("unexpected argument " + o.operands.front());
  for (const char* needed : {"--image", "--onto", "-o"})
    if (!o.values.count(needed)) return UsageError(std::string("pack needs ") + needed);

  TheImage.LoadedLength = 0;
  ClearImage();
  if (auto message = LoadSRecordFile(o.values["--image"])) {
    std::fputs(message->c_str(), stdout);
    return Failed;
  }
  if (auto message = ValidateImage()) {
    std::fputs(message->c_str(), stdout);
    if (!o.flags["--force"]) return Failed;
    std::puts("packing all the same (--force)");
  }
  const std::vector<std::uint8_t> image(TheImage.Data.begin(), TheImage.Data.begin() + TheImage.LoadedLength);
  std::string error;
  if (!tool::PackImage(o.values["--onto"], image, ApplicationRecordOffset, o.values["-o"], &error)) {
    std::fprintf(stderr, "qvr-image: %s\n", error.c_str());
    return Failed;
  }
  std::printf("packed 0x%X image bytes onto <%s> as <%s>\n", TheImage.LoadedLength, o.values["--onto"].c_str(),
              o.values["-o"].c_str());
  return Valid;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> all(argv + 1, argv + argc);
  if (all.empty()) return UsageError("no command given");
  const std::string& command = all.front();
  const std::vector<std::string> rest(all.begin() + 1, all.end());
  if (command == "--help" || command == "-h" || command == "help") {
    std::printf("%s%s", UsageText, HelpText);
    return Valid;
  }
  if (command == "make") return Make(rest);
  if (command == "info") return Info(rest);
  if (command == "pack") return Pack(rest);
  return UsageError("unknown command " + command);
}
