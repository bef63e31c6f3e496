#include "support/NamedParams.h"

#include "TestSupport.h"
#include "support/Application.h"

namespace {

using namespace lumo;
using lumo::test::ScopedParams;

TEST(NamedParam, FirstMatchWinsWithoutRegardToCase) {
    ScopedParams params({"LISTEN", "SITE=NORD", "site=SUD"});
    std::string value = "untouched";
    EXPECT_TRUE(GetNamedParam("site", value));
    EXPECT_EQ(value, "NORD");
    EXPECT_TRUE(HasNamedParam("Site"));
}

TEST(NamedParam, BareWordIsANameWithAnEmptyValue) {
    ScopedParams params({"SITE"});
    std::string value = "untouched";
    EXPECT_TRUE(GetNamedParam("site", value));
    EXPECT_EQ(value, "");
}

TEST(NamedParam, ValueKeepsFurtherEqualSigns) {
    ScopedParams params({"a=b=c", "path=/x/y?z"});
    std::string value;
    EXPECT_TRUE(GetNamedParam("a", value));
    EXPECT_EQ(value, "b=c");
    EXPECT_TRUE(GetNamedParam("PATH", value));
    EXPECT_EQ(value, "/x/y?z");
}

TEST(NamedParam, AbsentParameterLeavesTheValueAlone) {
    ScopedParams params({"SITE=NORD", "SITEX=1"});
    std::string value = "untouched";
    EXPECT_FALSE(GetNamedParam("SIT", value));
    EXPECT_FALSE(GetNamedParam("", value));
    EXPECT_FALSE(HasNamedParam("NEPASUTILISERPREFIXTS_"));
    EXPECT_EQ(value, "untouched");
}

TEST(NamedParam, NamesCompareWholeAndOnlyBeforeTheFirstEqualSign) {
    ScopedParams params({"x=SITE", "=empty"});
    std::string value;
    EXPECT_FALSE(HasNamedParam("SITE"));
    EXPECT_TRUE(GetNamedParam("", value));
    EXPECT_EQ(value, "empty");
}

TEST(NamedParam, ReadsTheCommandLineAsGiven) {
    ScopedParams keep({});
    const char* argv[] = {"/usr/bin/lumo4410", "LISTEN", "104", "site=NORD"};
    SetCommandLine(4, argv);
    EXPECT_EQ(CommandLineParams(), (std::vector<std::string>{"LISTEN", "104", "site=NORD"}));
    std::string value;
    EXPECT_TRUE(GetNamedParam("SITE", value));
    EXPECT_EQ(value, "NORD");
    EXPECT_FALSE(HasNamedParam("/usr/bin/lumo4410"));
}

}  // namespace
