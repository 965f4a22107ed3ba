#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QScopedPointer>

// One process-wide instance per type, created on first use and destroyed at exit.
template <typename T> class Singleton
{
public:
    static T* getInstance()
    {
        if (!s_instance) {
            QMutexLocker locker(&s_mutex);
            if (!s_instance) {
                s_instance.reset(new T());
            }
        }
        return s_instance.data();
    }

    Singleton() = delete;

private:
    static QMutex s_mutex;
    static QScopedPointer<T> s_instance;
};

template <typename T> QMutex Singleton<T>::s_mutex;
template <typename T> QScopedPointer<T> Singleton<T>::s_instance;
