#pragma once

#include <QObject>

// Style sheets that set a text colour give placeholders that same colour, so a hint such as
// "请输入关键字" reads like typed text. Installed on the application, this filter gives every
// line and text edit a faded placeholder of its own text colour whenever its palette is set.
class PlaceholderTint : public QObject
{
    Q_OBJECT

public:
    explicit PlaceholderTint(QObject* parent = nullptr);

    // Installs one tint on the running application; further calls do nothing.
    static void InstallOnApplication();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
