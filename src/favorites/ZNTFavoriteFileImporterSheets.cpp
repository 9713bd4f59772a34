#include "ZNTFavoriteFileImporter.h"

#include "uikit/AlertSheet.h"

#include <QLineEdit>

void ZNTFavoriteFileImporterPasswordSheet(QWidget *window, const QString &fileName,
                                          std::function<void(std::optional<QString>)> answer) {
    Alert *alert =
        Alert::alertWithMessageText(QObject::tr("Encrypted Favorite File"), QObject::tr("Ok"), QObject::tr("Cancel"),
                                    {}, QObject::tr("Please provide the password for ‘%1’:").arg(fileName));
    auto *field = new QLineEdit;
    field->setEchoMode(QLineEdit::Password);
    field->setFixedWidth(250);
    alert->setAccessoryView(field);
    field->setFocus();
    alert->compatibleBeginSheetModalForWindow(window, [field, answer = std::move(answer)](int code) {
        if (code == Alert::DefaultReturn)
            answer(field->text());
        else
            answer(std::nullopt);
    });
}

void ZNTFavoriteFileImporterErrorSheet(QWidget *window, const ErrorPtr &error) {
    Alert::alertWithError(*error)->compatibleBeginSheetModalForWindow(window, nullptr);
}
