// The microphone-access answer on Linux: asynchronous, and refused only when the
// sound server's socket is closed to this user.
#include "MicrophoneAccess.h"
#include "WaitUntil.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Sets an environment variable for the scope; unset when `value` is null.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value)
        : m_name(name)
        , m_previous(qgetenv(name))
        , m_had(qEnvironmentVariableIsSet(name)) {
        if (value)
            qputenv(name, value);
        else
            qunsetenv(name);
    }
    ~ScopedEnv() {
        if (m_had)
            qputenv(m_name, m_previous);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    QByteArray m_previous;
    bool m_had;
};

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
        ScopedEnv server("PULSE_SERVER", row.pulseServer);
        ScopedEnv runtime("XDG_RUNTIME_DIR", row.runtime);
        EXPECT_EQ(MicrophoneAccess::serverSocketPath(), row.path)
            << (row.pulseServer ? row.pulseServer : "(unset)");
    }
}

TEST(MicrophoneAccess, AnswersOnceOnALaterTurn) {
    QTemporaryDir runtime;
    ScopedEnv server("PULSE_SERVER", nullptr);
    ScopedEnv dir("XDG_RUNTIME_DIR", runtime.path().toUtf8().constData());
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
    ScopedEnv server("PULSE_SERVER", ("unix:" + socket.fullServerName()).toUtf8().constData());
    EXPECT_TRUE(MicrophoneAccess::isGranted());
    ASSERT_EQ(::chmod(QFile::encodeName(socket.fullServerName()).constData(), 0), 0);
    EXPECT_FALSE(MicrophoneAccess::isGranted());
}
