#include "uikit/BlockObservers.h"
#include "uikit/TypesafeAccessors.h"
#include "uikit/URLQuery.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

namespace {
const QString kDone = QStringLiteral("ZNTQueryDoneNotification");

struct Query {
    int id = 0;
};

QMap<QString, QString> query(const char *url) {
    std::optional<QMap<QString, QString>> d = queryDictionary(QUrl(QString::fromUtf8(url)));
    EXPECT_TRUE(d.has_value()) << url;
    return d.value_or(QMap<QString, QString>{});
}
} // namespace

TEST(BlockObservers, OneShotThatRepostsItsOwnNotificationRunsOnce) {
    auto q = std::make_shared<Query>();
    int calls = 0;
    ObserverToken token = observeNext(q, kDone, [&](const Notification &n) {
        ++calls;
        NotificationCenter::defaultCenter().post(kDone, n.object);
    });
    NotificationCenter::defaultCenter().post(kDone, q);
    NotificationCenter::defaultCenter().post(kDone, q);
    EXPECT_EQ(calls, 1);
    token.stopObserving(); // after it fired: harmless
    stopObserving(token);
}

TEST(BlockObservers, FilterOnTheObjectAndNeverOnEverySender) {
    auto q = std::make_shared<Query>();
    auto other = std::make_shared<Query>();
    int mine = 0, fromNull = 0;
    ObserverToken a = observe(q, kDone, [&](const Notification &) { ++mine; });
    // An object that is not there observes nothing, rather than everything.
    std::shared_ptr<Query> missing;
    ObserverToken b = observe(missing, kDone, [&](const Notification &) { ++fromNull; });
    ObserverToken c = observeNext(missing, kDone, [&](const Notification &) { ++fromNull; });
    EXPECT_FALSE(b.isActive());
    NotificationCenter::defaultCenter().post(kDone, q);
    NotificationCenter::defaultCenter().post(kDone, other);
    NotificationCenter::defaultCenter().post(kDone, q);
    EXPECT_EQ(mine, 2);
    EXPECT_EQ(fromNull, 0);
    a.stopObserving();
    NotificationCenter::defaultCenter().post(kDone, q);
    EXPECT_EQ(mine, 2);
}

TEST(BlockObservers, AnObjectWaitingOnItsOwnDoneNotificationIsFreedOnceItCame) {
    // The action pattern: the object holds the token, the block holds the object.
    struct Action {
        ObserverToken token;
    };
    std::weak_ptr<Action> weak;
    bool cancelledRan = false;
    {
        auto action = std::make_shared<Action>();
        weak = action;
        action->token = observeNext(action, kDone, [action](const Notification &) {});
    }
    ASSERT_FALSE(weak.expired()) << "waiting keeps it alive";
    NotificationCenter::defaultCenter().post(kDone, weak.lock());
    EXPECT_TRUE(weak.expired()) << "the block and what it held go once it has run";

    // Cancelling before the notification comes: the block never runs.
    auto action = std::make_shared<Action>();
    action->token = observeNext(action, kDone, [&](const Notification &) { cancelledRan = true; });
    action->token.stopObserving();
    NotificationCenter::defaultCenter().post(kDone, action);
    EXPECT_FALSE(cancelledRan);
}

