// The update server's answer: whatever answers at its address (or in its
// place) is read, kept in the user defaults and shown in the favorites window.
// The input is the answer's body. What is kept is read back as the window
// reads it; the versions in it are compared with each other and with the
// running one, which must order them consistently.
#include "FuzzSupport.h"
#include "favorites/UpdateStatus.h"
#include "platform/SystemInfo.h"
#include "platform/UserDefaults.h"

#include <QTemporaryDir>

namespace {

struct Fixture {
    explicit Fixture(const QString &folder) : defaults(folder + QStringLiteral("/defaults.ini")) {}
    UserDefaults defaults;
};

bool hasNull(const QVariant &value) {
    if (value.isNull())
        return true;
    if (value.typeId() == QMetaType::QVariantMap) {
        const QVariantMap map = value.toMap();
        return std::any_of(map.begin(), map.end(), hasNull);
    }
    if (value.typeId() == QMetaType::QVariantList) {
        const QVariantList list = value.toList();
        return std::any_of(list.begin(), list.end(), hasNull);
    }
    return false;
}

int sign(int n) {
    return (n > 0) - (n < 0);
}

// Antisymmetric and transitive over the versions the answer names.
void checkOrder(const QStringList &versions) {
    using UpdateStatus::compareVersionsNumerically;
    for (const QString &a : versions) {
        FUZZ_CHECK(compareVersionsNumerically(a, a) == 0);
        for (const QString &b : versions) {
            const int ab = sign(compareVersionsNumerically(a, b));
            FUZZ_CHECK(ab == -sign(compareVersionsNumerically(b, a)));
            for (const QString &c : versions) {
                const int bc = sign(compareVersionsNumerically(b, c));
                if (ab == bc || bc == 0)
                    FUZZ_CHECK(sign(compareVersionsNumerically(a, c)) == ab);
                else if (ab == 0)
                    FUZZ_CHECK(sign(compareVersionsNumerically(a, c)) == bc);
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Fuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The defaults are never destroyed; their folder still goes at exit.
    static QTemporaryDir folder;
    static Fixture &fixture = *new Fixture(folder.path());
    UserDefaults &defaults = fixture.defaults;
    QString failure;
    const std::optional<QVariantMap> answer = UpdateStatus::answerFromBytes(Fuzz::bytes(data, size), &failure);
    if (!answer) {
        FUZZ_CHECK(failure.startsWith(QStringLiteral("Failed to check for updates")));
        return 0;
    }
    FUZZ_CHECK(size <= size_t(UpdateStatus::kMaxAnswerSize));
    FUZZ_CHECK(!hasNull(*answer));
    defaults.setObject(*answer, UpdateStatus::LatestUpdateInformation);
    FUZZ_CHECK(defaults.dictionaryForKey(UpdateStatus::LatestUpdateInformation) == *answer);

    const QVariant announced = answer->value(QStringLiteral("latestVersion"));
    const QString latest = UpdateStatus::latestVersion(defaults);
    FUZZ_CHECK(latest == (announced.typeId() == QMetaType::QString ? announced.toString() : QString()));
    const QUrl download = UpdateStatus::downloadURL(defaults);
    FUZZ_CHECK(download.isEmpty() || (download.scheme() == QLatin1String("https") && !download.host().isEmpty()));
    const QString running = SystemInfo::shortVersionString();
    FUZZ_CHECK(UpdateStatus::isUpdateAvailable(defaults) ==
               (!latest.isEmpty() && UpdateStatus::compareVersionsNumerically(latest, running) > 0));

    QStringList versions{running, latest};
    for (const QVariant &value : *answer)
        if (value.typeId() == QMetaType::QString && versions.size() < 8)
            versions << value.toString();
    checkOrder(versions);
    return 0;
}
