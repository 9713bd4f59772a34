// Array texts and quoted literals, as a server sends them: index expressions and
// key lists come as array text, and column defaults hold quoted literals. The
// first byte chooses standard_conforming_strings (its lowest bit) and the array
// delimiter (the rest: 0 the default, 1 ';', else that character, as a type's
// typdelim may be); the remaining bytes are the text.
#include "FuzzSupport.h"
#include "engine/PGScanner.h"
#include "engine/Quoting.h"

namespace {

QString delimiterFor(uint8_t byte) {
    const int code = byte >> 1;
    if (code == 0)
        return QString();
    return code == 1 ? QStringLiteral(";") : QString(QChar(code));
}

// What our quoting writes, the scanner reads back as the same text (up to the
// first NUL, where quoting stops).
void checkRoundTrip(const QString &value, bool standardConformingStrings) {
    const auto quoted = Quoting::escapeLiteral(value.toUtf8());
    if (!quoted)
        return;
    PGScanner scanner(QString::fromUtf8(*quoted), standardConformingStrings);
    QString read;
    FUZZ_CHECK(scanner.scanQuotedLiteral(&read));
    FUZZ_CHECK(scanner.isAtEnd());
    const qsizetype nul = value.indexOf(QChar(0));
    FUZZ_CHECK(read == (nul < 0 ? value : value.left(nul)));
}

void scanLiterals(const QString &text, bool standardConformingStrings) {
    PGScanner scanner(text, standardConformingStrings);
    while (true) {
        const qsizetype before = scanner.scanLocation();
        QString value;
        if (!scanner.scanQuotedLiteral(&value)) {
            FUZZ_CHECK(scanner.scanLocation() == before); // a failed scan moves nothing
            return;
        }
        FUZZ_CHECK(scanner.scanLocation() > before);
        checkRoundTrip(value, standardConformingStrings);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Fuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    const bool standardConformingStrings = data[0] & 1;
    const QString text = Fuzz::text(data + 1, size - 1);
    ErrorPtr error;
    const auto array = arrayFromPostgresWithDelimiter(text, delimiterFor(data[0]), &error);
    FUZZ_CHECK(array.has_value() != (error != nullptr)); // a list, or an error that says why
    scanLiterals(text, standardConformingStrings);
    return 0;
}
