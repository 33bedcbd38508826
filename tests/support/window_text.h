#ifndef WINDOW_TEXT_H
#define WINDOW_TEXT_H

#include <QtWidgets>

// Everything an operator reads in `window`: its caption, then one line per
// widget or action that shows a text, in the order of the object tree, as
// "name: text" with the items of a list, a spin box's words and the tool tip
// after " | ". Compared whole, one string per window catches a caption, label
// or menu entry lost or changed anywhere in it.
inline QString windowText(const QWidget& window)
{
    QStringList lines{window.windowTitle()};
    for (const QObject* child : window.findChildren<QObject*>()) {
        // A menu's title is its entry in the menu bar, listed as an action;
        // Qt's own parts (a spin box's line) repeat what their owner says.
        if (qobject_cast<const QMenu*>(child) || child->objectName().startsWith("qt_"))
            continue;
        QStringList says;
        for (const char* property :
             {"title", "text", "placeholderText", "prefix", "suffix", "specialValueText"})
            if (const QString value = child->property(property).toString(); !value.isEmpty())
                says << value;
        if (const auto* list = qobject_cast<const QComboBox*>(child))
            for (int i = 0; i < list->count(); ++i)
                says << list->itemText(i);
        if (const auto* action = qobject_cast<const QAction*>(child))
            if (!action->shortcut().isEmpty())
                says << action->shortcut().toString();
        // An action's own tool tip is its text without "&" and "...".
        const QString tip = child->property("toolTip").toString();
        const QString plain = says.value(0).remove('&').remove("...");
        if (!tip.isEmpty() && tip != plain && !says.contains(tip))
            says << tip;
        if (!says.isEmpty())
            lines << child->objectName() + ": " + says.join(" | ");
    }
    return lines.join('\n');
}

// The same after a language change, `label` (one of the window's labels)
// first made to say something else: a change must set every text anew.
inline QString retranslatedText(QWidget& window, const char* label)
{
    window.findChild<QLabel*>(QLatin1String(label))->setText("stale");
    QEvent change(QEvent::LanguageChange);
    QCoreApplication::sendEvent(&window, &change);
    return windowText(window);
}

#endif
