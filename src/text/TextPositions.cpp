#include "TextPositions.h"

long Pos(const std::string& Sub, const std::string& Text) {
  auto p = Text.find(Sub);
  return p == std::string::npos ? 0 : static_cast<long>(p) + 1;
}

std::size_t LastPos(const std::string& Sub, const std::string& Text) {
  if (Text.empty() || Sub.empty()) return 0;
  auto p = Text.rfind(Sub);
  return p == std::string::npos ? 0 : p + 1;
}

std::string Copy(const std::string& Text, long Start, long Count) {
  if (Count <= 0) return {};
  if (Start < 1) Start = 1;
  if (static_cast<std::size_t>(Start) > Text.size()) return {};
  return Text.substr(static_cast<std::size_t>(Start - 1), static_cast<std::size_t>(Count));
}
