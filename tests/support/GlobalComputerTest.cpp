#include "support/Global_Computer.h"

#include <unistd.h>

#include "TestSupport.h"

namespace {

using namespace lumo;
using lumo::test::ScopedEnv;
using lumo::test::ScopedParams;

std::string ShortHostName() {
    char buffer[256] = {};
    gethostname(buffer, sizeof buffer - 1);
    const std::string host = buffer;
    return host.substr(0, host.find('.')).substr(0, 19);
}

// A local desktop: no SSH session, no parameters.
struct LocalDesktop {
    ScopedEnv ssh{"SSH_CONNECTION", std::nullopt};
    ScopedParams params{{}};
};

// An SSH session from a client: SSH_CONNECTION as the SSH server sets it.
struct RemoteSession {
    explicit RemoteSession(const std::string& connection, std::vector<std::string> args = {})
        : ssh("SSH_CONNECTION", connection), params(std::move(args)) {}
    ScopedEnv ssh;
    ScopedParams params;
};

TEST(StationName, LocalDesktopIsTheComputerName) {
    LocalDesktop desktop;
    EXPECT_FALSE(IsRemoteSession());
    EXPECT_EQ(ComputerName(), ShortHostName());
    EXPECT_FALSE(ComputerName().empty());
    EXPECT_EQ(ComputerName().find('.'), std::string::npos);
    EXPECT_EQ(StationName(true, true), ShortHostName());
    EXPECT_EQ(StationName(true, false), ShortHostName());
    EXPECT_EQ(StationName(false, true), ShortHostName());
    EXPECT_EQ(StationName(false, false), ShortHostName());
}

TEST(StationName, RemoteSessionIsTheClient) {
    RemoteSession session("PC42 51234 10.0.0.1 22");
    EXPECT_TRUE(IsRemoteSession());
    EXPECT_EQ(StationName(true, true), "TS_PC42");
    EXPECT_EQ(StationName(true, false), "PC42");
    EXPECT_EQ(StationName(false, true), ShortHostName());
    EXPECT_EQ(StationName(false, false), ShortHostName());
}

TEST(StationName, ClientAddressAsTheClientName) {
    RemoteSession session("192.168.10.42 51234 192.168.10.1 22");
    EXPECT_EQ(TerminalClientName(), "192.168.10.42");
    EXPECT_EQ(StationName(true, true), "TS_192.168.10.42");
}

TEST(StationName, SwitchTurnsTheClientRuleOff) {
    RemoteSession withValue("PC42 51234 10.0.0.1 22", {"NEPASUTILISERPREFIXTS_"});
    EXPECT_EQ(StationName(true, true), ShortHostName());
    ScopedParams lowerCaseWithValue({"nepasutiliserprefixts_=1"});
    EXPECT_EQ(StationName(true, true), ShortHostName());
}

TEST(StationName, UnreadableClientGivesTheBarePrefix) {
    RemoteSession session("");
    EXPECT_TRUE(IsRemoteSession());
    EXPECT_EQ(TerminalClientName(), "");
    EXPECT_EQ(StationName(true, true), "TS_");
    RemoteSession blanks("  \t ");
    EXPECT_EQ(StationName(true, true), "TS_");
}

TEST(StationName, CutToNineteenCharactersPrefixIncluded) {
    RemoteSession session("2001:db8:85a3::8a2e:370:7334 51234 2001:db8::1 22");
    EXPECT_EQ(StationName(true, true), "TS_2001:db8:85a3::8");
    EXPECT_EQ(StationName(true, true).size(), 19u);
    EXPECT_EQ(StationName(true, false), "2001:db8:85a3::8a2e");
}

TEST(SessionInfo, EmptyOutsideARemoteSession) {
    LocalDesktop desktop;
    for (int infoClass : {0, 2, 3, 5, 6, 7, 10, 11, 1, 99, -1})
        EXPECT_EQ(SessionInfoText(infoClass), "");
    EXPECT_EQ(TerminalClientName(), "");
}

TEST(SessionInfo, ItemsOfARemoteSession) {
    RemoteSession session("PC42 51234 10.0.0.1 22");
    ScopedEnv tty("SSH_TTY", " /dev/pts/3\n");
    ScopedEnv shell("SHELL", "/bin/bash");
    EXPECT_EQ(SessionInfoText(SessionClientName), "PC42");
    EXPECT_EQ(SessionInfoText(SessionWinStationName), "/dev/pts/3");
    EXPECT_EQ(SessionInfoText(SessionInitialProgram), "/bin/bash");
    EXPECT_FALSE(SessionInfoText(SessionUserName).empty());
    EXPECT_FALSE(SessionInfoText(SessionWorkingDirectory).empty());
    EXPECT_EQ(SessionInfoText(SessionOemId), "");
    EXPECT_EQ(SessionInfoText(SessionClientDirectory), "");
    EXPECT_EQ(SessionInfoText(1), "");
    EXPECT_EQ(SessionInfoText(12), "");
}

}  // namespace
