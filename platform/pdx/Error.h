#pragma once

#include <stdexcept>
#include <string>

namespace orl::pdx {

// A failure of the table-file engine. The message names the file and what
// is wrong with it, so that it can be shown to a user as it is.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace orl::pdx
