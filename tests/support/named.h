#ifndef NAMED_H
#define NAMED_H

#include <QObject>
#include <QtGlobal>

// The widget or action of a window by its object name. Ends the test at once
// when there is none of that kind, rather than crash on it later.
template <typename Child> Child* named(const QObject& window, const char* name)
{
    auto* child = window.findChild<Child*>(QLatin1String(name));
    if (!child)
        qFatal("%s has no %s named %s", qPrintable(window.objectName()),
               Child::staticMetaObject.className(), name);
    return child;
}

#endif
