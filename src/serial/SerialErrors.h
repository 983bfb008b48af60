// Errors raised by the serial layer.
//
// SerialIOException is the input/output error of every port operation (open,
// configure, transfer, line signals); its message is the text callers print.
// SerialArgException is raised by SerialConfig when a setter refuses a value.
#pragma once

#include <stdexcept>
#include <string>

namespace morvia {

class SerialIOException : public std::runtime_error {
public:
    explicit SerialIOException(const std::string& message) : std::runtime_error(message) {}
};

class SerialArgException : public std::invalid_argument {
public:
    explicit SerialArgException(const std::string& message) : std::invalid_argument(message) {}
};

}  // namespace morvia
