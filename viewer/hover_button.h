#pragma once
// Picture button of the panel strip: one bitmap holds its three looks side by side (normal,
// hover, pressed), and its tooltip shows as soon as the mouse is over it.

#include <QAbstractButton>
#include <QImage>
#include <QString>

class CHoverButton : public QAbstractButton
{
    Q_OBJECT

public:
    explicit CHoverButton(QWidget* parent = nullptr);

    // Replaces the bitmap and resizes the button to one frame; the position is kept.
    void SetBitmap(int id);
    // An empty string (unknown id) leaves the tooltip as it was.
    void SetTooltip(int stringId, bool activate);

    bool Hovered() const { return m_hover; }
    QString TooltipText() const { return m_tipText; }
    bool TooltipActive() const { return m_tipActive; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void ShowTooltip(const QPoint& globalPos);

    QImage m_bitmap;
    int m_frameWidth = 0;
    int m_frameHeight = 0;
    bool m_hover = false;
    QString m_tipText;
    bool m_tipActive = false;
};
