// What the row editor's cells decide without their widgets: JSON indenting,
// the text cell's end of editing and menu, booleans read as the server reads
// them, the file types of binary values, the foreign-key strip and when an
// edit is no change at all.
#include "browser/ZNTBooleanValue.h"
#include "browser/ZNTByteaValue.h"
#include "browser/ZNTForeignKeyStrip.h"
#include "browser/ZNTJSONText.h"
#include "browser/ZNTRowEditorModel.h"
#include "browser/ZNTRowValueText.h"
#include "engine/ZNTColumn.h"
#include "model/ZNTRow.h"
#include "support/TestSupport.h"

#include <QBuffer>
#include <QImage>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {
ZNTColumn columnOfType(qint64 oid, char category) {
    ZNTColumn column(QStringLiteral("c"));
    column.setTypeOid(oid);
    column.setTypeCategory(category);
    return column;
}
} // namespace

TEST(JSONText, IndentingKeepsEveryTokenKeyOrderAndRepeatedKeys) {
    const QString text = QStringLiteral(R"({"b":12345678901234567890,"a":[1,2],"a":3})");
    const std::optional<QString> indented = ZNTJSONText::indented(text);
    ASSERT_TRUE(indented);
    EXPECT_EQ(*indented, QStringLiteral("{\n    \"b\": 12345678901234567890,\n    \"a\": [\n        1,\n        2\n"
                                        "    ],\n    \"a\": 3\n}"));
    // Python's json reads the same members from both, in the same order.
    const QByteArray check = R"(
import json, sys
a, b = sys.stdin.read().split('\0')
pairs = lambda s: json.loads(s, object_pairs_hook=lambda p: p, parse_float=str, parse_int=str)
print(pairs(a) == pairs(b))
)";
    EXPECT_EQ(runPython(QString::fromUtf8(check), {}, (text + QChar(0) + *indented).toUtf8()).trimmed(), "True");

    EXPECT_EQ(ZNTJSONText::indented(u"  -1.5e+300 "), QStringLiteral("-1.5e+300")) << "a bare number is its text";
    EXPECT_EQ(ZNTJSONText::indented(u"{\"x\" : {} , \"y\":[ ]}"),
              QStringLiteral("{\n    \"x\": {},\n    \"y\": []\n}"));
    EXPECT_EQ(ZNTJSONText::indented(uR"(["\u00e9\"\\", true, null])"),
              QStringLiteral("[\n    \"\\u00e9\\\"\\\\\",\n    true,\n    null\n]"));
}

TEST(JSONText, WhatIsNotJSONIsRefusedAndDeepNestingHasALimit) {
    for (const QString &bad :
         {QStringLiteral(""), QStringLiteral("{"), QStringLiteral("[1,]"), QStringLiteral("{\"a\":1,}"),
          QStringLiteral("01"), QStringLiteral("1."), QStringLiteral("\"tab\there\""), QStringLiteral("'single'"),
          QStringLiteral("[1] [2]"), QStringLiteral("{a:1}"), QStringLiteral("\"\\x\""), QStringLiteral("NaN"),
          QStringLiteral("tru"), QStringLiteral("[1 2]"), QStringLiteral("{\"a\" 1}")}) {
        EXPECT_FALSE(ZNTJSONText::canIndent(bad)) << bad.toStdString();
        EXPECT_FALSE(ZNTJSONText::indented(bad)) << bad.toStdString();
    }
    const QString deep = QString(ZNTJSONText::kMaxDepth, u'[') + QString(ZNTJSONText::kMaxDepth, u']');
    EXPECT_TRUE(ZNTJSONText::canIndent(deep));
    const QString deeper = u'[' + deep + u']';
    EXPECT_FALSE(ZNTJSONText::canIndent(deeper)) << "one level more than the limit";
    // Elements deep down would each take a line of thousands of spaces.
    QString wide = QString(400, u'[');
    for (int i = 0; i < 60000; ++i)
        wide += QStringLiteral("1,");
    wide += u'1' + QString(400, u']');
    EXPECT_FALSE(ZNTJSONText::canIndent(wide)) << "the indented text would pass its limit";
}

