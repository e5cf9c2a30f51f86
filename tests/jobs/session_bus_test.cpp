#include "jobs/session_bus.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/loopback.h"
#include "support/temp_folder.h"

namespace {

enum class TRuntime { None, WithBusSocket, WithBusFile };

struct TChoiceCase {
  const char* name;
  // DBUS_SESSION_BUS_ADDRESS; nullptr when unset.
  const char* variable;
  TRuntime runtime;
  // The address taken, "<runtime>" standing for the runtime folder's bus;
  // nullptr when there is none.
  const char* address;
  const char* socketName;
  bool abstract;
  const char* failure;
};

class SessionBusChoiceTest : public testing::TestWithParam<TChoiceCase> {};

// The runtime folder's name has a space, which the address must escape.
TEST_P(SessionBusChoiceTest, TakesOnlyASocketFromTheEnvironment) {
  const TChoiceCase& c = GetParam();
  TTempFolder folder;
  const std::string runtime = folder.Path() + "/run time";
  std::filesystem::create_directory(runtime);
  int listening = -1;
  if (c.runtime == TRuntime::WithBusSocket) listening = ListenOnUnixPath(runtime + "/bus");
  if (c.runtime == TRuntime::WithBusFile) std::ofstream(runtime + "/bus") << "not a socket";
  const TSessionBusChoice choice =
      ChooseSessionBus(c.variable, c.runtime == TRuntime::None ? nullptr : runtime.c_str());
  if (listening >= 0) ::close(listening);
  if (c.address == nullptr) {
    EXPECT_FALSE(choice.Bus);
    EXPECT_EQ(choice.Failure, c.failure);
    return;
  }
  ASSERT_TRUE(choice.Bus) << choice.Failure;
  const bool fromRuntime = std::string(c.address) == "<runtime>";
  EXPECT_EQ(choice.Bus->Address,
            fromRuntime ? "unix:path=" + folder.Path() + "/run%20time/bus" : c.address);
  EXPECT_EQ(choice.Bus->SocketName, fromRuntime ? runtime + "/bus" : c.socketName);
  EXPECT_EQ(choice.Bus->Abstract, c.abstract);
}

INSTANTIATE_TEST_SUITE_P(
    Environments, SessionBusChoiceTest,
    testing::Values(TChoiceCase{"Path", "unix:path=/run/user/1000/bus", TRuntime::None,
                                "unix:path=/run/user/1000/bus", "/run/user/1000/bus", false, ""},
                    TChoiceCase{"AutolaunchSkipped", "autolaunch:;unix:abstract=/tmp/dbus-x,guid=1",
                                TRuntime::WithBusSocket, "unix:abstract=/tmp/dbus-x,guid=1",
                                "/tmp/dbus-x", true, ""},
                    TChoiceCase{"Escaped", "unix:path=/tmp/a%20b,guid=1", TRuntime::None,
                                "unix:path=/tmp/a%20b,guid=1", "/tmp/a b", false, ""},
                    TChoiceCase{"RuntimeEntry", "unix:runtime=yes", TRuntime::WithBusSocket,
                                "<runtime>", nullptr, false, ""},
                    TChoiceCase{"UnsetTakesRuntimeSocket", nullptr, TRuntime::WithBusSocket,
                                "<runtime>", nullptr, false, ""},
                    TChoiceCase{"OnlyAutolaunchTakesRuntimeSocket", "autolaunch:",
                                TRuntime::WithBusSocket, "<runtime>", nullptr, false, ""},
                    TChoiceCase{"UnsetRuntimeFileIsNoBus", nullptr, TRuntime::WithBusFile, nullptr,
                                nullptr, false, "no session bus"},
                    TChoiceCase{"UnsetNoRuntime", nullptr, TRuntime::None, nullptr, nullptr, false,
                                "no session bus"},
                    TChoiceCase{"OnlyAutolaunch", "autolaunch:", TRuntime::None, nullptr, nullptr,
                                false, "no session bus"},
                    TChoiceCase{"Tcp", "tcp:host=127.0.0.1,port=1", TRuntime::WithBusSocket,
                                nullptr, nullptr, false,
                                "session bus address not supported: tcp:host=127.0.0.1,port=1"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
