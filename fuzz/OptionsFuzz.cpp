// Arbitrary bytes as the settings file options.dat: read the way the window
// reads it at start, field by field until one is incomplete, and compared
// with what saving the fields read would write.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "FileIO.h"
#include "FuzzFile.h"
#include "OptionsFile.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::optional<std::string> bytes = ReadOptionsBytes(ScratchFileWith(input));
  Check(bytes.has_value());
  // Bytes past the longest possible contents do not count.
  Check(*bytes == input.substr(0, 3 + 2 * kMaxOptionText));

  TOptionsReader reader(*bytes);
  bool flag = false;
  std::string address, proxy;
  int fields = 0;
  try {
    flag = reader.ReadFlag();
    ++fields;
    address = reader.ReadString();
    ++fields;
    proxy = reader.ReadString();
    ++fields;
  } catch (const EInOutError& e) {
    Check(e.what() == std::string(kReadBeyondEnd));
  }
  Check(address.size() <= kMaxOptionText && proxy.size() <= kMaxOptionText);
  if (fields < 3) return 0;

  // The complete fields are what a save of them writes, but for the flag's
  // own byte value.
  std::string saved = EncodeOptions(flag, address, proxy);
  Check(saved.size() <= bytes->size());
  Check(saved.substr(1) == bytes->substr(1, saved.size() - 1));
  Check((saved[0] != 0) == ((*bytes)[0] != 0));
  return 0;
}
