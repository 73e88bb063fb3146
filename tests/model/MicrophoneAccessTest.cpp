// The microphone-access answer on Linux: asynchronous, and refused only when the
// sound server's socket is closed to this user.
#include "MicrophoneAccess.h"
#include "WaitUntil.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Sets an environment variable, or unsets it when `value` is null, until the guard goes.
auto scopedEnv(const char* name, const char* value) {
    std::optional<QByteArray> previous;
    if (qEnvironmentVariableIsSet(name))
        previous = qgetenv(name);
    value ? qputenv(name, value) : qunsetenv(name);
    return qScopeGuard([=] { previous ? qputenv(name, *previous) : qunsetenv(name); });
}

} // namespace

TEST(MicrophoneAccess, FindsTheSoundServersSocket) {
    const struct {
        const char* pulseServer;
        const char* runtime;
        QString path;
    } rows[] = {
        {"unix:/run/pulse/native", "/r", QStringLiteral("/run/pulse/native")},
        {"{0123abcd}unix:/run/other", "/r", QStringLiteral("/run/other")},
        {"/tmp/plain-path", "/r", QStringLiteral("/tmp/plain-path")},
        {"tcp:example.org unix:/second", "/r", QStringLiteral("/second")},
        {"tcp:example.org", "/r", QString()},
        {nullptr, "/run/user/1000", QStringLiteral("/run/user/1000/pulse/native")},
        {nullptr, nullptr, QString()},
    };
    for (const auto& row : rows) {
        const auto server = scopedEnv("PULSE_SERVER", row.pulseServer);
        const auto runtime = scopedEnv("XDG_RUNTIME_DIR", row.runtime);
        EXPECT_EQ(MicrophoneAccess::serverSocketPath(), row.path)
            << (row.pulseServer ? row.pulseServer : "(unset)");
    }
}

TEST(MicrophoneAccess, AnswersOnceOnALaterTurn) {
    QTemporaryDir runtime;
    const auto server = scopedEnv("PULSE_SERVER", nullptr);
    const auto dir = scopedEnv("XDG_RUNTIME_DIR", runtime.path().toUtf8().constData());
    int answers = 0;
    bool granted = false;
    MicrophoneAccess::request([&](bool answer) {
        ++answers;
        granted = answer;
    });
    EXPECT_EQ(answers, 0);
    ASSERT_TRUE(waitUntil([&] { return answers > 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(answers, 1);
    EXPECT_TRUE(granted); // no sound server is not a refusal
}

TEST(MicrophoneAccess, ASocketClosedToThisUserIsARefusal) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "file permissions do not bind the superuser";
    QTemporaryDir runtime;
    QLocalServer socket;
    ASSERT_TRUE(socket.listen(runtime.filePath(QStringLiteral("native"))));
    const auto server =
        scopedEnv("PULSE_SERVER", ("unix:" + socket.fullServerName()).toUtf8().constData());
    EXPECT_TRUE(MicrophoneAccess::isGranted());
    ASSERT_EQ(::chmod(QFile::encodeName(socket.fullServerName()).constData(), 0), 0);
    EXPECT_FALSE(MicrophoneAccess::isGranted());
}
