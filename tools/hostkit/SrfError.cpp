#include "SrfError.h"

SrfError::SrfError(const std::string &message, int status) : std::runtime_error(message), myStatus(status) {}
