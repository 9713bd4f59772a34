#include "platform/UserDefaults.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(UserDefaults, RegisteredDefaultsAnswerOnMissButAreNeverWritten) {
    QTemporaryDir dir;
    const QString path = dir.filePath("defaults.ini");
    {
        UserDefaults defaults(path);
        defaults.registerDefaults({{"TableViewRowsPerPage", 1000}, {"TrustStandardCertificateAuthorities", true}});
        EXPECT_EQ(defaults.integerForKey("TableViewRowsPerPage"), 1000);
        EXPECT_TRUE(defaults.boolForKey("TrustStandardCertificateAuthorities"));
        defaults.setObject(false, "TrustStandardCertificateAuthorities");
        EXPECT_FALSE(defaults.boolForKey("TrustStandardCertificateAuthorities"));
        EXPECT_FALSE(defaults.objectForKey("DontCountRows").isValid());
        defaults.synchronize();
    }
    UserDefaults reopened(path);
    EXPECT_FALSE(reopened.objectForKey("TableViewRowsPerPage").isValid()); // the default was not stored
    EXPECT_FALSE(reopened.boolForKey("TrustStandardCertificateAuthorities"));
}

TEST(UserDefaults, RemovingAStoredValueRevealsTheDefaultAndSignalsTheKey) {
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath("d.ini"));
    defaults.registerDefaults({{"ShowSidebar", false}});
    QSignalSpy spy(&defaults, &UserDefaults::changed);
    defaults.setObject(true, "ShowSidebar");
    EXPECT_TRUE(defaults.boolForKey("ShowSidebar"));
    defaults.removeObject("ShowSidebar");
    EXPECT_FALSE(defaults.boolForKey("ShowSidebar"));
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(0).at(0).toString(), "ShowSidebar");
}

TEST(UserDefaults, DictionaryOfBinaryValuesRoundTripsThroughTheFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("d.ini");
    QVariantMap keys{{"db.example.com:22", QByteArray("\x00\x01\xffkey", 6)}};
    {
        UserDefaults defaults(path);
        defaults.setObject(keys, "KnownHostKeys");
        defaults.synchronize();
    }
    UserDefaults reopened(path);
    EXPECT_EQ(reopened.dictionaryForKey("KnownHostKeys").value("db.example.com:22").toByteArray(),
              QByteArray("\x00\x01\xffkey", 6));
}
