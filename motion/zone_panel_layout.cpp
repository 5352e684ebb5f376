#include "motion/zone_panel_layout.h"

#include "viewer/picture_ctrl.h"

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>

namespace {

const QColor kZoneControlColour(236, 232, 205);
constexpr int kZoneRowStep = 95;

void Paint(QWidget* w, const QColor& colour)
{
    QPalette palette = w->palette();
    palette.setColor(QPalette::Window, colour);
    palette.setColor(QPalette::Base, colour);
    palette.setColor(QPalette::Button, colour);
    palette.setColor(QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::Text, Qt::black);
    palette.setColor(QPalette::ButtonText, Qt::black);
    w->setPalette(palette);
    w->setAutoFillBackground(true);
}

QSlider* MakeSlider(QWidget* panel, const QString& name, int top, int maximum)
{
    auto* slider = new QSlider(Qt::Horizontal, panel);
    slider->setObjectName(name);
    slider->setTickPosition(QSlider::NoTicks);
    slider->setGeometry(73, top, 75, 14);
    slider->setRange(0, maximum);
    return slider;
}

QPushButton* MakeButton(QWidget* panel, const QString& text, const QString& name, QRect at)
{
    auto* button = new QPushButton(text, panel);
    button->setObjectName(name);
    button->setGeometry(at);
    return button;
}

} // namespace

ZonePanelControls MakeZonePanelControls(QWidget* panel)
{
    ZonePanelControls c;
    Paint(panel, Qt::white);
    c.background = new CPictureCtrl(panel, 209);
    c.background->SetBackground(Qt::white);
    c.background->setObjectName(QStringLiteral("background"));
    c.background->setGeometry(0, 0, 160, 195);
    c.placeholder = new QWidget(panel);
    c.placeholder->setObjectName(QStringLiteral("picturePlaceholder"));
    c.placeholder->setGeometry(kZonePictureArea);
    c.placeholder->hide();
    for (size_t i = 0; i < 4; ++i) {
        const int n = int(i) + 1, dy = kZoneRowStep * int(i);
        c.enable[i] = new QCheckBox(panel);
        c.enable[i]->setObjectName(QStringLiteral("enable%1").arg(n));
        c.enable[i]->setGeometry(12, 39 + dy, 15, 15);
        c.level[i] = new QProgressBar(panel);
        c.level[i]->setObjectName(QStringLiteral("level%1").arg(n));
        c.level[i]->setTextVisible(false);
        c.level[i]->setGeometry(75, 42 + dy, 70, 8);
        c.level[i]->setRange(0, 99);
        c.level[i]->setValue(0);
        c.threshold[i] = MakeSlider(panel, QStringLiteral("threshold%1").arg(n), 58 + dy, 255);
        c.sensitivity[i] = MakeSlider(panel, QStringLiteral("sensitivity%1").arg(n), 76 + dy, 10);
        for (QWidget* w :
             {static_cast<QWidget*>(c.enable[i]), static_cast<QWidget*>(c.level[i]),
              static_cast<QWidget*>(c.threshold[i]), static_cast<QWidget*>(c.sensitivity[i])}) {
            Paint(w, kZoneControlColour);
            w->hide();
        }
    }
    c.save = MakeButton(panel, QStringLiteral("Enregistrer"), QStringLiteral("saveButton"),
                        QRect(40, 220, 75, 20));
    c.ok = MakeButton(panel, QStringLiteral("OK"), QStringLiteral("okButton"),
                      QRect(235, 500, 75, 20));
    c.cancel = MakeButton(panel, QStringLiteral("Cancel"), QStringLiteral("cancelButton"),
                          QRect(335, 500, 75, 20));
    c.message = new QLabel(QStringLiteral("Message"), panel);
    c.message->setObjectName(QStringLiteral("messageLine"));
    c.message->setWordWrap(true);
    c.message->setGeometry(kZoneMessageLine);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(kZoneMessagePixels);
    font.setWeight(QFont::Bold);
    c.message->setFont(font);
    for (QWidget* w : {static_cast<QWidget*>(c.save), static_cast<QWidget*>(c.ok),
                       static_cast<QWidget*>(c.cancel), static_cast<QWidget*>(c.message)}) {
        Paint(w, Qt::white);
        w->hide();
    }
    return c;
}
