// The failure of an archive file that its caller cannot go past: it cannot
// be opened, read or written. Damage inside an archive is no such failure;
// the reader reports it and reads on.
#pragma once

#include <stdexcept>

class EWarcError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
