// Vemo_fileerror: the one exception for a file that could not be created,
// read or written, whichever layer found it.
#pragma once

#include <stdexcept>
#include <string>

// what() reads "<path>: <reason>".
class FileError : public std::runtime_error {
public:
    FileError(std::string path, std::string reason);
    const std::string& Path() const { return m_path; }
    const std::string& Reason() const { return m_reason; }

private:
    std::string m_path;
    std::string m_reason;
};

// The system's text for an errno value; EIO's when `error` is 0, so that a
// failure never reads as "Success".
std::string SystemReason(int error);
