#pragma once

#include <string>

#include "app/TStrings.h"

namespace lumo::app {

// The date self-test of the button "Test Date": the text of the date field
// put into a data set as Scheduled Procedure Step Start Date, then read
// back by every conversion the toolkit offers, one line each ("VarToStr:",
// "VariantValue(True):", "VariantValue(False):", "UnicodeValue:",
// "DateTimeFrom:", "DateTimeTo:"), added to `lines` as each is read: a
// conversion that raises leaves the lines before it. A free function; the
// thread of `lines`.
void ListDateSelfTest(TStrings& lines, const std::string& date);

}  // namespace lumo::app
