#include "ServiceOptions.h"
#include "ServiceProcess.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

ServiceOptions parse(std::vector<const char*> arguments) {
    return ServiceOptions::parse(static_cast<int>(arguments.size()), arguments.data());
}

TEST(ServiceOptions, ValuesComeInlineOrAsTheNextArgumentAndBadOnesAreRefusedByName) {
    const ServiceOptions options =
        parse({"--port", "65535", "--workers=64", "--queue", "0", "--forward=http://127.0.0.1:1"});
    EXPECT_EQ(std::tuple(options.port, options.workers, options.queue, options.forwardUrl),
              std::tuple(65535, 64, 0, std::string("http://127.0.0.1:1")));
    EXPECT_EQ(parse({}).port, 8731) << "the port the application expects";

    const std::vector<std::pair<std::vector<const char*>, std::string>> cases = {
        {{"--bogus", "1"}, "Unknown option \"--bogus\""},
        {{"--port"}, "--port"},
        {{"--port", "http"}, "--port"},
        {{"--port", "65536"}, "--port"},
        {{"--port", "80x"}, "--port"},
        {{"--workers", "0"}, "--workers"},
        {{"--time-limit="}, "--time-limit"},
        {{"--help=yes"}, "--help"},
        {{"--engine", "whisper"}, "--engine"},
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

TEST(ServiceOptions, TheBinaryRefusesWithASentenceOrEndsByItselfWhenIdle) {
    // Forwarding in the clear off this machine, also to a name that only looks local.
    const auto [refusal, refusedOut, refusedErr] =
        ServiceProcess::run({"--forward", "http://127.attacker.example:8080"});
    EXPECT_EQ(refusal, 2);
    EXPECT_EQ(refusedOut, "");
    EXPECT_NE(refusedErr.find("over https"), std::string::npos) << refusedErr;
    // Started by the application, it ends by itself once nobody needs it.
    const auto [idleExit, idleOut, idleErr] =
        ServiceProcess::run({"--port", "0", "--model", "/nonexistent", "--exit-when-idle", "1"});
    EXPECT_EQ(idleExit, 0);
    EXPECT_NE(idleOut.find("listening"), std::string::npos) << idleOut;
    EXPECT_NE(idleErr.find("answered with 503"), std::string::npos) << idleErr;
}

} // namespace
