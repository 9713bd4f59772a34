#pragma once

#include "platform/NotificationCenter.h"

#include <QWidget>
#include <functional>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class ZNTFavorite;

// The settings of the favorite being edited, in place of its pad: name, label
// colour, server, port, user, password, database, and the SSH tunnel with its
// key file. Every field writes to the favorite when it is left (or at once, for
// check boxes and the colour); fields show what the favorite holds.
class FavoriteSettingsForm : public QWidget {
    Q_OBJECT
public:
    struct Actions {
        std::function<void()> done;
        std::function<void()> connect;
        std::function<void()> sshEnabledChanged;
        std::function<void()> chooseKey;
        std::function<void()> removeKey;
    };

    FavoriteSettingsForm(ZNTFavorite *favorite, Actions actions, QWidget *parent = nullptr);
    ~FavoriteSettingsForm() override;

    QLineEdit *nicknameField() const { return m_nickname; }
    QLineEdit *hostField() const { return m_host; }
    QLineEdit *portField() const { return m_port; }
    QLineEdit *userField() const { return m_user; }
    QLineEdit *passwordField() const { return m_password; }
    QLineEdit *databaseField() const { return m_database; }
    QCheckBox *sshEnabledBox() const { return m_sshEnabled; }
    QLineEdit *sshHostField() const { return m_sshHost; }
    QLineEdit *sshPortField() const { return m_sshPort; }
    QComboBox *colorMenu() const { return m_color; }
    QCheckBox *savePasswordBox() const { return m_savePassword; }
    QLabel *keychainFailureLabel() const { return m_keychainFailure; }

    // Writes the field that has the focus to the favorite.
    void commitEditing();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void buildUi();
    void addSshRows(QGridLayout *grid, int row);
    void setSshRowsVisible(bool visible);
    void connectActions();
    void showValues();
    void showPadColour();
    void bindText(QLineEdit *field, std::function<void(const QString &)> store);

    ZNTFavorite *m_favorite;
    Actions m_actions;
    ObserverToken m_observer;
    QLineEdit *m_nickname = nullptr;
    QComboBox *m_color = nullptr;
    QLineEdit *m_host = nullptr;
    QLineEdit *m_port = nullptr;
    QLineEdit *m_user = nullptr;
    QLineEdit *m_password = nullptr;
    QCheckBox *m_savePassword = nullptr;
    QLineEdit *m_database = nullptr;
    QCheckBox *m_showAll = nullptr;
    QCheckBox *m_sshEnabled = nullptr;
    QList<QWidget *> m_sshWidgets; // the tunnel's rows, shown while it is on
    QLineEdit *m_sshHost = nullptr;
    QLineEdit *m_sshPort = nullptr;
    QLineEdit *m_sshUser = nullptr;
    QLineEdit *m_sshPassword = nullptr;
    QCheckBox *m_saveSshPassword = nullptr;
    QLabel *m_keyPath = nullptr;
    QPushButton *m_chooseKey = nullptr;
    QPushButton *m_removeKey = nullptr;
    QPushButton *m_done = nullptr;
    QPushButton *m_connect = nullptr;
    QLabel *m_keychainFailure = nullptr;
};
