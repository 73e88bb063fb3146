#include "FileUserDefaults.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

// Private to the user whatever the umask; types read back after a restart; an
// unreadable file set aside, never overwritten; values kept when nothing can be written.
TEST(FileUserDefaults, KeepsTheSettingsPrivateTypedAndNeverOverwritesWhatItCannotRead) {
    QTemporaryDir dir;
    const QString folder = dir.filePath("wispen-rezuraz"), path = folder + "/settings.json";
    const QVariantMap record{{"3", QVariantList{"1", 0.5}}};
    const auto umask = qScopeGuard([previous = ::umask(0)] { ::umask(previous); });
    FileUserDefaults(path).setValue("record", record);
    FileUserDefaults(path).setValue("holdToTalk", false);
    EXPECT_EQ(FileUserDefaults(path).value("record"), record);
    EXPECT_EQ(FileUserDefaults(path).value("holdToTalk").typeId(), QMetaType::Bool);
    const auto owner = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
    EXPECT_EQ(QFile::permissions(path), owner);
    EXPECT_EQ(QFile::permissions(folder), owner | QFile::ExeOwner | QFile::ExeUser);

    QFile damaged(path);
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly) && damaged.write("[1, 2]") && damaged.flush());
    FileUserDefaults reader(path);
    EXPECT_FALSE(reader.value("holdToTalk").isValid());
    reader.setValue("autoPaste", true);
    const QStringList aside = QDir(folder).entryList({"*.corrupt-*"});
    QFile kept(folder + "/" + aside.value(0));
    EXPECT_TRUE(aside.size() == 1 && kept.open(QIODevice::ReadOnly) && kept.readAll() == "[1, 2]");
    EXPECT_TRUE(FileUserDefaults(path).boolValue("autoPaste"));

    FileUserDefaults blocked(path + "/settings.json");
    blocked.setValue("autoPaste", true);
    EXPECT_FALSE(blocked.lastWriteSucceeded());
    EXPECT_TRUE(blocked.boolValue("autoPaste"));
}

} // namespace
