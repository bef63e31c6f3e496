#include "support/Exception.h"

#include <utility>

namespace lumo {

Exception::Exception(std::string className, const std::string& message)
    : std::runtime_error(message), className_(std::move(className)) {}

std::string ExceptionClassName(const std::exception& e) {
    if (const auto* own = dynamic_cast<const Exception*>(&e)) return own->ClassName();
    return "Exception";
}

}  // namespace lumo
