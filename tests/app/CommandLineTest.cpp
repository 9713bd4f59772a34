#include "app/CommandLine.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(CommandLine, ArgumentsReachAnotherProcessAsAbsolutePathsAndUntouchedURLs) {
    QTemporaryDir dir;
    QFile odd(dir.filePath("a:b.tqbfav")); // looks like a scheme, but it is a file here
    ASSERT_TRUE(odd.open(QIODevice::WriteOnly));
    odd.close();
    const QStringList normalized = CommandLine::normalizedArguments(
        {"Prod.tqbfav", "../x/./y.TQBFAV", "file:///home/u/My%20Server.tqbfav", "a:b.tqbfav",
         "postgresql://u:p%40ss@h/db", "PostgreSQL+SSH://gw/alice@localhost/shop", "https://example.org/",
         ":colon.tqbfav", "://x"},
        dir.path());
    const QString base = QDir(dir.path()).absolutePath();
    // A name that begins with ":" is a file too, not one of Qt's resources.
    EXPECT_EQ(normalized, (QStringList{base + "/Prod.tqbfav", QDir::cleanPath(base + "/../x/y.TQBFAV"),
                                       "/home/u/My Server.tqbfav", base + "/a:b.tqbfav", "postgresql://u:p%40ss@h/db",
                                       "PostgreSQL+SSH://gw/alice@localhost/shop", "https://example.org/",
                                       base + "/:colon.tqbfav", base + "/:/x"}));
}

TEST(CommandLine, SortsConnectionURLsFilesAndOtherTexts) {
    const OpenRequest request =
        CommandLine::classify({"postgres://h", "SSH+Postgres://gw/", "postgresql+ssh://gw/db", "/tmp/Prod.tqbfav",
                               "https://example.org/", "hello:world", "ssh://gw/", "postgresqlx://h"});
    EXPECT_EQ(request.urls, (QStringList{"postgres://h", "SSH+Postgres://gw/", "postgresql+ssh://gw/db"}));
    EXPECT_EQ(request.files, QStringList{"/tmp/Prod.tqbfav"});
    EXPECT_EQ(request.malformed, (QStringList{"https://example.org/", "hello:world", "ssh://gw/", "postgresqlx://h"}));
}
