#include "module/about_box.h"

#include "module/identifiers.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace component {

namespace {

QString Text(std::string_view s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

QString VersionText(const FileVersion& v)
{
    return QStringLiteral("%1.%2.%3.%4").arg(v.major).arg(v.minor).arg(v.release).arg(v.build);
}

} // namespace

QPixmap ControlIcon(const ModuleIdentifiers& ids)
{
    return QPixmap::fromImage(ControlIconImage(ids, 32));
}

QImage ControlIconImage(const ModuleIdentifiers& ids, int size)
{
    // A camera body and lens; the zone module's lens carries a frame.
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    p.setPen(QPen(QColor(32, 32, 64), 1.5));
    p.setBrush(QColor(77, 76, 203));
    p.drawRoundedRect(QRectF(3, 8, 26, 18), 3, 3);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(16, 17), 6.5, 6.5);
    p.setBrush(QColor(32, 32, 64));
    p.drawEllipse(QPointF(16, 17), 3, 3);
    if (ids.controlClassName == kMozonIds.controlClassName) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(220, 40, 40), 1.5));
        p.drawRect(QRectF(9.5, 10.5, 13, 13));
    }
    p.end();
    return image;
}

CAboutDlg::CAboutDlg(const ModuleIdentifiers& ids, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(Text(ids.aboutCaption));
    setModal(true);

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("aboutIcon"));
    icon->setPixmap(ControlIcon(ids));
    icon->setAlignment(Qt::AlignTop);

    auto* text = new QLabel(this);
    text->setObjectName(QStringLiteral("aboutText"));
    text->setText(Text(ids.fileDescription) + QStringLiteral("\nVersion ") +
                  VersionText(ids.fileVersion));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addWidget(text, 1);
    auto* column = new QVBoxLayout(this);
    column->addLayout(row);
    column->addWidget(ok, 0, Qt::AlignRight);
    setFixedSize(sizeHint());
}

void ShowAboutBox(const ModuleIdentifiers& ids, QWidget* parent)
{
    CAboutDlg dialog(ids, parent);
    dialog.exec();
}

CPropertyPage::CPropertyPage(const ModuleIdentifiers& ids, QWidget* parent) : QWidget(parent)
{
    setWindowTitle(Text(ids.pageCaption));
}

} // namespace component
