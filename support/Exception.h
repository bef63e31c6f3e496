#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace lumo {

// The program's general error class: every error it raises carries a class
// name (what the console lists and logs, e.g. "EDicomNetworkError") and a
// one-line message. Immutable; usable from any thread.
class Exception : public std::runtime_error {
public:
    Exception(std::string className, const std::string& message);

    const std::string& ClassName() const noexcept { return className_; }
    std::string Message() const { return what(); }

private:
    std::string className_;
};

// The class name to show for any caught error: the program's own class name,
// or "Exception" for errors that come from the standard library.
std::string ExceptionClassName(const std::exception& e);

}  // namespace lumo
