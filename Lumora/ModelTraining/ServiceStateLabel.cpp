#include "ServiceStateLabel.h"

#include "ComLib/Service/ServiceStarter.h"

ServiceStateLabel::ServiceStateLabel(comlib::ServiceStarter* service, QWidget* parent)
    : QLabel(parent), m_service(service)
{
    setObjectName(QStringLiteral("lbServiceState"));
    setWordWrap(true);
    setTextFormat(Qt::PlainText);
    connect(service, &comlib::ServiceStarter::Signal_StateChanged, this, &ServiceStateLabel::Show);
    Show();
}

void ServiceStateLabel::showEvent(QShowEvent* event)
{
    QLabel::showEvent(event);
    if (m_service)
        m_service->Ensure();
}

void ServiceStateLabel::Show()
{
    if (!m_service)
        return;
    const auto state = m_service->CurrentState();
    setText(comlib::ServiceStarter::StateText(state, m_service->Reason()));
    // The reason may be long; the whole of it stays readable in the tooltip.
    setToolTip(state == comlib::ServiceStarter::State::NotAvailable ? m_service->Reason() : QString());
    setStyleSheet(state == comlib::ServiceStarter::State::NotAvailable ? QStringLiteral("color: #d9534f;")
                                                                       : QString());
}