TEST(RowValueText, LeavingTheFieldReportsOnlyRealTypingAndAnEmptiedValueOnce) {
    using namespace ZNTRowValueText;
    const Value abc = Value::fromString(QStringLiteral("abc"));
    // A placeholder that was cleared on focus and left empty: back, nothing told.
    for (const Value &placeholder : {Value::null(), Value::defaultMarker(), Value::multipleMarker()}) {
        const EndOfEditing end = endOfEditing(placeholder, QString(), false);
        EXPECT_FALSE(end.report);
        EXPECT_EQ(end.value, placeholder);
    }
    EXPECT_FALSE(endOfEditing(Value::fromString(QString()), QString(), true).report) << "the empty string stays";
    const EndOfEditing cleared = endOfEditing(abc, QString(), true);
    EXPECT_TRUE(cleared.report);
    EXPECT_TRUE(cleared.value.isNull());
    EXPECT_FALSE(endOfEditing(cleared.value, QString(), false).report) << "NULL is reported once";
    const EndOfEditing typed = endOfEditing(Value::fromInt(5), QStringLiteral("6"), true);
    EXPECT_TRUE(typed.report);
    EXPECT_EQ(typed.value, Value::fromString(QStringLiteral("6"))) << "typed text stays text";
    EXPECT_FALSE(endOfEditing(abc, QStringLiteral("abc"), false).report);

    EXPECT_EQ(displayOf(Value::null()).text, "NULL");
    EXPECT_TRUE(displayOf(Value::multipleMarker()).isPlaceholder);
    EXPECT_EQ(displayOf(Value::fromInt(9007199254740993)).text, "9007199254740993");
    const ZNTRowValueText::Display long_ = displayOf(Value::fromString(QString(kMaxEditableLength + 1, u'x')));
    EXPECT_TRUE(long_.isCut);
    EXPECT_EQ(long_.text.size(), kShownLengthOfLongText + 1);
}

TEST(RowValueText, SpecialValuesFollowTheColumnType) {
    using namespace ZNTRowValueText;
    EXPECT_EQ(tagsForColumn(columnOfType(25, 'S')), (QList<int>{TagNull, TagDefault, TagEmptyString}));
    EXPECT_EQ(tagsForColumn(columnOfType(701, 'N')),
              (QList<int>{TagNull, TagDefault, TagNaN, TagInfinity, TagMinusInfinity}));
    EXPECT_EQ(tagsForColumn(columnOfType(1700, 'N')), (QList<int>{TagNull, TagDefault, TagNaN}));
    EXPECT_EQ(tagsForColumn(columnOfType(1082, 'D')),
              (QList<int>{TagNull, TagDefault, TagYesterday, TagToday, TagTomorrow}));
    EXPECT_EQ(tagsForColumn(columnOfType(3802, 'U')), (QList<int>{TagNull, TagDefault, TagPrettyPrint}));
    EXPECT_EQ(tagsForColumn(columnOfType(2950, 'U')), (QList<int>{TagNull, TagDefault, TagUUID}));
    EXPECT_EQ(tagsForColumn(columnOfType(23, 'N')), (QList<int>{TagNull, TagDefault}));

    // The day after 2024-10-26 is the 27th even where the clocks go back that night.
    const QDate day(2024, 10, 27);
    EXPECT_EQ(valueForTag(TagTomorrow, Value(), day), Value::fromString(QStringLiteral("2024-10-28")));
    EXPECT_EQ(valueForTag(TagYesterday, Value(), QDate(2024, 3, 1)), Value::fromString(QStringLiteral("2024-02-29")));
    const std::optional<Value> uuid = valueForTag(TagUUID, Value(), day);
    ASSERT_TRUE(uuid);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}$"))
                    .match(uuid->toString())
                    .hasMatch());
    EXPECT_FALSE(valueForTag(TagPrettyPrint, Value::fromString(QStringLiteral("{oops")), day))
        << "an indent that fails sets nothing, never the empty string";
    EXPECT_FALSE(valueForTag(TagPrettyPrint, Value::null(), day));
    EXPECT_FALSE(valueForTag(42, Value(), day));
}

