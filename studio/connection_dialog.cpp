#include "studio/connection_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QUrl>
#include <QUrlQuery>

TfrmConnect::TfrmConnect(QWidget* Parent)
    : QDialog(Parent)
{
    setWindowTitle(tr("Connect to PostgreSQL"));
    auto* form = new QFormLayout(this);
    edHost = new QLineEdit("localhost", this);
    edHost->setObjectName("edHost");
    sePort = new QSpinBox(this);
    sePort->setObjectName("sePort");
    sePort->setRange(1, 65535);
    sePort->setValue(5432);
    edDatabase = new QLineEdit(this);
    edDatabase->setObjectName("edDatabase");
    edUser = new QLineEdit(qEnvironmentVariable("USER"), this);
    edUser->setObjectName("edUser");
    edPassword = new QLineEdit(this);
    edPassword->setObjectName("edPassword");
    edPassword->setEchoMode(QLineEdit::Password);
    form->addRow(tr("&Host:"), edHost);
    form->addRow(tr("&Port:"), sePort);
    form->addRow(tr("&Database:"), edDatabase);
    form->addRow(tr("&User:"), edUser);
    form->addRow(tr("Pass&word:"), edPassword);
    Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    Buttons->button(QDialogButtonBox::Ok)->setText(tr("&Connect"));
    form->addRow(Buttons);
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(edDatabase, &QLineEdit::textChanged, this, &TfrmConnect::UpdateOk);
    connect(edHost, &QLineEdit::textChanged, this, &TfrmConnect::UpdateOk);
    UpdateOk();
}

void TfrmConnect::UpdateOk()
{
    Buttons->button(QDialogButtonBox::Ok)->setEnabled(!edDatabase->text().isEmpty() && !edHost->text().isEmpty());
}

void TfrmConnect::SetUri(const std::string& Uri)
{
    const QUrl url(QString::fromStdString(Uri));
    if (!url.isValid())
        return;
    const QUrlQuery query(url);
    edHost->setText(query.hasQueryItem("host") ? query.queryItemValue("host", QUrl::FullyDecoded) : url.host());
    const QString port = query.hasQueryItem("port") ? query.queryItemValue("port") : QString::number(url.port());
    if (port.toInt() > 0)
        sePort->setValue(port.toInt());
    edDatabase->setText(url.path().mid(1));
    edUser->setText(query.hasQueryItem("user") ? query.queryItemValue("user", QUrl::FullyDecoded) : url.userName());
}

std::string TfrmConnect::Uri() const
{
    const QString host = edHost->text().trimmed();
    const QString port = QString::number(sePort->value());
    const QString database = QString::fromLatin1(QUrl::toPercentEncoding(edDatabase->text()));
    const QString user = QString::fromLatin1(QUrl::toPercentEncoding(edUser->text()));
    // A socket folder is no host name: libpq takes it, and with it the port and the
    // user, from the query.
    if (host.startsWith('/'))
        return ("postgresql:///" + database + "?host=" + QString::fromLatin1(QUrl::toPercentEncoding(host))
                + "&port=" + port + (user.isEmpty() ? QString() : "&user=" + user))
            .toStdString();
    QUrl url;
    url.setScheme("postgresql");
    url.setHost(host);
    url.setPort(sePort->value());
    url.setUserName(edUser->text());
    url.setPath("/" + edDatabase->text());
    return url.toString(QUrl::FullyEncoded).toStdString();
}

QString TfrmConnect::Password() const
{
    return edPassword->text();
}
