#pragma once
// The dialog that names a PostgreSQL database: host (a name, an address or the folder
// of a Unix socket), port, database, user and password. The password box never shows
// what is typed, and the password is not part of the URI the dialog builds, so the
// URI can be shown and remembered; the caller hands the password to the connection
// alone.

#include <QDialog>
#include <string>

class QDialogButtonBox;
class QLineEdit;
class QSpinBox;

class TfrmConnect : public QDialog {
    Q_OBJECT
public:
    explicit TfrmConnect(QWidget* Parent = nullptr);

    QLineEdit* edHost;
    QSpinBox* sePort;
    QLineEdit* edDatabase;
    QLineEdit* edUser;
    QLineEdit* edPassword;
    QDialogButtonBox* Buttons;

    // Fills the boxes from a URI (its password, if any, is ignored).
    void SetUri(const std::string& Uri);
    // postgresql://user@host:port/database; a socket folder as host goes into the
    // query (?host=/run/postgresql).
    std::string Uri() const;
    QString Password() const;

private:
    void UpdateOk();
};
