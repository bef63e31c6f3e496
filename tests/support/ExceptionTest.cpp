#include "support/Exception.h"

#include <gtest/gtest.h>

namespace {

TEST(Exception, CarriesClassNameAndMessage) {
    const lumo::Exception e(lumo::ErrorClass::EDicomNetworkError, "Connection refused");
    EXPECT_EQ(e.ClassName(), "EDicomNetworkError");
    EXPECT_STREQ(e.what(), "Connection refused");
    EXPECT_EQ(lumo::ExceptionClassName(e), "EDicomNetworkError");
    EXPECT_EQ(lumo::ExceptionClassName(std::out_of_range("x")), "Exception");
}

}  // namespace