TEST(BooleanValue, TextIsReadAsTheServerReadsABoolean) {
    using namespace ZNTBooleanValue;
    for (const char *yes : {"t", "true", "TRUE", " ON ", "on", "y", "yes", "Ye", "1", "tr", "\ttrue\n"})
        EXPECT_EQ(tagForValue(Value::fromString(QString::fromUtf8(yes))), TagTrue) << yes;
    for (const char *no : {"f", "false", "off", "OFF", "of", "n", "no", "0", " fal "})
        EXPECT_EQ(tagForValue(Value::fromString(QString::fromUtf8(no))), TagFalse) << no;
    for (const char *neither : {"", "o", "2", "truer", "yess", "nope", "10", "t rue", "onn"})
        EXPECT_EQ(tagForValue(Value::fromString(QString::fromUtf8(neither))), TagNone) << neither;
    EXPECT_EQ(tagForValue(Value::fromBool(false)), TagFalse);
    EXPECT_EQ(tagForValue(Value::null()), TagNull);
    EXPECT_EQ(tagForValue(Value::defaultMarker()), TagDefault);
    EXPECT_EQ(tagForValue(Value::multipleMarker()), TagMultiple);
    EXPECT_FALSE(valueForTag(TagMultiple)) << "MULTIPLE is shown, never set";
    EXPECT_EQ(valueForTag(TagTrue), Value::fromBool(true));
}

TEST(ByteaValue, FileTypesTitlesAndNames) {
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    image.save(&buffer, "PNG");
    const ZNTByteaValue::FileType pngType = ZNTByteaValue::fileTypeOfData(png);
    EXPECT_EQ(pngType.mimeType, "image/png");
    EXPECT_EQ(ZNTByteaValue::titleForFileType(pngType), "PNG file");
    EXPECT_EQ(ZNTByteaValue::proposedFileName(pngType), "image.png");
    EXPECT_EQ(ZNTByteaValue::proposedFileName({QStringLiteral("application/pdf"), QStringLiteral("pdf")}),
              "document.pdf");
    EXPECT_EQ(ZNTByteaValue::proposedFileName({QStringLiteral("application/octet-stream"), QString()}), "document");

    // Older libmagic answers a Windows bitmap with this name (5.44 says image/bmp).
    EXPECT_EQ(ZNTByteaValue::extensionForMimeType(QStringLiteral("image/x-ms-bmp")), "bmp");
    EXPECT_EQ(ZNTByteaValue::extensionForMimeType(QStringLiteral("image/bmp")), "bmp");

    const QByteArray noise = QByteArray::fromHex("00ff10807f01fe02fd03fc04fb05fa06");
    const ZNTByteaValue::FileType unknown = ZNTByteaValue::fileTypeOfData(noise);
    EXPECT_EQ(ZNTByteaValue::titleForFileType(unknown), "unknown data type") << unknown.mimeType.toStdString();
    const ZNTByteaValue::Display shown = ZNTByteaValue::displayOf(Value::fromBytes(noise));
    EXPECT_EQ(shown.size, "16 bytes");
    EXPECT_TRUE(ZNTByteaValue::displayOf(Value::multipleMarker()).isNull);
    EXPECT_EQ(ZNTByteaValue::displayOf(Value::defaultMarker()).title, "DEFAULT");

    EXPECT_EQ(ZNTByteaValue::preferredHeight(QSizeF(400, 300), 200), 65 + 150) << "scaled down to the width";
    EXPECT_EQ(ZNTByteaValue::preferredHeight(QSizeF(40, 30), 200), 65 + 30) << "never enlarged";
    EXPECT_EQ(ZNTByteaValue::preferredHeight(QSizeF(), 200), 65);
}

TEST(ByteaValue, FilesAreWrittenWholeOrNotAtAll) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("value.bin"));
    const QByteArray bytes = QByteArray::fromHex("00010203ff") + QByteArray(100000, 'x');
    ErrorPtr error;
    ASSERT_TRUE(ZNTByteaValue::writeFile(path, bytes, &error));
    QByteArray read;
    ASSERT_TRUE(ZNTByteaValue::readFile(path, &read, &error));
    EXPECT_EQ(read, bytes);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"value.bin"}) << "nothing left beside it";

    EXPECT_FALSE(ZNTByteaValue::writeFile(dir.filePath(QStringLiteral("missing/x.bin")), bytes, &error));
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->localizedDescription().contains("x.bin"));
    EXPECT_FALSE(ZNTByteaValue::readFile(dir.filePath(QStringLiteral("nothing.bin")), &read, &error));
    EXPECT_EQ(read, bytes) << "a failed read leaves the bytes alone";
}

