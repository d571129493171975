#include "spare_line.h"

#include "line_reader.h"

namespace elmpad {

std::string SpareLine::take() {
  std::string line;
  std::lock_guard lock(mu_);
  line.swap(line_);
  return line;
}

void SpareLine::give_back(std::string line) {
  if (line.capacity() > kMaxSpareLine || line.capacity() < kReaderBufferSize) return;
  line.clear();
  std::lock_guard lock(mu_);
  if (line.capacity() > line_.capacity()) line.swap(line_);
}

}  // namespace elmpad
