#pragma once

#include <QLabel>
#include <QPointer>

namespace comlib
{
class ServiceStarter;
}

// One line on the training page with the training service's state: running, starting, or not available
// with the reason. Each time the page comes into view the service is asked again, so that one that has
// gone since, or was missing, is started.
class ServiceStateLabel : public QLabel
{
    Q_OBJECT

public:
    ServiceStateLabel(comlib::ServiceStarter* service, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Show();

    QPointer<comlib::ServiceStarter> m_service;
};
