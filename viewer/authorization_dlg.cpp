#include "viewer/authorization_dlg.h"

#include "stream/http_poster.h"
#include "viewer/camera_query.h"
#include "viewer/strings.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

class WaitCursor
{
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

void ShowWarning(QWidget* parent, const QString& text)
{
    QMessageBox::warning(parent, QGuiApplication::applicationDisplayName(), text, QMessageBox::Ok);
}

} // namespace

CAuthorizationDlg::CAuthorizationDlg(AuthorizationProfile profile, std::string queryUrl,
                                     QWidget* parent)
    : QDialog(parent), m_profile(profile), m_queryUrl(std::move(queryUrl)),
      m_showMessage(ShowWarning)
{
    setWindowTitle(QStringLiteral("Autorisation"));

    auto* prompt = new QLabel(QStringLiteral("Entrez le nom d'utilisateur et le mot de passe."));
    prompt->setObjectName(QStringLiteral("promptLabel"));

    m_userEdit = new QLineEdit;
    m_userEdit->setObjectName(QStringLiteral("userNameEdit"));
    m_passwordEdit = new QLineEdit;
    m_passwordEdit->setObjectName(QStringLiteral("passwordEdit"));
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    auto* userLabel = new QLabel(QStringLiteral("Nom d'utilisateur :"));
    userLabel->setBuddy(m_userEdit);
    auto* passwordLabel = new QLabel(QStringLiteral("Mot de passe :"));
    passwordLabel->setBuddy(m_passwordEdit);

    auto* fields = new QGridLayout;
    fields->addWidget(userLabel, 0, 0);
    fields->addWidget(m_userEdit, 0, 1);
    fields->addWidget(passwordLabel, 1, 0);
    fields->addWidget(m_passwordEdit, 1, 1);

    m_okButton = new QPushButton(QStringLiteral("OK"));
    m_okButton->setObjectName(QStringLiteral("okButton"));
    m_okButton->setDefault(true);
    m_cancelButton = new QPushButton(QStringLiteral("Annuler"));
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_okButton);
    buttons->addWidget(m_cancelButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    if (m_profile == AuthorizationProfile::Viewer) {
        auto* heading = new QLabel(QStringLiteral("Autorisation"));
        heading->setObjectName(QStringLiteral("authorizationLabel"));
        layout->addWidget(heading);
    }
    layout->addLayout(fields);
    layout->addStretch();
    layout->addLayout(buttons);
    resize(320, 190);

    connect(m_okButton, &QPushButton::clicked, this, &CAuthorizationDlg::OnOk);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    m_userEdit->setFocus();
}

void CAuthorizationDlg::OnOk()
{
    m_userName = m_userEdit->text().toStdString();
    m_password = m_passwordEdit->text().toStdString();
    if (m_profile == AuthorizationProfile::MotionZone) {
        accept();
        return;
    }
    TryCredentials();
}

void CAuthorizationDlg::TryCredentials()
{
    const CLiveWait::Operation op(m_live);
    std::string reply;
    bool answered;
    {
        WaitCursor wait;
        answered = CHttpPoster(kViewerPosterProfile, {}, &m_live)
                       .Request(reply, m_queryUrl, false, m_userName, m_password);
    }
    // Closed while the camera was asked: the close ends the prompt.
    if (m_live.Cancelled())
        return;
    if (!answered) {
        if (m_showMessage)
            m_showMessage(this, LoadViewerString(kStrConnectFailed));
        return;
    }
    if (IsAuthorizationPage(reply)) {
        // The caller treats the third rejection as a failed login; OK only ends the prompt.
        if (++m_rejections >= kMaxRejections) {
            accept();
            return;
        }
        m_passwordEdit->clear();
        m_userEdit->setFocus();
        return;
    }
    if (auto value = QueryValue(reply, "ptctrl="))
        m_ptCtrl = *value;
    if (auto value = QueryValue(reply, "ioctrl="))
        m_ioCtrl = *value;
    accept();
}
