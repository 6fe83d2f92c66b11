#pragma once

#include <QObject>
#include <QString>
#include <QtTest>

#include <stdexcept>

// The named child of a window or page. A missing one fails the running test with the name, instead of
// a crash on a null pointer further down.
template <typename T> T* Child(const QObject& parent, const char* name)
{
    T* child = parent.findChild<T*>(QLatin1String(name));
    if (!child)
    {
        QTest::qFail(qPrintable(QStringLiteral("no child named %1").arg(QLatin1String(name))), __FILE__,
                     __LINE__);
        throw std::runtime_error(name);
    }
    return child;
}

template <typename T> T* Child(const QObject* parent, const char* name)
{
    return Child<T>(*parent, name);
}
