#include "FavoriteExportSheet.h"

#include "platform/Main.h"
#include "platform/SerialQueue.h"
#include "platform/UserDefaults.h"
#include "uikit/AlertSheet.h"
#include "uikit/Beep.h"
#include "uikit/SheetFocus.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {

const QString kIncludePasswords = QStringLiteral("FavoriteExportIncludePasswords");
const QString kIncludeHistory = QStringLiteral("FavoriteExportIncludeHistory");
const QString kUseEncryption = QStringLiteral("FavoriteExportUseEncryption");

SerialQueue &exportQueue() {
    static SerialQueue queue("norvane.Trellan.favoriteExport");
    return queue;
}

void presentError(QWidget *window, const ErrorPtr &error) {
    Alert::alertWithError(*error)->compatibleBeginSheetModalForWindow(window, nullptr);
}

} // namespace

ZNTFavoriteExportOptionsView::ZNTFavoriteExportOptionsView(UserDefaults &defaults, QWidget *parent)
    : QWidget(parent), m_defaults(defaults) {
    m_includePasswords = new QCheckBox(tr("Include passwords"), this);
    m_includeHistory = new QCheckBox(tr("Include query history"), this);
    m_encrypt = new QCheckBox(tr("Encrypt passwords and history with a password:"), this);
    m_password = new QLineEdit(this);
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setPlaceholderText(tr("Export password"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 6, 0, 0);
    layout->addWidget(m_includePasswords);
    layout->addWidget(m_includeHistory);
    layout->addWidget(m_encrypt);
    layout->addWidget(m_password);
    bind(m_includePasswords, kIncludePasswords);
    bind(m_includeHistory, kIncludeHistory);
    bind(m_encrypt, kUseEncryption);
    m_password->setEnabled(m_encrypt->isChecked());
    connect(m_encrypt, &QCheckBox::toggled, m_password, &QWidget::setEnabled);
}

void ZNTFavoriteExportOptionsView::bind(QCheckBox *box, const QString &key) {
    box->setChecked(m_defaults.boolForKey(key));
    connect(box, &QCheckBox::toggled, this, [this, key](bool on) { m_defaults.setObject(on, key); });
}

FavoriteExportRequest FavoriteExportRequest::fromChoices(bool includePasswords, bool includeHistory, bool encrypt,
                                                         const QString &password) {
    FavoriteExportRequest request;
    if (includePasswords)
        request.options |= ZNTFavoriteFile::IncludePasswords;
    if (includeHistory)
        request.options |= ZNTFavoriteFile::IncludeHistory;
    if (encrypt) {
        request.password = password;
        request.missingPassword = password.isEmpty();
    }
    return request;
}

QFileDialog *ZNTFavoriteExporter::exportFavorites(QWidget *window, const QStringList &displayNames, Gatherer gather,
                                                  UserDefaults &defaults, std::function<void()> finished) {
    if (displayNames.isEmpty()) {
        beep();
        return nullptr;
    }
    const bool one = displayNames.size() == 1;
    auto *panel = new QFileDialog(window ? window->window() : nullptr,
                                  one ? QObject::tr("Export Favorite") : QObject::tr("Export Favorites"));
    panel->setOption(QFileDialog::DontUseNativeDialog); // the options go into the panel
    panel->setAcceptMode(QFileDialog::AcceptSave);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setDirectory(QDir::homePath());
    if (one) {
        panel->setNameFilter(QObject::tr("Favorite files (*.%1)").arg(ZNTFavoriteFile::FileExtension));
        panel->setDefaultSuffix(ZNTFavoriteFile::FileExtension);
        panel->selectFile(FavoriteFileWriting::fileBaseName(displayNames.front()) + "." +
                          ZNTFavoriteFile::FileExtension);
    } else {
        panel->selectFile(QObject::tr("Trellan Favorites"));
    }
    auto *options = new ZNTFavoriteExportOptionsView(defaults, panel);
    if (auto *grid = qobject_cast<QGridLayout *>(panel->layout()))
        grid->addWidget(options, grid->rowCount(), 0, 1, grid->columnCount());
    panel->setWindowModality(Qt::WindowModal);
    QObject::connect(panel, &QFileDialog::finished, panel, [=](int result) {
        const QStringList chosen = panel->selectedFiles();
        if (result != QDialog::Accepted || chosen.isEmpty()) {
            if (finished)
                finished();
            return;
        }
        const FavoriteExportRequest request = FavoriteExportRequest::fromChoices(
            options->includePasswordCheckbox()->isChecked(), options->includeHistoryCheckbox()->isChecked(),
            options->encryptCheckbox()->isChecked(), options->passwordField()->text());
        run(window, int(displayNames.size()), chosen.front(), request, gather, finished);
    });
    uv_returnFocusAfterSheet(panel);
    panel->open();
    return panel;
}

void ZNTFavoriteExporter::run(QWidget *window, int count, const QString &location, const FavoriteExportRequest &request,
                              Gatherer gather, std::function<void()> finished) {
    QPointer<QWidget> guard(window);
    auto end = [guard, finished](const ErrorPtr &error) {
        if (error && guard)
            presentError(guard, error);
        if (finished)
            finished();
    };
    if (request.missingPassword) {
        Alert *alert =
            Alert::alertWithMessageText(QObject::tr("No password provided"), QObject::tr("OK"), {}, {},
                                        QObject::tr("You must provide a password to encrypt favorite data."));
        alert->compatibleBeginSheetModalForWindow(window, [finished](int) {
            if (finished)
                finished();
        });
        return;
    }
    gather(request.options, [=](QList<FavoriteFileWriting::Item> items) {
        exportQueue().async([=] {
            FavoriteFileWriting::Outcome outcome =
                count == 1 && items.size() == 1
                    ? FavoriteFileWriting::exportFile(items.front(), request.options, request.password, location)
                    : FavoriteFileWriting::exportFolder(items, request.options, request.password, location);
            Main::post([end, error = outcome.lastError] { end(error); });
        });
    });
}
