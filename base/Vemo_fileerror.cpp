// Vemo_fileerror: FileError and the system's reasons.
#include "base/Vemo_fileerror.h"

#include <cerrno>
#include <cstring>
#include <utility>

FileError::FileError(std::string path, std::string reason)
    : std::runtime_error(path + ": " + reason), m_path(std::move(path)), m_reason(std::move(reason)) {}

std::string SystemReason(int error) { return std::strerror(error != 0 ? error : EIO); }
