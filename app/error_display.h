// The window's message boxes: plain messages, and the general error display that shows what
// stopped a handler.
#pragma once

#include <QString>

#include <functional>

// A modal message box with the exact text, titled "RQ735".
void ShowMessage(const QString &text);

// The general error display: a critical box titled "RQ735" with the message, a full stop added when
// its last character sorts after ".", and under it the `informative` text when there is one.
void ShowErrorBox(const QString &message, const QString &informative = {});
QString ErrorDisplayText(const QString &message);

// Runs a handler; an exception it raises stops it and is shown by the general error display. A port
// that would not open is shown with the system's reason in words a field engineer can act on.
void RunHandler(const std::function<void()> &handler);
