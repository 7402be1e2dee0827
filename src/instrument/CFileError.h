// The one exception that leaves an instrument operation: a local file that cannot be read.
#pragma once

#include <stdexcept>
#include <string>

namespace korvel {

class CFileError : public std::runtime_error {
public:
    CFileError(std::string fileName, std::string cause)
        : std::runtime_error("The file \"" + fileName + "\" could not be read: " + cause),
          m_fileName(std::move(fileName)),
          m_cause(std::move(cause)) {}

    const std::string& FileName() const { return m_fileName; }
    const std::string& Cause() const { return m_cause; }

private:
    std::string m_fileName;
    std::string m_cause;
};

}  // namespace korvel