TEST(TypesafeAccessors, AnswerNothingForTheWrongContainerIndexOrElement) {
    const QVariantList list{QStringLiteral("a"), 5, QVariantMap{{"k", "v"}}};
    EXPECT_EQ(inArray<QString>(list, 0), QStringLiteral("a"));
    EXPECT_EQ(inArray<QString>(list, 1), std::nullopt) << "a number is not a string";
    EXPECT_EQ(inArray<int>(list, 1), 5);
    EXPECT_EQ(inArray<QString>(list, 3), std::nullopt) << "index equal to the count";
    EXPECT_EQ(inArray<QString>(list, -1), std::nullopt);
    EXPECT_EQ(inArray<QString>(QVariant(list), 0), QStringLiteral("a"));
    EXPECT_EQ(inArray<QString>(QVariant(QStringList{"x"}), 0), QStringLiteral("x"));
    EXPECT_EQ(inArray<QString>(QVariant(QVariantMap{{"0", "a"}}), 0), std::nullopt) << "a dictionary is no array";

    const QVariant dict = QVariantMap{{"host", "db"}, {"port", 5432}};
    EXPECT_EQ(inDictionary<QString>(dict, "host"), QStringLiteral("db"));
    EXPECT_EQ(inDictionary<QString>(dict, "port"), std::nullopt);
    EXPECT_EQ(inDictionary<QString>(dict, "missing"), std::nullopt);
    EXPECT_EQ(inDictionary<QString>(QVariant(list), "host"), std::nullopt) << "an array is no dictionary";
    EXPECT_EQ(inDictionary<QString>(QVariant(QVariantHash{{"host", "h"}}), "host"), QStringLiteral("h"));
    EXPECT_EQ(inDictionary<QString>(QVariant(), "host"), std::nullopt);
    EXPECT_EQ(instanceOrNil<QVariantMap>(dict)->size(), 2);

    const QJsonValue json = QJsonDocument::fromJson(R"({"a": [1, "two", true], "o": {"x": null}})").object();
    EXPECT_EQ(inDictionary<QJsonArray>(json, "a")->size(), 3);
    const QJsonArray a = *inDictionary<QJsonArray>(json, "a");
    EXPECT_EQ(inArray<double>(a, 0), 1.0);
    EXPECT_EQ(inArray<QString>(a, 0), std::nullopt);
    EXPECT_EQ(inArray<bool>(a, 2), true);
    EXPECT_EQ(inArray<QString>(a, 3), std::nullopt);
    EXPECT_EQ(inDictionary<QString>(*inDictionary<QJsonObject>(json, "o"), "x"), std::nullopt);
    EXPECT_EQ(inArray<QString>(json, 0), std::nullopt) << "an object is no array";
}

TEST(URLQuery, FirstOccurrenceWinsAndPlusIsABlank) {
    EXPECT_EQ(query("postgresql://h/db?a=1&b=2&a=3"), (QMap<QString, QString>{{"a", "1"}, {"b", "2"}}));
    EXPECT_EQ(query("postgresql://h/db?q=a+b%20c"), (QMap<QString, QString>{{"q", "a b c"}}));
    EXPECT_EQ(query("postgresql://h/db?q=1%2B1"), (QMap<QString, QString>{{"q", "1+1"}}))
        << "an escaped plus stays a plus";
    EXPECT_EQ(query("postgresql://h/db?x"), (QMap<QString, QString>{}));
    EXPECT_EQ(query("postgresql://h/db?x=1=2"), (QMap<QString, QString>{}));
    EXPECT_EQ(query("postgresql://h/db?x="), (QMap<QString, QString>{{"x", ""}}));
    EXPECT_EQ(query("postgresql://h/db?"), (QMap<QString, QString>{}));
    EXPECT_EQ(query("postgresql://h/db?user=J%C3%BCrgen&p%61ss=%E2%82%AC"),
              (QMap<QString, QString>{{"user", QStringLiteral("Jürgen")}, {"pass", QStringLiteral("€")}}));
    EXPECT_EQ(queryDictionary(QUrl("postgresql://h/db")), std::nullopt);
}

TEST(URLQuery, AValueThatIsNotUTF8RemovesItsKey) {
    // Met after the later pair, the broken first value takes the key away.
    EXPECT_EQ(query("postgresql://h/db?sslmode=%FF&host=a&sslmode=require"), (QMap<QString, QString>{{"host", "a"}}));
    EXPECT_EQ(query("postgresql://h/db?a=%C3&b=%E2%82"), (QMap<QString, QString>{}));
    // A key that does not decode skips its pair and leaves the key it would be alone.
    EXPECT_EQ(query("postgresql://h/db?a=1&%FF=2"), (QMap<QString, QString>{{"a", "1"}}));
}
