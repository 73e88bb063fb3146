#include "ServiceOptions.h"
#include "ServiceProcess.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

ServiceOptions parse(std::vector<const char*> arguments) {
    return ServiceOptions::parse(static_cast<int>(arguments.size()), arguments.data());
}

TEST(ServiceOptions, DefaultsListenOnTheLoopbackPortTheApplicationExpects) {
    const ServiceOptions options = parse({});
    EXPECT_EQ(options.host, "127.0.0.1");
    EXPECT_EQ(options.port, 8731);
    EXPECT_GE(options.workers, 1);
    EXPECT_LE(options.workers, 2);
    EXPECT_EQ(options.queue, 4);
    EXPECT_EQ(options.timeLimitSec, 75);
    EXPECT_TRUE(options.forwardUrl.empty());
    EXPECT_TRUE(options.grammarFile.empty());
}

TEST(ServiceOptions, ValuesMayFollowOrBeJoinedWithAnEqualsSign) {
    const ServiceOptions options =
        parse({"--port", "9000", "--workers=3", "--queue", "0", "--forward=http://127.0.0.1:1"});
    EXPECT_EQ(options.port, 9000);
    EXPECT_EQ(options.workers, 3);
    EXPECT_EQ(options.queue, 0);
    EXPECT_EQ(options.forwardUrl, "http://127.0.0.1:1");
}

TEST(ServiceOptions, BadArgumentsAreRefusedWithTheOptionNamed) {
    const std::vector<std::pair<std::vector<const char*>, std::string>> cases = {
        {{"--bogus"}, "--bogus"},       {{"--port"}, "--port"},
        {{"--port", "http"}, "--port"}, {{"--port", "65536"}, "--port"},
        {{"--port", "80x"}, "--port"},  {{"--workers", "0"}, "--workers"},
        {{"--queue", "-1"}, "--queue"}, {{"--time-limit="}, "--time-limit"},
        {{"--help=yes"}, "--help"},
    };
    for (const auto& [arguments, named] : cases) {
        try {
            parse(arguments);
            ADD_FAILURE() << "accepted " << arguments.front();
        } catch (const std::invalid_argument& error) {
            EXPECT_NE(std::string(error.what()).find(named), std::string::npos) << error.what();
        }
    }
}

TEST(ServiceOptions, HelpPrintsUsageAndSucceeds) {
    const auto finished = ServiceProcess::run({"--help"});
    EXPECT_EQ(finished.exitCode, 0);
    EXPECT_NE(finished.out.find("Usage: wispen-service"), std::string::npos);
    EXPECT_NE(finished.out.find("--forward URL"), std::string::npos);
    EXPECT_TRUE(finished.err.empty());
}

TEST(ServiceOptions, ABadOptionExitsWithStatusTwoAndASentenceOnStandardError) {
    const auto finished = ServiceProcess::run({"--port", "99999"});
    EXPECT_EQ(finished.exitCode, 2);
    EXPECT_NE(finished.err.find("--port needs a whole number"), std::string::npos);
    EXPECT_TRUE(finished.out.empty());
}

TEST(ServiceOptions, ForwardingInTheClearOffThisMachineIsRefused) {
    const auto finished = ServiceProcess::run({"--forward", "http://speech.example.com"});
    EXPECT_EQ(finished.exitCode, 2);
    EXPECT_NE(finished.err.find("unencrypted"), std::string::npos);
}

} // namespace
