#pragma once
// The width a control's caption takes on screen: its "&" accelerator marks are not
// drawn, and "&&" is drawn as one "&". The dialogs measure their texts with it to
// decide whether a control has room for a (translated) text.

#include <QFontMetrics>
#include <QString>

inline int CaptionWidth(const QFontMetrics& Metrics, QString Caption)
{
    Caption.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    Caption.remove(QLatin1Char('&'));
    Caption.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return Metrics.horizontalAdvance(Caption);
}
