// Searches in the texts that tests read back: pages, pictures and messages.
#pragma once

#include <cstddef>
#include <string>

namespace test {

// How many times `part` stands in `text`, overlapping ones included.
inline std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

}  // namespace test
