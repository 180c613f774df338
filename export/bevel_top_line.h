#pragma once
// A bevel that shows only its top edge: the sunken line the dialogs draw over their
// button row.

#include <QFrame>
#include <QPainter>

class TBevelTopLine : public QFrame {
public:
    using QFrame::QFrame;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::Dark));
        painter.drawLine(0, 0, width() - 1, 0);
        painter.setPen(palette().color(QPalette::Light));
        painter.drawLine(0, 1, width() - 1, 1);
    }
};
