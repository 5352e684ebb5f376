#pragma once
// The credentials prompt of both controls. The viewer's variant tries the typed credentials on
// the camera's image query itself and counts the rejections; the motion-zone variant only
// collects the two texts and leaves the retry to its caller.

#include "viewer/live_wait.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <string>

class QLineEdit;
class QPushButton;

enum class AuthorizationProfile
{
    Viewer,     // OK requests the query URL with the typed credentials
    MotionZone, // OK only closes
};

class CAuthorizationDlg : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kMaxRejections = 3;

    // queryUrl is used by the viewer profile only.
    explicit CAuthorizationDlg(AuthorizationProfile profile, std::string queryUrl = {},
                               QWidget* parent = nullptr);

    // Shows a failure text to the user; replaceable so that tests need not block on a box.
    using MessageHook = std::function<void(QWidget* parent, const QString& text)>;
    void SetMessageHook(MessageHook hook) { m_showMessage = std::move(hook); }

    // Valid after OK. Credentials stay in memory only: never write them to a log.
    const std::string& UserName() const { return m_userName; }
    const std::string& Password() const { return m_password; }
    const std::string& PtCtrl() const { return m_ptCtrl; }
    const std::string& IoCtrl() const { return m_ioCtrl; }
    int Rejections() const { return m_rejections; }
    AuthorizationProfile Profile() const { return m_profile; }

public slots:
    void OnOk();

private:
    void TryCredentials();

    AuthorizationProfile m_profile;
    std::string m_queryUrl;
    std::string m_userName;
    std::string m_password;
    std::string m_ptCtrl = "off";
    std::string m_ioCtrl = "off";
    int m_rejections = 0;
    MessageHook m_showMessage;
    CLiveWait m_live{this}; // the dialog paints and can be closed while its request waits

    QLineEdit* m_userEdit;
    QLineEdit* m_passwordEdit;
    QPushButton* m_okButton;
    QPushButton* m_cancelButton;
};
