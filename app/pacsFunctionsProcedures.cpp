#include "app/pacsFunctionsProcedures.h"

#include <exception>

#include "app/TrimmedValueText.h"
#include "logging/uApplicationLogger.h"
#include "support/DateTime.h"
#include "support/Exception.h"

namespace lumo::app {

namespace {

using dicom::DicomAttribute;

// A tag outside 16 bits names no attribute: it reads as absent rather than
// wrapping onto another tag.
bool IsTag(std::int32_t group, std::int32_t element) {
    return group >= 0 && group <= 0xFFFF && element >= 0 && element <= 0xFFFF;
}

DicomAttribute Find(const DicomAttributes& attributes, std::int32_t group, std::int32_t element) {
    return attributes.AttributesFind(static_cast<std::uint16_t>(group),
                                     static_cast<std::uint16_t>(element));
}

bool IsPresent(const DicomAttributes& attributes, std::int32_t group, std::int32_t element) {
    return IsTag(group, element) && Find(attributes, group, element).AttributeIsPresent();
}

void LogTrapped(const char* function, std::int32_t group, std::int32_t element,
                const std::exception& e) {
    AppLogger().Log(std::string("Exception dans ") + function + "(" + std::to_string(group) + "," +
                        std::to_string(element) + "):" + ExceptionClassName(e) + ":" + e.what(),
                    LogLevel::Error, 0);
}

// A calendar date keeps its locale form untrimmed; the time is shown only
// when hours, minutes or seconds are set (milliseconds do not count).
std::string CalendarDateText(TDateTime value) {
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    DecodeTime(value, hour, minute, second, millisecond);
    std::string text = DateToStr(value);
    if (hour != 0 || minute != 0 || second != 0) text += " " + TimeToStr(value);
    return text;
}

}  // namespace

std::string pacsRetDicomAttr(const DicomAttributes& attributes, std::int32_t group,
                             std::int32_t element) {
    std::string result;
    if (!IsPresent(attributes, group, element)) return result;
    try {
        if (Find(attributes, group, element).AttributeIsMultiValued()) {
            const int count = Find(attributes, group, element).AttributeValueCount();
            for (int i = count; i >= 2; --i)
                result = "," +
                         TrimmedValueText(Find(attributes, group, element).AttributeValueAt(i)) +
                         result;
            result =
                TrimmedValueText(Find(attributes, group, element).AttributeValueAt(1)) + result;
        } else {
            const Variant value = Find(attributes, group, element).AttributeValue();
            if (value.GetType() == Variant::Type::DateTime && value.AsDateTime() >= 1)
                result = CalendarDateText(value.AsDateTime());
            else
                result = TrimmedValueText(value);
        }
    } catch (const std::exception& e) {
        LogTrapped("pacsRetDicomAttr", group, element, e);
    }
    return result;
}

std::string pacsRetFirstDicomAttr(const DicomAttributes& attributes, std::int32_t group,
                                  std::int32_t element) {
    std::string result;
    if (!IsPresent(attributes, group, element)) return result;
    try {
        if (Find(attributes, group, element).AttributeIsMultiValued()) {
            if (Find(attributes, group, element).AttributeValueCount() >= 1)
                result = TrimmedValueText(Find(attributes, group, element).AttributeValueAt(1));
        } else {
            result = TrimmedValueText(Find(attributes, group, element).AttributeValue());
        }
    } catch (const std::exception& e) {
        LogTrapped("pacsRetFirstDicomAttr", group, element, e);
    }
    return result;
}

}  // namespace lumo::app
