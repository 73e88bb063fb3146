// The desktop clipboard under a real X server, shared with another client.
#include "ClipboardPasteboard.h"
#include "ReradazIzavo.h"
#include "StatusText.h"
#include "WaitUntil.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

// Starts the other client and waits until it owns the clipboard.
bool takeClipboardElsewhere(QProcess& owner, const QString& text) {
    owner.start(QStringLiteral(CLIPBOARD_OWNER), {text});
    return waitUntil([&] { return owner.canReadLine() && owner.readLine() == "ready\n"; });
}

void release(QProcess& owner) {
    owner.closeWriteChannel();
    owner.waitForFinished(5000);
}

} // namespace

TEST(ClipboardPasteboard, CountsOurWritesAndAnotherClientsCopies) {
    ClipboardPasteboard pasteboard(QGuiApplication::clipboard());
    const qint64 before = pasteboard.changeCount();
    const QString text = QStringLiteral("Grüße, it’s “quoted”\nsecond line ");
    ASSERT_TRUE(pasteboard.writeString(text));
    const qint64 ours = pasteboard.changeCount();
    EXPECT_GT(ours, before);
    EXPECT_EQ(pasteboard.readString(), text);
    EXPECT_EQ(QGuiApplication::clipboard()->text(QClipboard::Clipboard), text);

    QProcess owner;
    ASSERT_TRUE(takeClipboardElsewhere(owner, QStringLiteral("from elsewhere")));
    EXPECT_TRUE(waitUntil([&] { return pasteboard.changeCount() > ours; }));
    EXPECT_EQ(pasteboard.readString(), QStringLiteral("from elsewhere"));

    // Taking it back is one more change.
    const qint64 theirs = pasteboard.changeCount();
    ASSERT_TRUE(pasteboard.writeString(QStringLiteral("ours again")));
    EXPECT_GT(pasteboard.changeCount(), theirs);
    EXPECT_EQ(pasteboard.readString(), QStringLiteral("ours again"));
    release(owner);
}

TEST(ClipboardPasteboard, ThePrimarySelectionIsNotCounted) {
    ClipboardPasteboard pasteboard(QGuiApplication::clipboard());
    const qint64 before = pasteboard.changeCount();
    QGuiApplication::clipboard()->setText(QStringLiteral("selected"), QClipboard::Selection);
    QCoreApplication::processEvents();
    EXPECT_EQ(pasteboard.changeCount(), before);
}

TEST(DefaultCollaborators, DeliverOntoTheDesktopClipboardUnlessSomeoneCopiedMeanwhile) {
    QProcess before;
    ASSERT_TRUE(takeClipboardElsewhere(before, QStringLiteral("copied before")));
    ASSERT_TRUE(waitUntil([] { return QGuiApplication::clipboard()->text() == "copied before"; }));

    ReradazIzavo model;
    model.deliver(QStringLiteral("Dictated on the desktop."));
    EXPECT_EQ(model.status(), StatusText::copied);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("Dictated on the desktop."));
    release(before);

    QProcess meanwhile;
    ASSERT_TRUE(takeClipboardElsewhere(meanwhile, QStringLiteral("copied meanwhile")));
    ASSERT_TRUE(
        waitUntil([] { return QGuiApplication::clipboard()->text() == "copied meanwhile"; }));
    model.deliver(QStringLiteral("Second dictation."));
    EXPECT_EQ(model.status(), StatusText::transcriptReady);
    EXPECT_EQ(model.detail(), DetailText::copiedWhileWaiting);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("copied meanwhile"));
    release(meanwhile);
}

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
