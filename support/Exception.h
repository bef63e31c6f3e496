#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace lumo {

// The class names of the errors this program raises: what the console lists
// and logs beside the message. An enumeration, so that a misspelt name does
// not compile. "Exception" is the general class, also the name shown for an
// error that comes from the standard library.
enum class ErrorClass {
    Exception,
    EAbort,
    EConvertError,
    EDicomAssociationRejected,
    EDicomConnectionError,
    EDicomError,
    EDicomNetworkError,
    EDicomStatusError,
    EFCreateError,
    EFOpenError,
    EInOutError,
    EInvalidOperation,
    EOSError,
    ERegistryException,
    EStringListError,
    EUsageError,
    EVariantTypeCastError,
    EWriteError,
    EXMLDocError,
};

// The name of a class as the operator reads it ("EDicomNetworkError").
const char* ErrorClassName(ErrorClass errorClass) noexcept;

// The program's general error class: every error it raises carries a class
// (shown by its name) and a one-line message. Immutable; usable from any
// thread.
class Exception : public std::runtime_error {
  public:
    Exception(ErrorClass errorClass, const std::string& message);

    ErrorClass Class() const noexcept { return class_; }
    std::string ClassName() const { return ErrorClassName(class_); }
    std::string Message() const { return what(); }

  private:
    ErrorClass class_;
};

// The class name to show for any caught error: the program's own class name,
// or "Exception" for errors that come from the standard library.
std::string ExceptionClassName(const std::exception& e);

}  // namespace lumo