namespace {
QByteArray noise(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + i / 977) & 0xff);
    return bytes;
}

// Writes all of bytes to fd, as far as a reader takes them.
void writeAll(int fd, const QByteArray &bytes) {
    for (qsizetype at = 0; at < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + at, size_t(std::min<qsizetype>(bytes.size() - at, 65536)));
        if (n <= 0)
            return;
        at += n;
    }
}
} // namespace

// What was read is what is stored, whatever size the file tells: files under
// /proc tell 0, a pipe tells nothing, a file may grow while it is read; and a
// file past the limit is refused with the reason, the bytes left alone.
TEST(ByteaValue, AFileIsReadToItsEndWhateverItsSizeSaysAndRefusedPastTheLimit) {
    std::signal(SIGPIPE, SIG_IGN);
    QByteArray read;
    ErrorPtr error;
    ASSERT_TRUE(ZNTByteaValue::readFile(QStringLiteral("/proc/self/status"), &read, &error));
    EXPECT_TRUE(read.startsWith("Name:\t")) << read.left(40).toStdString();
    EXPECT_TRUE(read.contains("\nPid:\t"));
    EXPECT_TRUE(read.endsWith('\n'));

    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const auto readPipe = [&](const QByteArray &sent, QByteArray *into, qint64 limit) {
        std::thread writer([&] {
            const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY);
            writeAll(fd, sent);
            ::close(fd);
        });
        const bool piped = ZNTByteaValue::readFile(fifo, into, &error, limit);
        if (!piped) // let the writer's open return
            ::close(::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK));
        writer.join();
        return piped;
    };
    const QByteArray sent = noise(3 * 1024 * 1024 + 5);
    ASSERT_TRUE(readPipe(sent, &read, ZNTByteaValue::kMaxFileSize));
    EXPECT_EQ(read.size(), sent.size());
    EXPECT_TRUE(read == sent);

    // A file that grows while it is read is read as far as it reached.
    const QString growing = dir.filePath(QStringLiteral("growing.bin"));
    const QByteArray whole = noise(8 * 1024 * 1024);
    const qsizetype first = 100 * 1000;
    QFile out(growing);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    ASSERT_EQ(out.write(whole.left(first)), first);
    std::atomic<bool> started = false;
    std::thread grower([&] {
        for (qsizetype at = first; at < whole.size(); at += 4096) {
            out.write(whole.mid(at, 4096));
            started = true;
        }
    });
    while (!started)
        std::this_thread::yield();
    const bool grown = ZNTByteaValue::readFile(growing, &read, &error);
    grower.join();
    ASSERT_TRUE(grown);
    EXPECT_GT(read.size(), first);
    EXPECT_TRUE(read == whole.left(read.size())) << "not what the file holds";
    ASSERT_TRUE(ZNTByteaValue::readFile(growing, &read, &error));
    EXPECT_TRUE(read == whole);

    // Limits: what the size tells is refused before reading, what it does not
    // tell once one byte past the limit has been read.
    const qint64 limit = 3 * 1000 * 1000;
    QByteArray kept = "kept";
    error.reset();
    EXPECT_FALSE(ZNTByteaValue::readFile(QStringLiteral("/dev/zero"), &kept, &error, limit));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->localizedDescription(), "The file “zero” is too large.");
    EXPECT_EQ(error->localizedFailureReason(),
              "It holds more than 3.0 MB; a value loaded from a file can hold at most 3.0 MB.");
    EXPECT_EQ(kept, "kept");
    const QString atLimit = dir.filePath(QStringLiteral("limit.bin"));
    ASSERT_TRUE(ZNTByteaValue::writeFile(atLimit, whole.left(limit), &error));
    ASSERT_TRUE(ZNTByteaValue::readFile(atLimit, &read, &error, limit));
    EXPECT_EQ(read.size(), limit);
    EXPECT_FALSE(ZNTByteaValue::readFile(atLimit, &kept, &error, limit - 1));
    EXPECT_EQ(kept, "kept");
    // From a pipe, at a limit the reader's 1 MiB pieces reach exactly: only
    // the byte past it tells that there is more.
    const qint64 pieces = 2 * 1024 * 1024;
    EXPECT_FALSE(readPipe(whole.left(pieces + 1), &kept, pieces));
    EXPECT_EQ(kept, "kept");
    ASSERT_TRUE(readPipe(whole.left(pieces), &read, pieces));
    EXPECT_TRUE(read == whole.left(pieces));
}

