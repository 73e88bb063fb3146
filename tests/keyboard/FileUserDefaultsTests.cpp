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

void writeFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
}

TEST(FileUserDefaults, KeepsTypesAcrossARestart) {
    QTemporaryDir dir;
    const QString path = dir.filePath("config/wispen-rezuraz/settings.json");
    const QVariantMap record{
        {"boot", "b"},
        {"mappings", QVariantMap{{"3", QVariantList{QVariantMap{{"source", "1"}}}}}}};
    const QVariantMap values{{"holdToTalk", false},
                             {"name", "Wispen"},
                             {"count", 3},
                             {"ratio", 0.5},
                             {"record", record}};
    {
        FileUserDefaults defaults(path);
        for (auto it = values.begin(); it != values.end(); ++it)
            defaults.setValue(it.key(), *it);
        defaults.setValue("gone", true);
        defaults.remove("gone");
        EXPECT_TRUE(defaults.lastWriteSucceeded());
    }
    FileUserDefaults again(path);
    for (auto it = values.begin(); it != values.end(); ++it)
        EXPECT_EQ(again.value(it.key()), *it) << it.key().toStdString();
    EXPECT_EQ(again.value("holdToTalk").typeId(), QMetaType::Bool);
    EXPECT_FALSE(again.value("gone").isValid());
}

TEST(FileUserDefaults, SetsAsideAnUnreadableFileInsteadOfOverwritingIt) {
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.json");
    for (const QByteArray& damaged : {QByteArray("{\"holdToTalk\": fal"), QByteArray("[1, 2]")}) {
        QDir(dir.path()).removeRecursively();
        QDir().mkpath(dir.path());
        writeFile(path, damaged);
        FileUserDefaults defaults(path);
        EXPECT_FALSE(defaults.value("holdToTalk").isValid());
        EXPECT_EQ(contents(path), damaged); // reading alone changes nothing
        defaults.setValue("autoPaste", true);
        const QStringList aside =
            QDir(dir.path()).entryList({"settings.json.corrupt-*"}, QDir::Files);
        ASSERT_EQ(aside.size(), 1);
        EXPECT_EQ(contents(dir.filePath(aside.first())), damaged);
        EXPECT_TRUE(FileUserDefaults(path).boolValue("autoPaste"));
    }
}

TEST(FileUserDefaults, KeepsValuesInMemoryWhenTheFolderCannotBeWritten) {
    QTemporaryDir dir;
    writeFile(dir.filePath("blocker"), "a file where a folder should be");
    FileUserDefaults defaults(dir.filePath("blocker/settings.json"));
    defaults.setValue("autoPaste", true);
    EXPECT_FALSE(defaults.lastWriteSucceeded());
    EXPECT_TRUE(defaults.boolValue("autoPaste"));
}

} // namespace

TEST(FileUserDefaults, KeepsTheSettingsToTheUserWhateverTheUmask) {
    for (const mode_t mask : {mode_t(0277), mode_t(0)}) {
        QTemporaryDir dir; // the user's configuration folder exists; ours is made here
        const QString path = dir.filePath("wispen-rezuraz/settings.json");
        const mode_t previous = ::umask(mask);
        FileUserDefaults(path).setValue("holdToTalk", true);
        ::umask(previous);
        struct stat file {
        }, folder{};
        ::stat(QFile::encodeName(path).constData(), &file);
        ::stat(QFile::encodeName(dir.filePath("wispen-rezuraz")).constData(), &folder);
        EXPECT_EQ(file.st_mode & 0777, 0600u) << mask;
        EXPECT_EQ(folder.st_mode & 0777, 0700u) << mask;
    }
}
