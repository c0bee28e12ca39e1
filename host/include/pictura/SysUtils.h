// The framework's error classes: every error it raises derives from Exception.
#pragma once

#include <pictura/Vcl40Export.h>

#include <stdexcept>
#include <string>

// Base of all errors raised by the framework; the message says what went wrong and what it concerns.
class VCL40_EXPORT Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& Message) : std::runtime_error(Message) {}
};

// An index or coordinate outside the object it addresses.
class VCL40_EXPORT ERangeError : public Exception {
    using Exception::Exception;
};

// An argument that the called routine cannot accept.
class VCL40_EXPORT EArgumentError : public Exception {
    using Exception::Exception;
};

// An operation on a value that has no meaning (for example a NaN where a number is needed).
class VCL40_EXPORT EInvalidOperation : public Exception {
    using Exception::Exception;
};

// A picture file or picture data that cannot be read, written or converted.
class VCL40_EXPORT EInvalidGraphic : public Exception {
    using Exception::Exception;
};

// A request for more memory than the framework allows.
class VCL40_EXPORT EOutOfResources : public Exception {
    using Exception::Exception;
};
