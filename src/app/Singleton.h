#pragma once

// One process-wide instance per type, created on first use (thread-safe) and destroyed at exit.
template <typename T> class Singleton
{
public:
    static T* getInstance()
    {
        static T instance;
        return &instance;
    }

    Singleton() = delete;
};
