#include "DocumentLimits.h"

#include <charconv>
#include <cstring>

namespace {

constexpr int kMaxLimitValue = 1000000;

struct TLimitOption {
  const char* name;
  int TWorkerLimits::*value;
};

constexpr TLimitOption kLimitOptions[] = {
    {"--cpu-seconds", &TWorkerLimits::cpuSeconds},
    {"--memory-mib", &TWorkerLimits::memoryMiB},
    {"--answer-mib", &TWorkerLimits::answerMiB},
};

bool ParseLimitValue(const char* text, int& value) {
  const char* end = text + std::strlen(text);
  int parsed = 0;
  auto [at, error] = std::from_chars(text, end, parsed);
  if (error != std::errc() || at != end || parsed < 1 || parsed > kMaxLimitValue) return false;
  value = parsed;
  return true;
}

}  // namespace

std::vector<std::string> TWorkerLimits::Arguments() const {
  std::vector<std::string> arguments;
  for (const TLimitOption& option : kLimitOptions) {
    arguments.push_back(option.name);
    arguments.push_back(std::to_string(this->*option.value));
  }
  return arguments;
}

bool ParseWorkerLimits(int argc, char** argv, TWorkerLimits& limits) {
  for (int i = 1; i < argc; i += 2) {
    const TLimitOption* found = nullptr;
    for (const TLimitOption& option : kLimitOptions) {
      if (std::strcmp(argv[i], option.name) == 0) found = &option;
    }
    if (!found || i + 1 >= argc || !ParseLimitValue(argv[i + 1], limits.*found->value)) {
      return false;
    }
  }
  return true;
}
