#pragma once
// The modules' about box and property page: one of each, told which module they speak for.

#include <QDialog>
#include <QImage>
#include <QPixmap>
#include <QWidget>

namespace component {

// Not included: moc cannot read the identifiers' constexpr machinery.
struct ModuleIdentifiers;

// The control's icon, drawn rather than stored (32 x 32), and the same drawing at any size.
QPixmap ControlIcon(const ModuleIdentifiers& ids);
QImage ControlIconImage(const ModuleIdentifiers& ids, int size);

class CAboutDlg : public QDialog
{
    Q_OBJECT
public:
    CAboutDlg(const ModuleIdentifiers& ids, QWidget* parent = nullptr);
};

// Modal; returns when the user presses "OK" or closes it.
void ShowAboutBox(const ModuleIdentifiers& ids, QWidget* parent);

// The control's one property page: a caption and nothing to edit.
class CPropertyPage : public QWidget
{
    Q_OBJECT
public:
    explicit CPropertyPage(const ModuleIdentifiers& ids, QWidget* parent = nullptr);
    QString Caption() const { return windowTitle(); }
};

} // namespace component
