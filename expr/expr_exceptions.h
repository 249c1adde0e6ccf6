// The expression layer's own error class. Number literals that do not
// convert raise the engine's EConvertError, table-binding errors EDbfError.
#pragma once

#include "engine/exceptions.h"

namespace norvale {

class EParserException : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace norvale
