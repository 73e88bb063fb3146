#include "FileUserDefaults.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

// Private to the user whatever the umask; every type read back after a restart; an
// unreadable file set aside, never overwritten; values kept when nothing can be written.
TEST(FileUserDefaults, KeepsTheSettingsPrivateTypedAndNeverOverwritesWhatItCannotRead) {
    QTemporaryDir dir;
    const QString path = dir.filePath("wispen-rezuraz/settings.json");
    const QVariantMap values{{"holdToTalk", false}, {"record", QVariantMap{{"3", 0.5}}}};
    const mode_t previous = ::umask(0);
    for (auto it = values.begin(); it != values.end(); ++it)
        FileUserDefaults(path).setValue(it.key(), *it);
    ::umask(previous);
    FileUserDefaults again(path);
    for (auto it = values.begin(); it != values.end(); ++it)
        EXPECT_EQ(again.value(it.key()), *it) << it.key().toStdString();
    EXPECT_EQ(again.value("holdToTalk").typeId(), QMetaType::Bool);
    for (const auto& [file, mode] :
         {std::pair{path, 0600u}, {dir.filePath("wispen-rezuraz"), 0700u}}) {
        struct stat status {};
        EXPECT_TRUE(::stat(QFile::encodeName(file).constData(), &status) == 0 &&
                    (status.st_mode & 0777) == mode);
    }

    QFile damaged(path);
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly) && damaged.write("[1, 2]") && damaged.flush());
    FileUserDefaults reader(path);
    EXPECT_FALSE(reader.value("holdToTalk").isValid());
    reader.setValue("autoPaste", true);
    const QStringList aside = QDir(dir.filePath("wispen-rezuraz")).entryList({"*.corrupt-*"});
    ASSERT_EQ(aside.size(), 1);
    QFile kept(dir.filePath("wispen-rezuraz/" + aside.first()));
    EXPECT_TRUE(kept.open(QIODevice::ReadOnly) && kept.readAll() == "[1, 2]");
    EXPECT_TRUE(FileUserDefaults(path).boolValue("autoPaste"));

    FileUserDefaults blocked(path + "/settings.json");
    blocked.setValue("autoPaste", true);
    EXPECT_FALSE(blocked.lastWriteSucceeded());
    EXPECT_TRUE(blocked.boolValue("autoPaste"));
}

} // namespace
