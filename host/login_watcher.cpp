#include "host/login_watcher.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace host {

namespace {

QLineEdit* Field(QDialog* dialog, const char* name)
{
    return dialog->findChild<QLineEdit*>(QString::fromLatin1(name));
}

QPushButton* Button(QDialog* dialog, const char* name)
{
    return dialog->findChild<QPushButton*>(QString::fromLatin1(name));
}

bool IsLoginPrompt(QDialog* dialog)
{
    return Field(dialog, "userNameEdit") && Field(dialog, "passwordEdit") &&
           Button(dialog, "okButton") && Button(dialog, "cancelButton");
}

} // namespace

LoginWatcher::LoginWatcher(bool offscreen, Credentials credentials, Note note, QObject* parent)
    : QObject(parent), m_offscreen(offscreen), m_credentials(std::move(credentials)),
      m_note(std::move(note))
{
    qApp->installEventFilter(this);
}

LoginWatcher::~LoginWatcher()
{
    qApp->removeEventFilter(this);
}

void LoginWatcher::NewControl()
{
    m_state = LoginState::None;
    m_prompts = 0;
    m_answeredOnce = false;
    m_refused = false;
    m_withoutCredentials = false;
}

bool LoginWatcher::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Show || !watched->isWidgetType())
        return false;
    if (auto* box = qobject_cast<QMessageBox*>(watched)) {
        if (m_offscreen) {
            m_note("the control shows \"" + box->text().toStdString() + "\"; closed");
            QPointer<QMessageBox> guarded(box);
            QTimer::singleShot(0, box, [guarded] {
                if (guarded)
                    guarded->done(QMessageBox::Ok);
            });
        }
        return false;
    }
    auto* dialog = qobject_cast<QDialog*>(watched);
    if (dialog && dialog != m_open && IsLoginPrompt(dialog))
        OnPrompt(dialog);
    return false;
}

void LoginWatcher::OnPrompt(QDialog* dialog)
{
    m_open = dialog;
    ++m_prompts;
    // A prompt after one that was answered: the camera did not take those credentials.
    if (m_state == LoginState::Answered)
        m_refused = true;
    m_state = m_refused ? LoginState::Refused : LoginState::Asked;

    connect(dialog, &QDialog::finished, this, [this, dialog](int result) {
        if (m_open == dialog)
            m_open = nullptr;
        if (result == QDialog::Accepted)
            m_state = m_refused ? LoginState::Refused : LoginState::Answered;
        else
            m_state = m_refused ? LoginState::Refused : LoginState::Cancelled;
    });
    // Connected after the dialog's own handler, so this runs once the typed pair was tried.
    connect(Button(dialog, "okButton"), &QPushButton::clicked, this,
            [this, guarded = QPointer<QDialog>(dialog)] {
                if (guarded)
                    AfterOk(guarded);
            });

    QPointer<QDialog> guarded(dialog);
    const bool answer = m_credentials.Given() && !m_refused && (m_offscreen || !m_answeredOnce);
    if (answer) {
        QTimer::singleShot(0, dialog, [this, guarded] {
            if (guarded)
                Answer(guarded);
        });
    } else if (m_offscreen) {
        m_withoutCredentials = !m_credentials.Given();
        QTimer::singleShot(0, dialog, [this, guarded] {
            if (guarded)
                Cancel(guarded);
        });
    } else if (m_credentials.Given()) {
        Field(dialog, "userNameEdit")->setText(QString::fromStdString(m_credentials.user));
    }
}

void LoginWatcher::Answer(QDialog* dialog)
{
    m_answeredOnce = true;
    Field(dialog, "userNameEdit")->setText(QString::fromStdString(m_credentials.user));
    Field(dialog, "passwordEdit")->setText(QString::fromStdString(m_credentials.password));
    Button(dialog, "okButton")->click();
}

void LoginWatcher::Cancel(QDialog* dialog)
{
    Button(dialog, "cancelButton")->click();
}

void LoginWatcher::AfterOk(QDialog* dialog)
{
    // The viewer's prompt tries the pair itself and stays open with the password emptied when
    // the camera refuses it (open with the password kept: the camera could not be reached).
    if (!dialog->isVisible() || !Field(dialog, "passwordEdit")->text().isEmpty())
        return;
    m_refused = true;
    m_state = LoginState::Refused;
    if (m_offscreen) {
        QPointer<QDialog> guarded(dialog);
        QTimer::singleShot(0, dialog, [this, guarded] {
            if (guarded)
                Cancel(guarded);
        });
    }
}

} // namespace host
