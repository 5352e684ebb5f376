#pragma once
// Follows the controls' login prompts and message boxes as a browser's password manager and
// automation would: it sees each prompt open, answers it from the credentials camhost was given
// (offscreen every time, in a window the first time only) or cancels it offscreen, and tells
// whether the camera turned the typed credentials down. Offscreen, message boxes are noted and
// closed, since nobody could.

#include "host/control_status.h"
#include "host/credentials.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <string>

class QDialog;

namespace host {

class LoginWatcher : public QObject
{
    Q_OBJECT
public:
    using Note = std::function<void(const std::string&)>;
    LoginWatcher(bool offscreen, Credentials credentials, Note note, QObject* parent = nullptr);
    ~LoginWatcher() override;

    // A new control: its prompts start afresh.
    void NewControl();
    LoginState State() const { return m_state; }
    int Prompts() const { return m_prompts; }
    // Offscreen, a prompt was cancelled because camhost was given no credentials.
    bool WithoutCredentials() const { return m_withoutCredentials; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnPrompt(QDialog* dialog);
    void Answer(QDialog* dialog);
    void Cancel(QDialog* dialog);
    void AfterOk(QDialog* dialog);

    bool m_offscreen;
    Credentials m_credentials;
    Note m_note;
    LoginState m_state = LoginState::None;
    int m_prompts = 0;
    bool m_answeredOnce = false;
    bool m_refused = false; // stays for this control once the camera turned credentials down
    bool m_withoutCredentials = false;
    QPointer<QDialog> m_open;
};

} // namespace host
