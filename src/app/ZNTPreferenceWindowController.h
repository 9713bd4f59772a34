#pragma once

#include "favorites/UpdateStatus.h"
#include "platform/NotificationCenter.h"

#include <QDateTime>
#include <QLocale>
#include <QWidget>
#include <memory>

class QCheckBox;
class QLabel;
class QSpinBox;
class TqbUpdateChecker;
class UserDefaults;

// The preferences window: the settings a user may change, each control showing
// and writing its user default as it changes, and the last update check. One
// shared window. main thread
class ZNTPreferenceWindowController : public QWidget {
    Q_OBJECT
public:
    static ZNTPreferenceWindowController &sharedController();
    ZNTPreferenceWindowController(std::shared_ptr<TqbUpdateChecker> checker, UserDefaults &defaults,
                                  QWidget *parent = nullptr);

    void showWindow();
    // Refreshes the last-check line.
    void noteUpdateStatusChanged();

    QLabel *lastUpdateCheckTextField() const { return m_lastUpdateCheck; }
    QCheckBox *automaticUpdateCheckBox() const { return m_automaticUpdateCheck; }
    QCheckBox *trustStandardAuthoritiesBox() const { return m_trustStandardAuthorities; }
    QSpinBox *rowsPerPageBox() const { return m_rowsPerPage; }
    QCheckBox *countRowsBox() const { return m_countRows; }
    QCheckBox *showSystemCatalogsBox() const { return m_showSystemCatalogs; }

private:
    void buildUi();
    void connectActions();
    void bind(QCheckBox *box, const QString &key, bool inverted = false);
    void bind(QSpinBox *box, const QString &key);

    std::shared_ptr<TqbUpdateChecker> m_checker;
    UserDefaults &m_defaults;
    ObserverToken m_statusObserver;
    QLabel *m_lastUpdateCheck = nullptr;
    QCheckBox *m_automaticUpdateCheck = nullptr;
    QCheckBox *m_trustStandardAuthorities = nullptr;
    QSpinBox *m_rowsPerPage = nullptr;
    QCheckBox *m_countRows = nullptr;
    QCheckBox *m_showSystemCatalogs = nullptr;
};