TEST(ForeignKeyStrip, TheKeyFieldReadsAndReadsBack) {
    using namespace ZNTForeignKeyStrip;
    EXPECT_EQ(keyDisplay(Value::fromInt(7)).text, "7");
    EXPECT_FALSE(keyDisplay(Value::fromInt(7)).isPlaceholder);
    EXPECT_TRUE(keyDisplay(Value::null()).isPlaceholder);
    EXPECT_EQ(keyDisplay(Value::fromBytes("\x01")).text, "binary data");
    EXPECT_EQ(valueForString(QStringLiteral("12"), Value::fromInt(7)), Value::fromString(QStringLiteral("12")));
    EXPECT_TRUE(valueForString(QString(), Value::fromInt(7)).isNull()) << "an emptied key is NULL";
    EXPECT_TRUE(valueForString(QString(), Value::multipleMarker()).isMultiple());
    EXPECT_EQ(valueForString(QString(), Value::fromString(QString())), Value::fromString(QString()));

    // A row without values (not loaded, or none matched) shows its columns empty.
    auto a = std::make_shared<ZNTColumn>(QStringLiteral("id"));
    auto b = std::make_shared<ZNTColumn>(QStringLiteral("name"));
    auto row = ZNTRow::createWithColumns({a, b}, {}, nullptr);
    const Strip empty = stripFor(*row, {1});
    EXPECT_FALSE(empty.foreignRowEditable);
    ASSERT_EQ(empty.fields.size(), 2);
    EXPECT_FALSE(empty.fields[1].hasValue);
    auto partial = ZNTRow::createWithColumns({a, b}, {Value::fromInt(1)}, nullptr);
    EXPECT_FALSE(stripFor(*partial, {1}).fields[1].hasValue) << "never read past the values there are";
}

TEST(RowEditorModel, AnEditIsAChangeOnlyWhenTheValueDiffers) {
    EXPECT_TRUE(ZNTRowEditorModel::sameValue(Value::fromInt(5), Value::fromString(QStringLiteral("5"))));
    EXPECT_TRUE(ZNTRowEditorModel::sameValue(Value::null(), Value::null()));
    EXPECT_FALSE(ZNTRowEditorModel::sameValue(Value::fromInt(5), Value::fromString(QStringLiteral("05"))));
    EXPECT_FALSE(ZNTRowEditorModel::sameValue(Value::fromString(QStringLiteral("5")), Value::fromInt(5)));
    EXPECT_FALSE(ZNTRowEditorModel::sameValue(Value::null(), Value::fromString(QString())));

    auto text = std::make_shared<ZNTColumn>(QStringLiteral("t"));
    text->setTypeOid(25);
    auto flag = std::make_shared<ZNTColumn>(QStringLiteral("f"));
    flag->setTypeOid(16);
    auto data = std::make_shared<ZNTColumn>(QStringLiteral("d"));
    data->setTypeOid(17);
    ZNTRowEditorModel model;
    model.setRow(ZNTRow::createWithColumns({text, flag, data}, {Value::fromString(QStringLiteral("x"))}, nullptr));
    EXPECT_EQ(model.cellKind(0), ZNTRowEditorModel::CellKind::Text);
    EXPECT_EQ(model.cellKind(1), ZNTRowEditorModel::CellKind::Boolean);
    EXPECT_EQ(model.cellKind(2), ZNTRowEditorModel::CellKind::Bytea);
    EXPECT_EQ(model.heightOfRow(1, 77, 42), 41);
    EXPECT_EQ(model.heightOfRow(2, 77, 42), 80) << "bytea until measured";
    model.setStoredHeight(2, 130);
    EXPECT_EQ(model.heightOfRow(2, 77, 42), 130);
    EXPECT_TRUE(model.valueAt(2).isNull()) << "past the row's values";
    EXPECT_FALSE(model.setValue(0, Value::fromString(QStringLiteral("x"))));
    EXPECT_TRUE(model.setValue(2, Value::fromBytes("\x01")));
    EXPECT_EQ(model.newValues().size(), 3u);
    EXPECT_FALSE(model.setValue(3, Value::null())) << "no such column";
}
