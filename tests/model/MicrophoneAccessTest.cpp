// The microphone-access answer on Linux: refused only when the sound server's socket
// is closed to this user.
#include "MicrophoneAccess.h"

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
    const auto runtime = scopedEnv("XDG_RUNTIME_DIR", "/run/user/1000");
    for (const auto& [pulseServer, path] :
         {std::pair<const char*, QString>{"{0123abcd}unix:/run/other", "/run/other"},
          {"tcp:example.org /second", "/second"},
          {"tcp:example.org", ""},
          {nullptr, "/run/user/1000/pulse/native"}}) {
        const auto server = scopedEnv("PULSE_SERVER", pulseServer);
        EXPECT_EQ(MicrophoneAccess::serverSocketPath(), path) << (pulseServer ? pulseServer : "-");
    }
}

// No sound server is no refusal: recording then reports the microphone itself.
TEST(MicrophoneAccess, OnlyASocketClosedToThisUserIsARefusal) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "file permissions do not bind the superuser";
    QTemporaryDir runtime;
    const QString path = runtime.filePath(QStringLiteral("native"));
    const auto server = scopedEnv("PULSE_SERVER", ("unix:" + path).toUtf8().constData());
    EXPECT_TRUE(MicrophoneAccess::isGranted());
    QLocalServer socket;
    ASSERT_TRUE(socket.listen(path));
    EXPECT_TRUE(MicrophoneAccess::isGranted());
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0), 0);
    EXPECT_FALSE(MicrophoneAccess::isGranted());
}
