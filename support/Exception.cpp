#include "support/Exception.h"

namespace lumo {

const char* ErrorClassName(ErrorClass errorClass) noexcept {
    switch (errorClass) {
        case ErrorClass::Exception:
            return "Exception";
        case ErrorClass::EAbort:
            return "EAbort";
        case ErrorClass::EConvertError:
            return "EConvertError";
        case ErrorClass::EDicomAssociationRejected:
            return "EDicomAssociationRejected";
        case ErrorClass::EDicomConnectionError:
            return "EDicomConnectionError";
        case ErrorClass::EDicomError:
            return "EDicomError";
        case ErrorClass::EDicomNetworkError:
            return "EDicomNetworkError";
        case ErrorClass::EDicomStatusError:
            return "EDicomStatusError";
        case ErrorClass::EFCreateError:
            return "EFCreateError";
        case ErrorClass::EFOpenError:
            return "EFOpenError";
        case ErrorClass::EInOutError:
            return "EInOutError";
        case ErrorClass::EInvalidOperation:
            return "EInvalidOperation";
        case ErrorClass::EOSError:
            return "EOSError";
        case ErrorClass::ERegistryException:
            return "ERegistryException";
        case ErrorClass::EStringListError:
            return "EStringListError";
        case ErrorClass::EUsageError:
            return "EUsageError";
        case ErrorClass::EVariantTypeCastError:
            return "EVariantTypeCastError";
        case ErrorClass::EWriteError:
            return "EWriteError";
        case ErrorClass::EXMLDocError:
            return "EXMLDocError";
    }
    return "Exception";
}

Exception::Exception(ErrorClass errorClass, const std::string& message)
    : std::runtime_error(message), class_(errorClass) {}

std::string ExceptionClassName(const std::exception& e) {
    if (const auto* own = dynamic_cast<const Exception*>(&e)) return own->ClassName();
    return "Exception";
}

}  // namespace lumo
