#pragma once
// A worker's window message as a Qt event: posted from any thread, handled on the UI thread by
// the panel it was posted to. Qt drops events still queued for a widget that is destroyed.

#include <QCoreApplication>
#include <QEvent>

#include <cstdint>

class WindowMessageEvent : public QEvent
{
public:
    WindowMessageEvent(uint32_t message, uintptr_t wParam, intptr_t lParam)
        : QEvent(Type()), message(message), wParam(wParam), lParam(lParam)
    {
    }
    static QEvent::Type Type()
    {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    static void PostTo(QObject* receiver, uint32_t message, uintptr_t wParam, intptr_t lParam)
    {
        QCoreApplication::postEvent(receiver, new WindowMessageEvent(message, wParam, lParam));
    }

    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};
