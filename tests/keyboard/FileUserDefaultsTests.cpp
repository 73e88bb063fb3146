#include "FileUserDefaults.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Private to the user whatever the umask, and every type read back after a restart.
TEST(FileUserDefaults, KeepsTypesAcrossARestartInAPrivateFile) {
    for (const mode_t mask : {mode_t(0277), mode_t(0)}) {
        QTemporaryDir dir;
        const QString path = dir.filePath("wispen-rezuraz/settings.json");
        const QVariantMap values{{"holdToTalk", false},
                                 {"count", 3},
                                 {"record", QVariantMap{{"3", QVariantList{"1", 0.5}}}}};
        const mode_t previous = ::umask(mask);
        {
            FileUserDefaults defaults(path);
            for (auto it = values.begin(); it != values.end(); ++it)
                defaults.setValue(it.key(), *it);
            defaults.setValue("gone", true);
            defaults.remove("gone");
            EXPECT_TRUE(defaults.lastWriteSucceeded());
        }
        ::umask(previous);
        FileUserDefaults again(path);
        for (auto it = values.begin(); it != values.end(); ++it)
            EXPECT_EQ(again.value(it.key()), *it) << it.key().toStdString();
        EXPECT_EQ(again.value("holdToTalk").typeId(), QMetaType::Bool);
        EXPECT_FALSE(again.value("gone").isValid());
        struct stat file {
        }, folder{};
        ::stat(QFile::encodeName(path).constData(), &file);
        ::stat(QFile::encodeName(dir.filePath("wispen-rezuraz")).constData(), &folder);
        EXPECT_EQ(file.st_mode & 0777, 0600u) << mask;
        EXPECT_EQ(folder.st_mode & 0777, 0700u) << mask;
    }
}

TEST(FileUserDefaults, SetsAsideAnUnreadableFileAndKeepsValuesWhenItCannotWrite) {
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.json");
    for (const QByteArray& damaged : {QByteArray("{\"holdToTalk\": fal"), QByteArray("[1, 2]")}) {
        for (const QString& name : QDir(dir.path()).entryList(QDir::Files))
            QFile::remove(dir.filePath(name));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(damaged) && file.flush());
        FileUserDefaults defaults(path);
        EXPECT_FALSE(defaults.value("holdToTalk").isValid());
        EXPECT_EQ(contents(path), damaged); // reading alone changes nothing
        defaults.setValue("autoPaste", true);
        const QStringList aside = QDir(dir.path()).entryList({"settings.json.corrupt-*"});
        ASSERT_EQ(aside.size(), 1);
        EXPECT_EQ(contents(dir.filePath(aside.first())), damaged);
        EXPECT_TRUE(FileUserDefaults(path).boolValue("autoPaste"));
    }
    FileUserDefaults blocked(dir.filePath("settings.json/settings.json"));
    blocked.setValue("autoPaste", true);
    EXPECT_FALSE(blocked.lastWriteSucceeded());
    EXPECT_TRUE(blocked.boolValue("autoPaste"));
}

} // namespace
