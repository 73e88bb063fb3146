// The desktop clipboard under a real X server, shared with another client: this
// program itself, started again with --own.
#include "ClipboardPasteboard.h"
#include "ReradazIzavo.h"
#include "StatusText.h"
#include "WaitUntil.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QProcess>
#include <QSocketNotifier>
#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

namespace {

// The other client: takes the clipboard with `text`, says "ready" on standard output,
// and keeps serving it until its standard input closes.
int own(const QString& text) {
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, qApp, [] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            QCoreApplication::quit();
    });
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

// Starts the other client and waits until it owns the clipboard; it serves it until
// `owner` goes.
struct OtherClient {
    explicit OtherClient(const QString& text) {
        owner.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--own"), text});
        owns = waitUntil([&] { return owner.canReadLine() && owner.readLine() == "ready\n"; }) &&
               waitUntil([&] { return QGuiApplication::clipboard()->text() == text; });
    }
    ~OtherClient() {
        owner.closeWriteChannel();
        owner.waitForFinished(5000);
    }
    QProcess owner;
    bool owns = false;
};

} // namespace

// What we write reads back whole; the primary selection is not the clipboard.
TEST(ClipboardPasteboard, ReadsBackOurWritesAndIgnoresTheSelection) {
    ClipboardPasteboard pasteboard(QGuiApplication::clipboard());
    const QString text = QStringLiteral("Grüße, it’s “quoted”\nsecond line ");
    ASSERT_TRUE(pasteboard.writeString(text));
    const qint64 ours = pasteboard.changeCount();
    EXPECT_EQ(pasteboard.readString(), text);
    QGuiApplication::clipboard()->setText(QStringLiteral("selected"), QClipboard::Selection);
    QCoreApplication::processEvents();
    EXPECT_EQ(pasteboard.changeCount(), ours);
}

// Each controller starts counting when it is made, so only the other client's copy
// can stop the second delivery.
TEST(DefaultCollaborators, DeliverOntoTheDesktopClipboardUnlessSomeoneCopiedMeanwhile) {
    {
        OtherClient before(QStringLiteral("copied before"));
        ASSERT_TRUE(before.owns);
        ReradazIzavo model;
        model.deliver(QStringLiteral("Dictated on the desktop."));
        EXPECT_EQ(model.status(), StatusText::copied);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("Dictated on the desktop."));
    }
    ReradazIzavo model;
    ClipboardPasteboard probe(QGuiApplication::clipboard());
    OtherClient meanwhile(QStringLiteral("copied meanwhile"));
    ASSERT_TRUE(meanwhile.owns);
    // The probe hears of the copy as the model's own pasteboard does; only a sync point.
    waitUntil([&] { return probe.changeCount() > 0; });
    model.deliver(QStringLiteral("Second dictation."));
    EXPECT_EQ(model.detail(), DetailText::copiedWhileWaiting);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("copied meanwhile"));
}

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--own")
        return own(QString::fromLocal8Bit(argv[2]));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
